// A player template in its author's own colours: another icon (both
// players) and another version resource (the Windows player). Applied to
// the template before the movie is packed behind it.
#ifndef KMOV_TOOLS_BRANDING_H
#define KMOV_TOOLS_BRANDING_H

#include "error.h"
#include "icon_image.h"
#include "pe_resources.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace kmov {

struct Branding {
    std::optional<RgbaImage> icon;      // the picture, any size from ICON_MIN_PICTURE up
    std::optional<VersionInfo> version; // the Windows player's version resource
    bool empty() const { return !icon && !version; }
};

// Parses "Company=...;Product=...;Version=1.2.3;Copyright=...;Description=..."
// (any of the keys, in any order, case as given; ";;" stands for a ';' in a
// value). The version is one to four numbers up to 65535 (default 1.0.0);
// the description defaults to `title`; the file names come from `out`.
Expected<VersionInfo> parse_version_info(const std::string &text, const std::string &title,
                                         const std::string &out);

// The image of `program` (a template, or a packed program without its
// movie) with `branding` applied. The Windows player gets icon group 101
// and the version resource rebuilt; the Linux player gets the picture in
// its window icon record. The startup block is left as it was.
Expected<std::vector<uint8_t>> brand_program(std::span<const uint8_t> program,
                                             const Branding &branding);

// The window icon record's offset in a Linux player (behind its marker),
// or an error when the program has none or more than one.
Expected<size_t> find_window_icon(std::span<const uint8_t> program);

} // namespace kmov

#endif
