// What `kmov encode` and `kmov make` share: the encoder's options, their
// parsing, the run with its progress bar, and the summary afterwards.
#ifndef KMOV_TOOLS_ENCODE_COMMAND_H
#define KMOV_TOOLS_ENCODE_COMMAND_H

#include "cli.h"
#include "encode/encoder.h"

#include <string>
#include <vector>

namespace kmov {

// Every encoder option (all but -o, whose meaning is the command's).
const std::vector<Arguments::Option> &encoder_options();

// The EncodeOptions that the parsed arguments ask for; the positional
// arguments are the inputs. Errors have exit code 2.
Expected<EncodeOptions> parse_encode_options(const Arguments &args);

// Runs the encoder, with the progress bar on stderr when it is a terminal
// or --progress asks for it (never with --quiet). On failure the file of
// --write-frames is removed again.
Expected<EncodedMovie> run_encoder(const Arguments &args, const EncodeOptions &options);

// After a good run: the JSON summary on stdout with --json, else the one
// line on stderr where the progress bar was shown.
void print_encode_summary(const Arguments &args, const std::string &out, const EncodeStats &stats);

// The --json summary.
std::string encode_summary_json(const EncodeStats &stats);

} // namespace kmov

#endif
