// kmov info FILE [--offset N] [--json]
#include "cli.h"
#include "commands.h"
#include "movie_input.h"
#include "player_harness.h"

#include <cstdio>

namespace kmov {

namespace {

std::string hex8(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "%08x", value);
    return text;
}

void print_json(const MovieLocation &location, const MovieSummary &s) {
    const MovieHeader &h = s.header;
    JsonMembers members = {{"file", json_string(location.path)},
                           {"offset", std::to_string(location.offset)}};
    if (location.integrity)
        members.push_back(
            {"integrity", json_inline_object({
                              {"stored", json_string(hex8(location.integrity->stored))},
                              {"computed", json_string(hex8(location.integrity->computed))},
                              {"matches", location.integrity->matches() ? "true" : "false"},
                          })});
    else
        members.push_back({"integrity", "null"});
#define KMOV_JSON_FIELD(name, meaning) members.push_back({#name, std::to_string(h.name)});
    MOVIE_HEADER_FIELDS(KMOV_JSON_FIELD)
#undef KMOV_JSON_FIELD
    JsonMembers tags;
    for (const auto &[tag, count] : s.tags)
        tags.push_back({tag_text(tag), std::to_string(count)});
    std::vector<std::string> palette, problems;
    for (const Rgb &colour : s.palette)
        palette.push_back(json_array(
            {std::to_string(colour.r), std::to_string(colour.g), std::to_string(colour.b)}));
    for (const std::string &problem : s.problems)
        problems.push_back(json_string(problem));
    members.insert(members.end(), {{"records", std::to_string(s.records)},
                                   {"tags", json_inline_object(tags)},
                                   {"duration_ms", std::to_string(s.duration_ms)},
                                   {"largest_payload", std::to_string(s.largest_payload)},
                                   {"palette", json_array(palette)},
                                   {"problems", json_array(problems)}});
    std::fputs(json_object(members).c_str(), stdout);
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

Expected<int> run_info(const Arguments &args) {
    std::optional<uint64_t> offset;
    if (args.has("offset"))
        offset = args.whole("offset");
    report_player_errors("info");
    Expected<MovieLocation> location = locate_movie(args.positional()[0], offset);
    if (!location)
        return location.error();
    Expected<MovieSummary> summary = inspect_movie(*location, true);
    if (!summary) {
        // The one message a script may match: "FILE: not a kmov file".
        std::fprintf(stderr, "%s\n", summary.error().text().c_str());
        return 1;
    }
    if (args.has("json"))
        print_json(*location, *summary);
    else
        print_text(*location, *summary);
    return summary->problems.empty() ? 0 : 1;
}

} // namespace

const CommandSpec &info_command() {
    static const CommandSpec spec = {
        "info",
        "show a movie's header, palette, records and problems",
        "FILE [--offset N] [--json]",
        "Shows a movie's header fields, palette, record counts per tag, the sum of\n"
        "the delays, the largest payload, and what is wrong with it. FILE is a movie\n"
        "or a self-playing executable, whose integrity check is shown too. Exits 0\n"
        "when nothing is wrong, 1 when a problem is listed, 2 for a bad command line.",
        {offset_option("file offset of the movie (default: found)"),
         flag_option("json", "print one JSON object")},
        {positionals_check(1, 1, "expects one FILE (see kmov info --help)")},
        run_info,
    };
    return spec;
}

} // namespace kmov
