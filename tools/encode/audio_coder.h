// The sound coder: 16-bit mono samples to "adat" blocks of ldp-bit codes.
//
// A code 1 .. 2^ldp - 1 adds its entry of the delta table to the running
// value (held modulo 65536) and outputs it; code 0 with an ldp-bit field r
// outputs the running value r + 1 times. The running value starts at 0 in
// every block. Codes are packed most significant bit first.
//
// The codes are chosen by a beam search over the running value: at every
// sample position the best few running values so far (by squared error) are
// extended by the deltas nearest to the next samples and by every run
// length. The greedy choice (the best next code, one sample at a time) is
// also coded, and the search's result is kept only where it is no worse, so
// the search never loses to it.
#ifndef KMOV_TOOLS_ENCODE_AUDIO_CODER_H
#define KMOV_TOOLS_ENCODE_AUDIO_CODER_H

#include <cstdint>
#include <span>
#include <vector>

namespace kmov {

struct AudioBlock {
    std::vector<uint8_t> bytes;   // the codes, packed
    std::vector<int16_t> decoded; // what the player will play (its decoder's output)
    uint64_t error = 0;           // squared error against the source
};

// The delta table for ldp 4 (16 entries) or 6 (64 entries).
std::span<const int16_t> audio_delta_table(int ldp);
// Codes one block of at most 65535 samples (the most a block holds) at
// ldp 4 or 6; `beam` 0 is the greedy choice alone.
AudioBlock code_audio_block(std::span<const int16_t> samples, int ldp, int beam = 12);

} // namespace kmov

#endif
