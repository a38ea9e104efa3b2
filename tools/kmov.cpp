// kmov: makes, packs, inspects and extracts self-playing movies.
#include "commands.h"
#include "kmov_version.h"

#include <string>
#include <vector>

namespace kmov {

const std::vector<const CommandSpec *> &commands() {
    static const std::vector<const CommandSpec *> list = {
        &encode_command(), &pack_command(),     &make_command(),   &verify_command(),
        &play_command(),   &info_command(),     &frames_command(), &audio_command(),
        &export_command(), &checksum_command(), &demo_command(),
    };
    return list;
}

} // namespace kmov

int main(int argc, char **argv) {
    return kmov::run_program(kmov::commands(), KMOV_VERSION,
                             std::vector<std::string>(argv + 1, argv + argc));
}
