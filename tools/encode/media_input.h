// Pictures and sound in through FFmpeg's libraries: any video file, an image
// sequence (a printf pattern such as frame%04d.png, or several image files
// in order), and the sound of a file mixed to mono 16-bit at a chosen rate.
#ifndef KMOV_TOOLS_ENCODE_MEDIA_INPUT_H
#define KMOV_TOOLS_ENCODE_MEDIA_INPUT_H

#include "cli.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace kmov {

// How pictures meet a --size box of both sides.
enum class Fit {
    Inside,  // the largest size of the picture's shape inside the box
    Crop,    // the box, filled, the middle of the picture kept
    Stretch, // the box, the picture distorted to it
};

// The frame rates a movie may have: below one a second is a slideshow the
// player's clock cannot pace; above 60 no screen shows the frames, and the
// sound blocks (one per frame) grow too short.
constexpr double MIN_FPS = 1;
constexpr double MAX_FPS = 60;

// The frame size every movie may have without --allow-large: a window
// larger than a common screen cannot show its whole client area.
constexpr int LARGE_WIDTH = 1920;
constexpr int LARGE_HEIGHT = 1080;

struct VideoRequest {
    std::vector<std::string> inputs; // one video or pattern, or several images
    // Both 0: the input's size, fitted inside 640 x 480. One 0: that side
    // follows the picture's shape. Both set: a box, met as `fit` says.
    int width = 0, height = 0;
    Fit fit = Fit::Inside;
    bool allow_large = false; // frames above LARGE_WIDTH x LARGE_HEIGHT
    double fps = 15;          // frames per second of the movie
    double start = 0;         // seconds into the input
    double duration = -1;     // seconds; < 0: to the end
};

// Reads the movie's frames at the movie's rate: frame k shows the input
// picture on screen at start + k / fps. Each frame is width x height RGBA.
class VideoReader {
  public:
    static Expected<std::unique_ptr<VideoReader>> open(const VideoRequest &request);
    // One black picture of width x height: the frame of a movie made from
    // sound alone.
    static std::unique_ptr<VideoReader> black(int width, int height);
    virtual ~VideoReader() = default;

    int width() const { return width_; }
    int height() const { return height_; }
    // The next frame into `rgba` (width x height x 4 bytes). Returns false at
    // the end; an Error when the input cannot be decoded.
    virtual Expected<bool> next(std::vector<uint8_t> &rgba) = 0;

  protected:
    int width_ = 0, height_ = 0;
};

// The size a picture of width x height gets when it is fitted inside
// 640 x 480 with its aspect kept (only when larger).
void fit_size(int width, int height, int &out_width, int &out_height);

// The sound of `path` from `start` seconds on, mixed to mono and resampled
// to `rate`, at most `duration` seconds (< 0: all). A file without sound
// gives an empty vector; an unreadable one an Error.
Expected<std::vector<int16_t>> read_sound(const std::string &path, int rate, double start,
                                          double duration);

// Whether the input has a sound track (an unreadable input has none).
bool has_sound(const std::string &path);
// Whether the input has pictures (an unreadable input has none).
bool has_pictures(const std::string &path);

} // namespace kmov

#endif
