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

#include "player/player_state.h"
#include "player/video_decoder.h"
#include "stream/prefetch_ring.h"

#include <cstdlib>
#include <cstring>
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
    if (!ring_create(payload_size))
        kmov::fuzz::finding("ring_create failed");
    movie_source = nullptr;
    int32_t start = static_cast<int32_t>(le(data + 13, 2)) & ring_mask;
    for (int32_t i = 0; i < payload_size; i++)
        ring_data[(start + i) & ring_mask] = payload[i];
    ring_read = start;
    ring_write = start + payload_size;
    ring_fill = payload_size;

    uint8_t *frame = static_cast<uint8_t *>(std::malloc(frame_size > 0 ? frame_size : 1));
    if (frame_size > 0)
        std::memcpy(frame, before.data(), frame_size);
    frame_bits = frame;
    width = w;
    height = h;
    row_stride = stride;
    current_length = length;
    decode_video_frame();

    int32_t taken = length <= 0 ? 0 : length < payload_size ? length : payload_size;
    if (current_length != 0)
        kmov::fuzz::finding("current_length is not 0 after the frame");
    if (ring_fill != payload_size - taken ||
        (ring_read & ring_mask) != ((start + taken) & ring_mask))
        kmov::fuzz::finding("the ring does not stand behind the record's payload");
    Bytes codes(payload, payload + taken);
    kmov::test::reference_decode_frame(before, w, h, stride, codes);
    if (frame_size > 0 && std::memcmp(frame, before.data(), frame_size) != 0)
        kmov::fuzz::finding("the frame differs from the plain decoder's");

    std::free(frame);
    frame_bits = nullptr;
    ring_free();
    return 0;
}
