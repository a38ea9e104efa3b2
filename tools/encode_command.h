// What `kmov encode` and `kmov make` share: the encoder's options, their
// parsing, the run with its progress bar, and the summary afterwards.
#ifndef KMOV_TOOLS_ENCODE_COMMAND_H
#define KMOV_TOOLS_ENCODE_COMMAND_H

#include "cli.h"
#include "encode/encoder.h"

#include <optional>
#include <string>
#include <vector>

namespace kmov {

// Every encoder option (all but -o, whose meaning is the command's), each
// with its type and range.
const std::vector<Option> &encoder_options();

// What the encoder's command line must follow: an input at least, and
// options that exclude each other. `command` is named in the messages.
std::vector<Check> encoder_checks(const std::string &command);

// The EncodeOptions that the checked arguments ask for; the positional
// arguments are the inputs. Errors are usage errors: a --crop or --stretch
// without a box, or an output that is one of the inputs.
Expected<EncodeOptions> parse_encode_options(const Arguments &args);

// Runs the encoder, with the progress bar on stderr when it is a terminal
// or --progress asks for it (never with --quiet). On failure the file of
// --write-frames is removed again.
//
// With --max-size SIZE it searches for the best movie whose size plus
// `overhead` (the player, for make) is at most SIZE: the least lossy level
// that fits, and past its end (24) no dither, then fewer frames per second.
// It says on stderr what it chose; a limit it cannot meet is an error that
// names the smallest size reached.
Expected<EncodedMovie> run_encoder(const Arguments &args, const EncodeOptions &options,
                                   uint64_t overhead = 0);

// One run of the encoder with exactly these options.
Expected<EncodedMovie> run_encoder_once(const Arguments &args, const EncodeOptions &options);

// SIZE of --max-size: bytes, or a number of K (1000) or M (1000000) bytes.
std::optional<uint64_t> parse_size(const std::string &text);

// After a good run: the JSON summary on stdout with --json, else the one
// line on stderr where the progress bar was shown.
void print_encode_summary(const Arguments &args, const std::string &out, const EncodeStats &stats);

// The --json summary.
std::string encode_summary_json(const EncodeStats &stats);

} // namespace kmov

#endif
