#include "movie_input.h"
#include "web_page.h"

#include "packer.h"
#include "player_harness.h"
#include "stream/byte_source.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>

namespace kmov {

Expected<MovieLocation> locate_movie(const std::string &path, std::optional<uint64_t> offset) {
    FILE *file = std::fopen(path.c_str(), "rb");
    if (file == nullptr)
        return file_error(path, std::strerror(errno));
    struct stat info;
    int status = fstat(fileno(file), &info);
    std::fclose(file);
    if (status != 0 || S_ISDIR(info.st_mode))
        return file_error(path, "not a regular file");
    MovieLocation location;
    location.path = path;
    location.file_size = info.st_size;
    if (info.st_size > INT32_MAX)
        return file_error(path, "larger than 2 GiB, which a movie cannot be");
    if (offset) {
        if (*offset > static_cast<uint64_t>(info.st_size))
            return file_error(path, "offset " + std::to_string(*offset) + " is beyond the end (" +
                                        std::to_string(info.st_size) + " bytes)");
        location.offset = static_cast<int64_t>(*offset);
        return location;
    }
    // A packed program: the movie is where its startup block says.
    Expected<std::vector<uint8_t>> bytes = read_whole_file(path);
    if (!bytes)
        return bytes.error();
    Expected<StartupInfo> startup = find_startup_block(*bytes);
    // A web page carries its movie as base64, which is not read from here.
    if (startup && startup->packed && !is_web_page(*bytes)) {
        location.offset = startup->block.movie_offset;
        location.packed = true;
        location.integrity = check_integrity(*bytes, *startup);
    }
    return location;
}

std::string tag_text(uint32_t tag) {
    std::string text;
    for (int shift = 24; shift >= 0; shift -= 8) {
        char c = static_cast<char>((tag >> shift) & 0xFF);
        if (c < 0x20 || c > 0x7E) {
            char hex[16];
            std::snprintf(hex, sizeof hex, "0x%08x", tag);
            return hex;
        }
        text.push_back(c);
    }
    return text;
}

namespace {

struct Walk {
    MovieSummary *summary;
    bool after_end = false;
};

int visit_record(const RecordHeader *record, int64_t, void *context) {
    Walk &walk = *static_cast<Walk *>(context);
    MovieSummary &s = *walk.summary;
    s.records++;
    s.tags[record->tag]++;
    s.duration_ms += record->delay;
    if (record->length > s.largest_payload)
        s.largest_payload = record->length;
    switch (record->tag) {
    case TAG_VDAT:
    case TAG_VBLT:
    case TAG_ADAT:
    case TAG_ASTA:
    case TAG_END:
        break;
    default:
        // Described here; whether the player refuses it is the player's to say.
        s.problems.push_back("unknown tag " + tag_text(record->tag) + " in record " +
                             std::to_string(s.records));
    }
    if (record->length % 4 != 0)
        s.problems.push_back("record " + std::to_string(s.records) + " (" + tag_text(record->tag) +
                             ") has length " + std::to_string(record->length) +
                             ", not a multiple of 4");
    return 1;
}

// The zeros kmov pack puts behind a movie to end the file on a multiple of
// 8 bytes (where code signing appends its certificate table).
bool is_pack_padding(const MovieLocation &location, int64_t end_offset) {
    const int64_t count = location.file_size - end_offset;
    if (count <= 0 || count >= 8)
        return false;
    FILE *file = std::fopen(location.path.c_str(), "rb");
    if (file == nullptr)
        return false;
    uint8_t tail[8] = {1, 1, 1, 1, 1, 1, 1, 1};
    const bool read =
        std::fseek(file, static_cast<long>(end_offset), SEEK_SET) == 0 &&
        std::fread(tail, 1, static_cast<size_t>(count), file) == static_cast<size_t>(count);
    std::fclose(file);
    return read && std::all_of(tail, tail + count, [](uint8_t b) { return b == 0; });
}

} // namespace

Expected<Palette> read_movie_palette(const MovieLocation &location) {
    ByteSource *source = source_open(location.path.c_str());
    if (source == nullptr)
        return file_error(location.path, "cannot open");
    source_seek(source, static_cast<int32_t>(location.offset));
    MovieHeader header;
    const bool movie = movie_read_header(source, &header) != 0;
    RGBQUAD colours[256];
    movie_read_palette(source, colours);
    source_close(source);
    if (!movie)
        return file_error(location.path, "not a kmov file");
    Palette palette{};
    for (int i = 0; i < MOVIE_PALETTE_COLOURS; i++)
        palette[i] = {colours[i].rgbRed, colours[i].rgbGreen, colours[i].rgbBlue};
    return palette;
}

Expected<MovieSummary> inspect_movie(const MovieLocation &location, bool ask_player) {
    ByteSource *source = source_open(location.path.c_str());
    if (source == nullptr)
        return file_error(location.path, "cannot open");
    MovieSummary summary;
    source_seek(source, static_cast<int32_t>(location.offset));
    if (!movie_read_header(source, &summary.header)) {
        source_close(source);
        return file_error(location.path, "not a kmov file");
    }
    RGBQUAD colours[256];
    movie_read_palette(source, colours);
    for (int i = 0; i < MOVIE_PALETTE_COLOURS; i++)
        summary.palette[i] = {colours[i].rgbRed, colours[i].rgbGreen, colours[i].rgbBlue};

    if (location.file_size - location.offset < MOVIE_RECORDS_OFFSET) {
        summary.problems.push_back("the file ends inside the header or the palette");
        summary.damage = summary.problems.back();
        source_close(source);
        return summary;
    }
    Walk walk{&summary};
    int64_t end_offset = 0;
    int result = movie_walk_records(source, visit_record, &walk, &end_offset);
    source_close(source);

    const MovieHeader &h = summary.header;
    switch (result) {
    case MOVIE_WALK_CUT:
        summary.problems.push_back("the file ends inside record " +
                                   std::to_string(summary.records + 1) + " (no \"end \" record)");
        summary.damage = summary.problems.back();
        break;
    case MOVIE_WALK_UNALIGNED:
        summary.problems.push_back("the stream is unreadable after an unaligned length "
                                   "(no \"end \" record found)");
        summary.damage = summary.problems.back();
        break;
    case MOVIE_WALK_END:
        summary.end_offset = end_offset;
        if (end_offset < location.file_size && !is_pack_padding(location, end_offset))
            summary.problems.push_back(std::to_string(location.file_size - end_offset) +
                                       " bytes after the \"end \" record");
        break;
    default:
        break;
    }
    if (location.integrity && !location.integrity->matches()) {
        char text[160];
        std::snprintf(text, sizeof text,
                      "the movie's checksum is %08x, but the startup block says %08x: the player "
                      "refuses it",
                      location.integrity->computed, location.integrity->stored);
        summary.problems.push_back(text);
    }
    int64_t frames = summary.tags.count(TAG_VBLT) ? summary.tags[TAG_VBLT] : 0;
    if (frames != h.frame_count)
        summary.problems.push_back("frame_count is " + std::to_string(h.frame_count) +
                                   " but the stream has " + std::to_string(frames) +
                                   " \"vblt\" records");
    // Whether the player plays it to its end is the player's to say: it
    // plays the movie, guarded, and its message names what it refuses.
    if (ask_player && summary.damage.empty()) {
        Expected<PlaybackResult> played = play_headless(
            location.path, location.offset, [](const PresentedFrame &) {}, nullptr);
        if (!played) {
            summary.problems.push_back("the player stops with \"" + played.error().text() + "\"");
            summary.damage = summary.problems.back();
        }
    }
    return summary;
}

Expected<MovieSource> open_movie(const std::string &command, const std::string &path,
                                 std::optional<uint64_t> offset, bool ask_player, Damaged damaged) {
    report_player_errors(command);
    Expected<MovieLocation> location = locate_movie(path, offset);
    if (!location)
        return location.error();
    Expected<MovieSummary> summary = inspect_movie(*location, ask_player);
    if (!summary)
        return summary.error();
    if (!summary->damage.empty()) {
        if (damaged == Damaged::refuse)
            return file_error(location->path,
                              "a damaged movie: " + summary->damage + " (see kmov info)");
        std::fprintf(stderr, "kmov %s: warning: %s: a damaged movie: %s\n", command.c_str(),
                     location->path.c_str(), summary->damage.c_str());
    }
    return MovieSource{std::move(*location), std::move(*summary)};
}

} // namespace kmov
