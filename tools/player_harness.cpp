#include "player_harness.h"
#include "text.h"

#include "headless.h"

#include "app/event_pump.h"
#include "app/fatal_error.h"
#include "player/audio_decoder.h"
#include "player/player.h"
#include "player/player_state.h"
#include "player/video_decoder.h"
#include "stream/prefetch_ring.h"

#include <climits>
#include <csetjmp>
#include <cstdio>
#include <cstring>

namespace kmov {

// ---- Guarded runs ----------------------------------------------------------------

namespace {

std::jmp_buf escape;
std::string last_message;

// The box is "up": leave the failing code instead of letting exit(1) run.
[[noreturn]] void leave_on_box(const HeadlessMessageBox &box) {
    last_message = box.text;
    std::longjmp(escape, 1);
}

void put_to_rest() {
    // A failure can leave the tick's slot marked running; clear the table so
    // the close below does not wait for a tick that can never run.
    std::memset(EventTable, 0, sizeof EventTable);
    is_playing = 0;
    stop_requested = 0;
    quit_received = 0;
    player_close();
    fatal_error_shown = 0;
}

} // namespace

bool harness_run_guarded(void (*body)(void *), void *context, std::string *message) {
    headless_reset();
    headless_set_message_box_echo(0);
    headless_set_message_box_hook(leave_on_box);
    bool returned = false;
    if (setjmp(escape) == 0) {
        body(context);
        returned = true;
    }
    headless_set_message_box_hook(nullptr);
    put_to_rest();
    if (message != nullptr)
        *message = returned ? std::string() : last_message;
    std::string().swap(last_message);
    return returned;
}

bool harness_player_at_rest() {
    return !is_open && movie_source == nullptr && ring_data == nullptr && bitmap_info == nullptr &&
           frame_bitmap == nullptr && frame_bits == nullptr && memory_dc == nullptr &&
           wave_out == nullptr && wave_headers == nullptr && movie_palette == nullptr;
}

// ---- Decoding ----------------------------------------------------------------------

namespace {

// Points the player's picture state at a caller's buffer.
void set_frame(uint8_t *frame, int32_t frame_width, int32_t frame_height, int32_t stride) {
    frame_bits = frame;
    width = frame_width;
    height = frame_height;
    row_stride = stride;
}

} // namespace

std::optional<PayloadDecode> harness_decode_payload(uint8_t *frame, int32_t frame_width,
                                                    int32_t frame_height, int32_t stride,
                                                    std::span<const uint8_t> payload,
                                                    int32_t length, int32_t ring_start) {
    const auto size = static_cast<int32_t>(payload.size());
    if (!ring_create(size))
        return std::nullopt;
    movie_source = nullptr; // nothing behind the payload can be had
    const int32_t start = ring_start & ring_mask;
    for (int32_t i = 0; i < size; i++)
        ring_data[(start + i) & ring_mask] = payload[static_cast<size_t>(i)];
    ring_read = start;
    ring_write = start + size;
    ring_fill = size;
    set_frame(frame, frame_width, frame_height, stride);
    current_length = length;
    decode_video_frame();
    PayloadDecode result{current_length, ring_fill, ring_read & ring_mask};
    frame_bits = nullptr;
    ring_free();
    return result;
}

PayloadStream::PayloadStream(const std::vector<std::vector<uint8_t>> &payloads) {
    std::vector<uint8_t> stream;
    for (const std::vector<uint8_t> &payload : payloads) {
        const size_t start = stream.size();
        stream.insert(stream.end(), payload.begin(), payload.end());
        stream.resize(padded_length(stream.size()), 0);
        lengths_.push_back(static_cast<int32_t>(stream.size() - start));
    }
    total_ = static_cast<int32_t>(stream.size());
    ok_ = ring_create(total_) != 0;
    if (ok_ && !stream.empty())
        std::memcpy(ring_data, stream.data(), stream.size());
}

PayloadStream::~PayloadStream() {
    frame_bits = nullptr;
    ring_free();
}

void PayloadStream::decode_all(uint8_t *frame, int32_t frame_width, int32_t frame_height,
                               int32_t stride) {
    set_frame(frame, frame_width, frame_height, stride);
    ring_read = 0;
    ring_fill = total_;
    for (int32_t length : lengths_) {
        current_length = length;
        decode_video_frame();
    }
}

namespace {

struct SoundBlock {
    std::span<const uint8_t> codes;
    int ldp;
    int count;
    bool decoded;
    std::vector<int16_t> samples;
};

void decode_sound_body(void *context) {
    SoundBlock &block = *static_cast<SoundBlock *>(context);
    headless_set_audio_device(1);
    // One pair of buffers of exactly the block's size: the first is free.
    if (!wave_output_open(WAVE_MAPPER, 22050, block.ldp, block.count, 1) || delta_table == nullptr)
        return;
    const auto size = static_cast<int32_t>(block.codes.size());
    if (!ring_create(size))
        return;
    movie_source = nullptr; // nothing behind the payload can be had
    if (size > 0)
        std::memcpy(ring_data, block.codes.data(), block.codes.size());
    ring_write = size;
    ring_fill = size;
    current_param = static_cast<uint32_t>(block.count);
    current_length = size;
    decode_audio_block();
    const std::vector<HeadlessAudioEvent> &events = headless_audio_events();
    for (auto event = events.rbegin(); event != events.rend(); ++event)
        if (event->kind == HeadlessAudioEvent::WRITE) {
            block.samples = event->samples;
            block.decoded = true;
            break;
        }
    wave_output_close();
    ring_free();
}

} // namespace

std::optional<std::vector<int16_t>> harness_decode_sound_block(std::span<const uint8_t> codes,
                                                               int ldp, int count) {
    if (count < 1 || count > 0xFFFF || codes.size() > INT32_MAX)
        return std::nullopt;
    SoundBlock block{codes, ldp, count, false, {}};
    if (!harness_run_guarded(decode_sound_body, &block) || !block.decoded)
        return std::nullopt;
    return std::move(block.samples);
}

// ---- Playing -----------------------------------------------------------------------

void harness_play_turn() {
    if (static_cast<int32_t>(headless_time() - due_time) < 0)
        headless_set_time(due_time);
    pump_messages(0);
    headless_audio_complete(headless_audio_queued());
}

namespace {

// What the guarded playback works with; it lives outside the guarded body,
// which holds nothing of its own.
struct Playback {
    const char *path;
    int32_t offset;
    HWND window;
    const std::function<void(const PresentedFrame &)> *on_frame;
    const std::function<void(const int16_t *, size_t)> *on_audio;
    PlaybackLimits limits;
    PlaybackResult result;
    size_t audio_seen;
    bool opened;
    bool ended;
    std::array<Rgb, 256> colours;
};
Playback *playback;

void on_blit(const HeadlessBlit &blit) {
    if (playback == nullptr || blit.window != playback->window)
        return;
    for (size_t i = 0; i < 256; i++)
        playback->colours[i] = {blit.colours[i].rgbRed, blit.colours[i].rgbGreen,
                                blit.colours[i].rgbBlue};
    PresentedFrame frame{blit.time, blit.width, blit.height, blit.pixels.data(),
                         &playback->colours};
    playback->result.frames++;
    (*playback->on_frame)(frame);
}

void drain_audio(Playback &p) {
    headless_audio_complete(headless_audio_queued());
    const std::vector<HeadlessAudioEvent> &events = headless_audio_events();
    for (; p.audio_seen < events.size(); p.audio_seen++) {
        if (events[p.audio_seen].kind != HeadlessAudioEvent::WRITE)
            continue;
        p.result.audio_blocks++;
        if (*p.on_audio)
            (*p.on_audio)(events[p.audio_seen].samples.data(), events[p.audio_seen].samples.size());
    }
}

void play_body(void *context) {
    Playback &p = *static_cast<Playback *>(context);
    headless_set_time(0);
    headless_set_blit_limit(1);
    headless_set_audio_device(1);
    headless_set_blit_hook(on_blit);
    p.audio_seen = headless_audio_events().size();
    p.opened = player_open(p.path, p.window, -1, -1, WAVE_MAPPER, p.offset, nullptr) != 0;
    if (!p.opened)
        return;
    drain_audio(p);
    player_play();
    for (uint64_t turns = 0; player_is_playing();) {
        harness_play_turn();
        drain_audio(p);
        if (++turns > p.limits.max_records)
            return;
    }
    p.result.duration_ms = headless_time();
    player_close();
    drain_audio(p);
    p.ended = true;
}

} // namespace

Expected<PlaybackResult> play_headless(const std::string &path, int64_t offset,
                                       const std::function<void(const PresentedFrame &)> &on_frame,
                                       const std::function<void(const int16_t *, size_t)> &on_audio,
                                       const PlaybackLimits &limits) {
    static HWND window = headless_make_window("kmov");
    if (window == nullptr)
        return Error{"cannot create the playback window"};
    Playback p{path.c_str(),
               static_cast<int32_t>(offset),
               window,
               &on_frame,
               &on_audio,
               limits,
               {},
               0,
               false,
               false,
               {}};
    playback = &p;
    std::string message;
    const bool returned = harness_run_guarded(play_body, &p, &message);
    playback = nullptr;
    if (!returned)
        return Error{cp932_to_utf8(message)};
    if (!p.opened)
        return file_error(path, "the player could not open the movie");
    if (!p.ended && limits.limit_is_error)
        return file_error(path, "playback did not end after " + std::to_string(limits.max_records) +
                                    " records");
    p.result.ended = p.ended;
    return p.result;
}

// ---- The player's messages in a command -------------------------------------------

namespace {

std::string reporting_command;

void print_player_error(const HeadlessMessageBox &box) {
    std::fprintf(stderr, "kmov %s: %s\n", reporting_command.c_str(),
                 cp932_to_utf8(box.text).c_str());
    std::fflush(stderr);
}

} // namespace

void report_player_errors(const std::string &command) {
    reporting_command = command;
    headless_set_message_box_echo(0);
    headless_set_message_box_hook(print_player_error);
}

} // namespace kmov
