// Helpers shared by the unit tests: temporary files, fixture movies and
// the headless backend's records.
#ifndef KMOV_TESTS_SUPPORT_H
#define KMOV_TESTS_SUPPORT_H

#include "movie_writer.h"

#include <windows.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace kmov::test {

// A file in a fresh temporary folder that is removed with this object.
// A path as UTF-16 in the program's WCHAR units.
inline std::basic_string<WCHAR> wide_path(const std::filesystem::path &path) {
#ifdef _WIN32
    return path.wstring();
#else
    return path.u16string();
#endif
}

class TempFile {
  public:
    explicit TempFile(const std::string &name = "file");
    TempFile(const std::string &name, const std::vector<uint8_t> &bytes);
    ~TempFile();
    TempFile(const TempFile &) = delete;
    TempFile &operator=(const TempFile &) = delete;

    const std::filesystem::path &path() const { return path_; }
    // The path as the program's narrow (ANSI) file calls take it.
    const char *c_str() const {
        narrow_ = path_.string();
        return narrow_.c_str();
    }
    // The path as the program's wide file calls take it.
    const WCHAR *w_str() const {
        wide_ = wide_path(path_);
        return wide_.c_str();
    }
    const std::filesystem::path &folder() const { return folder_; }
    void write(const std::vector<uint8_t> &bytes) const;

  private:
    std::filesystem::path folder_;
    std::filesystem::path path_;
    mutable std::string narrow_;
    mutable std::basic_string<WCHAR> wide_;
};

// Bytes 0, 1, 2, ... (mod 251, so no period of a power of two hides an
// offset mistake).
std::vector<uint8_t> counting_bytes(size_t count);

// A stand-in Windows player template of `size` bytes (at least 1048): an
// MZ header, the PE signature at 0x80, a PE32 optional header (PE32+ with
// `plus`) with 16 data-directory entries, all zero but their counts, and
// the startup marker with an empty block at 0x300; counting bytes behind.
std::vector<uint8_t> fake_pe_template(size_t size, bool plus = false);
// Where fake_pe_template's CheckSum field and security directory entry lie.
constexpr size_t FAKE_PE_CHECKSUM = 0x80 + 24 + 64;
inline size_t fake_pe_security_entry(bool plus = false) {
    return 0x80 + 24 + (plus ? 112 : 96) + 4 * 8;
}
// Signs a program as a signing tool would, in outline: zeros to a multiple
// of 8, then a certificate table of `table` bytes named by the security
// entry at `entry`.
void fake_sign(std::vector<uint8_t> &program, size_t entry, size_t table = 1000);

// A palette whose colour i is (i, 255 - i, i * 7 mod 256).
Palette test_palette();

// The whole contents of a file.
std::vector<uint8_t> read_file(const std::filesystem::path &path);

// FNV-1a (64 bits) of the bytes as hexadecimal digits: the last `digits`
// of its 16. Enough to tell any change apart in a table of goldens.
std::string checksum(const void *data, size_t size, int digits = 16);
inline std::string checksum(const std::string &bytes) {
    return checksum(bytes.data(), bytes.size());
}
inline std::string checksum(const std::vector<uint8_t> &bytes) {
    return checksum(bytes.data(), bytes.size());
}

// Runs a shell command line; returns its exit status (-1 when it did not
// exit normally), its stdout and its stderr.
struct ProgramRun {
    int status = -1;
    std::string out, err;
};
ProgramRun run_program(const std::string &command_line);

} // namespace kmov::test

#endif
