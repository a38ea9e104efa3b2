#include "branding.h"

#include "packer.h"
#include "res/window_icon.h"

#include <cstring>
#include <filesystem>

namespace kmov {

namespace {

// A version resource's texts are short lines: a longer value is surely a
// mistake (and the resource's node lengths are 16-bit).
enum { MAX_VERSION_TEXT = 1024 };

bool parse_version_numbers(const std::string &text, uint16_t numbers[4]) {
    size_t count = 0, at = 0;
    while (true) {
        size_t end = text.find('.', at);
        std::string part = text.substr(at, end == std::string::npos ? std::string::npos : end - at);
        if (part.empty() || part.size() > 5 || count == 4 ||
            part.find_first_not_of("0123456789") != std::string::npos || std::stoul(part) > 65535)
            return false;
        numbers[count++] = static_cast<uint16_t>(std::stoul(part));
        if (end == std::string::npos)
            return true;
        at = end + 1;
    }
}

} // namespace

Expected<VersionInfo> parse_version_info(const std::string &text, const std::string &title,
                                         const std::string &out) {
    VersionInfo info;
    info.version = "1.0.0";
    info.numbers[0] = 1;
    info.description = title;
    info.original_filename = std::filesystem::path(out).filename().string();
    info.internal_name = std::filesystem::path(out).stem().string();
    // Split on single ';' ("a;;b" is "a;b").
    std::vector<std::string> fields(1);
    for (size_t i = 0; i < text.size(); i++) {
        if (text[i] == ';' && i + 1 < text.size() && text[i + 1] == ';') {
            fields.back() += ';';
            i++;
        } else if (text[i] == ';') {
            fields.emplace_back();
        } else {
            fields.back() += text[i];
        }
    }
    for (const std::string &field : fields) {
        if (field.empty())
            continue;
        size_t equals = field.find('=');
        if (equals == std::string::npos)
            return usage_error("--version-info: '" + field + "' is not KEY=VALUE");
        std::string key = field.substr(0, equals), value = field.substr(equals + 1);
        if (value.size() > MAX_VERSION_TEXT)
            return usage_error("--version-info: " + key + " is longer than " +
                               std::to_string(MAX_VERSION_TEXT) + " bytes");
        if (!utf8_to_utf16(value))
            return usage_error("--version-info: " + key + " is not UTF-8 text");
        if (key == "Company")
            info.company = value;
        else if (key == "Product")
            info.product = value;
        else if (key == "Copyright")
            info.copyright = value;
        else if (key == "Description")
            info.description = value;
        else if (key == "Version") {
            uint16_t numbers[4] = {};
            if (!parse_version_numbers(value, numbers))
                return usage_error("--version-info: Version takes one to four numbers from 0 to "
                                   "65535 joined by dots, as in 1.2.3");
            info.version = value;
            std::memcpy(info.numbers, numbers, sizeof numbers);
        } else {
            return usage_error("--version-info: unknown key '" + key +
                               "' (Company, Product, Version, Copyright, Description)");
        }
    }
    return info;
}

Expected<size_t> find_window_icon(std::span<const uint8_t> program) {
    const uint8_t *marker = reinterpret_cast<const uint8_t *>(WINDOW_ICON_MARKER);
    std::optional<size_t> found;
    for (size_t i = 0; i + WINDOW_ICON_MARKER_SIZE <= program.size(); i++) {
        if (program[i] != marker[0] ||
            std::memcmp(program.data() + i, marker, WINDOW_ICON_MARKER_SIZE) != 0)
            continue;
        if (found)
            return Error{"more than one window icon record: not a kmov player template"};
        found = i + WINDOW_ICON_MARKER_SIZE;
    }
    if (!found)
        return Error{"no window icon record: a Linux player template from before icons could "
                     "be changed"};
    if (program.size() - *found < sizeof(WindowIconRecord) - WINDOW_ICON_MARKER_SIZE)
        return Error{"the window icon record is cut short by the end of the file"};
    return *found;
}

Expected<std::vector<uint8_t>> brand_program(std::span<const uint8_t> program,
                                             const Branding &branding) {
    // Only the image: a packed program's movie is packed anew behind it.
    Expected<StartupInfo> startup = find_startup_block(program);
    if (!startup)
        return startup.error();
    std::span<const uint8_t> image =
        startup->packed ? program.first(startup->block.movie_offset) : program;
    if (branding.empty())
        return std::vector<uint8_t>(image.begin(), image.end());

    if (image.size() >= 2 && image[0] == 'M' && image[1] == 'Z') {
        Expected<std::vector<Resource>> resources = pe_read_resources(image);
        if (!resources)
            return resources.error();
        if (branding.icon)
            resources_set_icon_group(*resources, 101, icon_entries(*branding.icon));
        if (branding.version)
            resources_set_version(*resources, *branding.version);
        return pe_replace_resources(image, *resources);
    }

    if (branding.version)
        return Error{"--version-info: only the Windows player (kmovsp.exe) has a version "
                     "resource"};
    Expected<size_t> record = find_window_icon(image);
    if (!record)
        return record.error();
    std::vector<uint8_t> out(image.begin(), image.end());
    const int size = WINDOW_ICON_MAX_SIZE;
    RgbaImage icon = icon_scale(*branding.icon, size);
    auto put32 = [&](size_t at, uint32_t value) {
        for (int i = 0; i < 4; i++)
            out[at + i] = static_cast<uint8_t>(value >> (8 * i));
    };
    put32(*record, size);
    put32(*record + 4, size);
    for (size_t i = 0; i < size_t(size) * size; i++) {
        const uint8_t *p = &icon.rgba[i * 4];
        put32(*record + 8 + 4 * i,
              uint32_t(p[3]) << 24 | uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2]);
    }
    return out;
}

} // namespace kmov
