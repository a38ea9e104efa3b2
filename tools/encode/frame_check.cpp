#include "encode/frame_check.h"

#include "movie_writer.h"
#include "player_harness.h"

#include <algorithm>

namespace kmov {

FrameCheck::FrameCheck(int frame_width, int frame_height, uint8_t fill)
    : width_(frame_width), height_(frame_height), stride_((frame_width + 3) & ~3),
      buffer_(static_cast<size_t>(stride_) * static_cast<size_t>(frame_height), fill) {}

std::string FrameCheck::decode(std::span<const uint8_t> codes) {
    // The payload is decoded as a "vdat" record's would be, padded to a
    // multiple of 4, by the player's own decoder into this buffer.
    std::vector<uint8_t> payload(codes.begin(), codes.end());
    payload.resize(padded_length(payload.size()), 0);
    const std::optional<PayloadDecode> decoded = harness_decode_payload(
        buffer_.data(), width_, height_, stride_, payload, static_cast<int32_t>(payload.size()));
    if (!decoded)
        return "no memory for the ring";
    if (decoded->length_left != 0 || decoded->ring_left != 0)
        return "the decoder left " + std::to_string(decoded->ring_left) + " payload bytes";
    return "";
}

std::vector<uint8_t> FrameCheck::pixels() const {
    std::vector<uint8_t> out;
    out.reserve(static_cast<size_t>(width_) * static_cast<size_t>(height_));
    for (int row = 0; row < height_; row++)
        out.insert(out.end(), buffer_.begin() + static_cast<ptrdiff_t>(row) * stride_,
                   buffer_.begin() + static_cast<ptrdiff_t>(row) * stride_ + width_);
    return out;
}

} // namespace kmov
