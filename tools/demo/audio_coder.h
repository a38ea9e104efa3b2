// A small coder for "adat" sound blocks: 16-bit mono samples as codes of
// `ldp` bits (4 or 6), packed most significant bit first. A code 1 to
// 2^ldp - 1 adds its entry of the delta table to the running value (held
// modulo 65536) and gives one sample; code 0 and a field r give the running
// value r + 1 more times. The running value starts at 0 in every block.
//
// Greedy with a look-ahead of one sample: each code is the one whose sample
// and best next sample are closest to the input (squared error); a run is
// taken wherever the next samples stay within half the smallest delta of
// the running value. Meant for the demo's sound; it can be swapped for a
// better coder without changing its callers.
#ifndef KMOV_TOOLS_DEMO_AUDIO_CODER_H
#define KMOV_TOOLS_DEMO_AUDIO_CODER_H

#include <cstdint>
#include <span>
#include <vector>

namespace kmov::demo {

struct AudioBlock {
    std::vector<uint8_t> payload; // the codes, without padding
    uint32_t samples = 0;         // what the record's param says (its low 16 bits)
    std::vector<int16_t> decoded; // what the player plays for this block
};

// The delta table for `ldp` (4: 16 entries, 6: 64 entries).
std::span<const int16_t> delta_table(int ldp);

// Codes one block of at most 65535 samples. Throws std::invalid_argument
// for another ldp or a longer block.
AudioBlock encode_audio_block(std::span<const int16_t> samples, int ldp);

// Decodes a block as the player does: `count` samples from `payload` (bytes
// past its end read as 0), for checking a coder.
std::vector<int16_t> decode_audio_block(std::span<const uint8_t> payload, uint32_t count, int ldp);

} // namespace kmov::demo

#endif
