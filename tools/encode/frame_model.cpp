#include "encode/frame_model.h"

#include <algorithm>

namespace kmov {

FrameModel::FrameModel(int width, int height)
    : width_(width), height_(height), stride_((width + 3) & ~3),
      bytes_(static_cast<size_t>(stride_) * static_cast<size_t>(height), 0),
      known_(bytes_.size(), 0) {}

void FrameModel::forget() {
    std::fill(known_.begin(), known_.end(), uint8_t{0});
}

std::string FrameModel::apply(uint8_t op, size_t at, int n) {
    const size_t size = bytes_.size();
    if (op < FRAME_OP_SKIP_LONG) {
        if (at >= size)
            return "a literal past the buffer's end";
        bytes_[at] = op;
        known_[at] = 1;
        return "";
    }
    if (op == FRAME_OP_SKIP_LONG || (op >= FRAME_OP_SKIP_SHORT && op < FRAME_OP_FILL_SHORT))
        return "";
    const size_t count = static_cast<size_t>(n);
    if (at + count > size)
        return "a run past the buffer's end";
    if (op == FRAME_OP_FILL_LONG || op >= FRAME_OP_FILL_SHORT) {
        if (at == 0 || !known_[at - 1])
            return "a fill from an unknown left pixel";
        std::fill_n(bytes_.begin() + static_cast<ptrdiff_t>(at), count, bytes_[at - 1]);
        std::fill_n(known_.begin() + static_cast<ptrdiff_t>(at), count, uint8_t{1});
        return "";
    }
    // Copies: the source address of the run's first byte.
    const ptrdiff_t source = static_cast<ptrdiff_t>(at) + frame_copy_offset(op, stride_);
    if (source < 0 || source + n > static_cast<ptrdiff_t>(size))
        return "a copy from outside the buffer";
    uint8_t *dst = bytes_.data() + at;
    uint8_t *dst_known = known_.data() + at;
    const uint8_t *src = bytes_.data() + source;
    const uint8_t *src_known = known_.data() + source;
    if (op == FRAME_OP_COPY_RIGHT) {
        // Each byte takes its right neighbour's value from before the run.
        for (size_t i = 0; i < count; i++) {
            if (!src_known[i])
                return "a copy from an unknown byte";
            dst[i] = src[i];
            dst_known[i] = 1;
        }
        return "";
    }
    // FRAME_COPY_GROUP bytes at a time in increasing order, each group read
    // in full before it is written; then the last bytes one at a time.
    size_t i = 0;
    for (; i + FRAME_COPY_GROUP <= count; i += FRAME_COPY_GROUP) {
        uint8_t group[FRAME_COPY_GROUP];
        for (size_t j = 0; j < FRAME_COPY_GROUP; j++) {
            if (!src_known[i + j])
                return "a copy from an unknown byte";
            group[j] = src[i + j];
        }
        for (size_t j = 0; j < FRAME_COPY_GROUP; j++) {
            dst[i + j] = group[j];
            dst_known[i + j] = 1;
        }
    }
    for (; i < count; i++) {
        if (!src_known[i])
            return "a copy from an unknown byte";
        dst[i] = src[i];
        dst_known[i] = 1;
    }
    return "";
}

std::string FrameModel::decode(std::span<const uint8_t> payload) {
    size_t pos = 0;
    for (int row = 0; row < height_; row++) {
        int column = 0;
        while (column < width_) {
            if (pos >= payload.size())
                return "the codes end before the frame (row " + std::to_string(row) + ")";
            const uint8_t op = payload[pos++];
            uint8_t count = 0;
            if (frame_op_has_count(op)) {
                if (pos >= payload.size())
                    return "a count byte is missing";
                count = payload[pos++];
            }
            const int n = frame_run_length(op, count);
            const size_t at = static_cast<size_t>(row) * static_cast<size_t>(stride_) +
                              static_cast<size_t>(column);
            std::string fault = apply(op, at, n);
            if (!fault.empty())
                return fault + " at row " + std::to_string(row) + ", column " +
                       std::to_string(column);
            column += n;
        }
    }
    if (pos != payload.size())
        return std::to_string(payload.size() - pos) + " bytes left after the frame";
    return "";
}

} // namespace kmov
