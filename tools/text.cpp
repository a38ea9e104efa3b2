#include "text.h"

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <iconv.h>

namespace kmov {

namespace {

std::optional<std::string> convert(const std::string &text, const char *to, const char *from,
                                   bool lenient) {
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1))
        return std::nullopt;
    std::string out;
    std::vector<char> input(text.begin(), text.end());
    char *in = input.data();
    size_t in_left = input.size();
    char buffer[256];
    while (in_left > 0) {
        char *o = buffer;
        size_t o_left = sizeof buffer;
        size_t r = iconv(cd, &in, &in_left, &o, &o_left);
        out.append(buffer, static_cast<size_t>(o - buffer));
        if (r == static_cast<size_t>(-1) && errno != E2BIG) {
            if (!lenient) {
                iconv_close(cd);
                return std::nullopt;
            }
            out.push_back('?');
            in++;
            in_left--;
        }
    }
    iconv_close(cd);
    return out;
}

} // namespace

std::string cp932_to_utf8(const std::string &text) {
    return convert(text, "UTF-8", "CP932", true).value_or(text);
}

std::optional<std::string> utf8_to_cp932(const std::string &text) {
    return convert(text, "CP932", "UTF-8", false);
}

bool is_utf8(const std::string &text) {
    for (size_t i = 0; i < text.size();) {
        unsigned char b = static_cast<unsigned char>(text[i]);
        size_t length = b < 0x80                 ? 1
                        : b >= 0xC2 && b <= 0xDF ? 2
                        : b >= 0xE0 && b <= 0xEF ? 3
                        : b >= 0xF0 && b <= 0xF4 ? 4
                                                 : 0;
        if (length == 0 || text.size() - i < length)
            return false;
        uint32_t c = length == 1 ? b : b & (0x7F >> length);
        for (size_t k = 1; k < length; k++) {
            unsigned char next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80)
                return false;
            c = (c << 6) | (next & 0x3F);
        }
        static const uint32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
        if (c < least[length] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
            return false;
        i += length;
    }
    return true;
}

std::string json_string(const std::string &text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (c < 0x20) {
                char escape[8];
                std::snprintf(escape, sizeof escape, "\\u%04x", c);
                out += escape;
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    return out + "\"";
}

std::string json_number(double value, int digits) {
    if (std::isinf(value))
        return "null";
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", digits, value);
    return text;
}

std::string json_array(const std::vector<std::string> &values) {
    std::string out = "[";
    for (size_t i = 0; i < values.size(); i++)
        out += (i ? ", " : "") + values[i];
    return out + "]";
}

std::string json_inline_object(const JsonMembers &members) {
    std::string out = "{";
    for (size_t i = 0; i < members.size(); i++)
        out += (i ? ", " : "") + json_string(members[i].first) + ": " + members[i].second;
    return out + "}";
}

std::string json_object(const JsonMembers &members) {
    std::string out = "{\n";
    for (size_t i = 0; i < members.size(); i++)
        out += "  " + json_string(members[i].first) + ": " + members[i].second +
               (i + 1 < members.size() ? ",\n" : "\n");
    return out + "}\n";
}

} // namespace kmov
