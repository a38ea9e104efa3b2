#include "file_io.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sys/stat.h>
#include <unistd.h>

namespace kmov {

Expected<std::vector<uint8_t>> read_whole_file(const std::string &path) {
    struct stat info;
    if (stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode))
        return file_error(path, std::strerror(EISDIR));
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return file_error(path, std::strerror(errno));
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                               std::istreambuf_iterator<char>());
    if (in.bad())
        return file_error(path, "read error");
    return bytes;
}

Status write_file_atomically(const std::filesystem::path &path, std::span<const uint8_t> bytes,
                             bool executable) {
    std::filesystem::path temporary = path;
    temporary += ".part-" + std::to_string(getpid());
    FILE *file = std::fopen(temporary.string().c_str(), "wb");
    if (file == nullptr)
        return file_error(path.string(), std::string("cannot create: ") + std::strerror(errno));
    // An empty span may have no data pointer, which fwrite must not get.
    bool ok = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    ok = std::fflush(file) == 0 && ok;
    int error = errno;
    ok = std::fclose(file) == 0 && ok;
    if (!ok) {
        std::remove(temporary.string().c_str());
        return file_error(path.string(), std::string("cannot write: ") + std::strerror(error));
    }
    chmod(temporary.string().c_str(), executable ? 0755 : 0644);
    std::error_code code;
    std::filesystem::rename(temporary, path, code);
    if (code) {
        std::remove(temporary.string().c_str());
        return file_error(path.string(), "cannot write: " + code.message());
    }
    return {};
}

Status refuse_output_over_input(const std::vector<std::string> &outputs,
                                const std::vector<std::string> &inputs) {
    for (const std::string &output : outputs) {
        struct stat out_stat;
        if (output.empty() || stat(output.c_str(), &out_stat) != 0)
            continue;
        for (const std::string &input : inputs) {
            struct stat in_stat;
            if (input.empty() || stat(input.c_str(), &in_stat) != 0)
                continue;
            if (in_stat.st_dev == out_stat.st_dev && in_stat.st_ino == out_stat.st_ino)
                return usage_error(output + " is the input " + input +
                                   ": writing it would destroy the input; name another output");
        }
    }
    return {};
}

} // namespace kmov
