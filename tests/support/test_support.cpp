#include "test_support.h"

#include "app/startup_block.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>
#ifndef _WIN32
#include <sys/wait.h>
#endif

namespace kmov::test {

TempFile::TempFile(const std::string &name) {
    static std::mt19937_64 random(std::random_device{}());
    for (int attempt = 0; attempt < 100; attempt++) {
        std::filesystem::path folder =
            std::filesystem::temp_directory_path() / ("kmov-test-" + std::to_string(random()));
        std::error_code code;
        if (std::filesystem::create_directory(folder, code)) {
            folder_ = folder;
            path_ = folder_ / name;
            return;
        }
    }
    throw std::runtime_error("cannot create a temporary folder");
}

TempFile::TempFile(const std::string &name, const std::vector<uint8_t> &bytes) : TempFile(name) {
    write(bytes);
}

TempFile::~TempFile() {
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
}

void TempFile::write(const std::vector<uint8_t> &bytes) const {
    std::ofstream out(path_, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(bytes.data()), static_cast<long>(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path_.string());
}

std::string checksum(const void *data, size_t size, int digits) {
    const auto *bytes = static_cast<const uint8_t *>(data);
    uint64_t hash = 0xcbf29ce484222325ull;
    for (size_t i = 0; i < size; i++)
        hash = (hash ^ bytes[i]) * 0x100000001b3ull;
    std::string text(16, '0');
    for (int i = 15; i >= 0; i--, hash >>= 4)
        text[static_cast<size_t>(i)] = "0123456789abcdef"[hash & 15];
    return text.substr(static_cast<size_t>(16 - digits));
}

std::vector<uint8_t> counting_bytes(size_t count) {
    std::vector<uint8_t> bytes(count);
    for (size_t i = 0; i < count; i++)
        bytes[i] = static_cast<uint8_t>(i % 251);
    return bytes;
}

namespace {
void put_le(std::vector<uint8_t> &bytes, size_t at, uint32_t value, int width) {
    for (int i = 0; i < width; i++)
        bytes[at + static_cast<size_t>(i)] = static_cast<uint8_t>(value >> (8 * i));
}
} // namespace

std::vector<uint8_t> fake_pe_template(size_t size, bool plus) {
    std::vector<uint8_t> bytes = counting_bytes(size);
    if (size < 0x300 + STARTUP_MARKER_SIZE + STARTUP_BLOCK_SIZE)
        throw std::invalid_argument("fake_pe_template: too small for its block");
    std::fill(bytes.begin(), bytes.begin() + 0x300 + STARTUP_MARKER_SIZE + STARTUP_BLOCK_SIZE, 0);
    bytes[0] = 'M';
    bytes[1] = 'Z';
    put_le(bytes, 0x3C, 0x80, 4);
    std::memcpy(bytes.data() + 0x80, "PE\0\0", 4);
    const size_t optional = 0x80 + 24;
    put_le(bytes, 0x80 + 4 + 16, plus ? 0xF0 : 0xE0, 2); // SizeOfOptionalHeader
    put_le(bytes, optional, plus ? 0x20B : 0x10B, 2);
    put_le(bytes, optional + (plus ? 108 : 92), 16, 4); // NumberOfRvaAndSizes
    std::memcpy(bytes.data() + 0x300, STARTUP_MARKER, STARTUP_MARKER_SIZE);
    return bytes;
}

void fake_sign(std::vector<uint8_t> &program, size_t entry, size_t table) {
    program.resize((program.size() + 7) / 8 * 8, 0);
    put_le(program, entry, static_cast<uint32_t>(program.size()), 4);
    put_le(program, entry + 4, static_cast<uint32_t>(table), 4);
    for (size_t i = 0; i < table; i++)
        program.push_back(static_cast<uint8_t>(0x30 + i % 7));
}

Palette test_palette() {
    Palette palette;
    for (size_t i = 0; i < palette.size(); i++)
        palette[i] = {static_cast<uint8_t>(i), static_cast<uint8_t>(255 - i),
                      static_cast<uint8_t>((i * 7) % 256)};
    return palette;
}

std::vector<uint8_t> read_file(const std::filesystem::path &path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

#ifndef _WIN32
ProgramRun run_program(const std::string &command_line) {
    TempFile err_file("stderr");
    std::string command = command_line + " 2>" + err_file.path().string() + " </dev/null";
    ProgramRun run;
    FILE *pipe = popen(command.c_str(), "r");
    if (pipe == nullptr)
        return run;
    char buffer[4096];
    size_t got;
    while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0)
        run.out.append(buffer, got);
    int status = pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::vector<uint8_t> err = read_file(err_file.path());
    run.err.assign(err.begin(), err.end());
    return run;
}
#endif

} // namespace kmov::test
