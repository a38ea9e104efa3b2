// The encoder's picture of the player's frame buffer: the bytes a decoder
// holds after each frame, padding included, and which of them are known.
//
// The frame codes run in place over the previous frame (literals, skips,
// fills from the left pixel, copies from the pixel to the right and from the
// six neighbours in the rows above and below). The coder has to know exactly
// what the buffer holds before each code, so this file carries out codes
// with the decoder's own rules: copies from below (242-244) and from the
// right (241) read the bytes as they were, copies from above (245-247) move
// four bytes at a time in increasing order, each group read before it is
// written, then the last 0 to 3 bytes one at a time; a run that ends past
// the row's last pixel goes on into the padding and the next row.
//
// "Known" bytes are those written since the movie's first frame began. A
// movie starts over an unknown buffer, and after a rewind over its own last
// frame, so a code that reads a byte that is not known would make the
// picture depend on where playback started; the coder never does that.
#ifndef KMOV_TOOLS_ENCODE_FRAME_MODEL_H
#define KMOV_TOOLS_ENCODE_FRAME_MODEL_H

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace kmov {

// The operation bytes of a frame payload; below FRAME_OP_SKIP_LONG a byte is
// a literal palette index.
enum : uint8_t {
    FRAME_OP_SKIP_LONG = 240,  // count byte b: leave b + 2 pixels
    FRAME_OP_COPY_RIGHT = 241, // count byte: each pixel takes its right neighbour's old value
    FRAME_OP_COPY_BELOW_LEFT = 242,
    FRAME_OP_COPY_BELOW = 243,
    FRAME_OP_COPY_BELOW_RIGHT = 244,
    FRAME_OP_COPY_ABOVE_LEFT = 245,
    FRAME_OP_COPY_ABOVE = 246,
    FRAME_OP_COPY_ABOVE_RIGHT = 247,
    FRAME_OP_FILL_LONG = 248,  // count byte: repeat the left pixel b + 2 times
    FRAME_OP_SKIP_SHORT = 249, // 249..252: leave 2..5 pixels
    FRAME_OP_FILL_SHORT = 253, // 253..255: repeat the left pixel 2..4 times
};

enum {
    FRAME_RUN_MIN = 2,
    FRAME_RUN_MAX = 257, // a count byte of 255
    FRAME_SKIP_SHORT_MAX = 5,
    FRAME_FILL_SHORT_MAX = 4,
};

// The bytes of a frame buffer and which of them are known.
class FrameModel {
  public:
    FrameModel(int width, int height);

    int width() const { return width_; }
    int height() const { return height_; }
    int stride() const { return stride_; }
    size_t size() const { return bytes_.size(); }

    std::vector<uint8_t> &bytes() { return bytes_; }
    const std::vector<uint8_t> &bytes() const { return bytes_; }
    std::vector<uint8_t> &known() { return known_; }
    const std::vector<uint8_t> &known() const { return known_; }

    // Forgets every byte: the next frame is decoded over an unknown buffer.
    void forget();

    // Carries out one code at linear address `at`: a literal (op < 240,
    // n = 1) or a run of n bytes. Sources outside the buffer or not known
    // are reported as an error text (and the code is not carried out);
    // writes past the buffer's end are an error too.
    std::string apply(uint8_t op, size_t at, int n);

    // Decodes one frame payload (without its padding) as the player does.
    // Returns "" when the codes cover the frame exactly, used every byte and
    // read only known bytes; otherwise a description of the first fault.
    std::string decode(std::span<const uint8_t> payload);

  private:
    int width_, height_, stride_;
    std::vector<uint8_t> bytes_;
    std::vector<uint8_t> known_;
};

// The run length n of a code from its operation byte and count byte (the
// count byte is ignored for the short forms).
inline int frame_run_length(uint8_t op, uint8_t count) {
    if (op >= FRAME_OP_FILL_SHORT)
        return op - 251;
    if (op >= FRAME_OP_SKIP_SHORT)
        return op - 247;
    return count + 2;
}

} // namespace kmov

#endif
