#include "web_page.h"

#include "packer.h"

#include <cctype>
#include <cstring>
#include <optional>
#include <string_view>

namespace kmov {

namespace {

constexpr std::string_view STARTUP_OPEN =
    "<script id=\"kmov-startup\" type=\"application/octet-stream\">";
constexpr std::string_view MOVIE_OPEN =
    "<script id=\"kmov-movie\" type=\"application/octet-stream\">";
constexpr std::string_view CLOSE = "</script>";

constexpr char BASE64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Where an element lies in the page: its opening tag at `tag`, its content
// [begin, end), its closing tag at `end`.
struct Span {
    size_t tag = 0, begin = 0, end = 0;
};

std::string_view text_of(std::span<const uint8_t> page) {
    return {reinterpret_cast<const char *>(page.data()), page.size()};
}

// The content of the one element opened by `open`; none when the page has
// no such element, or more than one, or it is not closed.
std::optional<Span> element(std::string_view page, std::string_view open) {
    size_t at = page.find(open);
    if (at == std::string_view::npos || page.find(open, at + 1) != std::string_view::npos)
        return std::nullopt;
    size_t begin = at + open.size();
    size_t end = page.find(CLOSE, begin);
    if (end == std::string_view::npos)
        return std::nullopt;
    return Span{at, begin, end};
}

struct Elements {
    Span startup, movie;
};

// Both elements, each exactly once and neither inside the other.
std::optional<Elements> elements(std::string_view page) {
    std::optional<Span> startup = element(page, STARTUP_OPEN);
    std::optional<Span> movie = element(page, MOVIE_OPEN);
    if (!startup || !movie)
        return std::nullopt;
    const Span &first = startup->tag < movie->tag ? *startup : *movie;
    const Span &second = startup->tag < movie->tag ? *movie : *startup;
    if (first.end > second.tag)
        return std::nullopt;
    return Elements{*startup, *movie};
}

std::string base64_encode(std::span<const uint8_t> bytes) {
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        uint32_t v = uint32_t(bytes[i]) << 16 | uint32_t(bytes[i + 1]) << 8 | bytes[i + 2];
        for (int shift = 18; shift >= 0; shift -= 6)
            out += BASE64[(v >> shift) & 63];
    }
    size_t left = bytes.size() - i;
    if (left > 0) {
        uint32_t v = uint32_t(bytes[i]) << 16 | (left == 2 ? uint32_t(bytes[i + 1]) << 8 : 0);
        out += BASE64[(v >> 18) & 63];
        out += BASE64[(v >> 12) & 63];
        out += left == 2 ? BASE64[(v >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

// Base64 as the page's script reads it: white space is skipped, padding
// only at the end.
std::optional<std::vector<uint8_t>> base64_decode(std::string_view text) {
    std::vector<uint8_t> out;
    out.reserve(text.size() / 4 * 3);
    uint32_t bits = 0;
    int held = 0, padding = 0;
    for (char c : text) {
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f')
            continue;
        if (c == '=') {
            padding++;
            continue;
        }
        const char *digit = std::strchr(BASE64, c);
        if (c == '\0' || digit == nullptr || padding > 0)
            return std::nullopt;
        bits = bits << 6 | static_cast<uint32_t>(digit - BASE64);
        held += 6;
        if (held >= 8) {
            held -= 8;
            out.push_back(static_cast<uint8_t>(bits >> held));
        }
    }
    // Leftover bits must be padding's zeros; at most two '='.
    if (padding > 2 || held >= 6 || (bits & ((1u << held) - 1)) != 0)
        return std::nullopt;
    return out;
}

void put_le32(uint8_t *p, uint32_t value) {
    for (int i = 0; i < 4; i++)
        p[i] = static_cast<uint8_t>(value >> (8 * i));
}

uint32_t get_le32(const uint8_t *p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

} // namespace

bool is_web_page(std::span<const uint8_t> page) {
    constexpr std::string_view DOCTYPE = "<!doctype html";
    if (page.size() < DOCTYPE.size())
        return false;
    for (size_t i = 0; i < DOCTYPE.size(); i++)
        if (std::tolower(page[i]) != DOCTYPE[i])
            return false;
    return true;
}

Expected<WebProgram> read_web_page(std::span<const uint8_t> page) {
    std::string_view text = text_of(page);
    std::optional<Elements> found = elements(text);
    if (!found)
        return Error{"not a kmov web page (no startup and movie elements)"};
    const Span *startup = &found->startup, *movie = &found->movie;
    std::optional<std::vector<uint8_t>> block =
        base64_decode(text.substr(startup->begin, startup->end - startup->begin));
    if (!block || (!block->empty() && block->size() != STARTUP_BLOCK_SIZE))
        return Error{"the web page's startup block is damaged"};
    std::optional<std::vector<uint8_t>> file =
        base64_decode(text.substr(movie->begin, movie->end - movie->begin));
    if (!file)
        return Error{"the web page's movie is not base64"};
    WebProgram program;
    program.block_offset = startup->begin;
    program.file = std::move(*file);
    if (!block->empty()) {
        program.has_block = true;
        program.block.movie_offset = get_le32(block->data());
        program.block.movie_checksum = get_le32(block->data() + 4);
        std::memcpy(program.block.window_title, block->data() + 8, STARTUP_TITLE_SIZE);
        program.block.window_title[STARTUP_TITLE_SIZE - 1] = 0;
    }
    return program;
}

Expected<std::vector<uint8_t>> pack_web_page(std::span<const uint8_t> page,
                                             std::span<const uint8_t> movie,
                                             const std::string &title_cp932) {
    if (title_cp932.size() > STARTUP_TITLE_SIZE - 1)
        return Error{"the title takes " + std::to_string(title_cp932.size()) +
                     " bytes; at most 255 fit"};
    std::string_view text = text_of(page);
    std::optional<Elements> found = elements(text);
    if (!found)
        return Error{"not a kmov web page (no startup and movie elements)"};
    uint8_t block[STARTUP_BLOCK_SIZE] = {0};
    put_le32(block, 0); // the movie is the whole program file
    put_le32(block + 4, movie_checksum(movie));
    std::memcpy(block + 8, title_cp932.data(), title_cp932.size());

    // The elements in page order, each replaced by its new content.
    struct Replacement {
        Span span;
        std::string content;
    };
    Replacement parts[2] = {{found->startup, base64_encode(block)},
                            {found->movie, base64_encode(movie)}};
    if (parts[1].span.begin < parts[0].span.begin)
        std::swap(parts[0], parts[1]);
    std::string out;
    out.reserve(page.size() + parts[1].content.size());
    size_t from = 0;
    for (const Replacement &part : parts) {
        out.append(text.substr(from, part.span.begin - from));
        out.append(part.content);
        from = part.span.end;
    }
    out.append(text.substr(from));
    return std::vector<uint8_t>(out.begin(), out.end());
}

} // namespace kmov
