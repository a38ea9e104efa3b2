// Writes movies: header, palette and records, each payload padded to a
// multiple of 4. Shared by the tests (every fixture is built with it), the
// demo and the encoder.
#ifndef KMOV_TOOLS_MOVIE_WRITER_H
#define KMOV_TOOLS_MOVIE_WRITER_H

#include "file_io.h"

#include "player/movie_format.h"

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace kmov {

struct Rgb {
    uint8_t r = 0, g = 0, b = 0;
    bool operator==(const Rgb &) const = default;
};
using Palette = std::array<Rgb, MOVIE_PALETTE_COLOURS>;

// A header with every field zero but the magic, the size and 15 fps.
MovieHeader make_header(int32_t width, int32_t height);

struct Record {
    uint32_t tag = 0;
    uint32_t delay = 0;
    uint32_t param = 0;
    std::vector<uint8_t> payload; // the content; padding is added on writing
    // Writes this value as `length` instead of the padded size, and the
    // payload without padding: for streams that break the format on purpose.
    std::optional<uint32_t> length_override;
};

enum class Padding {
    Random, // arbitrary bytes (the default: a decoder must not rely on them)
    Zero,
};

struct WriteOptions {
    Padding padding = Padding::Random;
    uint32_t seed = 0x6b4d6f76; // for the random padding
};

class MovieWriter {
  public:
    MovieWriter(const MovieHeader &header, const Palette &palette);

    MovieHeader &header() { return header_; }
    const MovieHeader &header() const { return header_; }
    const Palette &palette() const { return palette_; }
    const std::vector<Record> &records() const { return records_; }

    MovieWriter &add(Record record);
    MovieWriter &add(uint32_t tag, uint32_t delay, std::span<const uint8_t> payload = {},
                     uint32_t param = 0);
    // Shorthands for the record kinds of the format.
    MovieWriter &frame(std::span<const uint8_t> vdat, uint32_t decode_delay, uint32_t show_delay);
    MovieWriter &end(uint32_t delay = 0) { return add(TAG_END, delay); }

    // Sets frame_count to the number of "vblt" records added so far.
    MovieWriter &count_frames();

    std::vector<uint8_t> bytes(const WriteOptions &options = {}) const;
    // Writes the movie to a temporary file beside `path` and renames it, so
    // a failure leaves no partial file.
    Status write(const std::filesystem::path &path, const WriteOptions &options = {}) const;

  private:
    MovieHeader header_;
    Palette palette_;
    std::vector<Record> records_;
};

// The padded size of a payload of `length` bytes.
inline uint32_t padded_length(size_t length) {
    return static_cast<uint32_t>((length + 3) & ~size_t{3});
}

// Appends a big-endian word.
void put_be32(std::vector<uint8_t> &out, uint32_t value);

} // namespace kmov

#endif
