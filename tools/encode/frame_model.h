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

#include "player/frame_codes.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace kmov {

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

} // namespace kmov

#endif
