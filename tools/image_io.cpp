#include "image_io.h"

#include <png.h>

namespace kmov {

namespace {

void append_png(png_structp png, png_bytep data, png_size_t length) {
    auto *out = static_cast<std::vector<uint8_t> *>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + length);
}

void put_text(std::vector<uint8_t> &out, const char *text) {
    while (*text != 0)
        out.push_back(static_cast<uint8_t>(*text++));
}

void put_le(std::vector<uint8_t> &out, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; i++)
        out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

} // namespace

std::vector<uint8_t> encode_indexed_png(int width, int height, const uint8_t *pixels,
                                        const Rgb *colours, int colour_count) {
    std::vector<uint8_t> out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return {};
    }
    png_set_write_fn(png, &out, append_png, nullptr);
    png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8,
                 PNG_COLOR_TYPE_PALETTE, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    std::vector<png_color> palette(256);
    for (int i = 0; i < 256; i++)
        palette[i] = i < colour_count ? png_color{colours[i].r, colours[i].g, colours[i].b}
                                      : png_color{0, 0, 0};
    png_set_PLTE(png, info, palette.data(), 256);
    png_write_info(png, info);
    for (int row = 0; row < height; row++)
        png_write_row(png, pixels + static_cast<size_t>(row) * width);
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return out;
}

std::vector<uint8_t> encode_wav(std::span<const int16_t> samples, int sample_rate) {
    std::vector<uint8_t> out;
    uint32_t data_bytes = static_cast<uint32_t>(samples.size() * 2);
    put_text(out, "RIFF");
    put_le(out, 36 + data_bytes, 4);
    put_text(out, "WAVEfmt ");
    put_le(out, 16, 4);
    put_le(out, 1, 2); // PCM
    put_le(out, 1, 2); // mono
    put_le(out, static_cast<uint32_t>(sample_rate), 4);
    put_le(out, static_cast<uint32_t>(sample_rate) * 2, 4);
    put_le(out, 2, 2);
    put_le(out, 16, 2);
    put_text(out, "data");
    put_le(out, data_bytes, 4);
    for (int16_t sample : samples)
        put_le(out, static_cast<uint16_t>(sample), 2);
    return out;
}

} // namespace kmov
