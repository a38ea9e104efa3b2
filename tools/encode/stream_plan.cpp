#include "encode/stream_plan.h"

#include "player/movie_format.h"
#include "stream/prefetch_ring.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace kmov {

namespace {

constexpr int64_t REFILL = RING_REFILL;
constexpr int64_t LARGEST_RING = RING_MAX_CAPACITY;

int64_t stream_size(const std::vector<StreamRecord> &records) {
    int64_t total = 0;
    for (const StreamRecord &r : records)
        total += RECORD_HEADER_SIZE + static_cast<int64_t>(r.length);
    return total;
}

} // namespace

int64_t preload_target(int64_t preload_size) {
    return ring_preload_target_for(preload_size, std::numeric_limits<int64_t>::max());
}

RingRun simulate_ring(const std::vector<StreamRecord> &records, int32_t data_rate,
                      int32_t ring_size, int32_t preload_size) {
    RingRun run;
    const int64_t capacity = ring_capacity_for(ring_size);
    const int64_t target = ring_preload_target_for(preload_size, capacity);
    const int64_t total = stream_size(records);
    run.stream_bytes = total;
    int64_t read = 0, fill = 0;
    bool playing = false, in_frame = false;
    auto refill = [&](int64_t n) {
        n = std::min(n, capacity - fill);
        const int64_t got = std::min(n, total - read);
        read += got;
        fill += got;
        run.max_fill = std::max(run.max_fill, fill);
    };
    auto short_refill = [&]() {
        refill(REFILL);
        if (playing) {
            run.playback_refills++;
            run.refills_in_frames += in_frame;
        }
    };
    auto take = [&](int64_t length) {
        while (length > 0) {
            if (fill == 0) {
                short_refill();
                if (fill == 0)
                    return;
            }
            const int64_t m = std::min(length, fill);
            fill -= m;
            length -= m;
        }
    };
    auto read_header = [&]() {
        for (int word = 0; word < 4; word++) {
            if (fill < 4)
                short_refill();
            fill -= std::min<int64_t>(4, fill);
        }
    };

    // Opening: every record in front of the first "vblt", then the preload.
    size_t next = 0;
    const StreamRecord *pending = nullptr;
    while (next < records.size()) {
        read_header();
        const StreamRecord &r = records[next++];
        if (r.tag == TAG_VBLT) {
            pending = &r;
            break;
        }
        take(r.length);
    }
    if (fill < target)
        refill(target - fill);
    // Playback: execute, read the next header, top up by its delay.
    playing = true;
    while (pending != nullptr) {
        in_frame = pending->tag == TAG_VDAT;
        take(pending->length);
        in_frame = false;
        if (next >= records.size())
            break;
        read_header();
        const StreamRecord &r = records[next++];
        if (r.tag == TAG_END)
            break;
        if (r.delay > 0) {
            const uint32_t wanted = ring_top_up_wanted(r.delay, data_rate);
            const int64_t free_space = capacity - fill;
            if (wanted > free_space && read < total)
                run.cut_top_ups++;
            const int64_t amount = ring_top_up_amount(wanted, static_cast<uint32_t>(free_space));
            if (amount > 0)
                refill(amount);
        }
        pending = &r;
    }
    return run;
}

HeaderSizing size_stream(const std::vector<StreamRecord> &records) {
    const int64_t total = stream_size(records);
    // Playing time: the delays from the first "vblt" on.
    int64_t duration = 0;
    bool seen_vblt = false;
    for (const StreamRecord &r : records) {
        if (seen_vblt)
            duration += r.delay;
        seen_vblt = seen_vblt || r.tag == TAG_VBLT;
    }
    const int64_t roomy = std::min(LARGEST_RING, ring_capacity_for(total + 4 * REFILL));
    auto preload_for = [](int64_t target) {
        // The smallest preload_size whose target is at least `target`.
        int64_t size = std::max<int64_t>(0, (target - 2047) * 8 / 9 - 2);
        while (preload_target(size) < target)
            size++;
        return size;
    };
    HeaderSizing best;
    bool have = false;
    const double average = duration > 0 ? static_cast<double>(total) * 1000.0 / duration : 0;
    for (int step = -8; step <= 16; step++) {
        const double rate_d = average * std::pow(2.0, step / 8.0);
        if (rate_d >= std::numeric_limits<int32_t>::max())
            break;
        const int32_t rate = static_cast<int32_t>(std::ceil(rate_d));
        // The least preload (in whole refills) under which playback never
        // waits, with a ring large enough never to cut a top-up.
        int64_t low = 0, high = (total + REFILL - 1) / REFILL;
        while (low < high) {
            const int64_t mid = (low + high) / 2;
            RingRun r = simulate_ring(records, rate, static_cast<int32_t>(roomy),
                                      static_cast<int32_t>(preload_for(mid * REFILL)));
            if (r.playback_refills == 0)
                high = mid;
            else
                low = mid + 1;
        }
        const int32_t preload = static_cast<int32_t>(preload_for(low * REFILL));
        RingRun r = simulate_ring(records, rate, static_cast<int32_t>(roomy), preload);
        if (r.playback_refills != 0 || r.cut_top_ups != 0)
            continue;
        int64_t ring = std::max<int64_t>(r.max_fill, REFILL);
        // The ring the player makes is a power of two at least ring_size; a
        // smaller one than the roomy ring must still never cut a top-up.
        RingRun check = simulate_ring(records, rate, static_cast<int32_t>(ring), preload);
        if (check.playback_refills != 0 || check.cut_top_ups != 0)
            continue;
        if (!have || ring < best.ring_size ||
            (ring == best.ring_size && preload < best.preload_size)) {
            best = {rate, static_cast<int32_t>(ring), preload};
            have = true;
        }
        if (duration == 0)
            break;
    }
    if (!have) // cannot happen with a ring that holds the whole stream
        best = {static_cast<int32_t>(std::min<double>(average, 1e9)), static_cast<int32_t>(roomy),
                static_cast<int32_t>(preload_for(std::min(total, roomy)))};
    return best;
}

uint32_t frame_time_ms(int64_t k, double fps) {
    return static_cast<uint32_t>(std::llround(static_cast<double>(k) * 1000.0 / fps));
}

namespace {
constexpr double SOUND_LEAD_MS = 1000.0;
} // namespace

AudioSchedule schedule_audio(int64_t samples, int rate, double fps, int frames) {
    AudioSchedule schedule;
    if (samples <= 0 || rate <= 0 || frames <= 0)
        return schedule;
    schedule.samples_per_block = static_cast<int>(std::min<double>(65535, std::ceil(rate / fps)));
    const int64_t s = schedule.samples_per_block;
    const int64_t blocks = (samples + s - 1) / s;
    const double block_ms = static_cast<double>(s) * 1000.0 / rate;
    // About a second queued ahead at all times. A sound server hands the
    // device's buffers back only once it has played them out, so the queue
    // must outlast its whole pipeline: PulseAudio under Wine needs several
    // hundred ms, and with a quarter of a second the device ran dry again and
    // again (silence inserted, the pictures drifting ahead of the sound). It
    // costs a second of samples in buffers and in the ring.
    schedule.lead_in = static_cast<int>(std::min<int64_t>(
        blocks, std::max<int64_t>(2, static_cast<int64_t>(std::ceil(SOUND_LEAD_MS / block_ms)))));
    // Twice the lead in buffers: a device marks a buffer done some time
    // after it has played it (under Wine, when its own thread next looks),
    // and a block that finds every buffer taken holds up the pictures until
    // one comes back.
    schedule.buffer_pairs = schedule.lead_in;
    const double ahead_ms = (schedule.lead_in - 1) * block_ms;
    int frame = 0;
    for (int64_t b = schedule.lead_in; b < blocks; b++) {
        const double start_ms = static_cast<double>(b) * block_ms;
        while (frame + 1 < frames && frame_time_ms(frame + 1, fps) <= start_ms - ahead_ms)
            frame++;
        schedule.after_frame.push_back(frame);
    }
    return schedule;
}

AudioCheck check_audio(const AudioSchedule &schedule, int64_t samples, int rate, double fps) {
    AudioCheck check;
    check.min_margin_ms = std::numeric_limits<double>::infinity();
    if (schedule.samples_per_block <= 0)
        return check;
    const int64_t s = schedule.samples_per_block;
    const int64_t buffers = 2 * static_cast<int64_t>(schedule.buffer_pairs);
    const double block_ms = static_cast<double>(s) * 1000.0 / rate;
    int64_t delivered = schedule.lead_in;
    if (delivered > buffers)
        check.dropped += static_cast<int>(delivered - buffers);
    (void)samples;
    for (size_t i = 0; i < schedule.after_frame.size(); i++) {
        const int64_t b = schedule.lead_in + static_cast<int64_t>(i);
        const double at = frame_time_ms(schedule.after_frame[i], fps);
        const double start = static_cast<double>(b) * block_ms;
        const int64_t played = static_cast<int64_t>(std::floor(at / block_ms + 1e-9));
        if (delivered - played >= buffers)
            check.dropped++;
        if (at >= start)
            check.late++;
        check.min_margin_ms = std::min(check.min_margin_ms, start - at);
        delivered++;
    }
    return check;
}

} // namespace kmov
