// Decodes the encoder's frames with the player's own decoder, to check each one
// against what the coder meant. Holds a frame buffer of its own that starts
// filled with one byte value and carries over from frame to frame.
#ifndef KMOV_TOOLS_ENCODE_FRAME_CHECK_H
#define KMOV_TOOLS_ENCODE_FRAME_CHECK_H

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace kmov {

class FrameCheck {
  public:
    FrameCheck(int width, int height, uint8_t fill = 0);

    // Decodes one frame payload (codes without padding) over the buffer.
    // Returns "" or what went wrong.
    std::string decode(std::span<const uint8_t> codes);

    // The whole buffer, padding included (height rows of the stride).
    const std::vector<uint8_t> &buffer() const { return buffer_; }
    // The pixels, row by row without padding.
    std::vector<uint8_t> pixels() const;

  private:
    int width_, height_, stride_;
    std::vector<uint8_t> buffer_;
};

} // namespace kmov

#endif
