#include "icon_image.h"

#include "av_objects.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

#include <png.h>

#include <algorithm>
#include <cerrno>
#include <memory>

namespace kmov {

namespace {

// Streams and frames looked at before giving up on finding more pictures:
// an ICO holds a handful, a video needs only its first frame.
enum { MAX_STREAMS = 64, MAX_PACKETS = 4096 };

// Converts (or scales) RGBA-like pixels with swscale; false on failure.
bool convert(const uint8_t *const source[], const int source_stride[], int width, int height,
             AVPixelFormat format, uint8_t *target, int target_width, int target_height,
             int flags) {
    ScalePtr scale(sws_getContext(width, height, format, target_width, target_height,
                                  AV_PIX_FMT_RGBA, flags, nullptr, nullptr, nullptr));
    if (!scale)
        return false;
    uint8_t *planes[4] = {target, nullptr, nullptr, nullptr};
    int strides[4] = {target_width * 4, 0, 0, 0};
    return sws_scale(scale.get(), source, source_stride, 0, height, planes, strides) ==
           target_height;
}

void append_png(png_structp png, png_bytep data, png_size_t length) {
    auto *out = static_cast<std::vector<uint8_t> *>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + length);
}

} // namespace

Expected<RgbaImage> icon_read_picture(const std::string &path) {
    av_log_set_level(AV_LOG_QUIET);
    AVFormatContext *opened = nullptr;
    int status = avformat_open_input(&opened, path.c_str(), nullptr, nullptr);
    if (status < 0) {
        if (status == AVERROR(ENOENT))
            return file_error(path, "no such file");
        return file_error(path, "not a picture that can be read (" + av_error_text(status) + ")");
    }
    FormatPtr format(opened);
    if ((status = avformat_find_stream_info(opened, nullptr)) < 0)
        return file_error(path, "not a picture that can be read (" + av_error_text(status) + ")");

    // Every picture stream gets a decoder and gives its first frame.
    std::vector<CodecPtr> decoders(opened->nb_streams);
    size_t open_streams = 0;
    for (unsigned i = 0; i < opened->nb_streams && i < MAX_STREAMS; i++) {
        const AVCodecParameters *parameters = opened->streams[i]->codecpar;
        if (parameters->codec_type != AVMEDIA_TYPE_VIDEO)
            continue;
        const AVCodec *codec = avcodec_find_decoder(parameters->codec_id);
        if (codec == nullptr)
            continue;
        CodecPtr context(avcodec_alloc_context3(codec));
        if (!context || avcodec_parameters_to_context(context.get(), parameters) < 0)
            continue;
        context->thread_count = 1;
        if (avcodec_open2(context.get(), codec, nullptr) < 0)
            continue;
        decoders[i] = std::move(context);
        open_streams++;
    }
    if (open_streams == 0)
        return file_error(path, "holds no picture that can be read");

    RgbaImage best;
    PacketPtr packet(av_packet_alloc());
    FramePtr frame(av_frame_alloc());
    if (!packet || !frame)
        return Error{"out of memory"};
    std::string too_large;
    auto take = [&](AVFrame *picture) {
        if (picture->width <= 0 || picture->height <= 0)
            return;
        if (picture->width > ICON_MAX_PICTURE || picture->height > ICON_MAX_PICTURE) {
            too_large = std::to_string(picture->width) + "x" + std::to_string(picture->height);
            return;
        }
        if (int64_t(picture->width) * picture->height <= int64_t(best.width) * best.height)
            return;
        RgbaImage image{picture->width, picture->height,
                        std::vector<uint8_t>(size_t(picture->width) * picture->height * 4)};
        if (!convert(picture->data, picture->linesize, picture->width, picture->height,
                     static_cast<AVPixelFormat>(picture->format), image.rgba.data(), image.width,
                     image.height, SWS_BICUBIC | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT))
            return;
        best = std::move(image);
    };
    auto drain = [&](AVCodecContext *context) {
        while (avcodec_receive_frame(context, frame.get()) == 0) {
            take(frame.get());
            av_frame_unref(frame.get());
        }
    };
    std::vector<bool> done(decoders.size(), false);
    size_t finished = 0;
    for (int packets = 0; packets < MAX_PACKETS && finished < open_streams; packets++) {
        if (av_read_frame(opened, packet.get()) < 0)
            break;
        unsigned index = static_cast<unsigned>(packet->stream_index);
        if (index < decoders.size() && decoders[index] && !done[index]) {
            AVCodecContext *context = decoders[index].get();
            if (avcodec_send_packet(context, packet.get()) == 0 &&
                avcodec_receive_frame(context, frame.get()) == 0) {
                take(frame.get());
                av_frame_unref(frame.get());
                done[index] = true;
                finished++;
            }
        }
        av_packet_unref(packet.get());
    }
    for (size_t i = 0; i < decoders.size(); i++)
        if (decoders[i] && !done[i]) {
            avcodec_send_packet(decoders[i].get(), nullptr);
            drain(decoders[i].get());
        }

    if (best.width == 0) {
        if (!too_large.empty())
            return file_error(path, "the picture is " + too_large + " pixels; at most " +
                                        std::to_string(ICON_MAX_PICTURE) + " on a side");
        return file_error(path, "not a picture that can be read (it does not decode)");
    }
    if (best.width < ICON_MIN_PICTURE || best.height < ICON_MIN_PICTURE)
        return file_error(
            path, "the picture is " + std::to_string(best.width) + "x" +
                      std::to_string(best.height) + " pixels; an icon needs at least " +
                      std::to_string(ICON_MIN_PICTURE) + "x" + std::to_string(ICON_MIN_PICTURE));
    return best;
}

RgbaImage icon_scale(const RgbaImage &picture, int size) {
    // The picture's size inside the square, at least one pixel each way.
    int width = size, height = size;
    if (picture.width > picture.height)
        height =
            std::max(1, int((int64_t(size) * picture.height + picture.width / 2) / picture.width));
    else if (picture.height > picture.width)
        width =
            std::max(1, int((int64_t(size) * picture.width + picture.height / 2) / picture.height));

    // Premultiplied, so that a transparent pixel adds nothing to its
    // neighbours whatever colour it holds.
    std::vector<uint8_t> premultiplied(picture.rgba);
    for (size_t i = 0; i < premultiplied.size(); i += 4)
        for (int c = 0; c < 3; c++)
            premultiplied[i + c] =
                static_cast<uint8_t>((premultiplied[i + c] * premultiplied[i + 3] + 127) / 255);
    std::vector<uint8_t> scaled(size_t(width) * height * 4);
    const uint8_t *planes[4] = {premultiplied.data(), nullptr, nullptr, nullptr};
    int strides[4] = {picture.width * 4, 0, 0, 0};
    if (!convert(planes, strides, picture.width, picture.height, AV_PIX_FMT_RGBA, scaled.data(),
                 width, height, SWS_LANCZOS | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT))
        std::fill(scaled.begin(), scaled.end(), 0);

    RgbaImage out{size, size, std::vector<uint8_t>(size_t(size) * size * 4, 0)};
    int left = (size - width) / 2, top = (size - height) / 2;
    for (int y = 0; y < height; y++)
        for (int x = 0; x < width; x++) {
            const uint8_t *p = &scaled[(size_t(y) * width + x) * 4];
            uint8_t *q = &out.rgba[(size_t(y + top) * size + x + left) * 4];
            int alpha = p[3];
            q[3] = static_cast<uint8_t>(alpha);
            for (int c = 0; c < 3; c++)
                q[c] = alpha == 0
                           ? 0
                           : static_cast<uint8_t>(std::min(255, (p[c] * 255 + alpha / 2) / alpha));
        }
    return out;
}

std::vector<uint8_t> icon_dib(const RgbaImage &image) {
    const int w = image.width, h = image.height;
    const size_t mask_stride = size_t((w + 31) / 32) * 4;
    std::vector<uint8_t> out;
    auto put = [&](uint32_t value, int bytes) {
        for (int i = 0; i < bytes; i++)
            out.push_back(static_cast<uint8_t>(value >> (8 * i)));
    };
    // BITMAPINFOHEADER: the height counts the colour rows and the mask's.
    put(40, 4);
    put(static_cast<uint32_t>(w), 4);
    put(static_cast<uint32_t>(h * 2), 4);
    put(1, 2);  // planes
    put(32, 2); // bits per pixel
    put(0, 4);  // uncompressed
    put(static_cast<uint32_t>(size_t(w) * h * 4 + mask_stride * h), 4);
    put(0, 4);
    put(0, 4);
    put(0, 4);
    put(0, 4);
    for (int y = h - 1; y >= 0; y--) // bottom row first, as BGRA
        for (int x = 0; x < w; x++) {
            const uint8_t *p = &image.rgba[(size_t(y) * w + x) * 4];
            out.insert(out.end(), {p[2], p[1], p[0], p[3]});
        }
    for (int y = h - 1; y >= 0; y--) {
        std::vector<uint8_t> row(mask_stride, 0);
        for (int x = 0; x < w; x++)
            if (image.rgba[(size_t(y) * w + x) * 4 + 3] == 0)
                row[size_t(x) / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
        out.insert(out.end(), row.begin(), row.end());
    }
    return out;
}

std::vector<uint8_t> icon_png(const RgbaImage &image) {
    std::vector<uint8_t> out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return {};
    }
    png_set_write_fn(png, &out, append_png, nullptr);
    png_set_IHDR(png, info, static_cast<png_uint_32>(image.width),
                 static_cast<png_uint_32>(image.height), 8, PNG_COLOR_TYPE_RGBA, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_set_compression_level(png, 9);
    png_write_info(png, info);
    for (int y = 0; y < image.height; y++)
        png_write_row(png, image.rgba.data() + size_t(y) * image.width * 4);
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return out;
}

std::vector<IconEntry> icon_entries(const RgbaImage &picture) {
    std::vector<IconEntry> entries;
    for (int size : ICON_SIZES) {
        RgbaImage image = icon_scale(picture, size);
        entries.push_back({size, size, size >= 256 ? icon_png(image) : icon_dib(image)});
    }
    return entries;
}

} // namespace kmov
