#include "movie_writer.h"

#include <random>

namespace kmov {

MovieHeader make_header(int32_t width, int32_t height) {
    MovieHeader header{};
    header.magic = MOVIE_MAGIC;
    header.width = width;
    header.height = height;
    header.frame_rate = 15000;
    return header;
}

MovieWriter::MovieWriter(const MovieHeader &header, const Palette &palette)
    : header_(header), palette_(palette) {}

MovieWriter &MovieWriter::add(Record record) {
    records_.push_back(std::move(record));
    return *this;
}

MovieWriter &MovieWriter::add(uint32_t tag, uint32_t delay, std::span<const uint8_t> payload,
                              uint32_t param) {
    Record record;
    record.tag = tag;
    record.delay = delay;
    record.param = param;
    record.payload.assign(payload.begin(), payload.end());
    return add(std::move(record));
}

MovieWriter &MovieWriter::frame(std::span<const uint8_t> vdat, uint32_t decode_delay,
                                uint32_t show_delay) {
    add(TAG_VDAT, decode_delay, vdat);
    return add(TAG_VBLT, show_delay);
}

MovieWriter &MovieWriter::count_frames() {
    int32_t frames = 0;
    for (const Record &record : records_)
        frames += record.tag == TAG_VBLT;
    header_.frame_count = frames;
    return *this;
}

void put_be32(std::vector<uint8_t> &out, uint32_t value) {
    out.push_back(static_cast<uint8_t>(value >> 24));
    out.push_back(static_cast<uint8_t>(value >> 16));
    out.push_back(static_cast<uint8_t>(value >> 8));
    out.push_back(static_cast<uint8_t>(value));
}

std::vector<uint8_t> MovieWriter::bytes(const WriteOptions &options) const {
    std::vector<uint8_t> out;
    size_t total = MOVIE_RECORDS_OFFSET;
    for (const Record &record : records_)
        total += RECORD_HEADER_SIZE + padded_length(record.payload.size());
    out.reserve(total);

    const MovieHeader &h = header_;
    put_be32(out, h.magic);
#define KMOV_WRITE_FIELD(name, meaning) put_be32(out, static_cast<uint32_t>(h.name));
    MOVIE_HEADER_FIELDS(KMOV_WRITE_FIELD)
#undef KMOV_WRITE_FIELD
    for (int32_t word : h.reserved)
        put_be32(out, static_cast<uint32_t>(word));
    for (const Rgb &colour : palette_) {
        out.push_back(colour.r);
        out.push_back(colour.g);
        out.push_back(colour.b);
        out.push_back(0);
    }

    std::mt19937 random(options.seed);
    for (const Record &record : records_) {
        uint32_t length = record.length_override.value_or(padded_length(record.payload.size()));
        put_be32(out, record.tag);
        put_be32(out, record.delay);
        put_be32(out, length);
        put_be32(out, record.param);
        out.insert(out.end(), record.payload.begin(), record.payload.end());
        if (record.length_override)
            continue;
        for (size_t i = record.payload.size(); i < padded_length(record.payload.size()); i++)
            out.push_back(options.padding == Padding::Zero ? 0
                                                           : static_cast<uint8_t>(random() & 0xFF));
    }
    return out;
}

Status MovieWriter::write(const std::filesystem::path &path, const WriteOptions &options) const {
    std::vector<uint8_t> data = bytes(options);
    return write_file_atomically(path, data);
}

} // namespace kmov
