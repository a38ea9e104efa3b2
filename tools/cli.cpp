#include "cli.h"

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace kmov {

Option flag_option(std::string name, std::string help) {
    Option option;
    option.name = std::move(name);
    option.help = std::move(help);
    return option;
}

Option text_option(std::string name, std::string value_name, std::string help) {
    Option option = flag_option(std::move(name), std::move(help));
    option.type = OptionType::text;
    option.value_name = std::move(value_name);
    return option;
}

Option whole_option(std::string name, std::string value_name, std::string help, double min,
                    double max, std::string takes, std::string fallback) {
    Option option = text_option(std::move(name), std::move(value_name), std::move(help));
    option.type = OptionType::whole;
    option.min = min;
    option.max = max;
    option.takes = std::move(takes);
    option.fallback = std::move(fallback);
    return option;
}

Option real_option(std::string name, std::string value_name, std::string help, double min,
                   double max, std::string takes) {
    Option option = whole_option(std::move(name), std::move(value_name), std::move(help), min, max,
                                 std::move(takes));
    option.type = OptionType::real;
    return option;
}

Option choice_option(std::string name, std::string value_name, std::string help,
                     std::vector<std::string> words, std::string takes) {
    Option option = text_option(std::move(name), std::move(value_name), std::move(help));
    option.type = OptionType::choice;
    option.words = std::move(words);
    option.takes = std::move(takes);
    return option;
}

Option checked_option(std::string name, std::string value_name, std::string help,
                      bool (*accepts)(const std::string &), std::string takes) {
    Option option = text_option(std::move(name), std::move(value_name), std::move(help));
    option.accepts = accepts;
    option.takes = std::move(takes);
    return option;
}

Option alias_option(std::string name, std::string target, std::string value_name,
                    std::string help) {
    Option option = text_option(std::move(name), std::move(value_name), std::move(help));
    option.same_as = std::move(target);
    return option;
}

Check positionals_check(size_t min, size_t max, std::string message) {
    return {Check::positionals, {}, min, max, std::move(message)};
}

Check required_check(std::string option, std::string message) {
    return {Check::required, {std::move(option)}, 0, SIZE_MAX, std::move(message)};
}

Check exclusive_check(std::string a, std::string b, std::string message) {
    return {Check::exclusive, {std::move(a), std::move(b)}, 0, SIZE_MAX, std::move(message)};
}

Check one_of_check(std::string a, std::string b, std::string message) {
    return {Check::one_of, {std::move(a), std::move(b)}, 0, SIZE_MAX, std::move(message)};
}

namespace {

// Whether `text` is a value `option` takes: of its type, in its range, and
// accepted by its own test.
bool takes_value(const Option &option, const std::string &text) {
    switch (option.type) {
    case OptionType::flag:
    case OptionType::text:
        break;
    case OptionType::whole: {
        std::optional<uint64_t> value = parse_unsigned(text);
        if (!value || static_cast<double>(*value) < option.min ||
            static_cast<double>(*value) > option.max)
            return false;
        break;
    }
    case OptionType::real: {
        char *end = nullptr;
        const double value = std::strtod(text.c_str(), &end);
        if (text.empty() || *end != '\0' || !(value >= option.min && value <= option.max))
            return false;
        break;
    }
    case OptionType::choice: {
        bool found = false;
        for (const std::string &word : option.words)
            found = found || word == text;
        if (!found)
            return false;
        break;
    }
    }
    return option.accepts == nullptr || option.accepts(text);
}

} // namespace

const Option *Arguments::find(const std::string &name) const {
    for (const Option &option : spec_->options)
        if (option.name == name)
            return &option;
    return nullptr;
}

Status Arguments::parse(const std::vector<std::string> &argv) {
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
            return {};
        }
        std::string name = arg.substr(arg[1] == '-' ? 2 : 1);
        std::optional<std::string> inline_value;
        if (size_t eq = name.find('='); eq != std::string::npos) {
            inline_value = name.substr(eq + 1);
            name = name.substr(0, eq);
        }
        const Option *option = find(name);
        if (option == nullptr)
            return usage_error("unknown option '" + arg + "' (see kmov " + spec_->name +
                               " --help)");
        const std::string &key = option->same_as.empty() ? option->name : option->same_as;
        if (option->type == OptionType::flag) {
            if (inline_value)
                return usage_error("option " + arg.substr(0, arg.find('=')) + " takes no value");
            values_[key] = "";
        } else if (inline_value) {
            values_[key] = *inline_value;
        } else if (i + 1 < argv.size()) {
            values_[key] = argv[++i];
        } else {
            return usage_error("option " + arg + " needs a value");
        }
    }
    return {};
}

Status Arguments::check() const {
    for (const Check &check : spec_->checks) {
        bool ok = true;
        switch (check.kind) {
        case Check::positionals:
            ok = positional_.size() >= check.min && positional_.size() <= check.max;
            break;
        case Check::required:
            ok = !value(check.options[0]).empty();
            break;
        case Check::exclusive:
            ok = !(has(check.options[0]) && has(check.options[1]));
            break;
        case Check::one_of:
            ok = has(check.options[0]) != has(check.options[1]);
            break;
        }
        if (!ok)
            return usage_error(check.message);
    }
    for (const Option &option : spec_->options)
        if (has(option.name) && !takes_value(option, values_.at(option.name)))
            return usage_error("--" + option.name + " takes " + option.takes);
    return {};
}

std::string Arguments::help_text() const {
    std::string out =
        "usage: kmov " + spec_->name + " " + spec_->usage + "\n\n" + spec_->description + "\n";
    if (!spec_->options.empty()) {
        out += "\noptions:\n";
        for (const Option &option : spec_->options) {
            // One-letter options are written as they are usually typed: -o.
            std::string left = (option.name.size() == 1 ? "-" : "--") + option.name;
            if (option.type != OptionType::flag)
                left += " " + option.value_name;
            if (left.size() < 22)
                left.resize(22, ' ');
            out += "  " + left + " " + option.help + "\n";
        }
    }
    return out + "  --help                 show this help\n";
}

std::string Arguments::value(const std::string &name, const std::string &fallback) const {
    if (auto given = values_.find(name); given != values_.end())
        return given->second;
    const Option *option = find(name);
    return option != nullptr && !option->fallback.empty() ? option->fallback : fallback;
}

uint64_t Arguments::whole(const std::string &name) const {
    return parse_unsigned(value(name)).value_or(0);
}

double Arguments::real(const std::string &name) const {
    const std::string text = value(name);
    return text.empty() ? 0 : std::strtod(text.c_str(), nullptr);
}

Option offset_option(std::string help) {
    return whole_option("offset", "N", std::move(help), 0, std::numeric_limits<double>::max(),
                        "a whole number of bytes");
}

std::vector<Option> progress_options() {
    return {flag_option("progress", "show progress even when stderr is not a terminal"),
            flag_option("quiet", "show no progress")};
}

bool shows_progress(const Arguments &args) {
    return !args.has("quiet") && (args.has("progress") || isatty(STDERR_FILENO));
}

int report(const std::string &command, const Error &error) {
    std::fprintf(stderr, "kmov %s: %s\n", command.c_str(), error.text().c_str());
    return error.exit_code();
}

int run_command(const CommandSpec &spec, const std::vector<std::string> &argv) {
    Arguments args(spec);
    if (Status parsed = args.parse(argv); !parsed)
        return report(spec.name, parsed.error());
    if (args.help()) {
        std::fputs(args.help_text().c_str(), stdout);
        return 0;
    }
    if (Status checked = args.check(); !checked)
        return report(spec.name, checked.error());
    Expected<int> code = spec.run(args);
    return code ? *code : report(spec.name, code.error());
}

namespace {

void list_commands(const std::vector<const CommandSpec *> &commands, FILE *out) {
    std::fprintf(out, "usage: kmov COMMAND [ARGS...]\n\ncommands:\n");
    for (const CommandSpec *command : commands)
        std::fprintf(out, "  %-10s %s\n", command->name.c_str(), command->summary.c_str());
    std::fprintf(out, "\n'kmov COMMAND --help' describes one command.\n");
}

} // namespace

int run_program(const std::vector<const CommandSpec *> &commands, const char *version,
                const std::vector<std::string> &argv) {
    if (argv.empty()) {
        list_commands(commands, stderr);
        return 2;
    }
    const std::string &name = argv[0];
    if (name == "--help" || name == "-h" || name == "help") {
        list_commands(commands, stdout);
        return 0;
    }
    if (name == "--version") {
        std::printf("kmov %s\n", version);
        return 0;
    }
    for (const CommandSpec *command : commands)
        if (command->name == name)
            return run_command(*command, std::vector<std::string>(argv.begin() + 1, argv.end()));
    std::fprintf(stderr, "kmov: unknown command '%s'\n", name.c_str());
    list_commands(commands, stderr);
    return 2;
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

} // namespace kmov
