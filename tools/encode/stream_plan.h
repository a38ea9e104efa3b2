// Laying out a movie's record stream and sizing its header.
//
// Frames: "vdat" (delay 0: decoded right after the previous frame is shown)
// then "vblt" (delay: the frame time). Sound: blocks of one frame's samples
// or so; the first second's blocks ("lead-in") stand in front of the first
// frame, so the player queues them on the paused device while it opens the
// movie; "asta" follows the first "vblt", so sound starts with the first
// picture; every later block stands in the gap after the "vblt" that comes
// about a second before it plays, so the device always holds a second of
// sound and never finds every buffer taken.
//
// The header's data_rate, ring_size and preload_size come from simulating
// the player's ring over the stream: the preload before playback, the
// top-up after each timed header (delay x data_rate / 1000, rounded down to
// 2048 bytes, at most the free space) and the 2048-byte refills when a take
// finds the ring short.
#ifndef KMOV_TOOLS_ENCODE_STREAM_PLAN_H
#define KMOV_TOOLS_ENCODE_STREAM_PLAN_H

#include <cstdint>
#include <vector>

namespace kmov {

// A record as the ring sees it.
struct StreamRecord {
    uint32_t tag = 0;
    uint32_t delay = 0;
    uint32_t length = 0; // padded payload bytes
};

struct RingRun {
    int64_t max_fill = 0;      // most bytes held at once
    int playback_refills = 0;  // takes that found the ring short after playback began
    int refills_in_frames = 0; // ... of them while a "vdat" payload was taken
    int cut_top_ups = 0;       // top-ups that wanted more than the free space
    int64_t stream_bytes = 0;  // bytes of the record stream
};

// Plays the stream through a model of the player's ring with these header
// values, on a machine that keeps up (the byte flow does not depend on the
// clock: one top-up per timed header, in stream order).
RingRun simulate_ring(const std::vector<StreamRecord> &records, int32_t data_rate,
                      int32_t ring_size, int32_t preload_size);

struct HeaderSizing {
    int32_t data_rate = 0;
    int32_t ring_size = 0;
    int32_t preload_size = 0;
};

// The header values under which the stream never waits on a refill once
// playing and never has a top-up cut short, with the smallest ring (then
// the smallest preload) over a range of data rates.
HeaderSizing size_stream(const std::vector<StreamRecord> &records);

// The player's preload target for a preload_size, before the ring's cap.
int64_t preload_target(int64_t preload_size);

// Frame times: frame k is shown at round(k * 1000 / fps) ms.
uint32_t frame_time_ms(int64_t k, double fps);

// The sound's blocks and where they go.
struct AudioSchedule {
    int samples_per_block = 0;
    int lead_in = 0;      // blocks in front of the first frame
    int buffer_pairs = 0; // the player allocates twice as many buffers
    // For every block after the lead-in: the frame after whose "vblt" it
    // stands (0 = the first frame, right behind "asta").
    std::vector<int> after_frame;
};

AudioSchedule schedule_audio(int64_t samples, int rate, double fps, int frames);

struct AudioCheck {
    int late = 0;             // blocks queued after they should have begun to play
    int dropped = 0;          // blocks that found every buffer taken
    double min_margin_ms = 0; // least time between queueing a block and its start
};

// Plays the schedule against a device that starts with the first frame and
// frees each buffer when its block has played.
AudioCheck check_audio(const AudioSchedule &schedule, int64_t samples, int rate, double fps);

} // namespace kmov

#endif
