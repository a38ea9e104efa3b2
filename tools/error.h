// Failures in the tools: one type, handed back as a value. A command turns
// the Error that ends it into its line on stderr and its exit code; nothing
// below the command prints or exits, and nothing throws.
#ifndef KMOV_TOOLS_ERROR_H
#define KMOV_TOOLS_ERROR_H

#include <optional>
#include <string>
#include <utility>

namespace kmov {

// How a failure ends the command: its exit code.
enum class ErrorClass {
    failure = 1, // the work could not be done (a file, a movie, the player)
    usage = 2,   // the command line cannot be taken, or would destroy an input
};

// What failed: the reason, the file it concerns when there is one, and how
// it ends the command.
struct Error {
    std::string message; // the reason, in UTF-8
    ErrorClass kind = ErrorClass::failure;
    std::string file = {}; // the file at fault, named in front of the reason; empty for none

    // "FILE: message", or the message alone.
    std::string text() const { return file.empty() ? message : file + ": " + message; }
    int exit_code() const { return static_cast<int>(kind); }
};

// A failure concerning `file`.
inline Error file_error(std::string file, std::string message) {
    return Error{std::move(message), ErrorClass::failure, std::move(file)};
}

// A command line that cannot be taken (exit code 2).
inline Error usage_error(std::string message) {
    return Error{std::move(message), ErrorClass::usage, {}};
}

// `error` with `file` named in front, unless it names one already.
inline Error naming(Error error, const std::string &file) {
    if (error.file.empty())
        error.file = file;
    return error;
}

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

// Done, or the Error that stopped it: what an operation without a value
// returns.
template <> class Expected<void> {
  public:
    Expected() = default;
    Expected(Error error) : error_(std::move(error)), failed_(true) {}
    explicit operator bool() const { return !failed_; }
    const Error &error() const { return error_; }

  private:
    Error error_;
    bool failed_ = false;
};
using Status = Expected<void>;

} // namespace kmov

#endif
