// kmov encode INPUT... -o OUT.kmov [options]
#include "commands.h"
#include "encode_command.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <sstream>
#include <tuple>

namespace kmov {

namespace {

std::optional<double> parse_seconds(const std::string &text) {
    // Seconds (1.5) or [[h:]m:]s.
    double total = 0;
    std::istringstream in(text);
    std::string part;
    int parts = 0;
    while (std::getline(in, part, ':')) {
        if (part.empty())
            return std::nullopt;
        char *end = nullptr;
        const double v = std::strtod(part.c_str(), &end);
        if (*end != '\0' || !(v >= 0))
            return std::nullopt;
        total = total * 60 + v;
        parts++;
    }
    if (parts == 0 || parts > 3)
        return std::nullopt;
    return total;
}

// --size: WxH, W or xH, each side 1 to 4096; a side not given is 0.
std::optional<std::pair<int, int>> parse_box(const std::string &size) {
    const size_t x = size.find_first_of("xX");
    const std::string w_text = size.substr(0, x);
    const std::string h_text = x == std::string::npos ? "" : size.substr(x + 1);
    auto w = w_text.empty() ? std::optional<uint64_t>(0) : parse_unsigned(w_text);
    auto h = h_text.empty() ? std::optional<uint64_t>(0) : parse_unsigned(h_text);
    if (!w || !h || (*w == 0 && *h == 0) || (!w_text.empty() && *w == 0) ||
        (!h_text.empty() && *h == 0) || (x != std::string::npos && h_text.empty()) || *w > 4096 ||
        *h > 4096)
        return std::nullopt;
    return std::pair<int, int>(static_cast<int>(*w), static_cast<int>(*h));
}

std::string megabytes(uint64_t bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f MB", static_cast<double>(bytes) / 1e6);
    return text;
}

// The progress bar: frames done, frames per second, bytes, time left.
class ProgressBar {
  public:
    explicit ProgressBar(bool on) : on_(on), start_(std::chrono::steady_clock::now()) {}
    void update(int pass, int done, int total, uint64_t bytes) {
        if (!on_)
            return;
        const auto now = std::chrono::steady_clock::now();
        if (pass != pass_) {
            pass_ = pass;
            start_ = now;
        }
        if (done != total && now - last_ < std::chrono::milliseconds(100))
            return;
        last_ = now;
        const double elapsed = std::chrono::duration<double>(now - start_).count();
        const double fps = elapsed > 0 ? done / elapsed : 0;
        char line[160];
        if (pass == 1) {
            std::snprintf(line, sizeof line, "\rreading   %6d frames  %6.1f fps", done, fps);
        } else {
            const int width = 30;
            const int filled = total > 0 ? done * width / total : 0;
            const double left = fps > 0 ? (total - done) / fps : 0;
            std::string bar(static_cast<size_t>(filled), '#');
            bar.resize(width, '.');
            std::snprintf(line, sizeof line,
                          "\rencoding [%s] %d/%d frames  %5.1f fps  %s  %d:%02d left ", bar.c_str(),
                          done, total, fps, megabytes(bytes).c_str(), static_cast<int>(left) / 60,
                          static_cast<int>(left) % 60);
        }
        std::fputs(line, stderr);
        if (pass == 2 && done == total)
            std::fputs("\n", stderr);
        std::fflush(stderr);
    }
    void finish_line() {
        if (on_ && pass_ == 1)
            std::fputs("\n", stderr);
    }

  private:
    bool on_;
    int pass_ = 0;
    std::chrono::steady_clock::time_point start_, last_{};
};

// ", sound 6 bits SNR 31.5 dB (4 bits: 19.9 dB)", or nothing without sound.
std::string sound_summary(const EncodeStats &stats) {
    if (!stats.audio_snr)
        return "";
    std::string text = ", sound " + std::to_string(stats.audio_bits) + " bits SNR " +
                       json_number(*stats.audio_snr, 1) + " dB";
    if (stats.other_snr)
        text += " (" + std::to_string(10 - stats.audio_bits) +
                " bits: " + json_number(*stats.other_snr, 1) + " dB)";
    return text;
}

} // namespace

const std::vector<Option> &encoder_options() {
    static const std::vector<Option> options = [] {
        std::vector<Option> list = {
            checked_option(
                "size", "WxH",
                "fit inside WxH keeping the shape; W or xH sets one side (default: the input's, "
                "fitted inside 640x480)",
                [](const std::string &text) { return parse_box(text).has_value(); },
                "WIDTHxHEIGHT, WIDTH or xHEIGHT, each 1 to 4096 (e.g. 320x240)"),
            flag_option("crop", "fill the --size box, cutting off the picture's edges"),
            flag_option("stretch", "fill the --size box, distorting the picture"),
            flag_option("allow-large", "allow frames larger than 1920x1080"),
            real_option("fps", "N", "frames per second, 1 to 60 (default 15)", MIN_FPS, MAX_FPS,
                        "frames per second from 1 to 60"),
            checked_option(
                "start", "T", "start this many seconds into the input",
                [](const std::string &text) { return parse_seconds(text).has_value(); },
                "seconds (1.5) or [h:]m:s"),
            checked_option(
                "duration", "T", "take at most this many seconds",
                [](const std::string &text) { return parse_seconds(text).has_value(); },
                "seconds (1.5) or [h:]m:s"),
            flag_option("no-audio", "leave the sound out"),
            text_option("audio", "FILE", "take the sound from this file"),
            whole_option("rate", "N", "sound samples per second (default 22050)", 1000, 96000,
                         "samples per second, 1000 to 96000"),
            choice_option("bits", "N",
                          "bits per sound code, 4 or 6 (default 6 when that adds under 5 % to "
                          "the movie, else 4)",
                          {"4", "6"}, "4 or 6"),
            text_option("cover", "IMAGE",
                        "the picture shown while sound alone plays (default black)"),
            choice_option("dither", "KIND", "none, ordered or diffusion (default diffusion)",
                          {"none", "ordered", "diffusion"}, "none, ordered or diffusion"),
            text_option("palette", "FILE", "use this palette: a kmov movie, a .gpl or a .pal"),
            real_option("lossy", "LEVEL", "allow colour differences below this delta E (e.g. 2)", 0,
                        100, "a colour difference from 0 to 100 (delta E)"),
            checked_option(
                "max-size", "SIZE",
                "the best movie (for make: program) not larger: bytes, or with K (1000) or M "
                "(1000000)",
                [](const std::string &text) { return parse_size(text).has_value(); },
                "a number of bytes, or of K or M (e.g. 8M)"),
            flag_option("json", "print a summary as JSON on stdout"),
        };
        for (const Option &option : progress_options())
            list.push_back(option);
        list.push_back(
            text_option("write-frames", "FILE", "also write the decoded frames as raw RGB24"));
        return list;
    }();
    return options;
}

std::vector<Check> encoder_checks(const std::string &command) {
    return {positionals_check(1, SIZE_MAX, "no input (see kmov " + command + " --help)"),
            exclusive_check("crop", "stretch", "--crop and --stretch do not go together"),
            exclusive_check("audio", "no-audio", "--audio and --no-audio do not go together")};
}

Expected<EncodeOptions> parse_encode_options(const Arguments &args) {
    EncodeOptions options;
    options.inputs = args.positional();
    if (args.has("size"))
        std::tie(options.width, options.height) = *parse_box(args.value("size"));
    if ((args.has("crop") || args.has("stretch")) && (options.width == 0 || options.height == 0))
        return usage_error(std::string(args.has("crop") ? "--crop" : "--stretch") +
                           " needs a --size box of both sides (WxH)");
    options.fit = args.has("crop") ? Fit::Crop : args.has("stretch") ? Fit::Stretch : Fit::Inside;
    options.allow_large = args.has("allow-large");
    if (args.has("fps"))
        options.fps = args.real("fps");
    if (args.has("start"))
        options.start = *parse_seconds(args.value("start"));
    if (args.has("duration"))
        options.duration = *parse_seconds(args.value("duration"));
    options.sound = !args.has("no-audio");
    options.audio_file = args.value("audio");
    if (args.has("rate"))
        options.rate = static_cast<int>(args.whole("rate"));
    if (args.has("bits"))
        options.bits = static_cast<int>(args.whole("bits"));
    if (args.has("dither")) {
        const std::string kind = args.value("dither");
        options.dither = kind == "none"      ? Dither::None
                         : kind == "ordered" ? Dither::Ordered
                                             : Dither::Diffusion;
    }
    options.palette_file = args.value("palette");
    options.cover_file = args.value("cover");
    if (args.has("lossy"))
        options.lossy = args.real("lossy");
    options.frames_file = args.value("write-frames");
    std::vector<std::string> inputs = options.inputs;
    inputs.push_back(options.audio_file);
    inputs.push_back(options.palette_file);
    inputs.push_back(options.cover_file);
    if (Status refused = refuse_output_over_input({args.value("o"), options.frames_file}, inputs);
        !refused)
        return refused.error();
    return options;
}

std::string encode_summary_json(const EncodeStats &s) {
    return json_object({
        {"frames", std::to_string(s.frames)},
        {"width", std::to_string(s.width)},
        {"height", std::to_string(s.height)},
        {"bytes", std::to_string(s.movie_bytes)},
        {"video_bytes", std::to_string(s.video_bytes)},
        {"bytes_per_frame", json_number(static_cast<double>(s.video_bytes) / s.frames, 1)},
        {"psnr", json_number(s.psnr, 3)},
        {"ssim", json_number(s.ssim, 5)},
        {"audio_bits", std::to_string(s.audio_bits)},
        {"audio_snr", s.audio_snr ? json_number(*s.audio_snr, 2) : "null"},
        {"audio_snr_other_bits", s.other_snr ? json_number(*s.other_snr, 2) : "null"},
        {"seconds", json_number(s.seconds, 3)},
        {"encode_fps", json_number(s.frames / std::max(s.encode_seconds, 1e-9), 1)},
    });
}

std::optional<uint64_t> parse_size(const std::string &text) {
    if (text.empty())
        return std::nullopt;
    uint64_t unit = 1;
    std::string digits = text;
    char last = static_cast<char>(std::toupper(static_cast<unsigned char>(text.back())));
    if (last == 'K' || last == 'M') {
        unit = last == 'K' ? 1000 : 1000000;
        digits.pop_back();
    }
    std::optional<uint64_t> value = parse_unsigned(digits);
    if (!value || *value == 0 || *value > UINT32_MAX / unit)
        return std::nullopt;
    return *value * unit;
}

namespace {

// The highest colour tolerance the size search tries (delta E): beyond it
// the pictures fall apart faster than they shrink.
constexpr double MAX_SEARCH_LOSSY = 24;

std::string describe_choice(const EncodeOptions &options) {
    const char *dither = options.dither == Dither::Diffusion ? "diffusion"
                         : options.dither == Dither::Ordered ? "ordered"
                                                             : "no";
    return "lossy " + json_number(options.lossy, 1) + ", " + dither + " dither, " +
           json_number(options.fps, options.fps == std::floor(options.fps) ? 0 : 2) + " fps";
}

} // namespace

Expected<EncodedMovie> run_encoder(const Arguments &args, const EncodeOptions &options,
                                   uint64_t overhead) {
    if (!args.has("max-size"))
        return run_encoder_once(args, options);
    // Checked with the command line.
    const std::optional<uint64_t> limit = parse_size(args.value("max-size"));
    if (*limit <= overhead)
        return Error{"--max-size " + args.value("max-size") + " leaves no room beside the " +
                     std::to_string(overhead) + "-byte player"};
    const uint64_t room = *limit - overhead;

    // Tries the settings: the smallest size reached and the best movie that
    // fits are kept. The frames file is written for the choice at the end.
    EncodeOptions trial = options;
    trial.frames_file.clear();
    std::optional<EncodedMovie> best;
    std::optional<EncodeOptions> chosen;
    uint64_t smallest = UINT64_MAX;
    EncodeOptions smallest_at = trial;
    int tries = 0;
    auto fits = [&](const EncodeOptions &settings) -> Expected<bool> {
        Expected<EncodedMovie> movie = run_encoder_once(args, settings);
        if (!movie)
            return movie.error();
        tries++;
        uint64_t size = movie->stats.movie_bytes;
        if (size < smallest) {
            smallest = size;
            smallest_at = settings;
        }
        if (size > room)
            return false;
        best = std::move(*movie);
        chosen = settings;
        return true;
    };
    Expected<bool> ok = fits(trial);
    if (!ok)
        return ok.error();
    if (!*ok) {
        // The lossy level: the least that fits, by halving the interval.
        EncodeOptions most = trial;
        most.lossy = std::max(trial.lossy, MAX_SEARCH_LOSSY);
        if (!(ok = fits(most)))
            return ok.error();
        if (*ok) {
            double low = trial.lossy, high = most.lossy;
            for (int step = 0; step < 4; step++) {
                EncodeOptions middle = trial;
                middle.lossy = (low + high) / 2;
                Expected<bool> middle_fits = fits(middle);
                if (!middle_fits)
                    return middle_fits.error();
                (*middle_fits ? high : low) = middle.lossy;
            }
            // `best` holds the last that fitted; the search only lowers it.
        } else {
            // Past the lossy level's end: no dither, then fewer frames.
            EncodeOptions plainer = most;
            plainer.dither = Dither::None;
            if (!(ok = fits(plainer)))
                return ok.error();
            double tried_fps = plainer.fps;
            for (double divisor : {1.5, 2.0, 3.0, 5.0, 15.0, 60.0}) {
                if (*ok)
                    break;
                EncodeOptions slower = plainer;
                slower.fps = std::max(1.0, std::round(options.fps / divisor));
                if (slower.fps >= tried_fps)
                    continue;
                tried_fps = slower.fps;
                if (!(ok = fits(slower)))
                    return ok.error();
            }
        }
    }
    if (!best)
        return Error{"--max-size " + args.value("max-size") + " cannot be met: the smallest " +
                     (overhead > 0 ? "program" : "movie") + " reached takes " +
                     std::to_string(smallest + overhead) + " bytes (" +
                     describe_choice(smallest_at) + ")"};
    if (!options.frames_file.empty()) {
        EncodeOptions final_run = *chosen;
        final_run.frames_file = options.frames_file;
        Expected<EncodedMovie> again = run_encoder_once(args, final_run);
        if (!again)
            return again.error();
        best = std::move(*again);
    }
    if (!args.has("quiet"))
        std::fprintf(stderr, "--max-size %s: %s, %llu bytes (%d tries)\n",
                     args.value("max-size").c_str(), describe_choice(*chosen).c_str(),
                     static_cast<unsigned long long>(best->stats.movie_bytes + overhead), tries);
    return std::move(*best);
}

Expected<EncodedMovie> run_encoder_once(const Arguments &args, const EncodeOptions &options) {
    ProgressBar bar(shows_progress(args));
    Progress progress;
    progress.update = [&](int pass, int done, int total, uint64_t bytes) {
        if (pass == 2 && done == 1)
            bar.finish_line();
        bar.update(pass, done, total, bytes);
    };
    auto encoded = encode_movie(options, progress);
    if (!encoded) {
        bar.finish_line();
        if (!options.frames_file.empty())
            std::remove(options.frames_file.c_str());
    }
    return encoded;
}

void print_encode_summary(const Arguments &args, const std::string &out, const EncodeStats &stats) {
    if (args.has("json"))
        std::fputs(encode_summary_json(stats).c_str(), stdout);
    else if (shows_progress(args))
        std::fprintf(stderr, "%s: %d frames, %s, PSNR %.2f dB, SSIM %.4f%s\n", out.c_str(),
                     stats.frames, megabytes(stats.movie_bytes).c_str(), stats.psnr, stats.ssim,
                     sound_summary(stats).c_str());
}

namespace {

Expected<int> run_encode(const Arguments &args) {
    auto options = parse_encode_options(args);
    if (!options)
        return options.error();
    auto encoded = run_encoder(args, *options);
    if (!encoded)
        return encoded.error();
    if (Status written = encoded->movie.write(args.value("o")); !written) {
        if (!options->frames_file.empty())
            std::remove(options->frames_file.c_str());
        return written.error();
    }
    print_encode_summary(args, args.value("o"), encoded->stats);
    return 0;
}

} // namespace

const CommandSpec &encode_command() {
    static const CommandSpec spec = {
        "encode",
        "make a movie from video, images and sound",
        "INPUT... -o OUT.kmov [options]",
        "Makes a movie from a video file, an image sequence (a pattern such as\n"
        "frame%04d.png, or several image files in order) and sound.",
        joined({text_option("o", "OUT", "the movie to write")}, encoder_options()),
        joined({required_check("o", "no output: give -o OUT.kmov")}, encoder_checks("encode")),
        run_encode,
    };
    return spec;
}

} // namespace kmov
