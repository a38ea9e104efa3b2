// Helpers shared by the unit tests: temporary files, fixture movies and
// the headless backend's records.
#ifndef KMOV_TESTS_SUPPORT_H
#define KMOV_TESTS_SUPPORT_H

#include "movie_writer.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace kmov::test {

// A file in a fresh temporary folder that is removed with this object.
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
    const std::filesystem::path &folder() const { return folder_; }
    void write(const std::vector<uint8_t> &bytes) const;

  private:
    std::filesystem::path folder_;
    std::filesystem::path path_;
    mutable std::string narrow_;
};

// Bytes 0, 1, 2, ... (mod 251, so no period of a power of two hides an
// offset mistake).
std::vector<uint8_t> counting_bytes(size_t count);

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
