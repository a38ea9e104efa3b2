#include "audio_coder.h"

#include <limits>
#include <stdexcept>

namespace kmov::demo {

namespace {

constexpr int16_t DELTAS_16[16] = {0,      8,     26,    86,   283,  927, 3043, 9986,
                                   -32768, -9986, -3043, -927, -283, -86, -26,  -8};
constexpr int16_t DELTAS_64[64] = {
    0,     1,     2,     3,     4,     5,     6,      7,      10,     15,     20,    29,    40,
    56,    78,    109,   153,   214,   299,   419,    586,    819,    1145,   1601,  2240,  3132,
    4380,  6126,  8567,  11980, 16754, 23431, -32768, -23431, -16754, -11980, -8567, -6126, -4380,
    -3132, -2240, -1601, -1145, -819,  -586,  -419,   -299,   -214,   -153,   -109,  -78,   -56,
    -40,   -29,   -20,   -15,   -10,   -7,    -6,     -5,     -4,     -3,     -2,    -1};

// The running value plus a delta, modulo 65536, as a signed sample.
int16_t add(int16_t value, int16_t delta) {
    return static_cast<int16_t>(
        static_cast<uint16_t>(static_cast<uint16_t>(value) + static_cast<uint16_t>(delta)));
}

int64_t square(int64_t x) {
    return x * x;
}

class BitWriter {
  public:
    explicit BitWriter(int bits) : bits_(bits) {}
    void put(unsigned code) {
        held_ = (held_ << bits_) | (code & ((1u << bits_) - 1));
        count_ += bits_;
        while (count_ >= 8) {
            count_ -= 8;
            out_.push_back(static_cast<uint8_t>(held_ >> count_));
        }
    }
    std::vector<uint8_t> finish() {
        if (count_ > 0)
            out_.push_back(static_cast<uint8_t>(held_ << (8 - count_)));
        count_ = 0;
        return std::move(out_);
    }

  private:
    int bits_;
    uint32_t held_ = 0;
    int count_ = 0;
    std::vector<uint8_t> out_;
};

} // namespace

std::span<const int16_t> delta_table(int ldp) {
    if (ldp == 4)
        return DELTAS_16;
    if (ldp == 6)
        return DELTAS_64;
    throw std::invalid_argument("ldp must be 4 or 6");
}

AudioBlock encode_audio_block(std::span<const int16_t> samples, int ldp) {
    std::span<const int16_t> deltas = delta_table(ldp);
    if (samples.size() > 0xFFFF)
        throw std::invalid_argument("an audio block holds at most 65535 samples");
    const size_t codes = deltas.size();
    const size_t max_run = codes; // a run field of ldp bits: 1 to 2^ldp repeats
    const int tolerance = ldp == 4 ? 4 : 0;
    AudioBlock block;
    block.samples = static_cast<uint32_t>(samples.size());
    block.decoded.reserve(samples.size());
    BitWriter writer(ldp);
    int16_t value = 0;
    size_t i = 0;
    while (i < samples.size()) {
        size_t run = 0;
        while (run < max_run && i + run < samples.size() &&
               std::abs(samples[i + run] - value) <= tolerance)
            run++;
        if (run >= 2) {
            writer.put(0);
            writer.put(static_cast<unsigned>(run - 1));
            block.decoded.insert(block.decoded.end(), run, value);
            i += run;
            continue;
        }
        unsigned best = 1;
        int64_t best_cost = std::numeric_limits<int64_t>::max();
        for (unsigned c = 1; c < codes; c++) {
            int16_t next = add(value, deltas[c]);
            int64_t cost = square(samples[i] - next);
            if (i + 1 < samples.size()) {
                int64_t ahead = std::numeric_limits<int64_t>::max();
                for (unsigned d = 1; d < codes; d++)
                    ahead = std::min(ahead, square(samples[i + 1] - add(next, deltas[d])));
                cost += ahead;
            }
            if (cost < best_cost) {
                best_cost = cost;
                best = c;
            }
        }
        writer.put(best);
        value = add(value, deltas[best]);
        block.decoded.push_back(value);
        i++;
    }
    block.payload = writer.finish();
    return block;
}

std::vector<int16_t> decode_audio_block(std::span<const uint8_t> payload, uint32_t count, int ldp) {
    std::span<const int16_t> deltas = delta_table(ldp);
    std::vector<int16_t> out;
    out.reserve(count);
    size_t next_byte = 0;
    uint32_t held = 0;
    int bits = 0;
    auto take = [&]() {
        if (bits < ldp) {
            uint8_t byte = next_byte < payload.size() ? payload[next_byte] : 0;
            next_byte++;
            held |= static_cast<uint32_t>(byte) << (24 - bits);
            bits += 8;
        }
        unsigned code = held >> (32 - ldp);
        held <<= ldp;
        bits -= ldp;
        return code;
    };
    int16_t value = 0;
    while (out.size() < count) {
        unsigned code = take();
        if (code != 0) {
            value = add(value, deltas[code]);
            out.push_back(value);
        } else {
            unsigned repeats = take() + 1;
            for (unsigned k = 0; k < repeats && out.size() < count; k++)
                out.push_back(value);
        }
    }
    return out;
}

} // namespace kmov::demo
