#include "encode/media_input.h"

#include "av_objects.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/imgutils.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>

namespace kmov {

namespace {

constexpr int MAX_SIDE =
    4096; // larger frames are surely a mistake (and a DIB the player can't make)

std::string seconds_text(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3g s", seconds);
    return text;
}

void quiet_ffmpeg() {
    static bool done = false;
    if (!done) {
        av_log_set_level(AV_LOG_QUIET);
        done = true;
    }
}

// One open stream of one input file, decoding frame by frame.
class Decoder {
  public:
    // Opens `path` and its best stream of `type`. With `frame_rate` > 0 an
    // image sequence pattern shows each image for 1 / frame_rate seconds.
    // A missing stream is not an error: stream() is then null.
    static Expected<std::unique_ptr<Decoder>> open(const std::string &path, AVMediaType type,
                                                   double frame_rate) {
        quiet_ffmpeg();
        auto decoder = std::make_unique<Decoder>();
        if (!std::filesystem::exists(path) && path.find('%') == std::string::npos)
            return Error{path + ": no such file"};
        AVDictionary *options = nullptr;
        const AVInputFormat *format = nullptr;
        if (path.find('%') != std::string::npos && av_filename_number_test(path.c_str())) {
            format = av_find_input_format("image2");
            if (frame_rate > 0)
                av_dict_set(&options, "framerate", std::to_string(frame_rate).c_str(), 0);
        }
        AVFormatContext *context = nullptr;
        int status = avformat_open_input(&context, path.c_str(), format, &options);
        av_dict_free(&options);
        if (status < 0) {
            if (status == AVERROR(ENOENT))
                return Error{path + ": no such file"};
            return Error{path + ": not a picture, video or sound file that can be read (" +
                         av_error_text(status) + ")"};
        }
        decoder->format_.reset(context);
        status = avformat_find_stream_info(context, nullptr);
        if (status < 0)
            return Error{path + ": cannot read the media (" + av_error_text(status) + ")"};
        const AVCodec *codec = nullptr;
        int index = av_find_best_stream(context, type, -1, -1, &codec, 0);
        if (index < 0 || codec == nullptr)
            return decoder; // no such stream
        decoder->stream_ = context->streams[index];
        decoder->codec_.reset(avcodec_alloc_context3(codec));
        if (!decoder->codec_)
            return Error{"out of memory"};
        avcodec_parameters_to_context(decoder->codec_.get(), decoder->stream_->codecpar);
        decoder->codec_->thread_count = 1;
        decoder->codec_->pkt_timebase = decoder->stream_->time_base;
        status = avcodec_open2(decoder->codec_.get(), codec, nullptr);
        if (status < 0)
            return Error{path + ": cannot decode its " +
                         (type == AVMEDIA_TYPE_VIDEO ? "pictures" : "sound") + " (" +
                         av_error_text(status) + ")"};
        decoder->path_ = path;
        decoder->frame_.reset(av_frame_alloc());
        decoder->packet_.reset(av_packet_alloc());
        return decoder;
    }

    AVStream *stream() const { return stream_; }
    // How long the input lasts in seconds, or 0 when it does not say.
    double seconds_long() const {
        if (format_->duration == AV_NOPTS_VALUE || format_->duration <= 0)
            return 0;
        return static_cast<double>(format_->duration) / AV_TIME_BASE;
    }
    AVCodecContext *codec() const { return codec_.get(); }

    // Seeks near `seconds` (at or before it, to a key frame).
    void seek(double seconds) {
        if (seconds <= 0)
            return;
        const int64_t target = static_cast<int64_t>(seconds * AV_TIME_BASE) +
                               (format_->start_time == AV_NOPTS_VALUE ? 0 : format_->start_time);
        if (avformat_seek_file(format_.get(), -1, INT64_MIN, target, target, 0) >= 0)
            avcodec_flush_buffers(codec_.get());
    }

    // The next decoded frame (owned by the decoder until the next call), or
    // null at the end; an Error when decoding fails.
    Expected<AVFrame *> next() {
        for (;;) {
            int status = avcodec_receive_frame(codec_.get(), frame_.get());
            if (status == 0)
                return frame_.get();
            if (status == AVERROR_EOF)
                return static_cast<AVFrame *>(nullptr);
            if (status != AVERROR(EAGAIN))
                return Error{path_ + ": decoding failed (" + av_error_text(status) + ")"};
            if (flushed_)
                return static_cast<AVFrame *>(nullptr);
            status = av_read_frame(format_.get(), packet_.get());
            if (status < 0) {
                avcodec_send_packet(codec_.get(), nullptr); // drain
                flushed_ = true;
                continue;
            }
            if (packet_->stream_index == stream_->index) {
                status = avcodec_send_packet(codec_.get(), packet_.get());
                if (status < 0 && status != AVERROR(EAGAIN) && status != AVERROR_INVALIDDATA) {
                    av_packet_unref(packet_.get());
                    return Error{path_ + ": decoding failed (" + av_error_text(status) + ")"};
                }
            }
            av_packet_unref(packet_.get());
        }
    }

    // A frame's time in seconds from the start of the input, or < 0.
    double seconds(const AVFrame *frame) const {
        int64_t ts = frame->best_effort_timestamp;
        if (ts == AV_NOPTS_VALUE)
            ts = frame->pts;
        if (ts == AV_NOPTS_VALUE)
            return -1;
        if (stream_->start_time != AV_NOPTS_VALUE)
            ts -= stream_->start_time;
        return static_cast<double>(ts) * av_q2d(stream_->time_base);
    }

    // How long a frame stays on screen, in seconds (a guess when unknown).
    double frame_seconds(const AVFrame *frame, double fallback) const {
        if (frame->pkt_duration > 0)
            return static_cast<double>(frame->pkt_duration) * av_q2d(stream_->time_base);
        AVRational rate = stream_->avg_frame_rate;
        if (rate.num > 0 && rate.den > 0)
            return av_q2d(av_inv_q(rate));
        return fallback;
    }

  private:
    FormatPtr format_;
    AVStream *stream_ = nullptr;
    CodecPtr codec_;
    FramePtr frame_;
    PacketPtr packet_;
    std::string path_;
    bool flushed_ = false;
};

// The movie's frame size, and the size the picture is scaled to before the
// middle of it is cut out (the same unless cropping).
struct Geometry {
    int width = 0, height = 0;
    int scaled_width = 0, scaled_height = 0;
};

// Scales decoded pictures to RGBA of the movie's size.
class Scaler {
  public:
    void scale(const AVFrame *frame, const Geometry &size, std::vector<uint8_t> &rgba) {
        context_ = sws_getCachedContext(
            context_, frame->width, frame->height, static_cast<AVPixelFormat>(frame->format),
            size.scaled_width, size.scaled_height, AV_PIX_FMT_RGBA,
            SWS_BICUBIC | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT, nullptr, nullptr, nullptr);
        const bool cropping = size.scaled_width != size.width || size.scaled_height != size.height;
        std::vector<uint8_t> &target = cropping ? scaled_ : rgba;
        target.resize(static_cast<size_t>(size.scaled_width) *
                      static_cast<size_t>(size.scaled_height) * 4);
        uint8_t *planes[4] = {target.data(), nullptr, nullptr, nullptr};
        int strides[4] = {size.scaled_width * 4, 0, 0, 0};
        sws_scale(context_, frame->data, frame->linesize, 0, frame->height, planes, strides);
        if (!cropping)
            return;
        const size_t row = static_cast<size_t>(size.width) * 4;
        const size_t left = static_cast<size_t>(size.scaled_width - size.width) / 2 * 4;
        const size_t top = static_cast<size_t>(size.scaled_height - size.height) / 2;
        rgba.resize(row * static_cast<size_t>(size.height));
        for (size_t y = 0; y < static_cast<size_t>(size.height); y++)
            std::memcpy(rgba.data() + y * row,
                        scaled_.data() + (top + y) * static_cast<size_t>(size.scaled_width) * 4 +
                            left,
                        row);
    }
    ~Scaler() { sws_freeContext(context_); }

  private:
    SwsContext *context_ = nullptr;
    std::vector<uint8_t> scaled_;
};

int scaled_side(double side, double scale) {
    return std::max(1, static_cast<int>(std::lround(side * scale)));
}

Expected<Geometry> movie_size(const VideoRequest &request, const AVCodecContext *codec,
                              const std::string &path) {
    int width = codec->width, height = codec->height;
    if (width <= 0 || height <= 0)
        return Error{path + ": the pictures have no size"};
    AVRational aspect = codec->sample_aspect_ratio;
    if (aspect.num > 0 && aspect.den > 0 && aspect.num != aspect.den)
        width = static_cast<int>(std::lround(width * av_q2d(aspect)));
    Geometry size;
    const double box_w = request.width, box_h = request.height;
    if (request.width <= 0 && request.height <= 0) {
        fit_size(width, height, size.width, size.height);
    } else if (request.height <= 0) {
        size = {request.width, scaled_side(height, box_w / width)};
    } else if (request.width <= 0) {
        size = {scaled_side(width, box_h / height), request.height};
    } else if (request.fit == Fit::Inside) {
        const double scale = std::min(box_w / width, box_h / height);
        size = {std::min(request.width, scaled_side(width, scale)),
                std::min(request.height, scaled_side(height, scale))};
    } else {
        size = {request.width, request.height};
    }
    size.scaled_width = size.width;
    size.scaled_height = size.height;
    if (request.fit == Fit::Crop && request.width > 0 && request.height > 0) {
        // Cover the box with the picture's shape; the middle is kept.
        const double scale = std::max(box_w / width, box_h / height);
        size.scaled_width = std::max(size.width, scaled_side(width, scale));
        size.scaled_height = std::max(size.height, scaled_side(height, scale));
    }
    const std::string frames =
        "frames of " + std::to_string(size.width) + "x" + std::to_string(size.height);
    if (size.width > MAX_SIDE || size.height > MAX_SIDE)
        return usage_error(frames + " are too large (at most " + std::to_string(MAX_SIDE) +
                           " a side)");
    if (!request.allow_large && (size.width > LARGE_WIDTH || size.height > LARGE_HEIGHT))
        return usage_error(frames + " are larger than " + std::to_string(LARGE_WIDTH) + "x" +
                           std::to_string(LARGE_HEIGHT) +
                           ": the player's window would not fit on many viewers' screens "
                           "(--allow-large makes them anyway)");
    return size;
}

// A video file or an image pattern: frames picked by time.
class StreamReader final : public VideoReader {
  public:
    Expected<bool> init(const VideoRequest &request) {
        request_ = request;
        auto decoder = Decoder::open(request.inputs[0], AVMEDIA_TYPE_VIDEO, request.fps);
        if (!decoder)
            return decoder.error();
        decoder_ = std::move(*decoder);
        if (decoder_->stream() == nullptr)
            return Error{request.inputs[0] + ": has no pictures"};
        auto size = movie_size(request, decoder_->codec(), request.inputs[0]);
        if (!size)
            return size.error();
        size_ = *size;
        width_ = size->width;
        height_ = size->height;
        const double length = decoder_->seconds_long();
        if (request.start > 0 && length > 0 && request.start >= length)
            return usage_error("--start " + seconds_text(request.start) + " is past the end of " +
                               request.inputs[0] + ", which lasts " + seconds_text(length));
        decoder_->seek(request.start);
        pending_.reset(av_frame_alloc());
        return true;
    }

    Expected<bool> next(std::vector<uint8_t> &rgba) override {
        if (request_.duration >= 0 &&
            produced_ >= static_cast<int64_t>(std::llround(request_.duration * request_.fps)))
            return false;
        const double t = request_.start + static_cast<double>(produced_) / request_.fps;
        for (;;) {
            // A picture counts as shown at t when its time is t give or take
            // half a frame: container clocks round (15 fps in milliseconds
            // puts frame 1 at 67 ms, after 1/15 s).
            const double slack =
                0.5 * std::min(1 / request_.fps, std::max(pending_end_ - pending_time_, 1e-6));
            if (have_pending_ && pending_time_ <= t + slack) {
                promote();
                continue;
            }
            if (have_pending_)
                break; // the pending picture comes later: the current one shows at t
            if (ended_)
                break;
            auto frame = decoder_->next();
            if (!frame)
                return frame.error();
            if (*frame == nullptr) {
                ended_ = true;
                continue;
            }
            av_frame_unref(pending_.get());
            av_frame_move_ref(pending_.get(), *frame);
            const double seconds = decoder_->seconds(pending_.get());
            pending_time_ = seconds >= 0 ? seconds : last_end_;
            pending_end_ =
                pending_time_ + decoder_->frame_seconds(pending_.get(), 1 / request_.fps);
            have_pending_ = true;
        }
        if (!have_current_) {
            if (!have_pending_)
                return false; // no pictures at all, or none after the start
            promote();        // the first picture comes after t: show it from t on
        }
        if (ended_ && !have_pending_ && t >= current_end_ - 1e-6)
            return false;
        if (!scaled_) {
            scaler_.scale(current_.get(), size_, picture_);
            scaled_ = true;
        }
        rgba = picture_;
        produced_++;
        return true;
    }

  private:
    void promote() {
        if (!current_)
            current_.reset(av_frame_alloc());
        av_frame_unref(current_.get());
        av_frame_move_ref(current_.get(), pending_.get());
        current_end_ = pending_end_;
        have_current_ = true;
        have_pending_ = false;
        scaled_ = false;
    }

    VideoRequest request_;
    std::unique_ptr<Decoder> decoder_;
    FramePtr pending_, current_;
    bool have_pending_ = false, have_current_ = false, ended_ = false, scaled_ = false;
    double pending_time_ = 0, pending_end_ = 0, current_end_ = 0, last_end_ = 0;
    int64_t produced_ = 0;
    Geometry size_;
    Scaler scaler_;
    std::vector<uint8_t> picture_;
};

// Several image files: one frame each, in order.
class ImagesReader final : public VideoReader {
  public:
    Expected<bool> init(const VideoRequest &request) {
        request_ = request;
        first_ = static_cast<size_t>(std::llround(std::max(0.0, request.start) * request.fps));
        if (first_ >= request.inputs.size())
            return Error{"--start is past the last of the " +
                         std::to_string(request.inputs.size()) + " images"};
        auto decoder = Decoder::open(request.inputs[first_], AVMEDIA_TYPE_VIDEO, 0);
        if (!decoder)
            return decoder.error();
        if ((*decoder)->stream() == nullptr)
            return Error{request.inputs[first_] + ": has no picture"};
        auto size = movie_size(request, (*decoder)->codec(), request.inputs[first_]);
        if (!size)
            return size.error();
        size_ = *size;
        width_ = size->width;
        height_ = size->height;
        return true;
    }

    Expected<bool> next(std::vector<uint8_t> &rgba) override {
        const size_t index = first_ + produced_;
        if (index >= request_.inputs.size())
            return false;
        if (request_.duration >= 0 &&
            produced_ >= static_cast<size_t>(std::llround(request_.duration * request_.fps)))
            return false;
        const std::string &path = request_.inputs[index];
        auto decoder = Decoder::open(path, AVMEDIA_TYPE_VIDEO, 0);
        if (!decoder)
            return decoder.error();
        if ((*decoder)->stream() == nullptr)
            return Error{path + ": has no picture"};
        auto frame = (*decoder)->next();
        if (!frame)
            return frame.error();
        if (*frame == nullptr)
            return Error{path + ": has no picture"};
        scaler_.scale(*frame, size_, rgba);
        produced_++;
        return true;
    }

  private:
    VideoRequest request_;
    size_t first_ = 0, produced_ = 0;
    Geometry size_;
    Scaler scaler_;
};

} // namespace

void fit_size(int width, int height, int &out_width, int &out_height) {
    out_width = width;
    out_height = height;
    if (width > 640 || height > 480) {
        const double scale = std::min(640.0 / width, 480.0 / height);
        out_width = std::max(1, static_cast<int>(std::lround(width * scale)));
        out_height = std::max(1, static_cast<int>(std::lround(height * scale)));
    }
}

Expected<std::unique_ptr<VideoReader>> VideoReader::open(const VideoRequest &request) {
    if (request.inputs.empty())
        return Error{"no input"};
    if (!(request.fps >= MIN_FPS && request.fps <= MAX_FPS))
        return usage_error("--fps must be from " + std::to_string(static_cast<int>(MIN_FPS)) +
                           " to " + std::to_string(static_cast<int>(MAX_FPS)));
    if (request.inputs.size() > 1) {
        auto reader = std::make_unique<ImagesReader>();
        auto ok = reader->init(request);
        if (!ok)
            return ok.error();
        return std::unique_ptr<VideoReader>(std::move(reader));
    }
    auto reader = std::make_unique<StreamReader>();
    auto ok = reader->init(request);
    if (!ok)
        return ok.error();
    return std::unique_ptr<VideoReader>(std::move(reader));
}

namespace {

class BlackReader final : public VideoReader {
  public:
    BlackReader(int width, int height) {
        width_ = width;
        height_ = height;
    }
    Expected<bool> next(std::vector<uint8_t> &rgba) override {
        if (done_)
            return false;
        rgba.assign(static_cast<size_t>(width_) * static_cast<size_t>(height_) * 4, 0);
        for (size_t i = 3; i < rgba.size(); i += 4)
            rgba[i] = 255;
        done_ = true;
        return true;
    }

  private:
    bool done_ = false;
};

} // namespace

std::unique_ptr<VideoReader> VideoReader::black(int width, int height) {
    return std::make_unique<BlackReader>(width, height);
}

bool has_pictures(const std::string &path) {
    auto decoder = Decoder::open(path, AVMEDIA_TYPE_VIDEO, 0);
    return decoder && (*decoder)->stream() != nullptr;
}

bool has_sound(const std::string &path) {
    auto decoder = Decoder::open(path, AVMEDIA_TYPE_AUDIO, 0);
    return decoder && (*decoder)->stream() != nullptr;
}

Expected<std::vector<int16_t>> read_sound(const std::string &path, int rate, double start,
                                          double duration) {
    auto opened = Decoder::open(path, AVMEDIA_TYPE_AUDIO, 0);
    if (!opened)
        return opened.error();
    std::unique_ptr<Decoder> decoder = std::move(*opened);
    std::vector<int16_t> samples;
    if (decoder->stream() == nullptr)
        return samples;
    AVCodecContext *codec = decoder->codec();
    AVChannelLayout in_layout;
    if (codec->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC || codec->ch_layout.nb_channels <= 0)
        av_channel_layout_default(&in_layout, std::max(1, codec->ch_layout.nb_channels));
    else
        av_channel_layout_copy(&in_layout, &codec->ch_layout);
    AVChannelLayout mono = AV_CHANNEL_LAYOUT_MONO;
    SwrContext *raw = nullptr;
    int status = swr_alloc_set_opts2(&raw, &mono, AV_SAMPLE_FMT_S16, rate, &in_layout,
                                     codec->sample_fmt, codec->sample_rate, 0, nullptr);
    av_channel_layout_uninit(&in_layout);
    ResamplePtr resampler(raw);
    if (status < 0 || swr_init(raw) < 0)
        return Error{path + ": cannot convert its sound"};
    decoder->seek(start);

    const size_t limit =
        duration < 0 ? SIZE_MAX : static_cast<size_t>(std::llround(duration * rate));
    bool first = true;
    int64_t drop = 0; // samples before `start` still to drop
    std::vector<int16_t> chunk;
    auto append = [&](const int16_t *data, int count) {
        for (int i = 0; i < count && samples.size() < limit; i++) {
            if (drop > 0) {
                drop--;
                continue;
            }
            samples.push_back(data[i]);
        }
    };
    for (;;) {
        auto frame = decoder->next();
        if (!frame)
            return frame.error();
        const AVFrame *f = *frame;
        int room;
        if (f != nullptr) {
            if (first) {
                const double at = decoder->seconds(f);
                if (at >= 0 && at < start)
                    drop = std::llround((start - at) * rate);
                else if (at > start) // the sound starts late: silence until then
                    samples.resize(
                        std::min(limit, static_cast<size_t>(std::llround((at - start) * rate))), 0);
                first = false;
            }
            room = static_cast<int>(swr_get_out_samples(raw, f->nb_samples));
        } else {
            room = static_cast<int>(swr_get_out_samples(raw, 0));
        }
        chunk.resize(static_cast<size_t>(std::max(room, 0)) + 16);
        uint8_t *out[1] = {reinterpret_cast<uint8_t *>(chunk.data())};
        const int got =
            f != nullptr
                ? swr_convert(raw, out, static_cast<int>(chunk.size()),
                              const_cast<const uint8_t **>(f->extended_data), f->nb_samples)
                : swr_convert(raw, out, static_cast<int>(chunk.size()), nullptr, 0);
        if (got < 0)
            return Error{path + ": cannot convert its sound"};
        append(chunk.data(), got);
        if (f == nullptr || samples.size() >= limit)
            break;
    }
    return samples;
}

} // namespace kmov
