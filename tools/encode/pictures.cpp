#include "encode/pictures.h"

#include "encode/frame_check.h"
#include "encode/frame_coder.h"
#include "encode/metrics.h"

#include <chrono>
#include <cstdio>

namespace kmov {

Expected<std::unique_ptr<VideoReader>> open_pictures(const PictureInput &input) {
    if (input.black)
        return VideoReader::black(input.black_width, input.black_height);
    return VideoReader::open(input.request);
}

Expected<PictureScan> scan_pictures(const PictureInput &input, bool histogram,
                                    const Progress &progress) {
    auto opened = open_pictures(input);
    if (!opened)
        return opened.error();
    std::unique_ptr<VideoReader> reader = std::move(*opened);
    PictureScan scan;
    scan.width = reader->width();
    scan.height = reader->height();
    const size_t pixels = static_cast<size_t>(scan.width) * static_cast<size_t>(scan.height);
    std::vector<uint8_t> rgba;
    bool keeping = true;
    for (;;) {
        auto more = reader->next(rgba);
        if (!more)
            return more.error();
        if (!*more)
            break;
        if (histogram)
            scan.histogram.add(rgba.data(), pixels);
        scan.count++;
        if (keeping && static_cast<size_t>(scan.count) * rgba.size() <= KEEP_BYTES) {
            scan.kept.push_back(rgba);
        } else if (keeping) {
            keeping = false;
            std::vector<std::vector<uint8_t>>().swap(scan.kept);
        }
        if (progress.update)
            progress.update(1, scan.count, 0, 0);
    }
    scan.all_kept = keeping;
    return scan;
}

Expected<Palette> pick_palette(const PictureScan &scan, const std::string &palette_file) {
    if (palette_file.empty())
        return choose_palette(scan.histogram);
    return load_palette(palette_file);
}

Expected<CodedPictures> code_pictures(PictureScan &scan, const PictureInput &input,
                                      const PictureCoding &coding, const Progress &progress) {
    std::unique_ptr<VideoReader> reader;
    if (!scan.all_kept) {
        auto opened = open_pictures(input);
        if (!opened)
            return opened.error();
        reader = std::move(*opened);
    }
    const auto began = std::chrono::steady_clock::now();
    const int width = scan.width, height = scan.height, pictures = scan.count;
    const size_t pixels = static_cast<size_t>(width) * static_cast<size_t>(height);
    const Palette &palette = coding.palette;
    Remapper remapper(palette, coding.dither, width, height);
    std::vector<uint8_t> tolerance;
    CoderOptions coder_options;
    if (coding.lossy > 0) {
        tolerance = tolerance_table(palette, coding.lossy);
        coder_options.tolerance = tolerance.data();
    }
    FrameCoder coder(width, height);
    FrameCheck check(width, height);
    std::unique_ptr<FILE, int (*)(FILE *)> frames_out(nullptr, std::fclose);
    if (!coding.frames_file.empty()) {
        frames_out.reset(std::fopen(coding.frames_file.c_str(), "wb"));
        if (!frames_out)
            return Error{coding.frames_file + ": cannot create"};
    }
    std::vector<uint8_t> rgba, indices, decoded_rgb(pixels * 3);
    auto write_frame = [&]() -> bool {
        return !frames_out || std::fwrite(decoded_rgb.data(), 1, decoded_rgb.size(),
                                          frames_out.get()) == decoded_rgb.size();
    };
    CodedPictures out;
    for (int f = 0; f < pictures; f++) {
        if (scan.all_kept) {
            rgba = std::move(scan.kept[static_cast<size_t>(f)]);
        } else {
            auto more = reader->next(rgba);
            if (!more)
                return more.error();
            if (!*more)
                return Error{input.name + ": gave fewer pictures the second time it was read"};
        }
        remapper.remap(rgba.data(), indices);
        std::vector<uint8_t> codes = coder.code_frame(indices, f == 0, coder_options);
        const std::vector<uint8_t> before = check.buffer();
        const std::string fault = check.decode(codes);
        const std::vector<uint8_t> shown = check.pixels();
        if (!fault.empty() || check.buffer() != coder.model().bytes())
            return Error{"internal error: frame " + std::to_string(f) +
                         " does not decode as it was coded" + (fault.empty() ? "" : ": " + fault) +
                         " (please report this)"};
        for (size_t i = 0; i < pixels; i++) {
            const Rgb &c = palette[shown[i]];
            decoded_rgb[i * 3] = c.r, decoded_rgb[i * 3 + 1] = c.g, decoded_rgb[i * 3 + 2] = c.b;
        }
        out.squared_error += frame_squared_error(rgba.data(), decoded_rgb.data(), pixels);
        out.ssim += frame_ssim(rgba.data(), decoded_rgb.data(), width, height);
        if (!write_frame())
            return Error{coding.frames_file + ": cannot write"};
        // A frame that changes nothing (a still stretch) is only shown again:
        // its "vblt" needs no "vdat", which at 640 pixels a row would cost
        // at least 6 bytes a row in skips.
        if (f > 0 && check.buffer() == before)
            codes.clear();
        out.video_bytes += codes.size();
        out.payloads.push_back(std::move(codes));
        if (progress.update)
            progress.update(2, f + 1, pictures, out.video_bytes);
    }
    std::vector<std::vector<uint8_t>>().swap(scan.kept);
    // The last picture held while the sound plays on: shown again, no codes.
    for (int f = pictures; f < coding.frames; f++) {
        out.payloads.emplace_back();
        if (!write_frame())
            return Error{coding.frames_file + ": cannot write"};
    }
    out.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    return out;
}

} // namespace kmov
