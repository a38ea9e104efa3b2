// Writing what the player presents and plays into an ordinary media file
// through FFmpeg's libraries, in the format OUT's extension names.
#ifndef KMOV_TOOLS_MEDIA_EXPORT_H
#define KMOV_TOOLS_MEDIA_EXPORT_H

#include "error.h"
#include "movie_writer.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string>

namespace kmov {

// What an extension makes: its codecs, for the summary and --help.
struct ExportFormat {
    const char *extension; // lower case, without the dot
    const char *what;      // e.g. "H.264 with AAC"
    bool video;            // false: the sound alone
    bool sound;            // false: pictures alone
};

// The format for `path`'s extension (any case), or an error naming those
// there are.
Expected<ExportFormat> export_format(const std::string &path);

class MediaExport {
  public:
    // Opens `path` for frames of width x height shown at about `fps` and,
    // when sample_rate > 0 and the format keeps sound, 16-bit mono sound at
    // sample_rate. Nothing is written until finish().
    static Expected<std::unique_ptr<MediaExport>> open(const std::string &path, int width,
                                                       int height, double fps, int sample_rate);
    virtual ~MediaExport() = default;

    // A frame presented at `time_ms` (rising): width * height palette
    // indices, rows without padding.
    virtual Status add_frame(uint32_t time_ms, const uint8_t *pixels,
                             const std::array<Rgb, 256> &colours) = 0;
    // Sound as it plays, from time 0.
    virtual void add_sound(const int16_t *samples, size_t count) = 0;
    // The last frame lasts until `end_ms`. Writes the file through a
    // temporary beside it; on failure nothing is left.
    virtual Status finish(uint32_t end_ms) = 0;
};

} // namespace kmov

#endif
