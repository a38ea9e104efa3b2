#include "media_export.h"

#include "av_objects.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstdio>
#include <filesystem>
#include <unistd.h>
#include <vector>

namespace kmov {

namespace {

struct FormatInfo {
    ExportFormat format;
    const char *muxer;
    const char *video_codec; // null: no pictures
    AVPixelFormat pixels;
    AVRational video_time_base;
    const char *audio_codec; // null: no sound
};

const FormatInfo FORMATS[] = {
    {{"mp4", "H.264 with AAC", true, true}, "mp4", "libx264", AV_PIX_FMT_YUV420P, {1, 1000}, "aac"},
    {{"webm", "VP9 with Opus", true, true},
     "webm",
     "libvpx-vp9",
     AV_PIX_FMT_YUV420P,
     {1, 1000},
     "libopus"},
    {{"mkv", "FFV1 (lossless) with FLAC", true, true},
     "matroska",
     "ffv1",
     AV_PIX_FMT_BGR0,
     {1, 1000},
     "flac"},
    {{"gif", "GIF", true, false}, "gif", "gif", AV_PIX_FMT_PAL8, {1, 100}, nullptr},
    {{"apng", "animated PNG", true, false}, "apng", "apng", AV_PIX_FMT_PAL8, {1, 1000}, nullptr},
    {{"wav", "16-bit PCM sound", false, true},
     "wav",
     nullptr,
     AV_PIX_FMT_NONE,
     {1, 1},
     "pcm_s16le"},
    {{"flac", "FLAC sound", false, true}, "flac", nullptr, AV_PIX_FMT_NONE, {1, 1}, "flac"},
};

const FormatInfo *format_of(const std::string &path) {
    std::string extension = std::filesystem::path(path).extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    for (const FormatInfo &info : FORMATS)
        if (extension == std::string(".") + info.format.extension)
            return &info;
    return nullptr;
}

// The temporary files being written. The player's own failures end the
// process (fatal_error exits) with no destructor run: an exit handler takes
// them away, so a failed export leaves nothing behind.
std::vector<std::string> &unfinished_files() {
    static std::vector<std::string> files;
    return files;
}
void remove_unfinished_files() {
    for (const std::string &file : unfinished_files())
        std::remove(file.c_str());
}
void note_unfinished(const std::string &file, bool add) {
    static bool registered = false;
    if (!registered) {
        std::atexit(remove_unfinished_files);
        registered = true;
    }
    std::vector<std::string> &files = unfinished_files();
    if (add)
        files.push_back(file);
    else
        std::erase(files, file);
}

class FfmpegExport : public MediaExport {
  public:
    ~FfmpegExport() override {
        avcodec_free_context(&video_);
        avcodec_free_context(&audio_);
        sws_freeContext(scale_);
        av_packet_free(&packet_);
        if (format_ != nullptr) {
            if (format_->pb != nullptr)
                avio_closep(&format_->pb);
            avformat_free_context(format_);
        }
        if (!finished_ && !temporary_.empty())
            std::remove(temporary_.c_str());
        note_unfinished(temporary_, false);
    }

    Status setup(const std::string &path, const FormatInfo &info, int width, int height, double fps,
                 int sample_rate) {
        av_log_set_level(AV_LOG_QUIET);
        out_ = path;
        info_ = &info;
        width_ = width;
        height_ = height;
        temporary_ = path + ".part" + std::to_string(getpid());
        note_unfinished(temporary_, true);
        packet_ = av_packet_alloc();
        if (avformat_alloc_output_context2(&format_, nullptr, info.muxer, temporary_.c_str()) < 0)
            return Error{"cannot make a " + std::string(info.format.extension) + " file"};
        if (info.video_codec != nullptr) {
            if (Status done = open_video(info, fps); !done)
                return done;
        }
        if (info.audio_codec != nullptr && sample_rate > 0) {
            if (Status done = open_audio(info, sample_rate); !done)
                return done;
        }
        int status = avio_open(&format_->pb, temporary_.c_str(), AVIO_FLAG_WRITE);
        if (status < 0)
            return file_error(path, "cannot write (" + av_error_text(status) + ")");
        status = avformat_write_header(format_, nullptr);
        if (status < 0)
            return file_error(path, "cannot start the file (" + av_error_text(status) + ")");
        return {};
    }

    Status add_frame(uint32_t time_ms, const uint8_t *pixels,
                     const std::array<Rgb, 256> &colours) override {
        if (video_ == nullptr)
            return {};
        if (has_pending_) {
            if (Status done = encode_frame(pending_time_, time_ms - pending_time_); !done)
                return done;
        }
        pending_.assign(pixels, pixels + size_t(width_) * height_);
        pending_colours_ = colours;
        pending_time_ = time_ms;
        has_pending_ = true;
        return {};
    }

    void add_sound(const int16_t *samples, size_t count) override {
        sound_.insert(sound_.end(), samples, samples + count);
    }

    Status finish(uint32_t end_ms) override {
        if (video_ != nullptr) {
            if (has_pending_) {
                uint32_t last = end_ms > pending_time_ ? end_ms - pending_time_ : 1;
                if (Status done = encode_frame(pending_time_, last); !done)
                    return done;
            }
            if (Status done = drain(video_, video_stream_, nullptr); !done)
                return done;
        }
        if (audio_ != nullptr) {
            if (Status done = encode_sound(); !done)
                return done;
        }
        int status = av_write_trailer(format_);
        if (status < 0)
            return file_error(out_, "cannot finish the file (" + av_error_text(status) + ")");
        avio_closep(&format_->pb);
        std::error_code code;
        std::filesystem::rename(temporary_, out_, code);
        if (code)
            return file_error(out_, code.message());
        finished_ = true;
        return {};
    }

  private:
    Status open_video(const FormatInfo &info, double fps) {
        const AVCodec *codec = avcodec_find_encoder_by_name(info.video_codec);
        if (codec == nullptr)
            return Error{std::string("this FFmpeg has no ") + info.video_codec + " encoder"};
        video_ = avcodec_alloc_context3(codec);
        // 4:2:0 needs even sides: the picture is padded by its last row and
        // column.
        bool halved = info.pixels == AV_PIX_FMT_YUV420P;
        video_->width = halved ? (width_ + 1) & ~1 : width_;
        video_->height = halved ? (height_ + 1) & ~1 : height_;
        video_->pix_fmt = info.pixels;
        video_->time_base = info.video_time_base;
        video_->framerate = av_d2q(fps > 0 ? fps : 15, 1000);
        video_->gop_size = std::max(1, int(fps > 0 ? fps * 2 : 30));
        video_->thread_count = 2;
        if (halved) {
            video_->colorspace = AVCOL_SPC_SMPTE170M;
            video_->color_range = AVCOL_RANGE_MPEG;
        }
        if (std::string(info.video_codec) == "libx264") {
            av_opt_set(video_->priv_data, "preset", "medium", 0);
            av_opt_set(video_->priv_data, "crf", "18", 0);
        } else if (std::string(info.video_codec) == "libvpx-vp9") {
            video_->bit_rate = 0;
            av_opt_set(video_->priv_data, "crf", "30", 0);
            av_opt_set(video_->priv_data, "deadline", "good", 0);
            av_opt_set(video_->priv_data, "cpu-used", "4", 0);
            av_opt_set(video_->priv_data, "row-mt", "1", 0);
        }
        if (format_->oformat->flags & AVFMT_GLOBALHEADER)
            video_->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        int status = avcodec_open2(video_, codec, nullptr);
        if (status < 0)
            return Error{std::string("cannot open the ") + info.video_codec + " encoder (" +
                         av_error_text(status) + ")"};
        video_stream_ = avformat_new_stream(format_, nullptr);
        avcodec_parameters_from_context(video_stream_->codecpar, video_);
        video_stream_->time_base = video_->time_base;
        if (info.pixels != AV_PIX_FMT_PAL8) {
            scale_ = sws_getContext(video_->width, video_->height, AV_PIX_FMT_RGB24, video_->width,
                                    video_->height, info.pixels,
                                    SWS_BICUBIC | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT, nullptr,
                                    nullptr, nullptr);
            if (scale_ == nullptr)
                return Error{"cannot convert the pictures"};
        }
        return {};
    }

    Status open_audio(const FormatInfo &info, int sample_rate) {
        const AVCodec *codec = avcodec_find_encoder_by_name(info.audio_codec);
        if (codec == nullptr)
            return Error{std::string("this FFmpeg has no ") + info.audio_codec + " encoder"};
        audio_ = avcodec_alloc_context3(codec);
        int rate = sample_rate;
        if (codec->supported_samplerates != nullptr) {
            // The movie's rate when the encoder takes it, else its highest.
            int best = 0;
            bool found = false;
            for (const int *r = codec->supported_samplerates; *r != 0; r++) {
                found = found || *r == sample_rate;
                best = std::max(best, *r);
            }
            rate = found ? sample_rate : best;
        }
        audio_->sample_rate = rate;
        audio_->sample_fmt =
            codec->sample_fmts != nullptr ? codec->sample_fmts[0] : AV_SAMPLE_FMT_S16;
        for (const AVSampleFormat *f = codec->sample_fmts; f != nullptr && *f != -1; f++)
            if (*f == AV_SAMPLE_FMT_S16)
                audio_->sample_fmt = AV_SAMPLE_FMT_S16;
        audio_->ch_layout = AV_CHANNEL_LAYOUT_MONO;
        audio_->time_base = {1, rate};
        if (std::string(info.audio_codec) == "aac" || std::string(info.audio_codec) == "libopus")
            audio_->bit_rate = 96000;
        if (format_->oformat->flags & AVFMT_GLOBALHEADER)
            audio_->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        int status = avcodec_open2(audio_, codec, nullptr);
        if (status < 0)
            return Error{std::string("cannot open the ") + info.audio_codec + " encoder (" +
                         av_error_text(status) + ")"};
        audio_stream_ = avformat_new_stream(format_, nullptr);
        avcodec_parameters_from_context(audio_stream_->codecpar, audio_);
        audio_stream_->time_base = audio_->time_base;
        input_rate_ = sample_rate;
        return {};
    }

    // The pending frame, shown at `time_ms` for `duration_ms`.
    Status encode_frame(uint32_t time_ms, uint32_t duration_ms) {
        AVFrame *frame = av_frame_alloc();
        frame->format = video_->pix_fmt;
        frame->width = video_->width;
        frame->height = video_->height;
        if (av_frame_get_buffer(frame, 0) < 0) {
            av_frame_free(&frame);
            return Error{"out of memory"};
        }
        if (video_->pix_fmt == AV_PIX_FMT_PAL8) {
            for (int y = 0; y < height_; y++)
                std::copy_n(pending_.data() + size_t(y) * width_, width_,
                            frame->data[0] + size_t(y) * frame->linesize[0]);
            uint32_t *palette = reinterpret_cast<uint32_t *>(frame->data[1]);
            for (int i = 0; i < 256; i++)
                palette[i] = 0xff000000u | uint32_t(pending_colours_[i].r) << 16 |
                             uint32_t(pending_colours_[i].g) << 8 | pending_colours_[i].b;
        } else {
            const int w = video_->width, h = video_->height;
            std::vector<uint8_t> rgb(size_t(w) * h * 3);
            for (int y = 0; y < h; y++)
                for (int x = 0; x < w; x++) {
                    const Rgb &c =
                        pending_colours_[pending_[size_t(std::min(y, height_ - 1)) * width_ +
                                                  std::min(x, width_ - 1)]];
                    uint8_t *p = &rgb[(size_t(y) * w + x) * 3];
                    p[0] = c.r;
                    p[1] = c.g;
                    p[2] = c.b;
                }
            const uint8_t *planes[1] = {rgb.data()};
            int strides[1] = {w * 3};
            sws_scale(scale_, planes, strides, 0, h, frame->data, frame->linesize);
        }
        int64_t pts = av_rescale_q(time_ms, {1, 1000}, video_->time_base);
        pts = std::max(pts, last_pts_ + 1);
        last_pts_ = pts;
        frame->pts = pts;
        frame_duration_ =
            std::max<int64_t>(1, av_rescale_q(duration_ms, {1, 1000}, video_->time_base));
        frame->pkt_duration = frame_duration_;
        Status drained = drain(video_, video_stream_, frame);
        av_frame_free(&frame);
        return drained;
    }

    // Sends `frame` (null: the end) and writes every packet that comes out.
    Status drain(AVCodecContext *codec, AVStream *stream, AVFrame *frame) {
        int status = avcodec_send_frame(codec, frame);
        if (status < 0)
            return Error{"cannot encode (" + av_error_text(status) + ")"};
        while ((status = avcodec_receive_packet(codec, packet_)) == 0) {
            if (codec == video_ && packet_->duration == 0 && codec->pix_fmt == AV_PIX_FMT_PAL8)
                packet_->duration = frame_duration_;
            av_packet_rescale_ts(packet_, codec->time_base, stream->time_base);
            packet_->stream_index = stream->index;
            status = av_interleaved_write_frame(format_, packet_);
            if (status < 0)
                return file_error(out_, "cannot write (" + av_error_text(status) + ")");
        }
        if (status != AVERROR(EAGAIN) && status != AVERROR_EOF)
            return Error{"cannot encode (" + av_error_text(status) + ")"};
        return {};
    }

    Status encode_sound() {
        // The whole sound in the encoder's format and rate, then in frames.
        SwrContext *resample = nullptr;
        AVChannelLayout mono = AV_CHANNEL_LAYOUT_MONO;
        if (swr_alloc_set_opts2(&resample, &mono, audio_->sample_fmt, audio_->sample_rate, &mono,
                                AV_SAMPLE_FMT_S16, input_rate_, 0, nullptr) < 0 ||
            swr_init(resample) < 0) {
            swr_free(&resample);
            return Error{"cannot convert the sound"};
        }
        const int bytes = av_get_bytes_per_sample(audio_->sample_fmt);
        std::vector<uint8_t> converted;
        const size_t step = 4096;
        for (size_t at = 0;; at += step) {
            bool last = at >= sound_.size();
            int in_count = last ? 0 : int(std::min(step, sound_.size() - at));
            int room = swr_get_out_samples(resample, in_count) + 16;
            std::vector<uint8_t> out(size_t(room) * bytes);
            uint8_t *out_planes[1] = {out.data()};
            const uint8_t *in_planes[1] = {
                last ? nullptr : reinterpret_cast<const uint8_t *>(sound_.data() + at)};
            int made =
                swr_convert(resample, out_planes, room, last ? nullptr : in_planes, in_count);
            if (made > 0)
                converted.insert(converted.end(), out.begin(), out.begin() + made * bytes);
            if (last)
                break;
        }
        swr_free(&resample);

        const size_t samples = converted.size() / bytes;
        const size_t frame_size = audio_->frame_size > 0 ? size_t(audio_->frame_size) : 2048;
        for (size_t at = 0; at < samples; at += frame_size) {
            AVFrame *frame = av_frame_alloc();
            frame->format = audio_->sample_fmt;
            frame->sample_rate = audio_->sample_rate;
            av_channel_layout_copy(&frame->ch_layout, &audio_->ch_layout);
            frame->nb_samples = int(std::min(frame_size, samples - at));
            if (av_frame_get_buffer(frame, 0) < 0) {
                av_frame_free(&frame);
                return Error{"out of memory"};
            }
            std::copy_n(converted.data() + at * bytes, size_t(frame->nb_samples) * bytes,
                        frame->data[0]);
            frame->pts = int64_t(at);
            Status drained = drain(audio_, audio_stream_, frame);
            av_frame_free(&frame);
            if (!drained)
                return drained;
        }
        return drain(audio_, audio_stream_, nullptr);
    }

    const FormatInfo *info_ = nullptr;
    std::string out_, temporary_;
    int width_ = 0, height_ = 0, input_rate_ = 0;
    AVFormatContext *format_ = nullptr;
    AVCodecContext *video_ = nullptr, *audio_ = nullptr;
    AVStream *video_stream_ = nullptr, *audio_stream_ = nullptr;
    SwsContext *scale_ = nullptr;
    AVPacket *packet_ = nullptr;
    std::vector<uint8_t> pending_;
    std::array<Rgb, 256> pending_colours_{};
    uint32_t pending_time_ = 0;
    bool has_pending_ = false, finished_ = false;
    int64_t last_pts_ = -1, frame_duration_ = 1;
    std::vector<int16_t> sound_;
};

} // namespace

Expected<ExportFormat> export_format(const std::string &path) {
    if (const FormatInfo *info = format_of(path))
        return info->format;
    std::string names;
    for (const FormatInfo &info : FORMATS)
        names += (names.empty() ? "" : ", ") + std::string(".") + info.format.extension;
    return Error{"the name says no format kmov exports (" + names + ")", ErrorClass::usage, path};
}

Expected<std::unique_ptr<MediaExport>> MediaExport::open(const std::string &path, int width,
                                                         int height, double fps, int sample_rate) {
    const FormatInfo *info = format_of(path);
    if (info == nullptr)
        return export_format(path).error();
    auto writer = std::make_unique<FfmpegExport>();
    if (Status set_up = writer->setup(path, *info, width, height, fps, sample_rate); !set_up)
        return set_up.error();
    return std::unique_ptr<MediaExport>(std::move(writer));
}

} // namespace kmov
