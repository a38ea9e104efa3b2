// kmov encode INPUT... -o OUT.kmov [options]
#include "commands.h"
#include "encode_command.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <sstream>
#include <unistd.h>

namespace kmov {

namespace {

Arguments encode_arguments() {
    std::vector<Arguments::Option> options = {{"o", true, "the movie to write", "OUT"}};
    options.insert(options.end(), encoder_options().begin(), encoder_options().end());
    return Arguments("encode", "INPUT... -o OUT.kmov [options]",
                     "Makes a movie from a video file, an image sequence (a pattern such as\n"
                     "frame%04d.png, or several image files in order) and sound.",
                     options);
}

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

bool shows_progress(const Arguments &args) {
    return !args.has("quiet") && (args.has("progress") || isatty(STDERR_FILENO));
}

std::string json_number(double v, int digits) {
    if (std::isinf(v))
        return "null";
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", digits, v);
    return text;
}

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

const std::vector<Arguments::Option> &encoder_options() {
    static const std::vector<Arguments::Option> options = {
        {"size", true,
         "fit inside WxH keeping the shape; W or xH sets one side (default: the input's, "
         "fitted inside 640x480)",
         "WxH"},
        {"crop", false, "fill the --size box, cutting off the picture's edges"},
        {"stretch", false, "fill the --size box, distorting the picture"},
        {"allow-large", false, "allow frames larger than 1920x1080"},
        {"fps", true, "frames per second, 1 to 60 (default 15)", "N"},
        {"start", true, "start this many seconds into the input", "T"},
        {"duration", true, "take at most this many seconds", "T"},
        {"no-audio", false, "leave the sound out"},
        {"audio", true, "take the sound from this file", "FILE"},
        {"rate", true, "sound samples per second (default 22050)", "N"},
        {"bits", true,
         "bits per sound code, 4 or 6 (default 6 when that adds under 5 % to the movie, else 4)",
         "N"},
        {"cover", true, "the picture shown while sound alone plays (default black)", "IMAGE"},
        {"dither", true, "none, ordered or diffusion (default diffusion)", "KIND"},
        {"palette", true, "use this palette: a kmov movie, a .gpl or a .pal", "FILE"},
        {"lossy", true, "allow colour differences below this delta E (e.g. 2)", "LEVEL"},
        {"max-size", true,
         "the best movie (for make: program) not larger: bytes, or with K (1000) or M "
         "(1000000)",
         "SIZE"},
        {"json", false, "print a summary as JSON on stdout"},
        {"progress", false, "show progress even when stderr is not a terminal"},
        {"quiet", false, "show no progress"},
        {"write-frames", true, "also write the decoded frames as raw RGB24", "FILE"},
    };
    return options;
}

Expected<EncodeOptions> parse_encode_options(const Arguments &args) {
    EncodeOptions options;
    options.inputs = args.positional();
    if (options.inputs.empty())
        return Error{"no input (see kmov encode --help)", 2};
    if (args.has("size")) {
        // WxH, W or xH.
        const std::string size = args.value("size");
        const size_t x = size.find_first_of("xX");
        const std::string w_text = size.substr(0, x);
        const std::string h_text = x == std::string::npos ? "" : size.substr(x + 1);
        auto w = w_text.empty() ? std::optional<uint64_t>(0) : parse_unsigned(w_text);
        auto h = h_text.empty() ? std::optional<uint64_t>(0) : parse_unsigned(h_text);
        if (!w || !h || (*w == 0 && *h == 0) || (!w_text.empty() && *w == 0) ||
            (!h_text.empty() && *h == 0) || (x != std::string::npos && h_text.empty()) ||
            *w > 4096 || *h > 4096)
            return Error{"--size takes WIDTHxHEIGHT, WIDTH or xHEIGHT, each 1 to 4096 (e.g. "
                         "320x240)",
                         2};
        options.width = static_cast<int>(*w);
        options.height = static_cast<int>(*h);
    }
    if (args.has("crop") && args.has("stretch"))
        return Error{"--crop and --stretch do not go together", 2};
    if ((args.has("crop") || args.has("stretch")) && (options.width == 0 || options.height == 0))
        return Error{std::string(args.has("crop") ? "--crop" : "--stretch") +
                         " needs a --size box of both sides (WxH)",
                     2};
    options.fit = args.has("crop") ? Fit::Crop : args.has("stretch") ? Fit::Stretch : Fit::Inside;
    options.allow_large = args.has("allow-large");
    if (args.has("fps")) {
        char *end = nullptr;
        const std::string text = args.value("fps");
        options.fps = std::strtod(text.c_str(), &end);
        if (text.empty() || *end != '\0' || !(options.fps >= MIN_FPS && options.fps <= MAX_FPS))
            return Error{"--fps takes frames per second from 1 to 60", 2};
    }
    for (const char *name : {"start", "duration"}) {
        if (!args.has(name))
            continue;
        auto seconds = parse_seconds(args.value(name));
        if (!seconds)
            return Error{std::string("--") + name + " takes seconds (1.5) or [h:]m:s", 2};
        (std::string(name) == "start" ? options.start : options.duration) = *seconds;
    }
    options.sound = !args.has("no-audio");
    options.audio_file = args.value("audio");
    if (!options.sound && !options.audio_file.empty())
        return Error{"--audio and --no-audio do not go together", 2};
    if (args.has("rate")) {
        auto rate = parse_unsigned(args.value("rate"));
        if (!rate || *rate < 1000 || *rate > 96000)
            return Error{"--rate takes samples per second, 1000 to 96000", 2};
        options.rate = static_cast<int>(*rate);
    }
    if (args.has("bits")) {
        auto bits = parse_unsigned(args.value("bits"));
        if (!bits || (*bits != 4 && *bits != 6))
            return Error{"--bits takes 4 or 6", 2};
        options.bits = static_cast<int>(*bits);
    }
    if (args.has("dither")) {
        const std::string kind = args.value("dither");
        if (kind == "none")
            options.dither = Dither::None;
        else if (kind == "ordered")
            options.dither = Dither::Ordered;
        else if (kind == "diffusion")
            options.dither = Dither::Diffusion;
        else
            return Error{"--dither takes none, ordered or diffusion", 2};
    }
    options.palette_file = args.value("palette");
    options.cover_file = args.value("cover");
    if (args.has("lossy")) {
        char *end = nullptr;
        const std::string text = args.value("lossy");
        options.lossy = std::strtod(text.c_str(), &end);
        if (text.empty() || *end != '\0' || !(options.lossy >= 0 && options.lossy <= 100))
            return Error{"--lossy takes a colour difference from 0 to 100 (delta E)", 2};
    }
    options.frames_file = args.value("write-frames");
    std::vector<std::string> inputs = options.inputs;
    inputs.push_back(options.audio_file);
    inputs.push_back(options.palette_file);
    inputs.push_back(options.cover_file);
    if (std::optional<Error> error =
            refuse_output_over_input({args.value("o"), options.frames_file}, inputs))
        return *error;
    return options;
}

std::string encode_summary_json(const EncodeStats &s) {
    std::ostringstream out;
    out << "{\n";
    out << "  \"frames\": " << s.frames << ",\n";
    out << "  \"width\": " << s.width << ",\n";
    out << "  \"height\": " << s.height << ",\n";
    out << "  \"bytes\": " << s.movie_bytes << ",\n";
    out << "  \"video_bytes\": " << s.video_bytes << ",\n";
    out << "  \"bytes_per_frame\": "
        << json_number(static_cast<double>(s.video_bytes) / s.frames, 1) << ",\n";
    out << "  \"psnr\": " << json_number(s.psnr, 3) << ",\n";
    out << "  \"ssim\": " << json_number(s.ssim, 5) << ",\n";
    out << "  \"audio_bits\": " << s.audio_bits << ",\n";
    out << "  \"audio_snr\": " << (s.audio_snr ? json_number(*s.audio_snr, 2) : "null") << ",\n";
    out << "  \"audio_snr_other_bits\": " << (s.other_snr ? json_number(*s.other_snr, 2) : "null")
        << ",\n";
    out << "  \"seconds\": " << json_number(s.seconds, 3) << ",\n";
    out << "  \"encode_fps\": " << json_number(s.frames / std::max(s.encode_seconds, 1e-9), 1)
        << "\n";
    out << "}\n";
    return out.str();
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
    std::optional<uint64_t> limit = parse_size(args.value("max-size"));
    if (!limit)
        return Error{"--max-size takes a number of bytes, or of K or M (e.g. 8M)", 2};
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

int command_encode(const std::vector<std::string> &argv) {
    Arguments args = encode_arguments();
    if (!args.parse(argv))
        return report("encode", {args.error(), 2});
    if (args.help()) {
        std::fputs(args.help_text().c_str(), stdout);
        return 0;
    }
    if (!args.has("o"))
        return report("encode", {"no output: give -o OUT.kmov", 2});
    auto options = parse_encode_options(args);
    if (!options)
        return report("encode", options.error());
    auto encoded = run_encoder(args, *options);
    if (!encoded)
        return report("encode", encoded.error());
    const std::string written = encoded->movie.write(args.value("o"));
    if (!written.empty()) {
        if (!options->frames_file.empty())
            std::remove(options->frames_file.c_str());
        return report("encode", {written});
    }
    print_encode_summary(args, args.value("o"), encoded->stats);
    return 0;
}

} // namespace kmov
