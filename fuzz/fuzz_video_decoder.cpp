// The "vdat" decoder alone: a random frame size, previous frame, record
// length and payload, set into the player's state directly. The frame
// buffer is an allocation of exactly height x row_stride bytes, so the
// sanitizer sees any access outside it; the result is compared with a plain
// byte-by-byte decoder that reads bytes outside the buffer as 0 and drops
// writes past its end, and the ring must end behind the record's payload.
//
// Input: width (2 bytes, little-endian, mod 1025), height (2 bytes, mod 513; the frame is cut to 64
// KiB), flags (1 byte), a length (4 bytes, used when flags bit 0 is set; else the payload's size),
// a seed for the previous frame (4 bytes), the ring offset the payload starts at (2 bytes), then
// the payload.
#include "fuzz_support.h"
#include "reference_decoder.h"

#include "player_harness.h"
#include "stream/prefetch_ring.h"

#include <cstdlib>
#include <cstring>
#include <optional>
#include <span>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

constexpr size_t kHeaderBytes = 15;
constexpr int64_t kMaxFrameBytes = 64 << 10;

uint32_t le(const uint8_t *p, int count) {
    uint32_t value = 0;
    for (int i = count - 1; i >= 0; i--)
        value = (value << 8) | p[i];
    return value;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < kHeaderBytes)
        return 0;
    int32_t w = static_cast<int32_t>(le(data, 2) % 1025);
    int32_t h = static_cast<int32_t>(le(data + 2, 2) % 513);
    uint8_t flags = data[4];
    int32_t stride = (w + 3) & ~3;
    if (static_cast<int64_t>(stride) * h > kMaxFrameBytes)
        h = static_cast<int32_t>(kMaxFrameBytes / stride);
    const uint8_t *payload = data + kHeaderBytes;
    const int32_t payload_size = static_cast<int32_t>(size - kHeaderBytes);
    int32_t length = flags & 1 ? static_cast<int32_t>(le(data + 5, 4)) : payload_size;

    // The previous frame: random bytes, or all one value.
    const size_t frame_size = static_cast<size_t>(stride) * static_cast<size_t>(h);
    Bytes before(frame_size);
    uint32_t state = le(data + 9, 4) | 1;
    for (uint8_t &b : before) {
        state ^= state << 13, state ^= state >> 17, state ^= state << 5;
        b = flags & 2 ? flags : static_cast<uint8_t>(state >> 24);
    }

    // The ring holds exactly the payload, starting anywhere in its array,
    // and has no source behind it: bytes past the payload cannot be had.
    uint8_t *frame = static_cast<uint8_t *>(std::malloc(frame_size > 0 ? frame_size : 1));
    if (frame_size > 0)
        std::memcpy(frame, before.data(), frame_size);
    const int32_t start = static_cast<int32_t>(le(data + 13, 2));
    std::optional<kmov::PayloadDecode> decoded = kmov::harness_decode_payload(
        frame, w, h, stride, std::span(payload, static_cast<size_t>(payload_size)), length, start);
    if (!decoded)
        kmov::fuzz::finding("ring_create failed");

    // The ring's capacity: the smallest it makes for the payload.
    const int32_t mask = static_cast<int32_t>(ring_capacity_for(payload_size)) - 1;
    int32_t taken = length <= 0 ? 0 : length < payload_size ? length : payload_size;
    if (decoded->length_left != 0)
        kmov::fuzz::finding("current_length is not 0 after the frame");
    if (decoded->ring_left != payload_size - taken ||
        decoded->ring_position != ((start + taken) & mask))
        kmov::fuzz::finding("the ring does not stand behind the record's payload");
    Bytes codes(payload, payload + taken);
    kmov::test::reference_decode_frame(before, w, h, stride, codes);
    if (frame_size > 0 && std::memcmp(frame, before.data(), frame_size) != 0)
        kmov::fuzz::finding("the frame differs from the plain decoder's");

    std::free(frame);
    return 0;
}
