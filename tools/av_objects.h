// FFmpeg's objects held by std::unique_ptr, and its error codes as text: the
// one set that the tools reading and writing media through FFmpeg's
// libraries (media input, icon pictures, export) share.
#ifndef KMOV_TOOLS_AV_OBJECTS_H
#define KMOV_TOOLS_AV_OBJECTS_H

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include <memory>
#include <string>

namespace kmov {

struct FormatCloser {
    void operator()(AVFormatContext *context) const { avformat_close_input(&context); }
};
struct CodecFreer {
    void operator()(AVCodecContext *context) const { avcodec_free_context(&context); }
};
struct FrameFreer {
    void operator()(AVFrame *frame) const { av_frame_free(&frame); }
};
struct PacketFreer {
    void operator()(AVPacket *packet) const { av_packet_free(&packet); }
};
struct ScaleFreer {
    void operator()(SwsContext *context) const { sws_freeContext(context); }
};
struct ResampleFreer {
    void operator()(SwrContext *context) const { swr_free(&context); }
};

// An input opened with avformat_open_input (closed, not just freed).
using FormatPtr = std::unique_ptr<AVFormatContext, FormatCloser>;
using CodecPtr = std::unique_ptr<AVCodecContext, CodecFreer>;
using FramePtr = std::unique_ptr<AVFrame, FrameFreer>;
using PacketPtr = std::unique_ptr<AVPacket, PacketFreer>;
using ScalePtr = std::unique_ptr<SwsContext, ScaleFreer>;
using ResamplePtr = std::unique_ptr<SwrContext, ResampleFreer>;

// FFmpeg's words for an error code.
inline std::string av_error_text(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

} // namespace kmov

#endif
