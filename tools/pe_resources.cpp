#include "pe_resources.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <optional>
#include <set>

namespace kmov {

namespace {

// Offsets into the PE headers.
enum : size_t {
    DOS_PE_OFFSET = 0x3c,
    COFF_SIZE = 20,
    COFF_SECTION_COUNT = 2,
    COFF_SYMBOL_TABLE = 8,
    COFF_OPTIONAL_SIZE = 16,
    OPT_INITIALIZED_DATA = 8,
    OPT_SECTION_ALIGNMENT = 32,
    OPT_FILE_ALIGNMENT = 36,
    OPT_SIZE_OF_IMAGE = 56,
    OPT_SIZE_OF_HEADERS = 60,
    OPT_CHECKSUM = 64,
    SECTION_HEADER_SIZE = 40,
    SECTION_VIRTUAL_SIZE = 8,
    SECTION_VIRTUAL_ADDRESS = 12,
    SECTION_RAW_SIZE = 16,
    SECTION_RAW_POINTER = 20,
    SECTION_CHARACTERISTICS = 36,
};

enum : uint32_t {
    PE32_MAGIC = 0x10b,
    PE32_PLUS_MAGIC = 0x20b,
    DIRECTORY_RESOURCE = 2,
    DIRECTORY_SECURITY = 4,
    DIRECTORY_BASERELOC = 5,
    SECTION_INITIALIZED_DATA = 0x40,
    RESOURCE_SUBDIRECTORY = 0x80000000u,
    RESOURCE_NAMED = 0x80000000u,
};

// Limits of what a resource tree may hold, far above any program's: a
// damaged count cannot make the reader allocate or loop without end.
enum : size_t {
    MAX_RESOURCES = 65536,
    MAX_RESOURCE_NAME = 1024,
};

// Bounded little-endian reads: a read that would pass the end fails.
struct Bytes {
    std::span<const uint8_t> data;
    bool ok = true;

    uint32_t get(size_t offset, size_t size) {
        if (offset > data.size() || size > data.size() - offset) {
            ok = false;
            return 0;
        }
        uint32_t value = 0;
        for (size_t i = 0; i < size; i++)
            value |= uint32_t(data[offset + i]) << (8 * i);
        return value;
    }
    uint16_t u16(size_t offset) { return static_cast<uint16_t>(get(offset, 2)); }
    uint32_t u32(size_t offset) { return get(offset, 4); }
};

void put16(std::vector<uint8_t> &out, size_t offset, uint32_t value) {
    out[offset] = static_cast<uint8_t>(value);
    out[offset + 1] = static_cast<uint8_t>(value >> 8);
}

void put32(std::vector<uint8_t> &out, size_t offset, uint32_t value) {
    for (int i = 0; i < 4; i++)
        out[offset + i] = static_cast<uint8_t>(value >> (8 * i));
}

void append16(std::vector<uint8_t> &out, uint32_t value) {
    out.push_back(static_cast<uint8_t>(value));
    out.push_back(static_cast<uint8_t>(value >> 8));
}

void append32(std::vector<uint8_t> &out, uint32_t value) {
    for (int i = 0; i < 4; i++)
        out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

void pad_to(std::vector<uint8_t> &out, size_t alignment) {
    while (out.size() % alignment != 0)
        out.push_back(0);
}

uint64_t align_up(uint64_t value, uint64_t alignment) {
    return (value + alignment - 1) / alignment * alignment;
}

struct Section {
    size_t header = 0; // file offset of its header
    uint32_t virtual_size = 0, virtual_address = 0, raw_size = 0, raw_pointer = 0;
    uint32_t characteristics = 0;
};

// The headers of a PE image, read and checked.
struct PeLayout {
    size_t optional = 0;    // file offset of the optional header
    size_t directories = 0; // file offset of the data directories
    uint32_t directory_count = 0;
    uint32_t section_alignment = 0, file_alignment = 0;
    std::vector<Section> sections;

    // The directory's address and size; zeros when the image has none.
    std::pair<uint32_t, uint32_t> directory(Bytes &bytes, uint32_t index) const {
        if (index >= directory_count)
            return {0, 0};
        return {bytes.u32(directories + 8 * index), bytes.u32(directories + 8 * index + 4)};
    }

    // The section whose memory holds `rva`, or -1.
    int section_of(uint32_t rva) const {
        for (size_t i = 0; i < sections.size(); i++) {
            const Section &s = sections[i];
            uint32_t extent = std::max(s.virtual_size, s.raw_size);
            if (rva >= s.virtual_address && rva - s.virtual_address < extent)
                return static_cast<int>(i);
        }
        return -1;
    }
};

Expected<PeLayout> read_layout(std::span<const uint8_t> image) {
    Bytes bytes{image};
    if (bytes.u16(0) != 0x5a4d)
        return Error{"not a Windows program (no MZ header)"};
    PeLayout layout;
    size_t pe = bytes.u32(DOS_PE_OFFSET);
    if (!bytes.ok || bytes.u32(pe) != 0x00004550)
        return Error{"not a Windows program (no PE header)"};
    size_t coff = pe + 4;
    uint32_t section_count = bytes.u16(coff + COFF_SECTION_COUNT);
    uint32_t optional_size = bytes.u16(coff + COFF_OPTIONAL_SIZE);
    layout.optional = coff + COFF_SIZE;
    uint32_t magic = bytes.u16(layout.optional);
    size_t count_field = 0;
    if (magic == PE32_MAGIC)
        count_field = 92;
    else if (magic == PE32_PLUS_MAGIC)
        count_field = 108;
    else
        return Error{"not a Windows program (unknown optional header)"};
    layout.directory_count = bytes.u32(layout.optional + count_field);
    layout.directories = layout.optional + count_field + 4;
    if (layout.directory_count > 16 ||
        count_field + 4 + 8 * size_t(layout.directory_count) > optional_size)
        return Error{"a damaged Windows program (its data directories do not fit its header)"};
    layout.section_alignment = bytes.u32(layout.optional + OPT_SECTION_ALIGNMENT);
    layout.file_alignment = bytes.u32(layout.optional + OPT_FILE_ALIGNMENT);
    auto power_of_two = [](uint32_t v) { return v != 0 && (v & (v - 1)) == 0; };
    if (!power_of_two(layout.section_alignment) || !power_of_two(layout.file_alignment))
        return Error{"a damaged Windows program (its alignments are not powers of two)"};
    size_t table = layout.optional + optional_size;
    for (uint32_t i = 0; i < section_count; i++) {
        Section s;
        s.header = table + i * SECTION_HEADER_SIZE;
        s.virtual_size = bytes.u32(s.header + SECTION_VIRTUAL_SIZE);
        s.virtual_address = bytes.u32(s.header + SECTION_VIRTUAL_ADDRESS);
        s.raw_size = bytes.u32(s.header + SECTION_RAW_SIZE);
        s.raw_pointer = bytes.u32(s.header + SECTION_RAW_POINTER);
        s.characteristics = bytes.u32(s.header + SECTION_CHARACTERISTICS);
        if (s.raw_size != 0 && uint64_t(s.raw_pointer) + s.raw_size > image.size())
            return Error{"a damaged Windows program (a section runs past the end of the file)"};
        layout.sections.push_back(s);
    }
    if (!bytes.ok)
        return Error{"a damaged Windows program (its headers are cut short)"};
    return layout;
}

// The file bytes of `size` bytes at `rva`, or an empty span when they are
// not all in one section's file data.
std::span<const uint8_t> at_rva(std::span<const uint8_t> image, const PeLayout &layout,
                                uint32_t rva, uint32_t size) {
    int index = layout.section_of(rva);
    if (index < 0)
        return {};
    const Section &s = layout.sections[static_cast<size_t>(index)];
    uint64_t inside = rva - s.virtual_address;
    if (inside + size > s.raw_size)
        return {};
    return image.subspan(s.raw_pointer + inside, size);
}

// Reads the resource tree below the directory at `offset` of the section.
struct TreeReader {
    std::span<const uint8_t> image;
    const PeLayout &layout;
    Bytes section;
    std::vector<Resource> resources;
    std::string error;

    std::optional<ResourceKey> key(uint32_t name) {
        ResourceKey result;
        if (!(name & RESOURCE_NAMED)) {
            if (name > 0xffff) {
                error = "an entry's number is out of range";
                return std::nullopt;
            }
            result.id = static_cast<uint16_t>(name);
            return result;
        }
        size_t at = name & ~RESOURCE_NAMED;
        uint16_t length = section.u16(at);
        if (length == 0 || length > MAX_RESOURCE_NAME) {
            error = "an entry's name is empty or too long";
            return std::nullopt;
        }
        for (size_t i = 0; i < length; i++)
            result.text.push_back(static_cast<char16_t>(section.u16(at + 2 + 2 * i)));
        if (!section.ok) {
            error = "an entry's name runs past the section";
            return std::nullopt;
        }
        return result;
    }

    // level 0: types, 1: names, 2: languages (whose entries are data).
    bool read(size_t offset, int level, Resource path) {
        uint32_t named = section.u16(offset + 12);
        uint32_t ids = section.u16(offset + 14);
        if (!section.ok) {
            error = "a directory runs past the section";
            return false;
        }
        for (uint32_t i = 0; i < named + ids; i++) {
            size_t entry = offset + 16 + 8 * size_t(i);
            uint32_t name = section.u32(entry);
            uint32_t target = section.u32(entry + 4);
            if (!section.ok) {
                error = "a directory's entries run past the section";
                return false;
            }
            std::optional<ResourceKey> k = key(name);
            if (!k)
                return false;
            Resource here = path;
            if (level == 0)
                here.type = *k;
            else if (level == 1)
                here.name = *k;
            else if (!k->text.empty()) {
                error = "a language given by name";
                return false;
            } else
                here.language = k->id;
            bool subdirectory = (target & RESOURCE_SUBDIRECTORY) != 0;
            // A tree three levels deep, each level a directory, refers to no
            // directory it is inside: no loop is possible.
            if (subdirectory != (level < 2)) {
                error = "the tree is not three levels deep";
                return false;
            }
            if (subdirectory) {
                if (!read(target & ~RESOURCE_SUBDIRECTORY, level + 1, here))
                    return false;
                continue;
            }
            uint32_t rva = section.u32(target);
            uint32_t size = section.u32(target + 4);
            here.codepage = section.u32(target + 8);
            if (!section.ok) {
                error = "a data entry runs past the section";
                return false;
            }
            std::span<const uint8_t> data = at_rva(image, layout, rva, size);
            if (data.size() != size || (size != 0 && data.empty())) {
                error = "a resource's data lie outside the file";
                return false;
            }
            if (resources.size() >= MAX_RESOURCES) {
                error = "too many resources";
                return false;
            }
            here.data.assign(data.begin(), data.end());
            resources.push_back(std::move(here));
        }
        return true;
    }
};

// Where the resource section is, with what the image says about it.
struct ResourcePlace {
    PeLayout layout;
    int section = -1; // -1: no resource directory
};

Expected<ResourcePlace> find_resources(std::span<const uint8_t> image) {
    Expected<PeLayout> layout = read_layout(image);
    if (!layout)
        return layout.error();
    ResourcePlace place{*layout};
    Bytes bytes{image};
    auto [rva, size] = layout->directory(bytes, DIRECTORY_RESOURCE);
    if (rva == 0 && size == 0)
        return place;
    place.section = layout->section_of(rva);
    if (place.section < 0 || layout->sections[size_t(place.section)].virtual_address != rva)
        return Error{"the resource directory does not begin a section of its own"};
    return place;
}

// ---- Writing the tree --------------------------------------------------------

bool key_less(const ResourceKey &a, const ResourceKey &b) {
    // Named entries come first, in order of their names; then numbers.
    if (a.text.empty() != b.text.empty())
        return !a.text.empty();
    if (!a.text.empty())
        return a.text < b.text;
    return a.id < b.id;
}

struct KeyLess {
    bool operator()(const ResourceKey &a, const ResourceKey &b) const { return key_less(a, b); }
};

using LanguageMap = std::map<uint16_t, const Resource *>;
using NameMap = std::map<ResourceKey, LanguageMap, KeyLess>;
using TypeMap = std::map<ResourceKey, NameMap, KeyLess>;

// The section's bytes for `resources` placed at `section_rva`: the
// directories, then the data entries, then the names, then the data, each
// datum on an 8-byte boundary.
std::vector<uint8_t> build_section(const TypeMap &tree, uint32_t section_rva) {
    // The sizes of the parts, to know where each starts.
    size_t directories = 16 + 8 * tree.size();
    size_t leaves = 0;
    std::vector<const std::u16string *> names;
    auto note_name = [&](const ResourceKey &k) {
        if (!k.text.empty())
            names.push_back(&k.text);
    };
    for (const auto &[type, by_name] : tree) {
        note_name(type);
        directories += 16 + 8 * by_name.size();
        for (const auto &[name, by_language] : by_name) {
            note_name(name);
            directories += 16 + 8 * by_language.size();
            leaves += by_language.size();
        }
    }
    size_t entries_at = directories;
    size_t names_at = entries_at + 16 * leaves;
    size_t names_size = 0;
    for (const std::u16string *text : names)
        names_size += 2 + 2 * text->size();
    size_t data_at = align_up(names_at + names_size, 8);

    std::vector<uint8_t> out(data_at, 0);
    size_t next_directory = 0, next_entry = entries_at, next_name = names_at;
    std::map<const std::u16string *, size_t> name_offsets;
    auto name_field = [&](const ResourceKey &k) -> uint32_t {
        if (k.text.empty())
            return k.id;
        size_t at = next_name;
        put16(out, at, static_cast<uint32_t>(k.text.size()));
        for (size_t i = 0; i < k.text.size(); i++)
            put16(out, at + 2 + 2 * i, k.text[i]);
        next_name += 2 + 2 * k.text.size();
        return static_cast<uint32_t>(at) | RESOURCE_NAMED;
    };
    // A directory's header; its entries are filled by the caller.
    auto open_directory = [&](size_t named, size_t ids) {
        size_t at = next_directory;
        put16(out, at + 12, static_cast<uint32_t>(named));
        put16(out, at + 14, static_cast<uint32_t>(ids));
        next_directory += 16 + 8 * (named + ids);
        return at;
    };
    auto count_named = [](const auto &map) {
        size_t named = 0;
        for (const auto &item : map)
            named += item.first.text.empty() ? 0 : 1;
        return named;
    };

    size_t root = open_directory(count_named(tree), tree.size() - count_named(tree));
    size_t type_index = 0;
    for (const auto &[type, by_name] : tree) {
        size_t type_entry = root + 16 + 8 * type_index++;
        size_t named = count_named(by_name);
        size_t type_dir = open_directory(named, by_name.size() - named);
        put32(out, type_entry, name_field(type));
        put32(out, type_entry + 4, static_cast<uint32_t>(type_dir) | RESOURCE_SUBDIRECTORY);
        size_t name_index = 0;
        for (const auto &[name, by_language] : by_name) {
            size_t name_entry = type_dir + 16 + 8 * name_index++;
            size_t language_dir = open_directory(0, by_language.size());
            put32(out, name_entry, name_field(name));
            put32(out, name_entry + 4, static_cast<uint32_t>(language_dir) | RESOURCE_SUBDIRECTORY);
            size_t language_index = 0;
            for (const auto &[language, resource] : by_language) {
                size_t language_entry = language_dir + 16 + 8 * language_index++;
                put32(out, language_entry, language);
                put32(out, language_entry + 4, static_cast<uint32_t>(next_entry));
                pad_to(out, 8);
                put32(out, next_entry, static_cast<uint32_t>(section_rva + out.size()));
                put32(out, next_entry + 4, static_cast<uint32_t>(resource->data.size()));
                put32(out, next_entry + 8, resource->codepage);
                next_entry += 16;
                out.insert(out.end(), resource->data.begin(), resource->data.end());
            }
        }
    }
    return out;
}

// The PE checksum: 16-bit one's-complement-style sum of the file with the
// checksum field taken as zero, plus the file's length.
uint32_t pe_checksum(std::span<const uint8_t> file, size_t checksum_offset) {
    uint64_t sum = 0;
    for (size_t i = 0; i < file.size(); i += 2) {
        if (i == checksum_offset || i == checksum_offset + 2)
            continue;
        uint32_t word = file[i] | (i + 1 < file.size() ? uint32_t(file[i + 1]) << 8 : 0);
        sum += word;
        sum = (sum & 0xffff) + (sum >> 16);
    }
    sum = (sum & 0xffff) + (sum >> 16);
    return static_cast<uint32_t>(sum + file.size());
}

} // namespace

Expected<std::vector<Resource>> pe_read_resources(std::span<const uint8_t> image) {
    Expected<ResourcePlace> place = find_resources(image);
    if (!place)
        return place.error();
    if (place->section < 0)
        return std::vector<Resource>{};
    const Section &s = place->layout.sections[size_t(place->section)];
    TreeReader reader{
        image, place->layout, Bytes{image.subspan(s.raw_pointer, s.raw_size)}, {}, {}};
    if (!reader.read(0, 0, Resource{}))
        return Error{"a damaged resource directory: " + reader.error};
    return std::move(reader.resources);
}

Expected<std::vector<uint8_t>> pe_replace_resources(std::span<const uint8_t> image,
                                                    const std::vector<Resource> &resources) {
    Expected<ResourcePlace> place = find_resources(image);
    if (!place)
        return place.error();
    PeLayout &layout = place->layout;
    Bytes bytes{image};
    if (layout.directory(bytes, DIRECTORY_SECURITY).first != 0)
        return Error{"a signed program: remove its signature first, and sign after packing"};
    if (bytes.u32(layout.optional - COFF_SIZE + COFF_SYMBOL_TABLE) != 0)
        return Error{"the program has a symbol table behind its sections: strip it first"};
    if (place->section < 0)
        return Error{"the program has no resource section"};

    // The sections in the order of their addresses, which must also be their
    // order in the file; behind the resource section only the relocations.
    std::vector<Section> &sections = layout.sections;
    std::vector<size_t> order(sections.size());
    for (size_t i = 0; i < order.size(); i++)
        order[i] = i;
    std::sort(order.begin(), order.end(), [&](size_t a, size_t b) {
        return sections[a].virtual_address < sections[b].virtual_address;
    });
    size_t rsrc_rank =
        std::find(order.begin(), order.end(), size_t(place->section)) - order.begin();
    auto [reloc_rva, reloc_size] = layout.directory(bytes, DIRECTORY_BASERELOC);
    std::vector<size_t> behind(order.begin() + static_cast<long>(rsrc_rank) + 1, order.end());
    for (size_t index : behind) {
        const Section &s = sections[index];
        bool relocations = reloc_rva != 0 && s.virtual_address == reloc_rva &&
                           reloc_size <= std::max(s.virtual_size, s.raw_size);
        for (uint32_t d = 0; d < layout.directory_count; d++) {
            uint32_t rva = layout.directory(bytes, d).first;
            if (d != DIRECTORY_BASERELOC && rva != 0 && layout.section_of(rva) == int(index))
                relocations = false;
        }
        if (!relocations)
            return Error{"a section other than the relocations lies behind the resources"};
    }
    uint64_t file_end = 0;
    for (const Section &s : sections)
        if (s.raw_size != 0)
            file_end = std::max<uint64_t>(file_end, uint64_t(s.raw_pointer) + s.raw_size);
    // In the file too: everything in front of the resources ends where they
    // begin, everything behind them starts behind them.
    const uint32_t rsrc_start = sections[size_t(place->section)].raw_pointer;
    const uint32_t headers_end = bytes.u32(layout.optional + OPT_SIZE_OF_HEADERS);
    const uint64_t table_end =
        layout.sections.empty() ? 0 : layout.sections.back().header + SECTION_HEADER_SIZE;
    if (table_end > headers_end || rsrc_start < headers_end)
        return Error{"the resource section overlaps the program's headers"};
    for (size_t rank = 0; rank < order.size(); rank++) {
        const Section &s = sections[order[rank]];
        if (s.raw_size == 0 || rank == rsrc_rank)
            continue;
        bool in_front = rank < rsrc_rank;
        if (in_front ? uint64_t(s.raw_pointer) + s.raw_size > rsrc_start
                     : s.raw_pointer < rsrc_start)
            return Error{"the sections' order in the file is not their order in memory"};
    }
    for (uint64_t i = file_end; i < image.size(); i++)
        if (image[i] != 0)
            return Error{"the program has data behind its last section"};

    TypeMap tree;
    for (const Resource &resource : resources) {
        const Resource *&slot = tree[resource.type][resource.name][resource.language];
        if (slot != nullptr)
            return Error{"two resources of the same type, name and language"};
        slot = &resource;
    }

    // The resource section, rebuilt where it was.
    Section &rsrc = sections[size_t(place->section)];
    std::vector<uint8_t> section_bytes = build_section(tree, rsrc.virtual_address);
    uint64_t raw_size = align_up(section_bytes.size(), layout.file_alignment);
    std::vector<uint8_t> out(image.begin(), image.begin() + rsrc.raw_pointer);
    out.insert(out.end(), section_bytes.begin(), section_bytes.end());
    out.resize(rsrc.raw_pointer + raw_size, 0);
    int64_t initialized_growth = int64_t(raw_size) - int64_t(rsrc.raw_size);
    rsrc.virtual_size = static_cast<uint32_t>(section_bytes.size());
    rsrc.raw_size = static_cast<uint32_t>(raw_size);

    // The relocations behind it, moved in memory and in the file.
    uint64_t next_rva =
        align_up(uint64_t(rsrc.virtual_address) + rsrc.virtual_size, layout.section_alignment);
    for (size_t index : behind) {
        Section &s = sections[index];
        std::span<const uint8_t> raw = image.subspan(s.raw_pointer, s.raw_size);
        uint32_t old_rva = s.virtual_address;
        s.virtual_address = static_cast<uint32_t>(next_rva);
        s.raw_pointer = s.raw_size != 0 ? static_cast<uint32_t>(out.size()) : 0;
        out.insert(out.end(), raw.begin(), raw.end());
        next_rva =
            align_up(next_rva + std::max(s.virtual_size, s.raw_size), layout.section_alignment);
        if (old_rva == reloc_rva)
            put32(out, layout.directories + 8 * DIRECTORY_BASERELOC, s.virtual_address);
    }
    if (out.size() > UINT32_MAX || next_rva > UINT32_MAX)
        return Error{"the program would be larger than 4 GiB"};

    for (const Section &s : sections) {
        put32(out, s.header + SECTION_VIRTUAL_SIZE, s.virtual_size);
        put32(out, s.header + SECTION_VIRTUAL_ADDRESS, s.virtual_address);
        put32(out, s.header + SECTION_RAW_SIZE, s.raw_size);
        put32(out, s.header + SECTION_RAW_POINTER, s.raw_pointer);
    }
    put32(out, layout.directories + 8 * DIRECTORY_RESOURCE, rsrc.virtual_address);
    put32(out, layout.directories + 8 * DIRECTORY_RESOURCE + 4,
          static_cast<uint32_t>(section_bytes.size()));
    uint64_t image_end = 0;
    for (const Section &s : sections)
        image_end = std::max<uint64_t>(image_end, uint64_t(s.virtual_address) +
                                                      std::max(s.virtual_size, s.raw_size));
    put32(out, layout.optional + OPT_SIZE_OF_IMAGE,
          static_cast<uint32_t>(align_up(image_end, layout.section_alignment)));
    if (rsrc.characteristics & SECTION_INITIALIZED_DATA) {
        int64_t initialized = int64_t(bytes.u32(layout.optional + OPT_INITIALIZED_DATA));
        put32(out, layout.optional + OPT_INITIALIZED_DATA,
              static_cast<uint32_t>(std::max<int64_t>(0, initialized + initialized_growth)));
    }
    if (bytes.u32(layout.optional + OPT_CHECKSUM) != 0)
        put32(out, layout.optional + OPT_CHECKSUM,
              pe_checksum(out, layout.optional + OPT_CHECKSUM));
    return out;
}

// ---- Icons and the version -----------------------------------------------------

void resources_set_icon_group(std::vector<Resource> &resources, uint16_t group,
                              const std::vector<IconEntry> &entries) {
    uint16_t language = 0;
    std::set<uint16_t> dropped;
    for (const Resource &r : resources) {
        if (r.type.id != RESOURCE_TYPE_GROUP_ICON || !r.type.text.empty() || r.name.id != group ||
            !r.name.text.empty())
            continue;
        language = r.language;
        // GRPICONDIR: 6 bytes, then 14 bytes per image, its id last.
        for (size_t at = 6; at + 14 <= r.data.size(); at += 14)
            dropped.insert(static_cast<uint16_t>(r.data[at + 12] | r.data[at + 13] << 8));
    }
    std::erase_if(resources, [&](const Resource &r) {
        if (!r.type.text.empty() || !r.name.text.empty())
            return false;
        return (r.type.id == RESOURCE_TYPE_GROUP_ICON && r.name.id == group) ||
               (r.type.id == RESOURCE_TYPE_ICON && dropped.count(r.name.id) != 0);
    });
    std::set<uint16_t> used;
    for (const Resource &r : resources)
        if (r.type.id == RESOURCE_TYPE_ICON && r.type.text.empty() && r.name.text.empty())
            used.insert(r.name.id);

    Resource directory;
    directory.type.id = RESOURCE_TYPE_GROUP_ICON;
    directory.name.id = group;
    directory.language = language;
    append16(directory.data, 0);
    append16(directory.data, 1); // icons
    append16(directory.data, static_cast<uint32_t>(entries.size()));
    uint16_t next_id = 1;
    for (const IconEntry &entry : entries) {
        while (used.count(next_id) != 0)
            next_id++;
        used.insert(next_id);
        directory.data.push_back(static_cast<uint8_t>(entry.width >= 256 ? 0 : entry.width));
        directory.data.push_back(static_cast<uint8_t>(entry.height >= 256 ? 0 : entry.height));
        directory.data.push_back(0); // colour count: not a palette image
        directory.data.push_back(0);
        append16(directory.data, 1);  // planes
        append16(directory.data, 32); // bits per pixel
        append32(directory.data, static_cast<uint32_t>(entry.bytes.size()));
        append16(directory.data, next_id);
        Resource image;
        image.type.id = RESOURCE_TYPE_ICON;
        image.name.id = next_id;
        image.language = language;
        image.data = entry.bytes;
        resources.push_back(std::move(image));
    }
    resources.push_back(std::move(directory));
}

std::optional<std::u16string> utf8_to_utf16(const std::string &text) {
    std::u16string out;
    for (size_t i = 0; i < text.size();) {
        uint8_t lead = static_cast<uint8_t>(text[i]);
        size_t length = lead < 0x80         ? 1
                        : (lead >> 5) == 6  ? 2
                        : (lead >> 4) == 14 ? 3
                        : (lead >> 3) == 30 ? 4
                                            : 0;
        if (length == 0 || i + length > text.size())
            return std::nullopt;
        uint32_t code = length == 1 ? lead : lead & (0x7f >> length);
        for (size_t k = 1; k < length; k++) {
            uint8_t next = static_cast<uint8_t>(text[i + k]);
            if ((next & 0xc0) != 0x80)
                return std::nullopt;
            code = code << 6 | (next & 0x3f);
        }
        static const uint32_t smallest[5] = {0, 0, 0x80, 0x800, 0x10000};
        if (code < smallest[length] || code > 0x10ffff || (code >= 0xd800 && code < 0xe000))
            return std::nullopt;
        if (code >= 0x10000) {
            code -= 0x10000;
            out.push_back(static_cast<char16_t>(0xd800 + (code >> 10)));
            out.push_back(static_cast<char16_t>(0xdc00 + (code & 0x3ff)));
        } else {
            out.push_back(static_cast<char16_t>(code));
        }
        i += length;
    }
    return out;
}

namespace {

// One node of a version resource: its length, its value's length (in
// characters for text, else bytes), its type, its key, then its value and
// its children, each on a 4-byte boundary.
std::vector<uint8_t> version_node(const std::u16string &key, const std::vector<uint8_t> &value,
                                  size_t value_length, bool text,
                                  const std::vector<std::vector<uint8_t>> &children) {
    std::vector<uint8_t> out(6, 0);
    for (char16_t c : key)
        append16(out, c);
    append16(out, 0);
    pad_to(out, 4);
    out.insert(out.end(), value.begin(), value.end());
    for (const std::vector<uint8_t> &child : children) {
        pad_to(out, 4);
        out.insert(out.end(), child.begin(), child.end());
    }
    put16(out, 0, static_cast<uint32_t>(out.size()));
    put16(out, 2, static_cast<uint32_t>(value_length));
    put16(out, 4, text ? 1 : 0);
    return out;
}

std::vector<uint8_t> text_node(const std::u16string &key, const std::u16string &value) {
    std::vector<uint8_t> bytes;
    for (char16_t c : value)
        append16(bytes, c);
    append16(bytes, 0);
    return version_node(key, bytes, value.size() + 1, true, {});
}

std::u16string ascii16(const char *text) {
    std::u16string out;
    while (*text)
        out.push_back(static_cast<char16_t>(*text++));
    return out;
}

} // namespace

std::vector<uint8_t> version_resource(const VersionInfo &info, uint16_t language) {
    const uint16_t *n = info.numbers;
    std::vector<uint8_t> fixed;
    append32(fixed, 0xfeef04bd);              // the signature
    append32(fixed, 0x00010000);              // structure version 1.0
    for (int twice = 0; twice < 2; twice++) { // the file's version, then the product's
        append32(fixed, uint32_t(n[0]) << 16 | n[1]);
        append32(fixed, uint32_t(n[2]) << 16 | n[3]);
    }
    append32(fixed, 0x3f);    // the flags that mean anything
    append32(fixed, 0);       // none of them set
    append32(fixed, 0x40004); // Windows NT, 32-bit API
    append32(fixed, 1);       // an application
    append32(fixed, 0);       // no subtype
    append32(fixed, 0);       // no date
    append32(fixed, 0);

    const std::pair<const char *, const std::string *> texts[] = {
        {"CompanyName", &info.company},      {"FileDescription", &info.description},
        {"FileVersion", &info.version},      {"InternalName", &info.internal_name},
        {"LegalCopyright", &info.copyright}, {"OriginalFilename", &info.original_filename},
        {"ProductName", &info.product},      {"ProductVersion", &info.version},
    };
    std::vector<std::vector<uint8_t>> strings;
    for (const auto &[key, value] : texts)
        if (!value->empty())
            strings.push_back(text_node(ascii16(key), utf8_to_utf16(*value).value_or(u"?")));
    char table_key[9];
    std::snprintf(table_key, sizeof table_key, "%04X04B0", language);
    std::vector<uint8_t> table = version_node(ascii16(table_key), {}, 0, true, strings);
    std::vector<uint8_t> string_info = version_node(u"StringFileInfo", {}, 0, true, {table});
    std::vector<uint8_t> translation;
    append16(translation, language);
    append16(translation, 1200); // UTF-16
    std::vector<uint8_t> var = version_node(u"Translation", translation, 4, false, {});
    std::vector<uint8_t> var_info = version_node(u"VarFileInfo", {}, 0, true, {var});
    return version_node(u"VS_VERSION_INFO", fixed, fixed.size(), false, {string_info, var_info});
}

void resources_set_version(std::vector<Resource> &resources, const VersionInfo &info) {
    uint16_t language = 0x0411, directory_language = 0x0411;
    auto is_version = [](const Resource &r) {
        return r.type.text.empty() && r.type.id == RESOURCE_TYPE_VERSION;
    };
    for (const Resource &r : resources)
        if (is_version(r)) {
            directory_language = r.language;
            language = r.language != 0 ? r.language : language;
            break;
        }
    std::erase_if(resources, is_version);
    Resource version;
    version.type.id = RESOURCE_TYPE_VERSION;
    version.name.id = 1;
    version.language = directory_language;
    version.data = version_resource(info, language);
    resources.push_back(std::move(version));
}

} // namespace kmov
