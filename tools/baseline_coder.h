// A simple frame coder: turns each next frame into a "vdat" payload that the
// player's decoder, working in place over the previous frame, turns into
// exactly that frame. Greedy, one code at a time: at each pixel it takes the
// skip, fill or copy that covers the most pixels for its bytes, or a
// literal. Good enough for tests and the demo movie; not optimal.
//
// The coder follows the decoder's buffer byte for byte, padding included,
// and knows which bytes it can be sure of. Before the first frame it is
// sure of nothing, so a movie's first frame uses only literals, fills that
// are not at column 0 and copies from the row above that are not in row 0,
// and never a source byte that this frame has not written: the movie then
// decodes the same from any initial buffer. No code reads or writes outside
// the buffer.
#ifndef KMOV_TOOLS_BASELINE_CODER_H
#define KMOV_TOOLS_BASELINE_CODER_H

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace kmov {

class BaselineCoder {
  public:
    // Codes a movie from its first frame; the buffer's content is unknown.
    // Throws std::invalid_argument for a width or height below 1.
    BaselineCoder(int32_t width, int32_t height);
    // Codes the frames that follow a known buffer: `buffer` is what the
    // decoder holds, height rows of row_stride() bytes.
    BaselineCoder(int32_t width, int32_t height, std::span<const uint8_t> buffer);

    int32_t width() const { return width_; }
    int32_t height() const { return height_; }
    // width rounded up to a multiple of 4, as the decoder's buffer has it.
    int32_t row_stride() const { return stride_; }

    // Codes the next frame: `pixels` holds height rows of `pixel_stride`
    // (width when 0) palette indices 0 to 239. Returns the payload without
    // padding and moves the buffer on to what the decoder leaves. Throws
    // std::invalid_argument for a short span or a value above 239.
    std::vector<uint8_t> encode(std::span<const uint8_t> pixels, size_t pixel_stride = 0);

    // The decoder's buffer as the coder follows it; bytes it is not sure of
    // (known() is 0) hold whatever it last assumed.
    const std::vector<uint8_t> &buffer() const { return buffer_; }
    const std::vector<uint8_t> &known() const { return known_; }

  private:
    struct Choice;
    Choice best_code(int64_t row, int64_t col, const uint8_t *target) const;
    int64_t match_copy(int op, int64_t pos, int64_t limit, const uint8_t *target) const;
    void apply(int op, int64_t pos, int64_t n);

    int32_t width_, height_, stride_;
    int64_t size_;
    bool first_frame_;
    std::vector<uint8_t> buffer_;
    std::vector<uint8_t> known_;
};

} // namespace kmov

#endif
