// The author's own icon and version in a player template: the PE resource
// writer on a small PE made here (and on the real Linux template's icon
// record), the icon pictures, and the version text.
#include "branding.h"
#include "icon_image.h"
#include "packer.h"
#include "pe_resources.h"
#include "res/window_icon.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <tuple>
#include <string>
#include <unistd.h>

namespace kmov {
namespace {

// ---- A small PE32+ image: .text, .rsrc (an empty tree), .reloc -------------------------

enum : uint32_t {
    FILE_ALIGN = 0x200,
    SECTION_ALIGN = 0x1000,
    PE_AT = 0x40,
    OPTIONAL_AT = PE_AT + 4 + 20,
    DIRECTORIES_AT = OPTIONAL_AT + 112,
    SECTIONS_AT = OPTIONAL_AT + 240,
    TEXT_RAW = 0x400,
    RSRC_RAW = 0x600,
    RELOC_RAW = 0x800,
    TEXT_RVA = 0x1000,
    RSRC_RVA = 0x2000,
    RELOC_RVA = 0x3000,
    RELOC_BYTES = 12,
};

uint32_t get32(const std::vector<uint8_t> &b, size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | uint32_t(b[at + 3]) << 24;
}
void set32(std::vector<uint8_t> &b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; i++)
        b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}
void set16(std::vector<uint8_t> &b, size_t at, uint32_t v) {
    b[at] = static_cast<uint8_t>(v);
    b[at + 1] = static_cast<uint8_t>(v >> 8);
}

std::vector<uint8_t> small_pe(bool with_checksum = false) {
    std::vector<uint8_t> pe(RELOC_RAW + FILE_ALIGN, 0);
    pe[0] = 'M';
    pe[1] = 'Z';
    set32(pe, 0x3c, PE_AT);
    std::memcpy(&pe[PE_AT], "PE\0\0", 4);
    set16(pe, PE_AT + 4, 0x8664);
    set16(pe, PE_AT + 6, 3);        // sections
    set16(pe, PE_AT + 4 + 16, 240); // optional header
    set16(pe, OPTIONAL_AT, 0x20b);
    set32(pe, OPTIONAL_AT + 8, 2 * FILE_ALIGN); // initialized data: .rsrc and .reloc
    set32(pe, OPTIONAL_AT + 32, SECTION_ALIGN);
    set32(pe, OPTIONAL_AT + 36, FILE_ALIGN);
    set32(pe, OPTIONAL_AT + 56, RELOC_RVA + SECTION_ALIGN);
    set32(pe, OPTIONAL_AT + 60, TEXT_RAW);
    set32(pe, OPTIONAL_AT + 64, with_checksum ? 1 : 0);
    set32(pe, OPTIONAL_AT + 108, 16);
    set32(pe, DIRECTORIES_AT + 8 * 2, RSRC_RVA);
    set32(pe, DIRECTORIES_AT + 8 * 2 + 4, 16);
    set32(pe, DIRECTORIES_AT + 8 * 5, RELOC_RVA);
    set32(pe, DIRECTORIES_AT + 8 * 5 + 4, RELOC_BYTES);
    struct {
        const char *name;
        uint32_t rva, size, raw, flags;
    } sections[] = {{".text", TEXT_RVA, 0x80, TEXT_RAW, 0x60000020},
                    {".rsrc", RSRC_RVA, 16, RSRC_RAW, 0xc0000040},
                    {".reloc", RELOC_RVA, RELOC_BYTES, RELOC_RAW, 0x42000040}};
    for (size_t i = 0; i < 3; i++) {
        size_t h = SECTIONS_AT + 40 * i;
        std::memcpy(&pe[h], sections[i].name, std::strlen(sections[i].name));
        set32(pe, h + 8, sections[i].size);
        set32(pe, h + 12, sections[i].rva);
        set32(pe, h + 16, FILE_ALIGN);
        set32(pe, h + 20, sections[i].raw);
        set32(pe, h + 36, sections[i].flags);
    }
    for (uint32_t i = 0; i < 0x80; i++)
        pe[TEXT_RAW + i] = static_cast<uint8_t>(0x90 + i);
    for (uint32_t i = 0; i < RELOC_BYTES; i++)
        pe[RELOC_RAW + i] = static_cast<uint8_t>(0xa0 + i);
    return pe; // the resource tree: an empty root directory of zeros
}

Resource resource(uint16_t type, uint16_t name, uint16_t language, size_t size, uint8_t fill) {
    Resource r;
    r.type.id = type;
    r.name.id = name;
    r.language = language;
    r.data.assign(size, fill);
    return r;
}

// The same leaves, whatever their order.
void expect_same_resources(std::vector<Resource> a, std::vector<Resource> b) {
    auto key = [](const Resource &r) {
        return std::make_tuple(r.type.text, r.type.id, r.name.text, r.name.id, r.language);
    };
    auto less = [&](const Resource &x, const Resource &y) { return key(x) < key(y); };
    std::sort(a.begin(), a.end(), less);
    std::sort(b.begin(), b.end(), less);
    ASSERT_EQ(a.size(), b.size());
    for (size_t i = 0; i < a.size(); i++) {
        EXPECT_EQ(key(a[i]), key(b[i]));
        EXPECT_EQ(a[i].data, b[i].data);
        EXPECT_EQ(a[i].codepage, b[i].codepage);
    }
}

struct SectionHeader {
    uint32_t virtual_size, rva, raw_size, raw;
};
SectionHeader section(const std::vector<uint8_t> &pe, int index) {
    size_t h = SECTIONS_AT + 40 * size_t(index);
    return {get32(pe, h + 8), get32(pe, h + 12), get32(pe, h + 16), get32(pe, h + 20)};
}

TEST(PeResources, GrowingTheSectionMovesOnlyTheRelocations) {
    const std::vector<uint8_t> pe = small_pe();
    std::vector<Resource> resources = {resource(3, 1, 1033, 70000, 0x11),
                                       resource(3, 2, 1033, 5, 0x22),
                                       resource(16, 1, 1033, 300, 0x33)};
    Resource named = resource(0, 0, 0, 9, 0x44);
    named.type.text = u"MYDATA";
    named.name.text = u"Thing";
    named.codepage = 1252;
    resources.push_back(named);

    Expected<std::vector<uint8_t>> out = pe_replace_resources(pe, resources);
    ASSERT_TRUE(out) << out.error().message;
    Expected<std::vector<Resource>> back = pe_read_resources(*out);
    ASSERT_TRUE(back) << back.error().message;
    expect_same_resources(resources, *back);

    // Code keeps its place and bytes.
    SectionHeader text = section(*out, 0), rsrc = section(*out, 1), reloc = section(*out, 2);
    EXPECT_EQ(text.rva, TEXT_RVA);
    EXPECT_TRUE(std::equal(pe.begin() + TEXT_RAW, pe.begin() + TEXT_RAW + FILE_ALIGN,
                           out->begin() + TEXT_RAW));
    // The resources grow in place, the relocations follow them.
    EXPECT_EQ(rsrc.rva, RSRC_RVA);
    EXPECT_EQ(rsrc.raw, RSRC_RAW);
    EXPECT_GT(rsrc.virtual_size, 70000u);
    EXPECT_EQ(rsrc.raw_size % FILE_ALIGN, 0u);
    EXPECT_GE(rsrc.raw_size, rsrc.virtual_size);
    EXPECT_EQ(reloc.rva % SECTION_ALIGN, 0u);
    EXPECT_GE(reloc.rva, rsrc.rva + rsrc.virtual_size);
    EXPECT_EQ(reloc.raw, rsrc.raw + rsrc.raw_size);
    EXPECT_TRUE(std::equal(pe.begin() + RELOC_RAW, pe.begin() + RELOC_RAW + FILE_ALIGN,
                           out->begin() + reloc.raw));
    EXPECT_EQ(out->size(), size_t(reloc.raw) + reloc.raw_size);
    // The headers that depend on them.
    EXPECT_EQ(get32(*out, DIRECTORIES_AT + 8 * 2), RSRC_RVA);
    EXPECT_EQ(get32(*out, DIRECTORIES_AT + 8 * 2 + 4), rsrc.virtual_size);
    EXPECT_EQ(get32(*out, DIRECTORIES_AT + 8 * 5), reloc.rva);
    EXPECT_EQ(get32(*out, DIRECTORIES_AT + 8 * 5 + 4), uint32_t(RELOC_BYTES));
    EXPECT_EQ(get32(*out, OPTIONAL_AT + 56), reloc.rva + SECTION_ALIGN);
    EXPECT_EQ(get32(*out, OPTIONAL_AT + 8), FILE_ALIGN + rsrc.raw_size);
    EXPECT_EQ(get32(*out, OPTIONAL_AT + 64), 0u); // no checksum before, none after

    // Shrinking back gives the first layout again.
    Expected<std::vector<uint8_t>> again = pe_replace_resources(*out, {});
    ASSERT_TRUE(again) << again.error().message;
    EXPECT_EQ(section(*again, 2).rva, RELOC_RVA);
    EXPECT_EQ(again->size(), pe.size());
}

TEST(PeResources, ChecksumIsRecomputedWhenThereIsOne) {
    Expected<std::vector<uint8_t>> out =
        pe_replace_resources(small_pe(true), {resource(3, 1, 0, 1000, 0x55)});
    ASSERT_TRUE(out);
    // The sum of the file's 16-bit words with the field itself taken as zero,
    // folded, plus the length.
    const std::vector<uint8_t> &file = *out;
    uint64_t sum = 0;
    for (size_t i = 0; i < file.size(); i += 2) {
        if (i != OPTIONAL_AT + 64 && i != OPTIONAL_AT + 66)
            sum += file[i] | file[i + 1] << 8;
        sum = (sum & 0xffff) + (sum >> 16);
    }
    EXPECT_EQ(get32(*out, OPTIONAL_AT + 64), uint32_t(sum + file.size()));
}

TEST(PeResources, RefusesWhatItCannotRebuildSafely) {
    struct Case {
        const char *what;
        void (*damage)(std::vector<uint8_t> &);
        const char *message;
    };
    const Case cases[] = {
        {"signed", [](std::vector<uint8_t> &pe) { set32(pe, DIRECTORIES_AT + 8 * 4, 0x900); },
         "signed"},
        {"symbol table", [](std::vector<uint8_t> &pe) { set32(pe, PE_AT + 4 + 8, 0x900); },
         "symbol table"},
        {"data behind the sections", [](std::vector<uint8_t> &pe) { pe.push_back(1); },
         "behind its last section"},
        {"a section behind the resources other than the relocations",
         [](std::vector<uint8_t> &pe) { set32(pe, DIRECTORIES_AT + 8 * 5, 0); },
         "other than the relocations"},
        {"resources not at their section's start",
         [](std::vector<uint8_t> &pe) { set32(pe, DIRECTORIES_AT + 8 * 2, RSRC_RVA + 8); },
         "section of its own"},
        {"code whose bytes lie behind the resources",
         [](std::vector<uint8_t> &pe) { set32(pe, SECTIONS_AT + 20, RELOC_RAW); },
         "order in the file"},
        {"resources over the headers",
         [](std::vector<uint8_t> &pe) { set32(pe, SECTIONS_AT + 40 + 20, 0x200); },
         "overlaps the program's headers"},
        {"no MZ", [](std::vector<uint8_t> &pe) { pe[0] = 'X'; }, "not a Windows program"},
        {"cut short", [](std::vector<uint8_t> &pe) { pe.resize(0x100); }, "cut short"},
        {"a section past the end",
         [](std::vector<uint8_t> &pe) { set32(pe, SECTIONS_AT + 40 + 16, 0x100000); },
         "past the end"},
    };
    for (const Case &c : cases) {
        std::vector<uint8_t> pe = small_pe();
        c.damage(pe);
        Expected<std::vector<uint8_t>> out = pe_replace_resources(pe, {});
        ASSERT_FALSE(out) << c.what;
        EXPECT_NE(out.error().message.find(c.message), std::string::npos)
            << c.what << ": " << out.error().message;
    }
    // Zero padding behind the sections (as a signature's removal leaves) is
    // dropped, not refused.
    std::vector<uint8_t> padded = small_pe();
    padded.resize(padded.size() + 5, 0);
    Expected<std::vector<uint8_t>> out = pe_replace_resources(padded, {});
    ASSERT_TRUE(out) << out.error().message;
    EXPECT_EQ(out->size(), small_pe().size());
}

TEST(PeResources, DamagedTreesAreErrorsNotReadsOutside) {
    Expected<std::vector<uint8_t>> good =
        pe_replace_resources(small_pe(), {resource(3, 1, 0, 10, 1), resource(3, 2, 0, 10, 2)});
    ASSERT_TRUE(good);
    const size_t root = RSRC_RAW;
    // root: 16 + 8; type 3: 16 + 2 * 8; names: 2 x (16 + 8); then the data
    // entries, from 104.
    struct Case {
        const char *what;
        size_t at;
        uint32_t value;
        bool sixteen;
    };
    const Case cases[] = {
        {"a huge entry count", root + 14, 0xffff, true},
        {"a subdirectory past the section", root + 16 + 4, 0x80000000u | 0x7ffffff0u, false},
        {"the root as its own subdirectory", root + 16 + 4, 0x80000000u, false},
        {"a leaf at the type level", root + 16 + 4, 0x100, false},
        {"a name past the section", root + 16, 0x80000000u | 0x7ffffff0u, false},
        {"data outside the image", root + 104, 0x7ffffff0u, false},
        {"data running past its section", root + 104 + 4, 0x10000, false},
    };
    for (const Case &c : cases) {
        std::vector<uint8_t> pe = *good;
        if (c.sixteen)
            set16(pe, c.at, c.value);
        else
            set32(pe, c.at, c.value);
        Expected<std::vector<Resource>> read = pe_read_resources(pe);
        EXPECT_FALSE(read) << c.what;
    }
}

TEST(PeResources, IconGroupReplacesItsImagesAndKeepsOthers) {
    // Group 101 names icons 1 and 2; group 102 names icon 3.
    auto group = [](uint16_t name, std::vector<uint16_t> ids) {
        Resource r = resource(14, name, 1041, 0, 0);
        r.data = {0, 0, 1, 0, static_cast<uint8_t>(ids.size()), 0};
        for (uint16_t id : ids) {
            std::vector<uint8_t> entry(14, 0);
            entry[12] = static_cast<uint8_t>(id);
            r.data.insert(r.data.end(), entry.begin(), entry.end());
        }
        return r;
    };
    std::vector<Resource> resources = {group(101, {1, 2}), group(102, {3}),
                                       resource(3, 1, 1041, 4, 1), resource(3, 2, 1041, 4, 2),
                                       resource(3, 3, 1041, 4, 3)};
    std::vector<IconEntry> entries = {{16, 16, std::vector<uint8_t>(7, 0xaa)},
                                      {256, 256, std::vector<uint8_t>(9, 0xbb)}};
    resources_set_icon_group(resources, 101, entries);

    std::vector<uint16_t> icons;
    const Resource *directory = nullptr;
    for (const Resource &r : resources) {
        if (r.type.id == 3)
            icons.push_back(r.name.id);
        if (r.type.id == 14 && r.name.id == 101)
            directory = &r;
    }
    std::sort(icons.begin(), icons.end());
    EXPECT_EQ(icons, (std::vector<uint16_t>{1, 2, 3})); // 3 kept, 1 and 2 new
    ASSERT_NE(directory, nullptr);
    EXPECT_EQ(directory->language, 1041);
    ASSERT_EQ(directory->data.size(), 6u + 2 * 14);
    EXPECT_EQ(directory->data[4], 2);
    EXPECT_EQ(directory->data[6], 16);     // width
    EXPECT_EQ(directory->data[20], 0);     // 256 is written as 0
    EXPECT_EQ(directory->data[6 + 6], 32); // bits per pixel
    EXPECT_EQ(directory->data[20 + 8], 9); // bytes of the second image
    for (const Resource &r : resources)
        if (r.type.id == 3 && r.name.id == directory->data[20 + 12]) {
            EXPECT_EQ(r.data, entries[1].bytes);
        }
}

// The nodes of a version resource, walked as Windows reads them.
struct VersionNode {
    std::u16string key;
    std::vector<uint8_t> value;
    std::vector<VersionNode> children;
};
size_t read_node(const std::vector<uint8_t> &b, size_t at, VersionNode &node) {
    size_t length = b[at] | b[at + 1] << 8, value_length = b[at + 2] | b[at + 3] << 8;
    bool text = b[at + 4] == 1;
    size_t p = at + 6;
    while (b[p] | b[p + 1]) {
        node.key.push_back(static_cast<char16_t>(b[p] | b[p + 1] << 8));
        p += 2;
    }
    p = (p + 2 + 3) & ~size_t(3);
    size_t value_bytes = text ? 2 * value_length : value_length;
    node.value.assign(b.begin() + long(p), b.begin() + long(p + value_bytes));
    p = (p + value_bytes + 3) & ~size_t(3);
    while (p < at + length) {
        node.children.emplace_back();
        p = (read_node(b, p, node.children.back()) + 3) & ~size_t(3);
    }
    return at + length;
}

TEST(VersionResource, ReadsBackAsWindowsWalksIt) {
    VersionInfo info;
    info.company = "Acme";
    info.product = "Thing";
    info.version = "2.3.4";
    info.numbers[0] = 2;
    info.numbers[1] = 3;
    info.numbers[2] = 4;
    info.description = reinterpret_cast<const char *>(u8"ムービー"); // beyond ASCII
    std::vector<uint8_t> bytes = version_resource(info, 0x0411);
    VersionNode root;
    ASSERT_EQ(read_node(bytes, 0, root), bytes.size());
    EXPECT_EQ(root.key, u"VS_VERSION_INFO");
    ASSERT_EQ(root.value.size(), 52u);
    EXPECT_EQ(get32(root.value, 0), 0xfeef04bdu);
    EXPECT_EQ(get32(root.value, 8), 0x00020003u);  // 2.3
    EXPECT_EQ(get32(root.value, 12), 0x00040000u); // .4.0
    ASSERT_EQ(root.children.size(), 2u);
    const VersionNode &table = root.children[0].children.at(0);
    EXPECT_EQ(table.key, u"041104B0");
    std::map<std::u16string, std::u16string> strings;
    for (const VersionNode &s : table.children) {
        std::u16string value;
        for (size_t i = 0; i + 1 < s.value.size(); i += 2)
            value.push_back(static_cast<char16_t>(s.value[i] | s.value[i + 1] << 8));
        strings[s.key] = value.substr(0, value.find(u'\0'));
    }
    EXPECT_EQ(strings[u"CompanyName"], u"Acme");
    EXPECT_EQ(strings[u"FileDescription"], u"ムービー");
    EXPECT_EQ(strings[u"ProductVersion"], u"2.3.4");
    EXPECT_EQ(strings.count(u"LegalCopyright"), 0u); // empty: left out
    EXPECT_EQ(root.children[1].children.at(0).value,
              (std::vector<uint8_t>{0x11, 0x04, 0xb0, 0x04}));
}

TEST(VersionInfoText, ParsesKeysAndRefusesMistakes) {
    Expected<VersionInfo> info = parse_version_info(
        "Company=Acme;;Co;Product=P;Version=1.2.3.4;Copyright=(c) 2026", "Title", "dir/out.exe");
    ASSERT_TRUE(info) << info.error().message;
    EXPECT_EQ(info->company, "Acme;Co");
    EXPECT_EQ(info->version, "1.2.3.4");
    EXPECT_EQ(info->numbers[3], 4);
    EXPECT_EQ(info->description, "Title"); // the title unless given
    EXPECT_EQ(info->original_filename, "out.exe");
    EXPECT_EQ(info->internal_name, "out");
    Expected<VersionInfo> defaults = parse_version_info("", "T", "o.exe");
    ASSERT_TRUE(defaults);
    EXPECT_EQ(defaults->version, "1.0.0");

    for (const char *bad : {"Colour=red", "Company", "Version=1.2.3.4.5", "Version=70000",
                            "Version=1..2", "Version=v1", "Product=\xff"}) {
        Expected<VersionInfo> refused = parse_version_info(bad, "T", "o.exe");
        EXPECT_FALSE(refused) << bad;
        if (!refused) {
            EXPECT_EQ(refused.error().exit_code(), 2) << bad;
        }
    }
}

// ---- Pictures ---------------------------------------------------------------------------

std::string write_temporary(const std::vector<uint8_t> &bytes, const char *suffix) {
    std::string path = ::testing::TempDir() + "kmov_icon_" + std::to_string(getpid()) + "_" +
                       std::to_string(std::rand()) + suffix;
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char *>(bytes.data()), long(bytes.size()));
    return path;
}

RgbaImage filled(int width, int height, uint32_t rgba) {
    RgbaImage image{width, height, {}};
    for (int i = 0; i < width * height; i++)
        for (int c = 0; c < 4; c++)
            image.rgba.push_back(static_cast<uint8_t>(rgba >> (24 - 8 * c)));
    return image;
}

TEST(IconPicture, ReadsAPngExactly) {
    RgbaImage picture = filled(40, 33, 0x204060ff);
    picture.rgba[3] = 0; // one transparent pixel
    std::string path = write_temporary(icon_png(picture), ".png");
    Expected<RgbaImage> read = icon_read_picture(path);
    ASSERT_TRUE(read) << read.error().message;
    EXPECT_EQ(read->width, 40);
    EXPECT_EQ(read->height, 33);
    EXPECT_EQ(read->rgba, picture.rgba);
    std::remove(path.c_str());
}

TEST(IconPicture, TakesTheLargestImageOfAnIco) {
    // An ICO file of the entries made from a 300x300 picture: 16 ... 256.
    std::vector<IconEntry> entries = icon_entries(filled(300, 300, 0x00ff00ff));
    std::vector<uint8_t> ico = {0, 0, 1, 0, static_cast<uint8_t>(entries.size()), 0};
    size_t offset = 6 + 16 * entries.size();
    for (const IconEntry &e : entries) {
        uint8_t side = static_cast<uint8_t>(e.width >= 256 ? 0 : e.width);
        ico.insert(ico.end(), {side, side, 0, 0, 1, 0, 32, 0});
        for (uint32_t v : {uint32_t(e.bytes.size()), uint32_t(offset)})
            for (int i = 0; i < 4; i++)
                ico.push_back(static_cast<uint8_t>(v >> (8 * i)));
        offset += e.bytes.size();
    }
    for (const IconEntry &e : entries)
        ico.insert(ico.end(), e.bytes.begin(), e.bytes.end());
    std::string path = write_temporary(ico, ".ico");
    Expected<RgbaImage> read = icon_read_picture(path);
    ASSERT_TRUE(read) << read.error().message;
    EXPECT_EQ(read->width, 256);
    EXPECT_EQ(read->height, 256);
    EXPECT_EQ(read->rgba[128 * 256 * 4 + 128 * 4 + 1], 0xff); // green
    std::remove(path.c_str());
}

TEST(IconPicture, UnreadableOrTooSmallIsAClearError) {
    struct Case {
        std::vector<uint8_t> bytes;
        const char *suffix;
        const char *message;
    };
    const Case cases[] = {
        {icon_png(filled(31, 64, 0xffffffff)), ".png", "at least 32x32"},
        {std::vector<uint8_t>(1000, 0x5a), ".png", "not a picture"},
        {{}, ".png", "not a picture"},
    };
    for (const Case &c : cases) {
        std::string path = write_temporary(c.bytes, c.suffix);
        Expected<RgbaImage> read = icon_read_picture(path);
        ASSERT_FALSE(read) << c.message;
        EXPECT_NE(read.error().message.find(c.message), std::string::npos) << read.error().message;
        std::remove(path.c_str());
    }
    Expected<RgbaImage> missing = icon_read_picture("/nonexistent/icon.png");
    ASSERT_FALSE(missing);
    EXPECT_NE(missing.error().message.find("no such file"), std::string::npos);
}

TEST(IconPicture, ScalingKeepsTransparentColoursOutAndTheAspect) {
    // Left half transparent but red underneath, right half opaque blue.
    RgbaImage picture = filled(64, 64, 0x0000ffff);
    for (int y = 0; y < 64; y++)
        for (int x = 0; x < 32; x++)
            std::memcpy(&picture.rgba[(size_t(y) * 64 + x) * 4], "\xff\x00\x00\x00", 4);
    RgbaImage small = icon_scale(picture, 16);
    for (size_t i = 0; i < small.rgba.size(); i += 4)
        if (small.rgba[i + 3] > 0) {
            EXPECT_LT(small.rgba[i], 40) << "red bled in at pixel " << i / 4;
        }

    // A wide picture sits centred on transparency.
    RgbaImage wide = icon_scale(filled(128, 64, 0xffffffff), 32);
    auto alpha = [&](int x, int y) { return wide.rgba[(size_t(y) * 32 + x) * 4 + 3]; };
    EXPECT_EQ(alpha(16, 0), 0);
    EXPECT_EQ(alpha(16, 31), 0);
    EXPECT_EQ(alpha(16, 16), 255);
    EXPECT_EQ(alpha(0, 16), 255);

    // The DIB form: bottom row first, BGRA, a mask set where transparent.
    RgbaImage two = filled(2, 2, 0x11223344);
    two.rgba[3] = 0; // top-left transparent
    std::vector<uint8_t> dib = icon_dib(two);
    ASSERT_EQ(dib.size(), 40u + 16 + 2 * 4);
    EXPECT_EQ(get32(dib, 8), 4u);      // height doubled
    EXPECT_EQ(dib[40 + 8], 0x33);      // top row's blue, after the bottom row
    EXPECT_EQ(dib[40 + 16 + 0], 0x00); // bottom mask row: nothing transparent
    EXPECT_EQ(dib[40 + 16 + 4], 0x80); // top mask row: its first pixel
}

// ---- The Linux player's window icon ---------------------------------------------------------

TEST(LinuxIcon, PackedProgramCarriesThePicture) {
    Expected<std::vector<uint8_t>> player = read_whole_file(KMOV_LINUX_TEMPLATE);
    ASSERT_TRUE(player) << player.error().message;
    Expected<size_t> built_in = find_window_icon(*player);
    ASSERT_TRUE(built_in) << built_in.error().message;
    EXPECT_EQ(get32(*player, *built_in), 32u);

    Branding branding;
    branding.icon = filled(100, 100, 0x336699ff);
    Expected<std::vector<uint8_t>> branded = brand_program(*player, branding);
    ASSERT_TRUE(branded) << branded.error().message;
    ASSERT_EQ(branded->size(), player->size());
    Expected<size_t> record = find_window_icon(*branded);
    ASSERT_TRUE(record);
    EXPECT_EQ(get32(*branded, *record), uint32_t(WINDOW_ICON_MAX_SIZE));
    EXPECT_EQ(get32(*branded, *record + 4), uint32_t(WINDOW_ICON_MAX_SIZE));
    EXPECT_EQ(get32(*branded, *record + 8), 0xff336699u); // ARGB
    // Nothing else changed.
    size_t start = *record, end = start + sizeof(WindowIconRecord) - WINDOW_ICON_MARKER_SIZE;
    EXPECT_TRUE(std::equal(player->begin(), player->begin() + long(start), branded->begin()));
    EXPECT_TRUE(
        std::equal(player->begin() + long(end), player->end(), branded->begin() + long(end)));

    // Branding a packed program takes its image without the movie.
    std::vector<uint8_t> movie = {'k', 'M', 'o', 'v', 1, 2, 3, 4};
    Expected<std::vector<uint8_t>> packed = pack_movie(*player, movie, "t");
    ASSERT_TRUE(packed);
    Expected<std::vector<uint8_t>> rebranded = brand_program(*packed, branding);
    ASSERT_TRUE(rebranded);
    EXPECT_EQ(rebranded->size(), player->size());

    // The Linux player has no version resource.
    branding.version = VersionInfo{};
    Expected<std::vector<uint8_t>> refused = brand_program(*player, branding);
    ASSERT_FALSE(refused);
    EXPECT_NE(refused.error().message.find("only the Windows player"), std::string::npos);
}

// ---- kmov pack and kmov make ---------------------------------------------------------------

TEST(PackBranding, BrandsOrLeavesNothingBehind) {
    namespace fs = std::filesystem;
    test::TempFile picture("picture.png", icon_png(filled(40, 40, 0xcc2244ff)));
    const fs::path folder = picture.folder();
    const std::vector<uint8_t> tiny_png = icon_png(filled(20, 20, 0xffffffff));
    std::ofstream(folder / "tiny.png", std::ios::binary)
        .write(reinterpret_cast<const char *>(tiny_png.data()), long(tiny_png.size()));
    std::ofstream(folder / "junk.png") << "not a picture";
    const std::string kmov = KMOV_PROGRAM, player = KMOV_LINUX_TEMPLATE;
    const std::string movie = (folder / "movie.kmov").string(), out = (folder / "out").string();
    test::ProgramRun encoded =
        test::run_program(kmov + " encode " + picture.path().string() + " -o " + movie);
    ASSERT_EQ(encoded.status, 0) << encoded.err;

    const std::string tiny = (folder / "tiny.png").string(), junk = (folder / "junk.png").string();
    struct Case {
        std::string command;
        int status;
        const char *message;
    } cases[] = {
        {"pack " + player + " " + movie + " --icon " + tiny, 1, "at least 32x32"},
        {"pack " + player + " " + movie + " --icon " + junk, 1, "not a picture"},
        {"pack " + player + " " + movie + " --icon " + (folder / "none.png").string(), 1,
         "no such file"},
        {"pack " + player + " " + movie + " --version-info Colour=red", 2, "unknown key 'Colour'"},
        {"pack " + player + " " + movie + " --version-info Company=Acme", 1,
         "only the Windows player"},
        {"make " + picture.path().string() + " --player " + player + " --icon " + tiny, 1,
         "at least 32x32"},
    };
    for (const Case &c : cases) {
        test::ProgramRun run = test::run_program(kmov + " " + c.command + " -o " + out);
        EXPECT_EQ(run.status, c.status) << c.command << ": " << run.err;
        EXPECT_NE(run.err.find(c.message), std::string::npos) << c.command << ": " << run.err;
        EXPECT_FALSE(fs::exists(out)) << c.command;
    }

    test::ProgramRun packed =
        test::run_program(kmov + " pack " + player + " " + movie + " --icon " +
                          picture.path().string() + " -o " + out);
    ASSERT_EQ(packed.status, 0) << packed.err;
    EXPECT_EQ(test::run_program(kmov + " verify " + out).status, 0);
    std::vector<uint8_t> program = test::read_file(out);
    Expected<size_t> record = find_window_icon(program);
    ASSERT_TRUE(record);
    EXPECT_EQ(get32(program, *record + 8 + 4 * (32 * 64 + 32)), 0xffcc2244u);
}

} // namespace
} // namespace kmov
