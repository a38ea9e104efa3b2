// kmov info FILE [--offset N] [--json]
#include "cli.h"
#include "commands.h"
#include "movie_input.h"

#include <cstdio>
#include <sstream>

namespace kmov {

namespace {

std::string hex8(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "%08x", value);
    return text;
}

void print_json(const MovieLocation &location, const MovieSummary &s) {
    const MovieHeader &h = s.header;
    std::ostringstream out;
    out << "{\n";
    out << "  \"file\": " << json_string(location.path) << ",\n";
    out << "  \"offset\": " << location.offset << ",\n";
    out << "  \"integrity\": ";
    if (location.integrity)
        out << "{\"stored\": \"" << hex8(location.integrity->stored) << "\", \"computed\": \""
            << hex8(location.integrity->computed)
            << "\", \"matches\": " << (location.integrity->matches() ? "true" : "false") << "},\n";
    else
        out << "null,\n";
#define KMOV_JSON_FIELD(name, meaning) out << "  \"" #name "\": " << h.name << ",\n";
    MOVIE_HEADER_FIELDS(KMOV_JSON_FIELD)
#undef KMOV_JSON_FIELD
    out << "  \"records\": " << s.records << ",\n";
    out << "  \"tags\": {";
    bool first = true;
    for (const auto &[tag, count] : s.tags) {
        out << (first ? "" : ", ") << json_string(tag_text(tag)) << ": " << count;
        first = false;
    }
    out << "},\n";
    out << "  \"duration_ms\": " << s.duration_ms << ",\n";
    out << "  \"largest_payload\": " << s.largest_payload << ",\n";
    out << "  \"palette\": [";
    for (size_t i = 0; i < s.palette.size(); i++)
        out << (i ? ", " : "") << "[" << int(s.palette[i].r) << ", " << int(s.palette[i].g) << ", "
            << int(s.palette[i].b) << "]";
    out << "],\n";
    out << "  \"problems\": [";
    for (size_t i = 0; i < s.problems.size(); i++)
        out << (i ? ", " : "") << json_string(s.problems[i]);
    out << "]\n}\n";
    std::fputs(out.str().c_str(), stdout);
}

void print_text(const MovieLocation &location, const MovieSummary &s) {
    const MovieHeader &h = s.header;
    std::printf("file          %s (movie at offset %lld)\n", location.path.c_str(),
                static_cast<long long>(location.offset));
    if (location.integrity)
        std::printf("checksum      stored %s, computed %s: %s\n",
                    hex8(location.integrity->stored).c_str(),
                    hex8(location.integrity->computed).c_str(),
                    location.integrity->matches() ? "matches" : "does not match");
    std::printf("frame         %d x %d\n", h.width, h.height);
    std::printf("frame_rate    %d (%.3f fps)\n", h.frame_rate, h.frame_rate / 1000.0);
    std::printf("frame_count   %d\n", h.frame_count);
    std::printf("data_rate     %d bytes/s\n", h.data_rate);
    std::printf("ring_size     %d\n", h.ring_size);
    std::printf("preload_size  %d\n", h.preload_size);
    if (h.sample_rate != 0)
        std::printf("sound         %d Hz, ldp %d, %d samples per buffer, %d buffer pairs\n",
                    h.sample_rate, h.ldp, h.samples_per_buffer, h.buffer_pairs);
    else
        std::printf("sound         none\n");
    std::printf("records       %lld:", static_cast<long long>(s.records));
    for (const auto &[tag, count] : s.tags)
        std::printf(" \"%s\" %lld", tag_text(tag).c_str(), static_cast<long long>(count));
    std::printf("\n");
    std::printf("duration      %llu ms\n", static_cast<unsigned long long>(s.duration_ms));
    std::printf("largest       %u bytes\n", s.largest_payload);
    std::printf("palette       240 colours; 0 = #%02x%02x%02x, 239 = #%02x%02x%02x\n",
                s.palette[0].r, s.palette[0].g, s.palette[0].b, s.palette[239].r, s.palette[239].g,
                s.palette[239].b);
    if (s.problems.empty()) {
        std::printf("problems      none\n");
    } else {
        std::printf("problems      %zu\n", s.problems.size());
        for (const std::string &problem : s.problems)
            std::printf("  - %s\n", problem.c_str());
    }
}

} // namespace

int command_info(const std::vector<std::string> &argv) {
    Arguments args("info", "FILE [--offset N] [--json]",
                   "Shows a movie's header fields, palette, record counts per tag, the sum of\n"
                   "the delays, the largest payload, and what is wrong with it. FILE is a movie\n"
                   "or a self-playing executable, whose integrity check is shown too. Exits 0\n"
                   "when nothing is wrong, 1 when a problem is listed, 2 for a bad command line.",
                   {{"offset", true, "file offset of the movie (default: found)", "N"},
                    {"json", false, "print one JSON object"}});
    if (!args.parse(argv))
        return report("info", {args.error(), 2});
    if (args.help()) {
        std::fputs(args.help_text().c_str(), stdout);
        return 0;
    }
    if (args.positional().size() != 1)
        return report("info", {"expects one FILE (see kmov info --help)", 2});
    std::optional<uint64_t> offset;
    if (args.has("offset")) {
        offset = parse_unsigned(args.value("offset"));
        if (!offset)
            return report("info", {"--offset takes a whole number of bytes", 2});
    }
    report_player_errors("info");
    Expected<MovieLocation> location = locate_movie(args.positional()[0], offset);
    if (!location)
        return report("info", location.error());
    Expected<MovieSummary> summary = inspect_movie(*location, true);
    if (!summary) {
        // The one message a script may match: "FILE: not a kmov file".
        std::fprintf(stderr, "%s\n", summary.error().message.c_str());
        return 1;
    }
    if (args.has("json"))
        print_json(*location, *summary);
    else
        print_text(*location, *summary);
    return summary->problems.empty() ? 0 : 1;
}

} // namespace kmov
