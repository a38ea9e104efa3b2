// The resources of a Windows program (PE32 or PE32+): reading its resource
// tree, and rebuilding its resource section with other resources while
// every header field that depends on the section follows.
//
// The player template is linked so that nothing but the base relocations
// lies behind its resource section (see res/CMakeLists.txt): the section
// grows in place, and the relocation section, which nothing addresses but
// its data directory, moves behind it. Code and data keep their addresses.
#ifndef KMOV_TOOLS_PE_RESOURCES_H
#define KMOV_TOOLS_PE_RESOURCES_H

#include "error.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace kmov {

// A resource type or name: a number, or (when `text` is not empty) a name.
struct ResourceKey {
    uint16_t id = 0;
    std::u16string text;
    bool operator==(const ResourceKey &other) const = default;
};

enum : uint16_t {
    RESOURCE_TYPE_ICON = 3,
    RESOURCE_TYPE_GROUP_ICON = 14,
    RESOURCE_TYPE_VERSION = 16,
};

// One leaf of the resource tree.
struct Resource {
    ResourceKey type;
    ResourceKey name;
    uint16_t language = 0;
    uint32_t codepage = 0;
    std::vector<uint8_t> data;
};

// The resources of `image`, in the order of its tree. A program without a
// resource directory has none. Every offset and count is checked against
// the file: a damaged tree is an error, never a read outside it.
Expected<std::vector<Resource>> pe_read_resources(std::span<const uint8_t> image);

// `image` with its resource section rebuilt to hold `resources` (any order;
// duplicates of type, name and language are refused). The resource section
// must come last, or be followed only by the base relocations, which move
// behind it. Updated: the section's sizes, the relocation section's place
// and its data directory, the resource data directory, SizeOfImage,
// SizeOfInitializedData and the checksum when the image has one. Refused:
// a signed image, one with a symbol table or other data behind its
// sections (zero padding is dropped), and one whose resource section is
// shared with anything else. `image` is the program without any appended
// movie.
Expected<std::vector<uint8_t>> pe_replace_resources(std::span<const uint8_t> image,
                                                    const std::vector<Resource> &resources);

// One picture of an icon: its size in pixels (1 to 256) and its bytes as an
// icon file holds them (a 32-bit DIB with its AND mask, or a PNG).
struct IconEntry {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> bytes;
};

// Replaces icon group `group` (keeping its language; language 0 when it is
// new) and the images it named by `entries`, numbered from the lowest ids
// no other icon uses.
void resources_set_icon_group(std::vector<Resource> &resources, uint16_t group,
                              const std::vector<IconEntry> &entries);

// What the version resource says.
struct VersionInfo {
    std::string company; // UTF-8, like every text here
    std::string product;
    std::string version;      // as shown, e.g. "1.2.3"
    uint16_t numbers[4] = {}; // major, minor, patch, build
    std::string copyright;
    std::string description;
    std::string internal_name;
    std::string original_filename;
};

// The bytes of a version resource (VS_VERSIONINFO) with one string table in
// `language` (Unicode) and its translation entry. Empty texts are left out.
std::vector<uint8_t> version_resource(const VersionInfo &info, uint16_t language);

// Replaces the version resource (type 16, name 1), keeping its language
// (0x0411 when there was none).
void resources_set_version(std::vector<Resource> &resources, const VersionInfo &info);

// UTF-8 to UTF-16; nullopt for bytes that are not UTF-8.
std::optional<std::u16string> utf8_to_utf16(const std::string &text);

} // namespace kmov

#endif
