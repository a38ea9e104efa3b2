// The kmov commands. Each takes the arguments after its name and returns
// the process exit code.
#ifndef KMOV_TOOLS_COMMANDS_H
#define KMOV_TOOLS_COMMANDS_H

#include <string>
#include <vector>

namespace kmov {

struct Command {
    const char *name;
    const char *summary;
    int (*run)(const std::vector<std::string> &args);
};

int command_info(const std::vector<std::string> &args);
int command_encode(const std::vector<std::string> &args);
int command_pack(const std::vector<std::string> &args);
int command_make(const std::vector<std::string> &args);
int command_verify(const std::vector<std::string> &args);
int command_checksum(const std::vector<std::string> &args);
int command_frames(const std::vector<std::string> &args);
int command_audio(const std::vector<std::string> &args);
int command_play(const std::vector<std::string> &args);
int command_export(const std::vector<std::string> &args);
int command_demo(const std::vector<std::string> &args);

// Every command, in the order `kmov --help` lists them.
const std::vector<Command> &commands();

} // namespace kmov

#endif
