#include "encode/audio_coder.h"

#include "player/audio_decoder.h"
#include "player_harness.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <limits>

namespace kmov {

namespace {

int64_t squared(int64_t d) {
    return d * d;
}

class BitWriter {
  public:
    explicit BitWriter(int bits) : bits_(bits) {}
    void put(unsigned code) {
        buffer_ = buffer_ << bits_ | (code & ((1u << bits_) - 1));
        held_ += bits_;
        while (held_ >= 8) {
            out_.push_back(static_cast<uint8_t>(buffer_ >> (held_ - 8)));
            held_ -= 8;
        }
    }
    std::vector<uint8_t> finish() {
        if (held_ > 0)
            out_.push_back(static_cast<uint8_t>(buffer_ << (8 - held_)));
        held_ = 0;
        return std::move(out_);
    }

  private:
    int bits_;
    uint32_t buffer_ = 0;
    int held_ = 0;
    std::vector<uint8_t> out_;
};

// A code of the block: a delta (code > 0) or a run of `run` samples.
struct Step {
    uint8_t code = 0;
    uint8_t run = 0;
};

AudioBlock finish(std::span<const int16_t> samples, const std::vector<Step> &steps, int ldp) {
    BitWriter writer(ldp);
    for (const Step &step : steps) {
        writer.put(step.code);
        if (step.code == 0)
            writer.put(static_cast<unsigned>(step.run - 1));
    }
    AudioBlock block;
    block.bytes = writer.finish();
    if (samples.empty())
        return block;
    // What the player will play, from the player's own decoder.
    std::optional<std::vector<int16_t>> decoded =
        harness_decode_sound_block(block.bytes, ldp, static_cast<int>(samples.size()));
    if (!decoded) {
        // The coder was asked for a depth or a block size the player does
        // not have: a caller's fault, not the input's.
        std::fprintf(stderr, "kmov: sound coder: no block of %zu samples at %d bits (a bug)\n",
                     samples.size(), ldp);
        std::abort();
    }
    block.decoded = std::move(*decoded);
    for (size_t i = 0; i < samples.size(); i++)
        block.error += static_cast<uint64_t>(squared(samples[i] - block.decoded[i]));
    return block;
}

std::vector<Step> greedy(std::span<const int16_t> samples, int ldp) {
    const std::span<const int16_t> table = audio_delta_table(ldp);
    const int longest = 1 << ldp;
    std::vector<Step> steps;
    uint16_t value = 0;
    auto best_delta = [&](int16_t x, uint16_t v, int64_t &error) {
        int code = 1;
        error = std::numeric_limits<int64_t>::max();
        for (int c = 1; c < static_cast<int>(table.size()); c++) {
            const int64_t e =
                squared(x - static_cast<int16_t>(static_cast<uint16_t>(v + table[c])));
            if (e < error)
                error = e, code = c;
        }
        return code;
    };
    for (size_t i = 0; i < samples.size();) {
        int64_t delta_error;
        const int code = best_delta(samples[i], value, delta_error);
        const int64_t hold = squared(samples[i] - static_cast<int16_t>(value));
        if (hold < delta_error) {
            int run = 1;
            while (run < longest && i + static_cast<size_t>(run) < samples.size()) {
                int64_t e;
                best_delta(samples[i + static_cast<size_t>(run)], value, e);
                if (squared(samples[i + static_cast<size_t>(run)] - static_cast<int16_t>(value)) >
                    e)
                    break;
                run++;
            }
            steps.push_back({0, static_cast<uint8_t>(run)});
            i += static_cast<size_t>(run);
        } else {
            steps.push_back({static_cast<uint8_t>(code), 0});
            value = static_cast<uint16_t>(value + table[code]);
            i++;
        }
    }
    return steps;
}

std::vector<Step> search(std::span<const int16_t> samples, int ldp, int beam) {
    const std::span<const int16_t> table = audio_delta_table(ldp);
    const int longest = 1 << ldp;
    const int deltas_kept = 4;
    // A run is tried only while every sample stays this close to the value:
    // further off, a delta always does better.
    const int64_t run_reach = std::max<int64_t>(4, 2 * (ldp == 4 ? 8 : 1));
    const size_t n = samples.size();

    struct State {
        uint16_t value;
        uint64_t error;
        uint32_t bits;
        int32_t parent; // node of the position the last step started from
        Step step;
    };
    struct Node {
        int32_t parent;
        Step step;
    };
    std::vector<std::vector<State>> beams(n + 1);
    std::vector<Node> nodes;
    beams[0].push_back({0, 0, 0, -1, {}});
    auto insert = [&](size_t at, const State &state) {
        std::vector<State> &b = beams[at];
        for (State &s : b)
            if (s.value == state.value) {
                if (state.error < s.error || (state.error == s.error && state.bits < s.bits))
                    s = state;
                return;
            }
        if (b.size() < static_cast<size_t>(beam)) {
            b.push_back(state);
            return;
        }
        auto worst = std::max_element(b.begin(), b.end(), [](const State &x, const State &y) {
            return x.error < y.error || (x.error == y.error && x.bits < y.bits);
        });
        if (state.error < worst->error || (state.error == worst->error && state.bits < worst->bits))
            *worst = state;
    };

    std::vector<std::pair<int64_t, int>> options;
    for (size_t i = 0; i < n; i++) {
        for (const State &s : beams[i]) {
            const int32_t node = static_cast<int32_t>(nodes.size());
            nodes.push_back({s.parent, s.step});
            // Deltas: the few that land nearest to the next sample.
            options.clear();
            for (int c = 1; c < static_cast<int>(table.size()); c++)
                options.push_back({squared(samples[i] - static_cast<int16_t>(static_cast<uint16_t>(
                                                            s.value + table[c]))),
                                   c});
            std::partial_sort(options.begin(), options.begin() + deltas_kept, options.end());
            for (int o = 0; o < deltas_kept; o++) {
                const int c = options[static_cast<size_t>(o)].second;
                insert(i + 1,
                       {static_cast<uint16_t>(s.value + table[c]),
                        s.error + static_cast<uint64_t>(options[static_cast<size_t>(o)].first),
                        s.bits + static_cast<uint32_t>(ldp),
                        node,
                        {static_cast<uint8_t>(c), 0}});
            }
            // Runs of the value as it stands.
            const int16_t held = static_cast<int16_t>(s.value);
            uint64_t error = s.error;
            for (int run = 1; run <= longest && i + static_cast<size_t>(run) <= n; run++) {
                const int64_t d = samples[i + static_cast<size_t>(run) - 1] - held;
                if (d > run_reach || d < -run_reach)
                    break;
                error += static_cast<uint64_t>(d * d);
                insert(i + static_cast<size_t>(run), {s.value,
                                                      error,
                                                      s.bits + 2u * static_cast<uint32_t>(ldp),
                                                      node,
                                                      {0, static_cast<uint8_t>(run)}});
            }
        }
        std::vector<State>().swap(beams[i]);
    }
    const std::vector<State> &last = beams[n];
    const State *best = &last[0];
    for (const State &s : last)
        if (s.error < best->error || (s.error == best->error && s.bits < best->bits))
            best = &s;
    std::vector<Step> steps;
    if (n > 0) {
        steps.push_back(best->step);
        // Node 0 is the start; every other node has a parent.
        for (int32_t at = best->parent; at > 0; at = nodes[static_cast<size_t>(at)].parent)
            steps.push_back(nodes[static_cast<size_t>(at)].step);
    }
    std::reverse(steps.begin(), steps.end());
    return steps;
}

} // namespace

std::span<const int16_t> audio_delta_table(int ldp) {
    if (ldp == 6)
        return delta_table_64;
    return delta_table_16;
}

AudioBlock code_audio_block(std::span<const int16_t> samples, int ldp, int beam) {
    AudioBlock chosen = finish(samples, greedy(samples, ldp), ldp);
    if (beam > 0 && !samples.empty()) {
        AudioBlock searched = finish(samples, search(samples, ldp, beam), ldp);
        if (searched.error <= chosen.error)
            chosen = std::move(searched);
    }
    return chosen;
}

} // namespace kmov
