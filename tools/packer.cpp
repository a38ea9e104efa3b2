#include "packer.h"
#include "web_page.h"

#include "app/integrity.h"
#include "app/pe_image.h"
#include "player/movie_format.h"

#include <cstring>

namespace kmov {

const char VERIFY_CHECKSUM_MESSAGE[] = "ﾃﾞｰﾀが正しくありません";
const char VERIFY_NOT_A_MOVIE[] = "not a kmov file";

namespace {

uint32_t get_le32(const uint8_t *p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

void put_le32(uint8_t *p, uint32_t value) {
    for (int i = 0; i < 4; i++)
        p[i] = static_cast<uint8_t>(value >> (8 * i));
}

bool has_magic_at(std::span<const uint8_t> bytes, size_t offset) {
    return offset + 4 <= bytes.size() && bytes[offset] == 'k' && bytes[offset + 1] == 'M' &&
           bytes[offset + 2] == 'o' && bytes[offset + 3] == 'v';
}

// Every marker whose 16 bytes lie in front of `limit`: the offsets of the
// blocks behind them, which may run past the limit.
std::vector<size_t> find_markers(std::span<const uint8_t> bytes, size_t limit) {
    std::vector<size_t> found;
    const uint8_t *marker = reinterpret_cast<const uint8_t *>(STARTUP_MARKER);
    size_t end = std::min(limit, bytes.size());
    for (size_t i = 0; i + STARTUP_MARKER_SIZE <= end; i++) {
        if (bytes[i] == marker[0] &&
            std::memcmp(bytes.data() + i, marker, STARTUP_MARKER_SIZE) == 0)
            found.push_back(i + STARTUP_MARKER_SIZE);
    }
    return found;
}

PeHeaders read_pe_headers(std::span<const uint8_t> program, bool *found) {
    PeHeaders headers;
    *found = pe_read_headers(program.data(), std::min<size_t>(program.size(), PE_HEADER_READ),
                             &headers) != 0;
    return headers;
}

// Where the movie checksum of `program` ends (see movie_checksum_end).
size_t checksum_end(std::span<const uint8_t> program, uint32_t movie_offset) {
    return static_cast<size_t>(movie_checksum_end(program.data(),
                                                  std::min<size_t>(program.size(), PE_HEADER_READ),
                                                  program.size(), movie_offset));
}

} // namespace

uint32_t pe_checksum(std::span<const uint8_t> file, size_t checksum_offset) {
    uint64_t sum = 0;
    for (size_t i = 0; i < file.size(); i += 2) {
        // The field itself counts as zero.
        if (i + 2 > checksum_offset && i < checksum_offset + PE_CHECKSUM_FIELD_SIZE)
            continue;
        uint32_t word = file[i];
        if (i + 1 < file.size())
            word |= uint32_t(file[i + 1]) << 8;
        sum += word;
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<uint32_t>(sum + file.size());
}

uint32_t movie_checksum(std::span<const uint8_t> bytes) {
    uint32_t sum = 0;
    for (size_t i = 0; i + 4 <= bytes.size(); i += 4)
        sum = movie_checksum_step(sum, get_le32(bytes.data() + i));
    return sum;
}

// A web page's block and movie are base64 in elements of their own: the
// movie is the program file the page lays out for the player.
static Expected<StartupInfo> web_page_startup_block(std::span<const uint8_t> page,
                                                    std::vector<uint8_t> *file) {
    Expected<WebProgram> program = read_web_page(page);
    if (!program)
        return program.error();
    StartupInfo info;
    info.block_offset = program->block_offset;
    info.block = program->block;
    info.packed = has_magic_at(program->file, info.block.movie_offset);
    if (file != nullptr)
        *file = std::move(program->file);
    return info;
}

Expected<StartupInfo> find_startup_block(std::span<const uint8_t> program) {
    if (is_web_page(program))
        return web_page_startup_block(program, nullptr);
    std::vector<size_t> found = find_markers(program, program.size());
    if (found.empty())
        return Error{"no startup block: not a kmov player template"};
    if (found[0] + STARTUP_BLOCK_SIZE > program.size())
        return Error{"the startup block is cut short by the end of the file"};
    // In a packed program the appended movie may hold the marker's bytes by
    // chance; only the image in front of the movie counts.
    StartupInfo info;
    info.block_offset = found[0];
    const uint8_t *block = program.data() + found[0];
    info.block.movie_offset = get_le32(block);
    info.block.movie_checksum = get_le32(block + 4);
    std::memcpy(info.block.window_title, block + 8, STARTUP_TITLE_SIZE);
    info.block.window_title[STARTUP_TITLE_SIZE - 1] = 0;
    // The movie lies behind the block: a block that would reach into it
    // (its offset points inside the block) names no movie of its own.
    info.packed = info.block.movie_offset >= found[0] + STARTUP_BLOCK_SIZE &&
                  has_magic_at(program, info.block.movie_offset);
    size_t image_end = info.packed ? info.block.movie_offset : program.size();
    if (find_markers(program, image_end).size() != 1)
        return Error{"more than one startup block: not a kmov player template"};
    return info;
}

Expected<std::vector<uint8_t>> pack_movie(std::span<const uint8_t> program,
                                          std::span<const uint8_t> movie, const std::string &title,
                                          const PackNames &names) {
    if (title.size() > STARTUP_TITLE_SIZE - 1)
        return Error{"the title takes " + std::to_string(title.size()) + " bytes; at most 255 fit"};
    if (!has_magic_at(movie, 0))
        return file_error(names.movie, "not a kmov movie");
    if (is_web_page(program)) {
        Expected<std::vector<uint8_t>> page = pack_web_page(program, movie, title);
        return page ? page : naming(page.error(), names.program);
    }
    Expected<StartupInfo> info = find_startup_block(program);
    if (!info)
        return naming(info.error(), names.program);
    bool pe = false;
    PeHeaders headers = read_pe_headers(program, &pe);
    // Signing covers the whole file: a movie packed behind a signature
    // would break it, and the old table would sit inside the movie.
    if (pe && headers.certificate_size != 0)
        return file_error(names.program, "the template is signed: pack first, then sign");
    size_t image = info->packed ? info->block.movie_offset : program.size();
    // A Windows program is padded with zeros to a multiple of 8 bytes, as a
    // signing tool would pad it before it appends the certificate table:
    // the zeros are then part of the movie's checksum, which still holds
    // after signing and after the signature is removed again. The player
    // stops at the movie's end record and never reads them.
    size_t padding = pe ? (8 - (image + movie.size()) % 8) % 8 : 0;
    if (image + movie.size() + padding > UINT32_MAX)
        return file_error(names.program, "the packed program would be larger than 4 GiB");
    std::vector<uint8_t> out(program.begin(), program.begin() + static_cast<long>(image));
    out.insert(out.end(), movie.begin(), movie.end());
    out.insert(out.end(), padding, 0);
    uint8_t *block = out.data() + info->block_offset;
    put_le32(block, static_cast<uint32_t>(image));
    put_le32(block + 4, movie_checksum(std::span<const uint8_t>(out).subspan(image)));
    std::memset(block + 8, 0, STARTUP_TITLE_SIZE);
    std::memcpy(block + 8, title.data(), title.size());
    // The header's CheckSum of the new file, unless the field would fall
    // on the block (no linker lays them out so; a file that does is not
    // touched there).
    size_t field = headers.checksum_offset;
    size_t block_start = info->block_offset - STARTUP_MARKER_SIZE;
    bool on_block = field + PE_CHECKSUM_FIELD_SIZE > block_start &&
                    field < info->block_offset + STARTUP_BLOCK_SIZE;
    if (pe && !on_block && field + PE_CHECKSUM_FIELD_SIZE <= image) {
        put_le32(out.data() + field, 0);
        put_le32(out.data() + field, pe_checksum(out, field));
    }
    return out;
}

IntegrityCheck check_integrity(std::span<const uint8_t> program, const StartupInfo &startup) {
    IntegrityCheck check;
    check.stored = startup.block.movie_checksum;
    // Up to the certificate table when a signature ends the file.
    size_t end = checksum_end(program, startup.block.movie_offset);
    if (startup.block.movie_offset < end)
        check.computed = movie_checksum(
            program.subspan(startup.block.movie_offset, end - startup.block.movie_offset));
    return check;
}

Expected<StartupInfo> verify_program(std::span<const uint8_t> program, VerifyFailure *why) {
    VerifyFailure ignored;
    VerifyFailure &failure = why != nullptr ? *why : ignored;
    // A web page is checked over the program file it lays out: its movie.
    std::vector<uint8_t> page_file;
    const bool page = is_web_page(program);
    Expected<StartupInfo> startup =
        page ? web_page_startup_block(program, &page_file) : find_startup_block(program);
    if (page)
        program = page_file;
    failure = VerifyFailure::no_template;
    if (!startup)
        return startup;
    failure = VerifyFailure::checksum;
    if (!check_integrity(program, *startup).matches())
        return Error{VERIFY_CHECKSUM_MESSAGE};
    failure = VerifyFailure::no_movie;
    if (!startup->packed)
        return Error{VERIFY_NOT_A_MOVIE};
    return startup;
}

} // namespace kmov
