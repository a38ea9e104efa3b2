// Text for the commands: code page 932 (the player's titles and messages)
// to and from UTF-8, and JSON as the commands print it.
#ifndef KMOV_TOOLS_TEXT_H
#define KMOV_TOOLS_TEXT_H

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace kmov {

// Code page 932 <-> UTF-8. Bytes that do not convert come out as '?'.
std::string cp932_to_utf8(const std::string &text);
// Returns nullopt when the text has a character code page 932 lacks.
std::optional<std::string> utf8_to_cp932(const std::string &text);

// Well-formed UTF-8: no stray or cut-off sequences, nothing overlong, no
// surrogates, nothing above U+10FFFF.
bool is_utf8(const std::string &text);

// ---- JSON ----------------------------------------------------------------------
// The commands' JSON keeps a fixed layout that scripts and the tests read:
// a top-level object one member a line, nested objects and arrays on the
// member's line. Values are passed as JSON text, made by these helpers.

// A JSON string literal, quotes included. Bytes from 0x80 up pass as they
// are (the text is UTF-8); control characters are escaped.
std::string json_string(const std::string &text);

// `value` with `digits` decimals, or null when it is infinite.
std::string json_number(double value, int digits);

// [a, b, c] on one line.
std::string json_array(const std::vector<std::string> &values);

using JsonMembers = std::vector<std::pair<std::string, std::string>>;

// {"a": 1, "b": 2} on one line.
std::string json_inline_object(const JsonMembers &members);

// The top-level object: "{", one "  \"name\": value" line a member, "}",
// each line ending in a newline.
std::string json_object(const JsonMembers &members);

} // namespace kmov

#endif
