// The WINMM, GDI32 and KERNEL32 stand-ins where a caller can see them:
// wave-out return codes in Windows' order, the done mark of queued buffers,
// DIB sections, and file handles once closed.
#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "headless.h"
#include "test_support.h"

#include <climits>
#include <vector>

namespace {

WAVEFORMATEX mono16(DWORD rate) {
    WAVEFORMATEX format{};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = 1;
    format.nSamplesPerSec = rate;
    format.nAvgBytesPerSec = rate * 2;
    format.nBlockAlign = 2;
    format.wBitsPerSample = 16;
    return format;
}

class WaveOut : public testing::Test {
  protected:
    void SetUp() override {
        headless_reset();
        WAVEFORMATEX format = mono16(8000);
        ASSERT_EQ(waveOutOpen(&device_, WAVE_MAPPER, &format, 0, 0, CALLBACK_NULL),
                  MMSYSERR_NOERROR);
        for (WAVEHDR &header : headers_) {
            header.lpData = reinterpret_cast<LPSTR>(samples_.data());
            header.dwBufferLength = 8;
        }
    }
    void TearDown() override {
        if (device_ != nullptr) {
            waveOutReset(device_);
            waveOutClose(device_);
        }
    }
    HWAVEOUT device_ = nullptr;
    std::vector<int16_t> samples_ = {1, 2, 3, 4};
    WAVEHDR headers_[3] = {};
};

TEST_F(WaveOut, OpenFailsForABadFormatOrNoDeviceAndLeavesTheHandleNull) {
    WAVEFORMATEX stereo = mono16(8000);
    stereo.nChannels = 2;
    WAVEFORMATEX slow = mono16(10);
    WAVEFORMATEX good = mono16(8000);
    HWAVEOUT other = reinterpret_cast<HWAVEOUT>(1);
    EXPECT_EQ(waveOutOpen(&other, WAVE_MAPPER, &stereo, 0, 0, CALLBACK_NULL), WAVERR_BADFORMAT);
    EXPECT_EQ(other, nullptr);
    EXPECT_EQ(waveOutOpen(&other, WAVE_MAPPER, &slow, 0, 0, CALLBACK_NULL), WAVERR_BADFORMAT);
    EXPECT_EQ(waveOutOpen(&other, 7, &good, 0, 0, CALLBACK_NULL), MMSYSERR_BADDEVICEID);
    EXPECT_EQ(waveOutOpen(&other, WAVE_MAPPER, nullptr, 0, 0, CALLBACK_NULL), MMSYSERR_INVALPARAM);
    EXPECT_EQ(waveOutOpen(&other, WAVE_MAPPER, &good, 0, 0, CALLBACK_NULL), MMSYSERR_ALLOCATED);

    EXPECT_EQ(waveOutClose(device_), MMSYSERR_NOERROR);
    device_ = nullptr;
    headless_set_audio_device(0);
    other = reinterpret_cast<HWAVEOUT>(1);
    EXPECT_EQ(waveOutOpen(&other, WAVE_MAPPER, &good, 0, 0, CALLBACK_NULL), MMSYSERR_NODRIVER);
    EXPECT_EQ(other, nullptr);
}

TEST_F(WaveOut, EveryCallRejectsABadHandleFirst) {
    HWAVEOUT bad = reinterpret_cast<HWAVEOUT>(&headers_[0]);
    for (HWAVEOUT handle : {bad, static_cast<HWAVEOUT>(nullptr)}) {
        EXPECT_EQ(waveOutPrepareHeader(handle, nullptr, 0), MMSYSERR_INVALHANDLE);
        EXPECT_EQ(waveOutUnprepareHeader(handle, nullptr, 0), MMSYSERR_INVALHANDLE);
        EXPECT_EQ(waveOutWrite(handle, nullptr, 0), MMSYSERR_INVALHANDLE);
        EXPECT_EQ(waveOutPause(handle), MMSYSERR_INVALHANDLE);
        EXPECT_EQ(waveOutRestart(handle), MMSYSERR_INVALHANDLE);
        EXPECT_EQ(waveOutReset(handle), MMSYSERR_INVALHANDLE);
        EXPECT_EQ(waveOutClose(handle), MMSYSERR_INVALHANDLE);
    }
    EXPECT_EQ(waveOutPrepareHeader(device_, &headers_[0], sizeof(WAVEHDR) - 1),
              MMSYSERR_INVALPARAM);
}

TEST_F(WaveOut, HeadersFollowTheirStateThroughPrepareWriteAndUnprepare) {
    WAVEHDR &header = headers_[0];
    EXPECT_EQ(waveOutWrite(device_, &header, sizeof header), WAVERR_UNPREPARED);
    EXPECT_EQ(waveOutPrepareHeader(device_, &header, sizeof header), MMSYSERR_NOERROR);
    EXPECT_EQ(header.dwFlags, WHDR_PREPARED);
    EXPECT_EQ(waveOutPrepareHeader(device_, &header, sizeof header), MMSYSERR_NOERROR);
    header.dwFlags |= WHDR_DONE;

    EXPECT_EQ(waveOutWrite(device_, &header, sizeof header), MMSYSERR_NOERROR);
    EXPECT_EQ(header.dwFlags, WHDR_PREPARED | WHDR_INQUEUE) << "a queued buffer keeps its mark";
    EXPECT_EQ(waveOutWrite(device_, &header, sizeof header), WAVERR_STILLPLAYING);
    EXPECT_EQ(waveOutUnprepareHeader(device_, &header, sizeof header), WAVERR_STILLPLAYING);
    EXPECT_EQ(waveOutClose(device_), WAVERR_STILLPLAYING);

    EXPECT_EQ(headless_audio_complete(1), 1u);
    EXPECT_EQ(header.dwFlags, WHDR_PREPARED | WHDR_DONE);
    EXPECT_EQ(waveOutUnprepareHeader(device_, &header, sizeof header), MMSYSERR_NOERROR);
    EXPECT_EQ(header.dwFlags, WHDR_DONE);
    EXPECT_EQ(waveOutUnprepareHeader(device_, &header, sizeof header), MMSYSERR_NOERROR);
}

TEST_F(WaveOut, ResetReturnsEveryQueuedBufferDoneAndTheBackendSeesEachCall) {
    for (WAVEHDR &header : headers_) {
        ASSERT_EQ(waveOutPrepareHeader(device_, &header, sizeof header), MMSYSERR_NOERROR);
        ASSERT_EQ(waveOutWrite(device_, &header, sizeof header), MMSYSERR_NOERROR);
    }
    EXPECT_EQ(waveOutPause(device_), MMSYSERR_NOERROR);
    EXPECT_EQ(waveOutRestart(device_), MMSYSERR_NOERROR);
    EXPECT_EQ(headless_audio_queued(), 3u);
    EXPECT_EQ(waveOutReset(device_), MMSYSERR_NOERROR);
    EXPECT_EQ(headless_audio_queued(), 0u);
    for (const WAVEHDR &header : headers_)
        EXPECT_EQ(header.dwFlags, WHDR_PREPARED | WHDR_DONE);
    EXPECT_EQ(waveOutClose(device_), MMSYSERR_NOERROR);
    EXPECT_EQ(waveOutPause(device_), MMSYSERR_INVALHANDLE) << "a closed handle still works";
    device_ = nullptr;

    std::vector<HeadlessAudioEvent::Kind> kinds;
    for (const HeadlessAudioEvent &event : headless_audio_events()) {
        kinds.push_back(event.kind);
        if (event.kind == HeadlessAudioEvent::WRITE) {
            EXPECT_EQ(event.samples, samples_);
        }
    }
    using K = HeadlessAudioEvent;
    EXPECT_THAT(kinds, testing::ElementsAre(K::OPEN, K::WRITE, K::WRITE, K::WRITE, K::PAUSE,
                                            K::RESTART, K::RESET, K::CLOSE));
}

// The position counts samples played since open or reset, in the form
// asked for; a paused device or one that has not yet started holds it.
TEST_F(WaveOut, PositionFollowsWhatThePacedDevicePlayed) {
    MMTIME time{};
    EXPECT_EQ(waveOutGetPosition(nullptr, &time, sizeof time), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(waveOutGetPosition(device_, nullptr, sizeof time), MMSYSERR_INVALPARAM);
    EXPECT_EQ(waveOutGetPosition(device_, &time, sizeof time - 1), MMSYSERR_INVALPARAM);

    headless_set_audio_paced(1);
    headless_set_audio_start_delay(2);
    waveOutPause(device_);
    waveOutRestart(device_); // 2 ms of nothing, then 8 samples a millisecond
    for (WAVEHDR &header : headers_) {
        ASSERT_EQ(waveOutPrepareHeader(device_, &header, sizeof header), MMSYSERR_NOERROR);
        ASSERT_EQ(waveOutWrite(device_, &header, sizeof header), MMSYSERR_NOERROR);
    }
    auto position = [&](UINT type) {
        time.wType = type;
        EXPECT_EQ(waveOutGetPosition(device_, &time, sizeof time), MMSYSERR_NOERROR);
        return time.u.sample;
    };
    headless_advance_time(2);
    EXPECT_EQ(position(TIME_SAMPLES), 0u) << "still starting";
    headless_advance_time(1);
    EXPECT_EQ(position(TIME_SAMPLES), 8u) << "two buffers of four";
    EXPECT_EQ(headless_audio_queued(), 1u);
    waveOutPause(device_);
    headless_advance_time(5);
    EXPECT_EQ(position(TIME_SAMPLES), 8u) << "paused";
    waveOutRestart(device_); // starts late again
    headless_advance_time(3);
    EXPECT_EQ(position(TIME_SAMPLES), 12u) << "the queue ran dry: silence does not count";
    EXPECT_EQ(position(TIME_MS), 1u);
    EXPECT_EQ(position(0x0010 /* TIME_MIDI */), 24u);
    EXPECT_EQ(time.wType, TIME_BYTES) << "a form the device does not keep is given in bytes";
    waveOutReset(device_);
    EXPECT_EQ(position(TIME_SAMPLES), 0u);
}

TEST(TimerPeriod, EveryBeginIsMatchedByAnEndOfTheSamePeriod) {
    EXPECT_EQ(timeBeginPeriod(0), TIMERR_NOCANDO);
    EXPECT_EQ(timeEndPeriod(1), TIMERR_NOCANDO) << "never begun";
    EXPECT_EQ(timeBeginPeriod(5), TIMERR_NOERROR);
    EXPECT_EQ(timeBeginPeriod(1), TIMERR_NOERROR);
    EXPECT_EQ(timeBeginPeriod(1), TIMERR_NOERROR);
    EXPECT_EQ(headless_timer_period(), 1u);
    EXPECT_EQ(timeEndPeriod(1), TIMERR_NOERROR);
    EXPECT_EQ(headless_timer_period(), 1u) << "begun twice";
    EXPECT_EQ(timeEndPeriod(1), TIMERR_NOERROR);
    EXPECT_EQ(headless_timer_period(), 5u);
    EXPECT_EQ(timeEndPeriod(5), TIMERR_NOERROR);
    EXPECT_EQ(timeEndPeriod(5), TIMERR_NOCANDO);
    EXPECT_EQ(headless_timer_period(), 0u);
}

// A BITMAPINFO with its full colour table.
struct Info {
    BITMAPINFOHEADER header;
    RGBQUAD colours[256];
};

Info section_info(LONG w, LONG h) {
    Info info{};
    info.header.biSize = sizeof(BITMAPINFOHEADER);
    info.header.biWidth = w;
    info.header.biHeight = h;
    info.header.biPlanes = 1;
    info.header.biBitCount = 8;
    info.header.biCompression = BI_RGB;
    info.header.biClrUsed = 240;
    return info;
}

HBITMAP create(const Info &info, void **bits) {
    return CreateDIBSection(nullptr, reinterpret_cast<const BITMAPINFO *>(&info), DIB_RGB_COLORS,
                            bits, nullptr, 0);
}

TEST(DibSection, ATopDownSectionStartsZeroAndIsDeletedOnce) {
    Info info = section_info(5, -3);
    void *bits = nullptr;
    HBITMAP bitmap = create(info, &bits);
    ASSERT_NE(bitmap, nullptr);
    ASSERT_NE(bits, nullptr);
    const uint8_t *pixels = static_cast<const uint8_t *>(bits);
    EXPECT_EQ(std::count(pixels, pixels + 8 * 3, 0), 8 * 3) << "rows of 8 bytes, all zero";
    EXPECT_EQ(DeleteObject(bitmap), TRUE);
    EXPECT_EQ(DeleteObject(bitmap), FALSE);
    EXPECT_EQ(DeleteObject(nullptr), FALSE);
}

TEST(DibSection, ImpossibleSectionsFailWithTheirCode) {
    const struct {
        LONG w, h;
        WORD bit_count;
        DWORD error;
    } cases[] = {
        {0, -3, 8, ERROR_INVALID_PARAMETER},
        {-5, -3, 8, ERROR_INVALID_PARAMETER},
        {5, 0, 8, ERROR_INVALID_PARAMETER},
        {5, -3, 24, ERROR_INVALID_PARAMETER},
        {INT_MAX, -2, 8, ERROR_NOT_ENOUGH_MEMORY},
        {65536, -65536, 8, ERROR_NOT_ENOUGH_MEMORY},
        {INT_MAX, INT_MIN, 8, ERROR_NOT_ENOUGH_MEMORY},
    };
    for (const auto &c : cases) {
        Info info = section_info(c.w, c.h);
        info.header.biBitCount = c.bit_count;
        void *bits = &info;
        SetLastError(0);
        EXPECT_EQ(create(info, &bits), nullptr) << c.w << " x " << c.h;
        EXPECT_EQ(bits, nullptr);
        EXPECT_EQ(GetLastError(), c.error) << c.w << " x " << c.h;
    }
}

TEST(FileHandle, AClosedOrForeignHandleIsRefusedWithoutBeingRead) {
    kmov::test::TempFile file("data", kmov::test::counting_bytes(10));
    HANDLE handle = CreateFileA(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetFileSize(handle, nullptr), 10u);
    EXPECT_EQ(CloseHandle(handle), TRUE);

    // The record behind a closed handle is freed: each call must recognise
    // the handle without looking at that memory (the sanitizer build checks).
    uint8_t buffer[4];
    DWORD got = 99;
    SetLastError(0);
    EXPECT_EQ(ReadFile(handle, buffer, sizeof buffer, &got, nullptr), FALSE);
    EXPECT_EQ(got, 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(SetFilePointer(handle, 0, nullptr, FILE_BEGIN), INVALID_SET_FILE_POINTER);
    EXPECT_EQ(GetFileSize(handle, nullptr), INVALID_FILE_SIZE);
    EXPECT_EQ(CloseHandle(handle), FALSE);

    int not_a_file = 0;
    EXPECT_EQ(CloseHandle(&not_a_file), FALSE);
    EXPECT_EQ(CloseHandle(nullptr), FALSE);
    EXPECT_EQ(CloseHandle(INVALID_HANDLE_VALUE), FALSE);
}

} // namespace
