#include "hostile_movies.h"

#include "movie_writer.h"

#include <climits>
#include <functional>
#include <random>

namespace kmov::test {

namespace {

constexpr int32_t W = 41, H = 30, FRAMES = 4;

Palette palette() {
    Palette colours;
    for (size_t i = 0; i < colours.size(); i++)
        colours[i] = {static_cast<uint8_t>(i), static_cast<uint8_t>(255 - i),
                      static_cast<uint8_t>((i * 7) % 256)};
    return colours;
}

std::vector<uint8_t> literal_frame(int index) {
    std::vector<uint8_t> codes(W * H);
    for (size_t i = 0; i < codes.size(); i++)
        codes[i] = static_cast<uint8_t>((static_cast<size_t>(index) * 37 + i) % 240);
    return codes;
}

MovieHeader well_formed_header(bool sound) {
    MovieHeader header = make_header(W, H);
    header.data_rate = 20000;
    header.ring_size = 2048;
    header.preload_size = 1000;
    header.frame_count = FRAMES;
    if (sound) {
        header.sample_rate = 22050;
        header.ldp = 4;
        header.samples_per_buffer = 64;
        header.buffer_pairs = 2;
    }
    return header;
}

const std::vector<uint8_t> SOUND_BLOCK = {0x1F, 0x02}; // 8, 0, 0, 0, 0
constexpr uint32_t SOUND_SAMPLES = 5;

MovieWriter well_formed(bool sound, const std::function<void(MovieHeader &)> &change = {}) {
    MovieHeader header = well_formed_header(sound);
    if (change)
        change(header);
    MovieWriter movie(header, palette());
    if (sound)
        movie.add(TAG_ADAT, 0, SOUND_BLOCK, SOUND_SAMPLES)
            .add(TAG_ADAT, 0, SOUND_BLOCK, SOUND_SAMPLES);
    for (int f = 0; f < FRAMES; f++) {
        movie.frame(literal_frame(f), 0, f == 0 ? 0 : 66);
        if (sound && f == 0)
            movie.add(TAG_ASTA, 0);
        if (sound)
            movie.add(TAG_ADAT, 0, SOUND_BLOCK, SOUND_SAMPLES);
    }
    movie.end(66);
    return movie;
}

std::vector<uint8_t> bytes_of(const MovieWriter &movie) {
    return movie.bytes({Padding::Zero});
}

std::vector<uint8_t> random_bytes(uint32_t seed, size_t count) {
    std::mt19937 random(seed);
    std::vector<uint8_t> bytes(count);
    for (uint8_t &b : bytes)
        b = static_cast<uint8_t>(random());
    return bytes;
}

// The stream offset (from movie offset 1024) of record `index`'s header.
size_t record_offset(const MovieWriter &movie, size_t index) {
    size_t offset = 0;
    for (size_t i = 0; i < index; i++)
        offset += RECORD_HEADER_SIZE + padded_length(movie.records()[i].payload.size());
    return offset;
}

} // namespace

std::vector<uint8_t> well_formed_movie(bool sound) {
    return bytes_of(well_formed(sound));
}

std::vector<HostileMovie> hostile_movies() {
    std::vector<HostileMovie> cases;
    auto header_case = [&](std::string name, bool sound, bool device,
                           const std::function<void(MovieHeader &)> &change,
                           HostileMovie::Outcome outcome, std::string message = "",
                           int frames = -1) {
        HostileMovie c;
        c.name = std::move(name);
        c.bytes = bytes_of(well_formed(sound, change));
        c.device = device;
        c.outcome = outcome;
        c.message = std::move(message);
        c.frames = outcome == HostileMovie::PLAYS && frames < 0 ? FRAMES : frames;
        cases.push_back(std::move(c));
    };
    const HostileMovie::Outcome PLAYS = HostileMovie::PLAYS, FAILS = HostileMovie::FAILS;

    header_case("the well-formed movie", false, true, {}, PLAYS);
    header_case("the well-formed movie with sound", true, true, {}, PLAYS);

    // The frame: sizes the section refuses (87: ERROR_INVALID_PARAMETER,
    // 8: ERROR_NOT_ENOUGH_MEMORY, for more than 2^31 - 1 bytes).
    const struct {
        const char *name;
        int32_t width, height;
        const char *message;
    } frame_sizes[] = {
        {"width 0", 0, H, "CreateDIBSection 87"},
        {"width -1", -1, H, "CreateDIBSection 87"},
        {"width 2^31-1", INT32_MAX, H, "CreateDIBSection 8"},
        {"width 2^31-3: row_stride 2^31", INT32_MAX - 2, 1, "CreateDIBSection 8"},
        {"height 0", W, 0, "CreateDIBSection 87"},
        {"height -30", W, -H, "CreateDIBSection 87"},
        {"height 2^31-1", W, INT32_MAX, "CreateDIBSection 8"},
        {"height -2^31", W, INT32_MIN, "CreateDIBSection 8"},
        {"row_stride x height = 2^31, width x height below", 65533, 32768, "CreateDIBSection 8"},
        {"row_stride x height beyond 2^31", 65536, 32769, "CreateDIBSection 8"},
    };
    for (const auto &f : frame_sizes)
        header_case(
            f.name, false, true,
            [&](MovieHeader &h) {
                h.width = f.width;
                h.height = f.height;
            },
            FAILS, f.message);

    // The ring and the preload.
    header_case(
        "ring_size -1: the smallest ring", false, true, [](MovieHeader &h) { h.ring_size = -1; },
        PLAYS);
    header_case(
        "ring_size 2^30+1: a ring beyond 2^30", false, true,
        [](MovieHeader &h) { h.ring_size = (1 << 30) + 1; }, FAILS, "memory error 8");
    header_case(
        "ring_size 2^31-1", false, true, [](MovieHeader &h) { h.ring_size = INT32_MAX; }, FAILS,
        "memory error 8");
    header_case(
        "preload_size -1", false, true, [](MovieHeader &h) { h.preload_size = -1; }, PLAYS);
    header_case(
        "preload_size 2^31-1: cut to the ring", false, true,
        [](MovieHeader &h) { h.preload_size = INT32_MAX; }, PLAYS);
    header_case(
        "data_rate -1: top-ups cut to the free space", false, true,
        [](MovieHeader &h) { h.data_rate = -1; }, PLAYS);
    header_case(
        "frame_count -1: every play rewinds", false, true,
        [](MovieHeader &h) { h.frame_count = -1; }, PLAYS);

    // Sound.
    header_case(
        "sample_rate -22050: no device takes it", true, true,
        [](MovieHeader &h) { h.sample_rate = -22050; }, PLAYS);
    for (int32_t bits : {0, 5, 8, 255}) {
        std::string name = "ldp " + std::to_string(bits);
        auto change = [bits](MovieHeader &h) { h.ldp = bits; };
        header_case(name + " with a device", true, true, change, FAILS,
                    "ldp " + std::to_string(bits) + " not supported");
        header_case(name + " without a device", true, false, change, PLAYS);
    }
    const struct {
        const char *name;
        int32_t samples, pairs;
    } pools[] = {
        {"samples_per_buffer 2^31-1", INT32_MAX, 2},
        {"samples_per_buffer -1", -1, 2},
        {"buffer_pairs 2^31-1", 64, INT32_MAX},
        {"buffer_pairs 2^30: 2^31 buffers", 64, 1 << 30},
        {"buffer_pairs -1", 64, -1},
    };
    for (const auto &p : pools) {
        auto change = [&p](MovieHeader &h) {
            h.samples_per_buffer = p.samples;
            h.buffer_pairs = p.pairs;
        };
        header_case(std::string(p.name) + " with a device", true, true, change, FAILS,
                    "memory insufficient");
        header_case(std::string(p.name) + " without a device", true, false, change, PLAYS);
    }
    header_case(
        "samples_per_buffer 0: blocks cut to nothing", true, true,
        [](MovieHeader &h) { h.samples_per_buffer = 0; }, PLAYS);
    header_case(
        "buffer_pairs 0: every block skipped", true, true,
        [](MovieHeader &h) { h.buffer_pairs = 0; }, PLAYS);

    // Streams. The first record is the first frame's "vdat" (stream offset
    // 0); record 1 its "vblt".
    auto stream_case = [&](std::string name, std::vector<uint8_t> bytes,
                           HostileMovie::Outcome outcome, std::string message, int frames) {
        HostileMovie c;
        c.name = std::move(name);
        c.bytes = std::move(bytes);
        c.outcome = outcome;
        c.message = std::move(message);
        c.frames = frames;
        cases.push_back(std::move(c));
    };
    const MovieWriter whole = well_formed(false);
    const std::vector<uint8_t> whole_bytes = bytes_of(whole);
    auto cut_at = [&](size_t stream_offset) {
        return std::vector<uint8_t>(whole_bytes.begin(),
                                    whole_bytes.begin() +
                                        static_cast<long>(MOVIE_RECORDS_OFFSET + stream_offset));
    };
    // Records: vdat vblt (frame 1) vdat vblt (frame 2) ... end.
    stream_case("cut in a record header (frame 3's vdat)", cut_at(record_offset(whole, 4) + 9),
                PLAYS, "", 2);
    stream_case("cut in a payload (frame 3's codes)", cut_at(record_offset(whole, 4) + 16 + 100),
                PLAYS, "", 2);
    stream_case("cut before the first vblt", cut_at(record_offset(whole, 1)), PLAYS, "", 0);
    stream_case("nothing behind the palette", cut_at(0), PLAYS, "", 0);
    stream_case("a file that ends after the magic", {'k', 'M', 'o', 'v'}, FAILS,
                "CreateDIBSection 87", -1);

    MovieWriter end_first(well_formed_header(false), palette());
    end_first.end(0).frame(literal_frame(0), 0, 0).end(66);
    stream_case("an end before any vblt", bytes_of(end_first), PLAYS, "", 0);

    // A length that is not a multiple of 4: the first frame's payload is
    // 2031 bytes, so the next header's first word lies across the ring's
    // end (stream offset 2047 of a 2048-byte ring), and every header after
    // it is unaligned.
    {
        MovieWriter unaligned(well_formed_header(false), palette());
        Record first;
        first.tag = TAG_VDAT;
        first.payload = literal_frame(0);
        first.payload.resize(2031, 0);
        first.length_override = 2031;
        unaligned.add(std::move(first)).add(TAG_VBLT, 0);
        for (int f = 1; f < FRAMES; f++)
            unaligned.frame(literal_frame(f), 0, 66);
        unaligned.end(66);
        stream_case("length 2031, not a multiple of 4: headers unaligned, one across the ring's "
                    "end",
                    bytes_of(unaligned), PLAYS, "", FRAMES);
    }
    // A length larger than the bytes behind it: the next header is read 3
    // bytes late, so its tag is "t" and three bytes of its delay (0).
    {
        MovieWriter overlong(well_formed_header(false), palette());
        Record first;
        first.tag = TAG_VDAT;
        first.payload = {1, 2, 3};
        first.length_override = 6;
        overlong.add(std::move(first)).add(TAG_VBLT, 0).end(66);
        stream_case("length 6 over 3 payload bytes: the next tag is read 3 bytes late",
                    bytes_of(overlong), FAILS, "kmov_cmd = 0x74000000", -1);
    }
    // A negative length takes nothing (the frame decodes from codes of 0):
    // what follows the header is read as the next record.
    {
        MovieWriter negative(well_formed_header(false), palette());
        Record first;
        first.tag = TAG_VDAT;
        first.length_override = static_cast<uint32_t>(-16);
        negative.add(std::move(first)).frame(literal_frame(1), 0, 66).end(66);
        stream_case("length -16: nothing taken", bytes_of(negative), PLAYS, "", 1);
    }
    {
        MovieWriter late(well_formed_header(false), palette());
        late.frame(literal_frame(0), 0, 0).frame(literal_frame(1), 0, UINT32_MAX).end(66);
        stream_case("delay 2^32-1", bytes_of(late), PLAYS, "", 2);
    }
    {
        MovieWriter huge(well_formed_header(false), palette());
        Record first;
        first.tag = TAG_VDAT;
        first.payload = literal_frame(0);
        first.length_override = INT32_MAX;
        huge.add(std::move(first)).add(TAG_VBLT, 0).end(66);
        stream_case("length 2^31-1: the payload runs to the end of the file", bytes_of(huge), PLAYS,
                    "", 0);
    }

    // Random bytes: behind a valid magic, and behind a valid header and
    // palette (a random record stream).
    for (uint32_t seed = 1; seed <= 4; seed++) {
        std::vector<uint8_t> bytes = {'k', 'M', 'o', 'v'};
        std::vector<uint8_t> noise = random_bytes(seed, 4096);
        bytes.insert(bytes.end(), noise.begin(), noise.end());
        stream_case("random bytes after a valid magic, seed " + std::to_string(seed), bytes,
                    HostileMovie::EITHER, "", -1);

        std::vector<uint8_t> stream(whole_bytes.begin(),
                                    whole_bytes.begin() + MOVIE_RECORDS_OFFSET);
        noise = random_bytes(100 + seed, 4096);
        stream.insert(stream.end(), noise.begin(), noise.end());
        stream_case("random records after a valid header, seed " + std::to_string(seed), stream,
                    HostileMovie::EITHER, "", -1);
    }
    return cases;
}

} // namespace kmov::test
