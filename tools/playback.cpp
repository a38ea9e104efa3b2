#include "playback.h"

#include "headless.h"

#include "app/event_pump.h"
#include "player/player.h"
#include "player/player_state.h"

namespace kmov {

namespace {

const std::function<void(const PresentedFrame &)> *frame_sink;
HWND playback_window;
uint64_t frames_seen;
std::array<Rgb, 256> frame_colours;

void on_blit(const HeadlessBlit &blit) {
    if (blit.window != playback_window || frame_sink == nullptr)
        return;
    for (size_t i = 0; i < 256; i++)
        frame_colours[i] = {blit.colours[i].rgbRed, blit.colours[i].rgbGreen,
                            blit.colours[i].rgbBlue};
    PresentedFrame frame{blit.time, blit.width, blit.height, blit.pixels.data(), &frame_colours};
    frames_seen++;
    (*frame_sink)(frame);
}

} // namespace

Expected<PlaybackResult> play_headless(const MovieLocation &location,
                                       const std::function<void(const PresentedFrame &)> &on_frame,
                                       const std::function<void(const int16_t *, size_t)> &on_audio,
                                       const PlaybackLimits &limits) {
    headless_set_time(0);
    headless_set_blit_limit(1);
    headless_set_audio_device(1);
    playback_window = headless_make_window("kmov");
    if (playback_window == nullptr)
        return Error{"cannot create the playback window"};
    frame_sink = &on_frame;
    frames_seen = 0;
    headless_set_blit_hook(on_blit);

    PlaybackResult result;
    size_t audio_seen = headless_audio_events().size();
    auto drain_audio = [&] {
        headless_audio_complete(headless_audio_queued());
        const std::vector<HeadlessAudioEvent> &events = headless_audio_events();
        for (; audio_seen < events.size(); audio_seen++) {
            if (events[audio_seen].kind != HeadlessAudioEvent::WRITE)
                continue;
            result.audio_blocks++;
            if (on_audio)
                on_audio(events[audio_seen].samples.data(), events[audio_seen].samples.size());
        }
    };

    if (!player_open(location.path.c_str(), playback_window, -1, -1, WAVE_MAPPER,
                     static_cast<int32_t>(location.offset), nullptr)) {
        headless_set_blit_hook(nullptr);
        return Error{location.path + ": the player could not open the movie"};
    }
    drain_audio();
    player_play();
    uint64_t turns = 0;
    while (player_is_playing()) {
        // Step the clock straight to the pending record's due time.
        if (static_cast<int32_t>(headless_time() - due_time) < 0)
            headless_set_time(due_time);
        pump_messages(0);
        drain_audio();
        if (++turns > limits.max_records) {
            player_close();
            headless_set_blit_hook(nullptr);
            return Error{location.path + ": playback did not end after " +
                         std::to_string(limits.max_records) + " records"};
        }
    }
    result.frames = frames_seen;
    result.duration_ms = headless_time();
    player_close();
    drain_audio();
    headless_set_blit_hook(nullptr);
    DestroyWindow(playback_window);
    return result;
}

} // namespace kmov
