// Runs a fuzz target over the files named on the command line, and over
// every file in the folders named there, for builds without libFuzzer (and
// to replay a corpus or a crash under a debugger). Exits 0 when every input
// ran; a finding ends the process as it would under libFuzzer.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

static void run_file(const std::filesystem::path &path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                               std::istreambuf_iterator<char>());
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
}

int main(int argc, char **argv) {
    size_t inputs = 0;
    for (int i = 1; i < argc; i++) {
        std::filesystem::path path(argv[i]);
        std::error_code error;
        if (std::filesystem::is_directory(path, error)) {
            for (const auto &entry : std::filesystem::directory_iterator(path))
                if (entry.is_regular_file()) {
                    run_file(entry.path());
                    inputs++;
                }
        } else {
            run_file(path);
            inputs++;
        }
    }
    std::printf("%zu inputs: ok\n", inputs);
    return 0;
}
