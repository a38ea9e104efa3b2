// The packer's startup-block finder, the PE header reader shared by the
// player's check and `kmov verify`, and that check, on any file. Whenever
// the finder accepts the file as a template (or packed program), packing a
// small movie into it must give a program that the finder reads back as
// packed with that movie (and at most 7 zeros behind it), and that passes
// the check.
#include "fuzz_support.h"

#include "app/pe_image.h"

#include "movie_writer.h"
#include "packer.h"
#include "web_page.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

namespace {

const std::vector<uint8_t> &small_movie() {
    static const std::vector<uint8_t> bytes = [] {
        kmov::MovieWriter movie(kmov::make_header(4, 1), kmov::Palette{});
        std::vector<uint8_t> frame{1, 2, 3, 4};
        movie.frame(frame, 0, 0).end(66).count_frames();
        return movie.bytes({kmov::Padding::Zero});
    }();
    return bytes;
}

// The header reader stays inside the bytes it is given and names a
// certificate table only as the rules say.
void check_pe_reading(const uint8_t *data, size_t size) {
    size_t head = std::min<size_t>(size, PE_HEADER_READ);
    PeHeaders headers;
    if (pe_read_headers(data, head, &headers) &&
        (headers.checksum_offset + PE_CHECKSUM_FIELD_SIZE > head ||
         headers.security_entry_offset + PE_DIRECTORY_ENTRY_SIZE > head))
        kmov::fuzz::finding("a PE header field read outside the bytes given");
    uint32_t movie_offset =
        size >= 8 ? uint32_t(data[size - 8]) | uint32_t(data[size - 7]) << 8 : 0;
    uint64_t end = movie_checksum_end(data, head, size, movie_offset);
    if (end > size)
        kmov::fuzz::finding("the checksum end lies beyond the file");
    if (end != size && (end < movie_offset || headers.certificate_offset != end ||
                        end + headers.certificate_size != size))
        kmov::fuzz::finding(
            "the checksum stops short without a certificate table that ends the file");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    check_pe_reading(data, size);
    std::span<const uint8_t> program(data, size);
    kmov::Expected<kmov::StartupInfo> found = kmov::find_startup_block(program);
    kmov::Expected<kmov::StartupInfo> verified = kmov::verify_program(program);
    if (!found) {
        if (verified)
            kmov::fuzz::finding("verify passed a file without a startup block");
        return 0;
    }
    if (verified && !found->packed)
        kmov::fuzz::finding("verify passed a program without a movie");
    const std::vector<uint8_t> &movie = small_movie();

    // A web page holds its block and movie in elements of their own.
    if (kmov::is_web_page(program)) {
        kmov::Expected<std::vector<uint8_t>> page = kmov::pack_movie(program, movie, "fuzz");
        if (!page)
            kmov::fuzz::finding("a web page the finder accepts cannot be packed");
        kmov::Expected<kmov::WebProgram> back = kmov::read_web_page(*page);
        if (!kmov::verify_program(*page) || !back || back->file != movie ||
            std::strcmp(back->block.window_title, "fuzz") != 0)
            kmov::fuzz::finding("the packed web page does not read back as packed");
        return 0;
    }
    if (found->block_offset + STARTUP_BLOCK_SIZE > size)
        kmov::fuzz::finding("the block found runs past the end of the file");

    kmov::Expected<std::vector<uint8_t>> packed = kmov::pack_movie(program, movie, "fuzz");
    if (!packed)
        return 0; // larger than 4 GiB, which a fuzz input is not
    kmov::Expected<kmov::StartupInfo> again = kmov::verify_program(*packed);
    if (!again)
        kmov::fuzz::finding(("a packed program fails its check: " + again.error().message).c_str());
    size_t movie_end = again->block.movie_offset + movie.size();
    if (again->block_offset != found->block_offset || !again->packed ||
        movie_end > packed->size() || packed->size() - movie_end > 7 ||
        std::any_of(packed->begin() + static_cast<long>(movie_end), packed->end(),
                    [](uint8_t b) { return b != 0; }) ||
        std::memcmp(packed->data() + again->block.movie_offset, movie.data(), movie.size()) != 0 ||
        std::strcmp(again->block.window_title, "fuzz") != 0)
        kmov::fuzz::finding("the packed program does not read back as packed");
    return 0;
}
