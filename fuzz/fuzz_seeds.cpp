// Writes the seed corpora of the fuzz targets: movies made with the
// project's writer and coder, the hostile movies of the table test, small
// templates and packed programs, and the sound examples of the format.
//
// usage: fuzz_seeds OUT_DIR [MOVIE...]
// Makes OUT_DIR/<target>/ for each target; each MOVIE given (the demo)
// adds seeds made from its records.
#include "app/startup_block.h"
#include "encode/frame_coder.h"
#include "hostile_movies.h"
#include "movie_writer.h"
#include "packer.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

namespace {

fs::path out_dir;
int written = 0;

void seed(const char *target, const std::string &name, const Bytes &bytes) {
    fs::path folder = out_dir / target;
    fs::create_directories(folder);
    std::string file = name;
    for (char &c : file)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-')
            c = '_';
    std::ofstream out(folder / file, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(bytes.data()), static_cast<long>(bytes.size()));
    written++;
}

void put_le(Bytes &out, uint32_t value, int count) {
    for (int i = 0; i < count; i++)
        out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

// A picture that moves: a gradient with a square that walks right.
Bytes picture(int w, int h, int frame) {
    Bytes pixels(static_cast<size_t>(w) * h);
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
            bool square = x >= frame * 3 && x < frame * 3 + 8 && y >= 4 && y < 12;
            pixels[static_cast<size_t>(y) * w + x] =
                static_cast<uint8_t>(square ? 200 : (x + y * 2) % 120);
        }
    return pixels;
}

// Frames coded with the encoder's frame coder, so every kind of code appears.
kmov::MovieWriter coded_movie(int w, int h, int frames, bool sound) {
    MovieHeader header = kmov::make_header(w, h);
    header.data_rate = 30000;
    header.ring_size = 4096;
    header.preload_size = 2048;
    if (sound) {
        header.sample_rate = 11025;
        header.ldp = 6;
        header.samples_per_buffer = 256;
        header.buffer_pairs = 2;
    }
    kmov::Palette palette;
    for (size_t i = 0; i < palette.size(); i++)
        palette[i] = {static_cast<uint8_t>(i), static_cast<uint8_t>(i / 2), 0};
    kmov::MovieWriter movie(header, palette);
    kmov::FrameCoder coder(w, h);
    const Bytes block = {0x07, 0xF0, 0x02, 0x41, 0x82}; // ldp 6: 1, 0, 0, 0, 0, ...
    if (sound)
        movie.add(TAG_ADAT, 0, block, 5);
    for (int f = 0; f < frames; f++) {
        movie.frame(coder.code_frame(picture(w, h, f), f == 0), 0, f == 0 ? 0 : 66);
        if (sound && f == 0)
            movie.add(TAG_ASTA, 0);
        if (sound)
            movie.add(TAG_ADAT, 0, block, 9);
    }
    movie.end(66).count_frames();
    return movie;
}

// A stand-in for a player template: some bytes, the marker and an empty
// block, some more bytes.
Bytes template_program(uint32_t seed, size_t before, size_t after) {
    std::mt19937 random(seed);
    Bytes bytes;
    for (size_t i = 0; i < before; i++)
        bytes.push_back(static_cast<uint8_t>(random() & 0x7F));
    const char *marker = STARTUP_MARKER;
    bytes.insert(bytes.end(), marker, marker + STARTUP_MARKER_SIZE);
    bytes.resize(bytes.size() + STARTUP_BLOCK_SIZE, 0);
    for (size_t i = 0; i < after; i++)
        bytes.push_back(static_cast<uint8_t>(random() & 0x7F));
    return bytes;
}

// A template that is a Windows program in outline: MZ, the PE signature
// and a PE32 optional header with 16 directory entries, then the block.
Bytes pe_template_program(uint32_t seed) {
    Bytes bytes = template_program(seed, 0x200, 300);
    std::fill(bytes.begin(), bytes.begin() + 0x200, 0);
    auto put = [&](size_t at, uint32_t value, int width) {
        for (int i = 0; i < width; i++)
            bytes[at + static_cast<size_t>(i)] = static_cast<uint8_t>(value >> (8 * i));
    };
    bytes[0] = 'M';
    bytes[1] = 'Z';
    put(0x3C, 0x80, 4);
    put(0x80, 0x00004550, 4); // "PE\0\0"
    put(0x80 + 20, 0xE0, 2);  // SizeOfOptionalHeader
    put(0x98, 0x10B, 2);      // PE32
    put(0x98 + 92, 16, 4);    // NumberOfRvaAndSizes
    return bytes;
}

Bytes read_file(const char *path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void movie_seeds(const std::string &name, const Bytes &movie) {
    seed("movie", name, movie);
    // The last byte chooses a wave-out device (bit 0) and an error box
    // already up (bits 1 and 2): the same movie in those modes.
    Bytes with_modes = movie;
    with_modes.push_back(0x07);
    seed("movie", name + "-box-up", with_modes);
    seed("reader", name, movie);
}

void video_seed(const std::string &name, int w, int h, uint8_t flags, int32_t length,
                const Bytes &codes) {
    Bytes input;
    put_le(input, static_cast<uint32_t>(w), 2);
    put_le(input, static_cast<uint32_t>(h), 2);
    input.push_back(flags);
    put_le(input, static_cast<uint32_t>(length), 4);
    put_le(input, 12345, 4); // the previous frame's seed
    put_le(input, 2040, 2);  // the payload starts near the ring's end
    input.insert(input.end(), codes.begin(), codes.end());
    seed("video_decoder", name, input);
}

struct AudioBlockSeed {
    uint32_t param;
    Bytes payload;
};

void audio_seed(const std::string &name, uint8_t mode, uint8_t raw_ldp, uint32_t samples,
                uint8_t pairs, const std::vector<AudioBlockSeed> &blocks) {
    Bytes input = {mode, raw_ldp};
    put_le(input, samples, 3);
    input.push_back(pairs);
    input.push_back(static_cast<uint8_t>(blocks.size() - 1));
    Bytes stream;
    for (const AudioBlockSeed &block : blocks) {
        put_le(input, block.param, 4);
        put_le(input, static_cast<uint32_t>(block.payload.size()), 2);
        input.push_back(1); // complete a queued buffer first
        stream.insert(stream.end(), block.payload.begin(), block.payload.end());
    }
    input.insert(input.end(), stream.begin(), stream.end());
    seed("audio_decoder", name, input);
}

uint32_t be32(const Bytes &bytes, size_t at) {
    return uint32_t(bytes[at]) << 24 | uint32_t(bytes[at + 1]) << 16 |
           uint32_t(bytes[at + 2]) << 8 | bytes[at + 3];
}

// A movie given on the command line (the demo): its first records up to a
// few kilobytes, closed with an end record, for the movie and reader
// corpora (the fuzzers take inputs of limited size); its smaller frames for
// the video decoder; its first sound blocks for the audio decoder.
void given_movie_seeds(const std::string &name, const Bytes &movie) {
    if (movie.size() < 1024 || be32(movie, 0) != MOVIE_MAGIC)
        return;
    const int32_t w = static_cast<int32_t>(be32(movie, 16)),
                  h = static_cast<int32_t>(be32(movie, 20));
    const uint32_t samples = be32(movie, 40);
    Bytes head(movie.begin(), movie.begin() + 1024);
    std::vector<AudioBlockSeed> blocks;
    int frames = 0;
    bool head_full = false;
    for (size_t at = 1024; at + 16 <= movie.size();) {
        uint32_t tag = be32(movie, at), length = be32(movie, at + 8);
        if (at + 16 + length > movie.size())
            break;
        Bytes payload(movie.begin() + static_cast<long>(at + 16),
                      movie.begin() + static_cast<long>(at + 16 + length));
        head_full = head_full || head.size() + 16 + length > 60000;
        if (!head_full)
            head.insert(head.end(), movie.begin() + static_cast<long>(at),
                        movie.begin() + static_cast<long>(at + 16 + length));
        if (tag == TAG_VDAT && length <= 20000 && frames < 4)
            video_seed(name + "-frame-" + std::to_string(frames++), w, h, 0, 0, payload);
        if (tag == TAG_ADAT && blocks.size() < 4 && length <= 900)
            blocks.push_back({be32(movie, at + 12), payload});
        at += 16 + length;
    }
    const uint32_t end[4] = {TAG_END, 0, 0, 0};
    for (uint32_t word : end)
        for (int shift = 24; shift >= 0; shift -= 8)
            head.push_back(static_cast<uint8_t>(word >> shift));
    movie_seeds(name + "-head", head);
    if (!blocks.empty())
        audio_seed(name + "-sound", 0, 0, samples, 2, blocks);
}

} // namespace

int main(int argc, char **argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: fuzz_seeds OUT_DIR [MOVIE...]\n");
        return 2;
    }
    out_dir = argv[1];

    // Movies.
    for (const kmov::test::HostileMovie &hostile : kmov::test::hostile_movies())
        movie_seeds("hostile-" + hostile.name, hostile.bytes);
    movie_seeds("coded-silent", coded_movie(24, 16, 6, false).bytes());
    movie_seeds("coded-sound", coded_movie(33, 20, 5, true).bytes());
    for (int i = 2; i < argc; i++)
        given_movie_seeds("given-" + fs::path(argv[i]).filename().string(), read_file(argv[i]));

    // Templates and packed programs.
    Bytes movie = coded_movie(16, 8, 3, false).bytes();
    const Bytes plain = template_program(1, 300, 200);
    seed("startup", "template", plain);
    seed("startup", "block-at-the-start", template_program(2, 0, 0));
    Bytes cut = template_program(3, 100, 0);
    cut.resize(cut.size() - 10);
    seed("startup", "block-cut-short", cut);
    Bytes twice = template_program(4, 50, 20);
    Bytes second = template_program(5, 10, 10);
    twice.insert(twice.end(), second.begin(), second.end());
    seed("startup", "two-blocks", twice);
    seed("startup", "no-block", Bytes(600, 0x41));
    // A Windows template, packed, and signed in outline: zeros to a multiple
    // of 8 and a certificate table named by the security entry.
    const Bytes pe = pe_template_program(6);
    seed("startup", "pe-template", pe);
    if (kmov::Expected<Bytes> pe_packed = kmov::pack_movie(pe, movie, "seed"); pe_packed) {
        seed("startup", "pe-packed", *pe_packed);
        Bytes signed_program = *pe_packed;
        const size_t entry = 0x98 + 96 + 4 * 8;
        uint32_t table = static_cast<uint32_t>(signed_program.size());
        for (int i = 0; i < 4; i++) {
            signed_program[entry + static_cast<size_t>(i)] = static_cast<uint8_t>(table >> (8 * i));
            signed_program[entry + 4 + static_cast<size_t>(i)] =
                static_cast<uint8_t>(64 >> (8 * i));
        }
        signed_program.resize(signed_program.size() + 64, 0x30);
        seed("startup", "pe-signed", signed_program);
    }
    kmov::Expected<Bytes> packed = kmov::pack_movie(plain, movie, "seed");
    if (packed) {
        seed("startup", "packed", *packed);
        seed("reader", "packed", *packed);
        Bytes damaged = *packed;
        damaged[damaged.size() - 100] ^= 0x10;
        seed("startup", "packed-damaged", damaged);
        Bytes moved = *packed;
        moved[kmov::find_startup_block(moved)->block_offset] += 4; // offset off the magic
        seed("startup", "packed-offset-off", moved);
    }
    // A web page: the two elements of the web template, empty and packed.
    const std::string page = "<!DOCTYPE html>\n<script id=\"kmov-startup\" "
                             "type=\"application/octet-stream\"></script>\n<script "
                             "id=\"kmov-movie\" type=\"application/octet-stream\"></script>\n";
    seed("startup", "web-template", Bytes(page.begin(), page.end()));
    if (kmov::Expected<Bytes> web =
            kmov::pack_movie(Bytes(page.begin(), page.end()), movie, "seed"))
        seed("startup", "web-packed", *web);

    // Frames for the decoder alone: a first frame and the next one, coded
    // by the frame coder; literals only; one of each operation.
    {
        const int w = 37, h = 21;
        kmov::FrameCoder coder(w, h);
        Bytes first = coder.code_frame(picture(w, h, 0), true);
        Bytes next = coder.code_frame(picture(w, h, 1), false);
        video_seed("first-frame", w, h, 0, 0, first);
        video_seed("next-frame", w, h, 0, 0, next);
        video_seed("next-frame-short-length", w, h, 1, static_cast<int32_t>(next.size() / 2), next);
        video_seed("literals", 8, 2, 0, 0, Bytes(16, 7));
        Bytes every;
        for (int op = 240; op <= 255; op++) {
            every.push_back(static_cast<uint8_t>(op));
            if (op <= 248)
                every.push_back(static_cast<uint8_t>(op - 238));
        }
        video_seed("every-operation", 13, 40, 2, 0, every);
        video_seed("wide", 1024, 3, 0, 0, Bytes(300, 250));
    }

    // Sound: the worked examples of the format.
    audio_seed("ldp4", 0, 0, 8, 2, {{5, {0x1F, 0x02}}, {4, {0x77, 0x77}}, {2, {0x88}}});
    audio_seed("ldp6", 1, 0, 8, 1, {{5, {0x07, 0xF0, 0x02}}, {0, {1, 2, 3, 4}}});
    audio_seed("ldp5", 2, 5, 8, 1, {{5, {0x1F, 0x02}}});
    audio_seed("ldp5-box-up", 6, 5, 8, 1, {{5, {0x1F, 0x02}}});
    audio_seed("block-larger-than-buffer", 0, 0, 3, 1, {{0xFFFF, {0x0F, 0x00, 0xFF}}});
    audio_seed("no-device", 3, 0, 8, 2, {{5, {0x1F, 0x02}}});

    std::printf("%d seeds in %s\n", written, out_dir.string().c_str());
    return 0;
}
