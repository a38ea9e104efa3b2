// The kmov commands, each a declaration and a run (see cli.h).
#ifndef KMOV_TOOLS_COMMANDS_H
#define KMOV_TOOLS_COMMANDS_H

#include "cli.h"

#include <vector>

namespace kmov {

const CommandSpec &info_command();
const CommandSpec &encode_command();
const CommandSpec &pack_command();
const CommandSpec &make_command();
const CommandSpec &verify_command();
const CommandSpec &checksum_command();
const CommandSpec &frames_command();
const CommandSpec &audio_command();
const CommandSpec &play_command();
const CommandSpec &export_command();
const CommandSpec &demo_command();

// Every command, in the order `kmov --help` lists them.
const std::vector<const CommandSpec *> &commands();

} // namespace kmov

#endif
