#include "cli.h"

#include "headless.h"

#include <cstdio>
#include <iconv.h>
#include <sstream>
#include <sys/stat.h>

namespace kmov {

Arguments::Arguments(std::string command, std::string usage, std::string description,
                     std::vector<Option> options)
    : command_(std::move(command)), usage_(std::move(usage)), description_(std::move(description)),
      options_(std::move(options)) {}

bool Arguments::parse(const std::vector<std::string> &argv) {
    bool options_done = false;
    for (size_t i = 0; i < argv.size(); i++) {
        const std::string &arg = argv[i];
        if (options_done || arg.size() < 2 || arg[0] != '-') {
            positional_.push_back(arg);
            continue;
        }
        if (arg == "--") {
            options_done = true;
            continue;
        }
        if (arg == "--help" || arg == "-h") {
            help_ = true;
            return true;
        }
        std::string name = arg.substr(arg[1] == '-' ? 2 : 1);
        std::optional<std::string> inline_value;
        if (size_t eq = name.find('='); eq != std::string::npos) {
            inline_value = name.substr(eq + 1);
            name = name.substr(0, eq);
        }
        const Option *option = nullptr;
        for (const Option &candidate : options_)
            if (candidate.name == name)
                option = &candidate;
        if (option == nullptr) {
            error_ = "unknown option '" + arg + "' (see kmov " + command_ + " --help)";
            return false;
        }
        if (!option->takes_value) {
            if (inline_value) {
                error_ = "option " + arg.substr(0, arg.find('=')) + " takes no value";
                return false;
            }
            values_.emplace(name, "");
            continue;
        }
        if (inline_value) {
            values_.emplace(name, *inline_value);
        } else if (i + 1 < argv.size()) {
            values_.emplace(name, argv[++i]);
        } else {
            error_ = "option " + arg + " needs a value";
            return false;
        }
    }
    return true;
}

std::string Arguments::help_text() const {
    std::ostringstream out;
    out << "usage: kmov " << command_ << " " << usage_ << "\n\n" << description_ << "\n";
    if (!options_.empty()) {
        out << "\noptions:\n";
        for (const Option &option : options_) {
            // One-letter options are written as they are usually typed: -o.
            std::string left = (option.name.size() == 1 ? "-" : "--") + option.name;
            if (option.takes_value)
                left += " " + option.value_name;
            out << "  " << left;
            for (size_t pad = left.size(); pad < 22; pad++)
                out << ' ';
            out << " " << option.help << "\n";
        }
    }
    out << "  --help                 show this help\n";
    return out.str();
}

std::string Arguments::value(const std::string &name, const std::string &fallback) const {
    auto range = values_.equal_range(name);
    if (range.first == range.second)
        return fallback;
    auto last = range.second;
    return (--last)->second;
}

std::vector<std::string> Arguments::values(const std::string &name) const {
    std::vector<std::string> out;
    auto range = values_.equal_range(name);
    for (auto it = range.first; it != range.second; ++it)
        out.push_back(it->second);
    return out;
}

std::optional<uint64_t> parse_unsigned(const std::string &text) {
    if (text.empty())
        return std::nullopt;
    int base = 10;
    size_t start = 0;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        start = 2;
    }
    uint64_t value = 0;
    for (size_t i = start; i < text.size(); i++) {
        int digit;
        char c = text[i];
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (base == 16 && c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else
            return std::nullopt;
        if (value > (UINT64_MAX - static_cast<uint64_t>(digit)) / static_cast<uint64_t>(base))
            return std::nullopt;
        value = value * static_cast<uint64_t>(base) + static_cast<uint64_t>(digit);
    }
    return value;
}

std::optional<Error> refuse_output_over_input(const std::vector<std::string> &outputs,
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
                return Error{output + " is the input " + input +
                                 ": writing it would destroy the input; name another output",
                             2};
        }
    }
    return std::nullopt;
}

int report(const std::string &command, const Error &error) {
    std::fprintf(stderr, "kmov %s: %s\n", command.c_str(), error.message.c_str());
    return error.exit_code;
}

namespace {

std::string reporting_command;

void print_player_error(const HeadlessMessageBox &box) {
    std::fprintf(stderr, "kmov %s: %s\n", reporting_command.c_str(),
                 cp932_to_utf8(box.text).c_str());
    std::fflush(stderr);
}

std::optional<std::string> convert(const std::string &text, const char *to, const char *from,
                                   bool lenient) {
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1))
        return std::nullopt;
    std::string out;
    std::vector<char> input(text.begin(), text.end());
    char *in = input.data();
    size_t in_left = input.size();
    char buffer[256];
    while (in_left > 0) {
        char *o = buffer;
        size_t o_left = sizeof buffer;
        size_t r = iconv(cd, &in, &in_left, &o, &o_left);
        out.append(buffer, static_cast<size_t>(o - buffer));
        if (r == static_cast<size_t>(-1) && errno != E2BIG) {
            if (!lenient) {
                iconv_close(cd);
                return std::nullopt;
            }
            out.push_back('?');
            in++;
            in_left--;
        }
    }
    iconv_close(cd);
    return out;
}

} // namespace

void report_player_errors(const std::string &command) {
    reporting_command = command;
    headless_set_message_box_echo(0);
    headless_set_message_box_hook(print_player_error);
}

std::string cp932_to_utf8(const std::string &text) {
    return convert(text, "UTF-8", "CP932", true).value_or(text);
}

std::optional<std::string> utf8_to_cp932(const std::string &text) {
    return convert(text, "CP932", "UTF-8", false);
}

std::string json_string(const std::string &text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (c < 0x20) {
                char escape[8];
                std::snprintf(escape, sizeof escape, "\\u%04x", c);
                out += escape;
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    return out + "\"";
}

} // namespace kmov
