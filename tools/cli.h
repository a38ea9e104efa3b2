// Command-line plumbing shared by the kmov commands: argument parsing,
// errors as values, and reporting the player's own failures readably.
#ifndef KMOV_TOOLS_CLI_H
#define KMOV_TOOLS_CLI_H

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace kmov {

// A failure with its reason; the command decides the exit code.
struct Error {
    std::string message;
    int exit_code = 1;
};

// A value or the Error that prevented it.
template <class T> class Expected {
  public:
    Expected(T value) : value_(std::move(value)) {}
    Expected(Error error) : error_(std::move(error)) {}
    explicit operator bool() const { return value_.has_value(); }
    T &operator*() { return *value_; }
    const T &operator*() const { return *value_; }
    T *operator->() { return &*value_; }
    const T *operator->() const { return &*value_; }
    const Error &error() const { return error_; }

  private:
    std::optional<T> value_;
    Error error_;
};

// Options of one command: `--name value`, `--name=value` and flags, plus
// positional arguments. "--" ends the options.
class Arguments {
  public:
    struct Option {
        std::string name; // without the dashes
        bool takes_value; // false: a flag
        std::string help; // one line for --help
        std::string value_name = "VALUE";
    };

    Arguments(std::string command, std::string usage, std::string description,
              std::vector<Option> options);

    // Parses argv after the command name. Returns false and sets error()
    // for an unknown option or a missing value; sets help() for --help/-h.
    bool parse(const std::vector<std::string> &argv);
    const std::string &error() const { return error_; }
    bool help() const { return help_; }
    std::string help_text() const;

    bool has(const std::string &name) const { return values_.count(name) != 0; }
    std::string value(const std::string &name, const std::string &fallback = "") const;
    // Every value given for an option that may repeat, in order.
    std::vector<std::string> values(const std::string &name) const;
    const std::vector<std::string> &positional() const { return positional_; }

  private:
    std::string command_, usage_, description_;
    std::vector<Option> options_;
    std::multimap<std::string, std::string> values_;
    std::vector<std::string> positional_;
    std::string error_;
    bool help_ = false;
};

// Parses a whole non-negative number (decimal, or hex with 0x).
std::optional<uint64_t> parse_unsigned(const std::string &text);

// An Error (exit code 2) when one of `outputs` is the same file as one of
// `inputs`: the same device and inode, so that another spelling of the path,
// a link or a hard link counts too. Writing the output would replace the
// input, so a command checks this before it reads anything. Empty names and
// names that are not there (yet) are passed over.
std::optional<Error> refuse_output_over_input(const std::vector<std::string> &outputs,
                                              const std::vector<std::string> &inputs);

// Prints "kmov COMMAND: message" on stderr and returns the exit code.
int report(const std::string &command, const Error &error);

// The player's code reports failures with a code page 932 message box; in
// the tools that box is the headless one. This turns its raw echo off and
// prints each message as "kmov COMMAND: text" in UTF-8 instead.
void report_player_errors(const std::string &command);

// Code page 932 <-> UTF-8. Bytes that do not convert come out as '?'.
std::string cp932_to_utf8(const std::string &text);
// Returns nullopt when the text has a character code page 932 lacks.
std::optional<std::string> utf8_to_cp932(const std::string &text);

// The text of a JSON string literal, quotes included.
std::string json_string(const std::string &text);

} // namespace kmov

#endif
