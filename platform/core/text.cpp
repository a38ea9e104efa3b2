// Text conversions: MultiByteToWideChar, WideCharToMultiByte, and the
// core's own between the program's text and the UTF-8 that the Linux
// system (file names, X window titles, SDL) takes.
//
// Code pages: 932 (through iconv's CP932, the same table as Windows', or
// its Shift_JIS where the C library has no CP932),
// CP_UTF8, and CP_ACP, which is UTF-8 here. As on Windows:
// - a length of -1 means NUL-terminated, and the terminator is converted
//   and counted; a length of 0 fails with ERROR_INVALID_PARAMETER;
// - an output length of 0 asks for the size the output needs;
// - output that does not fit fails with ERROR_INSUFFICIENT_BUFFER;
// - bytes that are not text in their code page become U+FFFD (UTF-8) or
//   U+30FB (932), characters a code page lacks become the default
//   character ('?'); flags are ignored.
#include "core.h"

#include <iconv.h>
#include <string.h>
#include <string>

namespace {

constexpr char16_t REPLACEMENT = 0xFFFD;
constexpr char16_t CP932_REPLACEMENT = 0x30FB;

bool is_cp932_lead(unsigned char c) {
    return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}

// Converts `in` (one character) with `cd`; returns false when it does not.
bool convert_one(iconv_t cd, const char *in, size_t in_size, char *out, size_t *out_size) {
    if (cd == reinterpret_cast<iconv_t>(-1))
        return false;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    char *src = const_cast<char *>(in);
    char *dst = out;
    size_t src_left = in_size, dst_left = *out_size;
    if (iconv(cd, &src, &src_left, &dst, &dst_left) == static_cast<size_t>(-1) || src_left != 0)
        return false;
    *out_size = *out_size - dst_left;
    return true;
}

// glibc knows code page 932 by that name; a smaller C library (the web
// build's) knows only Shift_JIS, which it holds the player's texts in too.
iconv_t open_cp932(bool to_cp932) {
    const char *names[] = {"CP932", "SHIFT_JIS"};
    for (const char *name : names) {
        iconv_t cd = to_cp932 ? iconv_open(name, "UTF-16LE") : iconv_open("UTF-16LE", name);
        if (cd != reinterpret_cast<iconv_t>(-1))
            return cd;
    }
    return reinterpret_cast<iconv_t>(-1);
}
iconv_t cp932_to_utf16(void) {
    static iconv_t cd = open_cp932(false);
    return cd;
}
iconv_t utf16_to_cp932(void) {
    static iconv_t cd = open_cp932(true);
    return cd;
}

void append_utf16(std::u16string &out, char32_t c) {
    if (c < 0x10000) {
        out += static_cast<char16_t>(c);
    } else {
        c -= 0x10000;
        out += static_cast<char16_t>(0xD800 + (c >> 10));
        out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
    }
}

void append_utf8(std::string &out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// The length of the well-formed UTF-8 sequence at text[i] and its code
// point; 0 when there is none (a stray, overlong, surrogate or cut-off
// sequence).
size_t utf8_sequence(const unsigned char *text, size_t size, size_t i, char32_t *c) {
    unsigned char b = text[i];
    size_t length;
    char32_t value, least;
    if (b < 0x80) {
        *c = b;
        return 1;
    } else if (b >= 0xC2 && b <= 0xDF) {
        length = 2, value = b & 0x1F, least = 0x80;
    } else if (b >= 0xE0 && b <= 0xEF) {
        length = 3, value = b & 0x0F, least = 0x800;
    } else if (b >= 0xF0 && b <= 0xF4) {
        length = 4, value = b & 0x07, least = 0x10000;
    } else {
        return 0;
    }
    if (size - i < length)
        return 0;
    for (size_t k = 1; k < length; k++) {
        if ((text[i + k] & 0xC0) != 0x80)
            return 0;
        value = (value << 6) | (text[i + k] & 0x3F);
    }
    if (value < least || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
        return 0;
    *c = value;
    return length;
}

std::u16string utf8_to_utf16(const char *text, size_t size, bool escape) {
    std::u16string out;
    const unsigned char *bytes = reinterpret_cast<const unsigned char *>(text);
    for (size_t i = 0; i < size;) {
        char32_t c;
        size_t length = utf8_sequence(bytes, size, i, &c);
        if (length == 0) {
            out += escape ? static_cast<char16_t>(0xDC00 + bytes[i]) : REPLACEMENT;
            i++;
        } else {
            append_utf16(out, c);
            i += length;
        }
    }
    return out;
}

// UTF-16 to UTF-8; with `escape`, the lone surrogates U+DC80..U+DCFF that
// utf8_to_utf16 made of bytes outside UTF-8 become those bytes again.
std::string utf16_to_utf8(const char16_t *text, size_t size, bool escape) {
    std::string out;
    for (size_t i = 0; i < size; i++) {
        char16_t u = text[i];
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < size && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            append_utf8(out, 0x10000 + ((char32_t(u) - 0xD800) << 10) + (text[i + 1] - 0xDC00));
            i++;
        } else if (escape && u >= 0xDC80 && u <= 0xDCFF) {
            out += static_cast<char>(u - 0xDC00);
        } else if (u >= 0xD800 && u <= 0xDFFF) {
            append_utf8(out, REPLACEMENT);
        } else {
            append_utf8(out, u);
        }
    }
    return out;
}

std::u16string cp932_to_utf16_string(const char *text, size_t size) {
    std::u16string out;
    const unsigned char *bytes = reinterpret_cast<const unsigned char *>(text);
    for (size_t i = 0; i < size;) {
        if (bytes[i] < 0x80) {
            out += static_cast<char16_t>(bytes[i++]);
            continue;
        }
        size_t length = is_cp932_lead(bytes[i]) && i + 1 < size ? 2 : 1;
        char16_t unit[2];
        size_t got = sizeof unit;
        if (convert_one(cp932_to_utf16(), text + i, length, reinterpret_cast<char *>(unit), &got) &&
            got == 2)
            out += unit[0];
        else
            out += CP932_REPLACEMENT;
        i += length;
    }
    return out;
}

std::string utf16_to_cp932_string(const char16_t *text, size_t size, char fallback,
                                  bool *used_default) {
    std::string out;
    for (size_t i = 0; i < size; i++) {
        if (text[i] < 0x80) {
            out += static_cast<char>(text[i]);
            continue;
        }
        size_t units = (text[i] >= 0xD800 && text[i] <= 0xDBFF && i + 1 < size) ? 2 : 1;
        char bytes[8];
        size_t got = sizeof bytes;
        if (convert_one(utf16_to_cp932(), reinterpret_cast<const char *>(text + i), units * 2,
                        bytes, &got)) {
            out.append(bytes, got);
        } else {
            out += fallback;
            *used_default = true;
        }
        i += units - 1;
    }
    return out;
}

bool known_code_page(UINT code_page) {
    return code_page == 932 || code_page == CP_UTF8 || code_page == CP_ACP;
}

} // namespace

std::string platform_utf8_from_wide(const WCHAR *text, int escape) {
    if (text == nullptr)
        return {};
    size_t size = 0;
    while (text[size] != 0)
        size++;
    return utf16_to_utf8(text, size, escape != 0);
}

std::u16string platform_wide_from_utf8(const char *text, int escape) {
    return text == nullptr ? std::u16string() : utf8_to_utf16(text, strlen(text), escape != 0);
}

std::string platform_utf8_from_cp932(const char *text) {
    if (text == nullptr)
        return {};
    std::u16string wide = cp932_to_utf16_string(text, strlen(text));
    return utf16_to_utf8(wide.data(), wide.size(), false);
}

std::string platform_cp932_from_utf8(const char *text) {
    std::u16string wide = platform_wide_from_utf8(text, 0);
    bool used = false;
    return utf16_to_cp932_string(wide.data(), wide.size(), '?', &used);
}

int MultiByteToWideChar(UINT code_page, DWORD flags, LPCSTR text, int length, LPWSTR out,
                        int out_length) {
    (void)flags;
    if (!known_code_page(code_page) || text == nullptr || length == 0 || length < -1 ||
        out_length < 0 || (out_length > 0 && out == nullptr)) {
        platform_set_error(ERROR_INVALID_PARAMETER);
        return 0;
    }
    size_t size = length == -1 ? strlen(text) + 1 : static_cast<size_t>(length);
    std::u16string wide =
        code_page == 932 ? cp932_to_utf16_string(text, size) : utf8_to_utf16(text, size, false);
    if (out_length == 0)
        return static_cast<int>(wide.size());
    if (wide.size() > static_cast<size_t>(out_length)) {
        platform_set_error(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    memcpy(out, wide.data(), wide.size() * sizeof(WCHAR));
    return static_cast<int>(wide.size());
}

int WideCharToMultiByte(UINT code_page, DWORD flags, LPCWSTR text, int length, LPSTR out,
                        int out_length, LPCSTR default_char, LPBOOL used_default) {
    (void)flags;
    if (!known_code_page(code_page) || text == nullptr || length == 0 || length < -1 ||
        out_length < 0 || (out_length > 0 && out == nullptr)) {
        platform_set_error(ERROR_INVALID_PARAMETER);
        return 0;
    }
    size_t size = 0;
    if (length == -1) {
        while (text[size] != 0)
            size++;
        size++;
    } else {
        size = static_cast<size_t>(length);
    }
    bool used = false;
    std::string narrow = code_page == 932
                             ? utf16_to_cp932_string(
                                   text, size, default_char != nullptr ? *default_char : '?', &used)
                             : utf16_to_utf8(text, size, false);
    if (used_default != nullptr)
        *used_default = used ? TRUE : FALSE;
    if (out_length == 0)
        return static_cast<int>(narrow.size());
    if (narrow.size() > static_cast<size_t>(out_length)) {
        platform_set_error(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    memcpy(out, narrow.data(), narrow.size());
    return static_cast<int>(narrow.size());
}
