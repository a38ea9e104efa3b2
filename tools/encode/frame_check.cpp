#include "encode/frame_check.h"

#include "player/player_state.h"
#include "player/video_decoder.h"
#include "stream/prefetch_ring.h"

#include <algorithm>
#include <cstring>

namespace kmov {

FrameCheck::FrameCheck(int frame_width, int frame_height, uint8_t fill)
    : width_(frame_width), height_(frame_height), stride_((frame_width + 3) & ~3),
      buffer_(static_cast<size_t>(stride_) * static_cast<size_t>(frame_height), fill) {}

std::string FrameCheck::decode(std::span<const uint8_t> codes) {
    // The payload goes into the player's ring as a "vdat" record's would,
    // padded to a multiple of 4, and the player's decoder takes it from
    // there into this buffer. The ring and the picture variables are the
    // player's process-wide state: they are set for this call only.
    const size_t length = (codes.size() + 3) & ~size_t{3};
    if (!ring_create(static_cast<int32_t>(std::max<size_t>(length, 4))))
        return "no memory for the ring";
    std::memcpy(ring_data, codes.data(), codes.size());
    std::memset(ring_data + codes.size(), 0, length - codes.size());
    ring_fill = static_cast<int32_t>(length);
    ring_write = static_cast<int32_t>(length);
    frame_bits = buffer_.data();
    width = width_;
    height = height_;
    row_stride = stride_;
    current_length = static_cast<int32_t>(length);
    decode_video_frame();
    const int32_t left = current_length, unread = ring_fill;
    frame_bits = nullptr;
    ring_free();
    if (left != 0 || unread != 0)
        return "the decoder left " + std::to_string(unread) + " payload bytes";
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
