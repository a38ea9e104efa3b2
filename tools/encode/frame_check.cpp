#include "encode/frame_check.h"

#include "encode/frame_model.h"

namespace kmov {

FrameCheck::FrameCheck(int width, int height, uint8_t fill)
    : width_(width), height_(height), stride_((width + 3) & ~3),
      buffer_(static_cast<size_t>(stride_) * static_cast<size_t>(height), fill) {}

std::string FrameCheck::decode(std::span<const uint8_t> codes) {
    FrameModel model(width_, height_);
    model.bytes() = buffer_;
    std::fill(model.known().begin(), model.known().end(), uint8_t{1});
    std::string fault = model.decode(codes);
    buffer_ = model.bytes();
    return fault;
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
