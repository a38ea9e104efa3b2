// The kmov command framework. A command is a declaration (its name, usage,
// description, options and the checks its command line must pass) and a
// run function; run_command does everything in between: parsing, --help,
// converting and range-checking every value, the checks, and turning the
// Error a run ends with into its line on stderr and its exit code.
//
// Command lines: `--name value`, `--name=value`, `-name` as `--name`, flags
// without a value, positional arguments anywhere; "--" ends the options.
// An option given twice keeps its last value.
#ifndef KMOV_TOOLS_CLI_H
#define KMOV_TOOLS_CLI_H

#include "error.h"
#include "file_io.h"
#include "text.h"

#include <cstdint>
#include <limits>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace kmov {

// How an option's value is read.
enum class OptionType {
    flag,   // no value
    text,   // any text
    whole,  // a whole number, decimal or hex with 0x, from `min` to `max`
    real,   // a decimal number from `min` to `max`
    choice, // one of `words`
};

// One option, declared once: its name, what it takes, its help line and
// the usage error for a value it does not take ("--NAME takes ...").
struct Option {
    std::string name; // without the dashes
    OptionType type = OptionType::flag;
    std::string value_name;                                   // in --help: "--fps N"
    std::string help;                                         // one line for --help
    double min = 0, max = std::numeric_limits<double>::max(); // whole and real
    std::vector<std::string> words;                           // choice
    // A further test of the text (after the type's), for values of a form
    // of their own (a size, a time).
    bool (*accepts)(const std::string &text) = nullptr;
    std::string takes;        // what follows "--NAME takes " in the usage error
    std::string fallback;     // the value when the option is not given; "" for none
    std::string same_as = {}; // the option this one is another name for, e.g. "o" for --output
};

// The declarations, as the commands write them.
Option flag_option(std::string name, std::string help);
Option text_option(std::string name, std::string value_name, std::string help);
Option whole_option(std::string name, std::string value_name, std::string help, double min,
                    double max, std::string takes, std::string fallback = "");
Option real_option(std::string name, std::string value_name, std::string help, double min,
                   double max, std::string takes);
Option choice_option(std::string name, std::string value_name, std::string help,
                     std::vector<std::string> words, std::string takes);
Option checked_option(std::string name, std::string value_name, std::string help,
                      bool (*accepts)(const std::string &), std::string takes);
// `name` standing for `target` (e.g. --output for -o).
Option alias_option(std::string name, std::string target, std::string value_name, std::string help);

// A rule the command line must follow, with the usage error when it does not.
struct Check {
    enum Kind { positionals, required, exclusive, one_of } kind;
    std::vector<std::string> options; // required: one; exclusive, one_of: two
    size_t min = 0, max = SIZE_MAX;   // positionals: how many
    std::string message;
};
// From `min` to `max` positional arguments.
Check positionals_check(size_t min, size_t max, std::string message);
// The option given, with a value that is not empty.
Check required_check(std::string option, std::string message);
// Not both.
Check exclusive_check(std::string a, std::string b, std::string message);
// Exactly one of the two.
Check one_of_check(std::string a, std::string b, std::string message);

// `first` followed by `rest`: declarations made of shared parts.
template <class T> std::vector<T> joined(std::vector<T> first, const std::vector<T> &rest) {
    first.insert(first.end(), rest.begin(), rest.end());
    return first;
}

class Arguments;

// A command: what `kmov COMMAND --help` shows, what it takes, and its run.
// The run returns the exit code, or the Error that ends the command.
struct CommandSpec {
    std::string name;
    std::string summary; // one line for `kmov --help`
    std::string usage;   // after "usage: kmov NAME "
    std::string description;
    std::vector<Option> options;
    std::vector<Check> checks; // in the order they are tried, before the values
    Expected<int> (*run)(const Arguments &args) = nullptr;
};

// A parsed command line, its values checked against the declaration.
class Arguments {
  public:
    explicit Arguments(const CommandSpec &spec) : spec_(&spec) {}

    // Reads argv (what follows the command's name). An unknown option, a
    // flag with a value or an option without one is a usage error; --help
    // or -h stops the reading and sets help().
    Status parse(const std::vector<std::string> &argv);
    // The checks, then every value given against its option's type.
    Status check() const;
    bool help() const { return help_; }
    std::string help_text() const;

    const std::string &command() const { return spec_->name; }
    bool has(const std::string &name) const { return values_.count(name) != 0; }
    // The text given, else the option's fallback, else `fallback`.
    std::string value(const std::string &name, const std::string &fallback = "") const;
    // A checked whole or real value (given or fallback); 0 when neither.
    uint64_t whole(const std::string &name) const;
    double real(const std::string &name) const;
    const std::vector<std::string> &positional() const { return positional_; }

  private:
    const Option *find(const std::string &name) const;

    const CommandSpec *spec_;
    std::map<std::string, std::string> values_;
    std::vector<std::string> positional_;
    bool help_ = false;
};

// Options several commands share: --offset N (info, frames, audio,
// checksum); --progress and --quiet (encode, make, export).
Option offset_option(std::string help);
std::vector<Option> progress_options();
// Progress on stderr: when it is a terminal or --progress asks, never with
// --quiet.
bool shows_progress(const Arguments &args);

// Runs `spec` on argv: the command's exit code.
int run_command(const CommandSpec &spec, const std::vector<std::string> &argv);

// The whole command line of kmov (what follows the program's name): the
// command it names run on the rest; `kmov --help` (or -h, help) lists the
// commands, `kmov --version` prints the version; no command or an unknown
// one is a usage error (exit code 2) with the list on stderr.
int run_program(const std::vector<const CommandSpec *> &commands, const char *version,
                const std::vector<std::string> &argv);

// Prints "kmov COMMAND: text" on stderr and returns the error's exit code.
int report(const std::string &command, const Error &error);

// Parses a whole non-negative number (decimal, or hex with 0x).
std::optional<uint64_t> parse_unsigned(const std::string &text);

} // namespace kmov

#endif
