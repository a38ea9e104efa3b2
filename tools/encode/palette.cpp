#include "encode/palette.h"

#include "player/movie_format.h"
#include "stream/byte_source.h"

#include <libimagequant.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

namespace kmov {

namespace {

constexpr int CELLS = 1 << 18; // 6 bits per channel
constexpr int COLOURS = MOVIE_PALETTE_COLOURS;

int cell_of(int r, int g, int b) {
    return (r >> 2) << 12 | (g >> 2) << 6 | (b >> 2);
}

Palette padded(const std::vector<Rgb> &colours) {
    Palette palette{};
    for (size_t i = 0; i < palette.size(); i++)
        palette[i] = colours[std::min(i, colours.size() - 1)];
    return palette;
}

} // namespace

ColourHistogram::ColourHistogram() : count_(CELLS, 0), sum_(static_cast<size_t>(CELLS) * 3, 0) {}

void ColourHistogram::add(const uint8_t *rgba, size_t pixels) {
    for (size_t i = 0; i < pixels; i++) {
        const uint8_t *p = rgba + i * 4;
        const int cell = cell_of(p[0], p[1], p[2]);
        count_[static_cast<size_t>(cell)]++;
        uint64_t *sum = &sum_[static_cast<size_t>(cell) * 3];
        sum[0] += p[0];
        sum[1] += p[1];
        sum[2] += p[2];
        if (few_) {
            exact_.insert(static_cast<uint32_t>(p[0] << 16 | p[1] << 8 | p[2]));
            if (exact_.size() > static_cast<size_t>(COLOURS)) {
                few_ = false;
                exact_.clear();
            }
        }
    }
    pixels_ += pixels;
}

Expected<Palette> choose_palette(const ColourHistogram &histogram) {
    if (histogram.empty())
        return Error{"no pictures to choose a palette from"};
    if (histogram.few_) {
        std::vector<uint32_t> exact(histogram.exact_.begin(), histogram.exact_.end());
        std::sort(exact.begin(), exact.end());
        std::vector<Rgb> colours;
        for (uint32_t c : exact)
            colours.push_back({static_cast<uint8_t>(c >> 16), static_cast<uint8_t>(c >> 8),
                               static_cast<uint8_t>(c)});
        return padded(colours);
    }
    std::vector<liq_histogram_entry> entries;
    for (int cell = 0; cell < CELLS; cell++) {
        const uint32_t n = histogram.count_[static_cast<size_t>(cell)];
        if (n == 0)
            continue;
        const uint64_t *sum = &histogram.sum_[static_cast<size_t>(cell) * 3];
        liq_histogram_entry entry{};
        entry.color = {static_cast<unsigned char>((sum[0] + n / 2) / n),
                       static_cast<unsigned char>((sum[1] + n / 2) / n),
                       static_cast<unsigned char>((sum[2] + n / 2) / n), 255};
        entry.count = n;
        entries.push_back(entry);
    }
    std::unique_ptr<liq_attr, void (*)(liq_attr *)> attr(liq_attr_create(), liq_attr_destroy);
    if (!attr)
        return Error{"libimagequant: out of memory"};
    liq_set_max_colors(attr.get(), COLOURS);
    liq_set_speed(attr.get(), 3);
    std::unique_ptr<liq_histogram, void (*)(liq_histogram *)> hist(liq_histogram_create(attr.get()),
                                                                   liq_histogram_destroy);
    if (liq_histogram_add_colors(hist.get(), attr.get(), entries.data(),
                                 static_cast<int>(entries.size()), 0) != LIQ_OK)
        return Error{"libimagequant: cannot take the colour histogram"};
    liq_result *raw = nullptr;
    if (liq_histogram_quantize(hist.get(), attr.get(), &raw) != LIQ_OK || raw == nullptr)
        return Error{"libimagequant: cannot choose a palette"};
    std::unique_ptr<liq_result, void (*)(liq_result *)> result(raw, liq_result_destroy);
    const liq_palette *chosen = liq_get_palette(result.get());
    std::vector<Rgb> colours;
    for (unsigned i = 0; i < chosen->count && i < static_cast<unsigned>(COLOURS); i++)
        colours.push_back({chosen->entries[i].r, chosen->entries[i].g, chosen->entries[i].b});
    if (colours.empty())
        return Error{"libimagequant: chose no colours"};
    return padded(colours);
}

namespace {

// The palette of a kmov movie file, read with the player's own reader.
Expected<Palette> movie_palette(const std::string &path) {
    ByteSource *source = source_open(path.c_str());
    if (source == nullptr)
        return Error{path + ": cannot open the palette file"};
    MovieHeader header;
    const bool movie = movie_read_header(source, &header) != 0;
    RGBQUAD colours[256];
    if (movie)
        movie_read_palette(source, colours);
    source_close(source);
    if (!movie)
        return Error{path + ": neither a kmov movie nor a GIMP or JASC palette"};
    Palette palette{};
    for (int i = 0; i < MOVIE_PALETTE_COLOURS; i++)
        palette[static_cast<size_t>(i)] = {colours[i].rgbRed, colours[i].rgbGreen,
                                           colours[i].rgbBlue};
    return palette;
}

} // namespace

Expected<Palette> load_palette(const std::string &path) {
    std::error_code error;
    if (std::filesystem::is_directory(path, error))
        return Error{path + ": not a regular file"};
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return Error{path + ": cannot open the palette file"};
    char magic[4] = {};
    in.read(magic, 4);
    in.clear();
    in.seekg(0);
    const bool text = std::string(magic, 4) == "GIMP" || std::string(magic, 4) == "JASC";
    if (!text)
        return movie_palette(path);
    std::vector<Rgb> colours;
    std::string line;
    std::getline(in, line);
    const bool jasc = line.rfind("JASC-PAL", 0) == 0;
    int line_number = 1, declared = -1;
    if (jasc) {
        std::getline(in, line); // version, 0100
        std::getline(in, line);
        declared = std::atoi(line.c_str());
        line_number = 3;
    }
    while (std::getline(in, line)) {
        line_number++;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        const size_t first = line.find_first_not_of(" \t");
        if (first == std::string::npos || line[first] == '#' || line.rfind("Name:", 0) == 0 ||
            line.rfind("Columns:", 0) == 0)
            continue;
        std::istringstream fields(line);
        int r, g, b;
        if (!(fields >> r >> g >> b) || r < 0 || r > 255 || g < 0 || g > 255 || b < 0 || b > 255)
            return Error{path + ":" + std::to_string(line_number) + ": not a colour: " + line};
        colours.push_back(
            {static_cast<uint8_t>(r), static_cast<uint8_t>(g), static_cast<uint8_t>(b)});
        if (jasc && static_cast<int>(colours.size()) == declared)
            break;
    }
    if (colours.empty())
        return Error{path + ": the palette has no colours"};
    if (colours.size() > static_cast<size_t>(COLOURS))
        return Error{path + ": the palette has " + std::to_string(colours.size()) +
                     " colours; a movie has at most 240"};
    return padded(colours);
}

Remapper::Remapper(const Palette &palette, Dither dither, int width, int height)
    : palette_(palette), dither_(dither), width_(width), height_(height), cell_start_(CELLS, -1),
      cell_count_(CELLS, 0), exact_(size_t{1} << 24, UNKNOWN) {
    // The ordered dither's amplitude: the typical distance between a
    // palette colour and its nearest neighbour, per channel.
    double total = 0;
    for (int i = 0; i < COLOURS; i++) {
        int best = INT32_MAX;
        for (int j = 0; j < COLOURS; j++)
            if (j != i && !(palette[static_cast<size_t>(j)] == palette[static_cast<size_t>(i)])) {
                const Rgb &a = palette[static_cast<size_t>(i)],
                          &b = palette[static_cast<size_t>(j)];
                best = std::min(best, colour_distance(a.r - b.r, a.g - b.g, a.b - b.b));
            }
        total += best == INT32_MAX ? 0 : std::sqrt(best / 9.0);
    }
    spread_ = std::clamp(static_cast<int>(total / COLOURS * 1.5), 2, 48);
    const size_t pixels = static_cast<size_t>(width) * static_cast<size_t>(height);
    reference_.assign(pixels * 3, 0);
    previous_.assign(pixels, 0);
    error_.assign(static_cast<size_t>(width + 2) * 2 * 3, 0);
}

const std::vector<uint8_t> &Remapper::candidates(int cell) {
    // Colours that may be nearest to some colour of the cell: those whose
    // distance to the cell's box is at most the smallest distance within
    // which some colour covers the whole box.
    const int r0 = (cell >> 12) << 2, g0 = ((cell >> 6) & 63) << 2, b0 = (cell & 63) << 2;
    auto axis = [](int v, int lo, bool far) {
        if (far)
            return std::max(std::abs(v - lo), std::abs(v - (lo + 3)));
        return v < lo ? lo - v : v > lo + 3 ? v - (lo + 3) : 0;
    };
    std::array<int, COLOURS> near{};
    int bound = INT32_MAX;
    for (int i = 0; i < COLOURS; i++) {
        const Rgb &c = palette_[static_cast<size_t>(i)];
        near[static_cast<size_t>(i)] =
            colour_distance(axis(c.r, r0, false), axis(c.g, g0, false), axis(c.b, b0, false));
        bound = std::min(
            bound, colour_distance(axis(c.r, r0, true), axis(c.g, g0, true), axis(c.b, b0, true)));
    }
    scratch_.clear();
    for (int i = 0; i < COLOURS; i++)
        if (near[static_cast<size_t>(i)] <= bound) {
            bool duplicate = false; // equal colours: the first one stands for all
            for (uint8_t j : scratch_)
                duplicate = duplicate || palette_[j] == palette_[static_cast<size_t>(i)];
            if (!duplicate)
                scratch_.push_back(static_cast<uint8_t>(i));
        }
    return scratch_;
}

uint8_t Remapper::nearest(int r, int g, int b) {
    uint8_t &known = exact_[static_cast<size_t>(r << 16 | g << 8 | b)];
    if (known == UNKNOWN)
        known = search_nearest(r, g, b);
    return known;
}

uint8_t Remapper::search_nearest(int r, int g, int b) {
    const int cell = cell_of(r, g, b);
    if (cell_start_[static_cast<size_t>(cell)] < 0) {
        const std::vector<uint8_t> &list = candidates(cell);
        cell_start_[static_cast<size_t>(cell)] = static_cast<int32_t>(cell_list_.size());
        cell_count_[static_cast<size_t>(cell)] = static_cast<uint8_t>(list.size());
        cell_list_.insert(cell_list_.end(), list.begin(), list.end());
    }
    const uint8_t *list = cell_list_.data() + cell_start_[static_cast<size_t>(cell)];
    const int n = cell_count_[static_cast<size_t>(cell)];
    uint8_t best = list[0];
    if (n == 1)
        return best;
    int best_distance = INT32_MAX;
    for (int i = 0; i < n; i++) {
        const Rgb &c = palette_[list[i]];
        const int d = colour_distance(c.r - r, c.g - g, c.b - b);
        if (d < best_distance)
            best_distance = d, best = list[i];
    }
    return best;
}

void Remapper::remap(const uint8_t *rgba, std::vector<uint8_t> &indices) {
    static constexpr uint8_t BAYER[8][8] = {
        {0, 32, 8, 40, 2, 34, 10, 42},  {48, 16, 56, 24, 50, 18, 58, 26},
        {12, 44, 4, 36, 14, 46, 6, 38}, {60, 28, 52, 20, 62, 30, 54, 22},
        {3, 35, 11, 43, 1, 33, 9, 41},  {51, 19, 59, 27, 49, 17, 57, 25},
        {15, 47, 7, 39, 13, 45, 5, 37}, {63, 31, 55, 23, 61, 29, 53, 21}};
    // A source colour within this of the one a pixel was last mapped from
    // keeps the pixel's index (decoder noise in the source is not motion).
    constexpr int STILL = 2;
    const size_t pixels = static_cast<size_t>(width_) * static_cast<size_t>(height_);
    indices.resize(pixels);
    std::fill(error_.begin(), error_.end(), int16_t{0});
    for (int y = 0; y < height_; y++) {
        // Diffusion runs serpentine; its error rows swap each line.
        const bool reverse = dither_ == Dither::Diffusion && (y & 1);
        int16_t *here =
            error_.data() + static_cast<size_t>(y & 1) * static_cast<size_t>(width_ + 2) * 3;
        int16_t *below =
            error_.data() + static_cast<size_t>((y + 1) & 1) * static_cast<size_t>(width_ + 2) * 3;
        std::fill(below, below + static_cast<size_t>(width_ + 2) * 3, int16_t{0});
        for (int step = 0; step < width_; step++) {
            const int x = reverse ? width_ - 1 - step : step;
            const size_t i =
                static_cast<size_t>(y) * static_cast<size_t>(width_) + static_cast<size_t>(x);
            const uint8_t *p = rgba + i * 4;
            uint8_t *ref = &reference_[i * 3];
            if (have_previous_ && std::abs(p[0] - ref[0]) <= STILL &&
                std::abs(p[1] - ref[1]) <= STILL && std::abs(p[2] - ref[2]) <= STILL) {
                indices[i] = previous_[i]; // still: keep it, and absorb the error here
                continue;
            }
            int r = p[0], g = p[1], b = p[2];
            if (dither_ == Dither::Ordered) {
                const int t = (BAYER[y & 7][x & 7] * 2 - 63) * spread_ / 128;
                r += t, g += t, b += t;
            } else if (dither_ == Dither::Diffusion) {
                const int16_t *e = here + static_cast<size_t>(x + 1) * 3;
                r += e[0] / 16, g += e[1] / 16, b += e[2] / 16;
            }
            r = std::clamp(r, 0, 255), g = std::clamp(g, 0, 255), b = std::clamp(b, 0, 255);
            const uint8_t index = nearest(r, g, b);
            indices[i] = index;
            previous_[i] = index;
            ref[0] = p[0], ref[1] = p[1], ref[2] = p[2];
            if (dither_ == Dither::Diffusion) {
                // Floyd and Steinberg's weights (in sixteenths), damped a
                // little so that the noise stays low.
                const Rgb &c = palette_[index];
                const int er = (r - c.r) * 7 / 8, eg = (g - c.g) * 7 / 8, eb = (b - c.b) * 7 / 8;
                const int dir = reverse ? -1 : 1;
                auto spread = [&](int16_t *row, int dx, int weight) {
                    int16_t *e = row + static_cast<size_t>(x + 1 + dx) * 3;
                    e[0] = static_cast<int16_t>(e[0] + er * weight);
                    e[1] = static_cast<int16_t>(e[1] + eg * weight);
                    e[2] = static_cast<int16_t>(e[2] + eb * weight);
                };
                spread(here, dir, 7);
                spread(below, -dir, 3);
                spread(below, 0, 5);
                spread(below, dir, 1);
            }
        }
    }
    have_previous_ = true;
}

namespace {

std::array<double, 3> lab(const Rgb &c) {
    auto linear = [](double v) {
        v /= 255.0;
        return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
    };
    const double r = linear(c.r), g = linear(c.g), b = linear(c.b);
    const double x = (0.4124 * r + 0.3576 * g + 0.1805 * b) / 0.95047;
    const double y = 0.2126 * r + 0.7152 * g + 0.0722 * b;
    const double z = (0.0193 * r + 0.1192 * g + 0.9505 * b) / 1.08883;
    auto f = [](double t) { return t > 0.008856 ? std::cbrt(t) : 7.787 * t + 16.0 / 116.0; };
    return {116 * f(y) - 16, 500 * (f(x) - f(y)), 200 * (f(y) - f(z))};
}

} // namespace

std::vector<uint8_t> tolerance_table(const Palette &palette, double level) {
    std::vector<std::array<double, 3>> labs;
    for (const Rgb &c : palette)
        labs.push_back(lab(c));
    std::vector<uint8_t> table(static_cast<size_t>(COLOURS) * COLOURS, 0);
    for (int a = 0; a < COLOURS; a++)
        for (int b = 0; b < COLOURS; b++) {
            const auto &p = labs[static_cast<size_t>(a)], &q = labs[static_cast<size_t>(b)];
            const double d =
                std::sqrt((p[0] - q[0]) * (p[0] - q[0]) + (p[1] - q[1]) * (p[1] - q[1]) +
                          (p[2] - q[2]) * (p[2] - q[2]));
            table[static_cast<size_t>(a * COLOURS + b)] = a == b || d < level;
        }
    return table;
}

} // namespace kmov
