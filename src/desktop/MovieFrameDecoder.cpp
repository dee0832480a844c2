#include "desktop/MovieFrameDecoder.h"

#include <QTransform>

#include "desktop/DecodeLimits.h"
#include "media/MediaInput.h"
#include "media/RegularFileHandle.h"

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <memory>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/display.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

namespace qm {
namespace {

// Bounds on the work one thumbnail may cost, whatever the file claims.
constexpr int kMaxPacketsRead = 2000;
constexpr int kMaxFramesAfterTarget = 48;  // how far to look past dark frames
constexpr int kDarkLuma = 24;

struct CodecCloser {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct FrameCloser {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct PacketCloser {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct SwsCloser {
    void operator()(SwsContext* s) const { sws_freeContext(s); }
};

// Mean luma estimated from a sparse grid of samples of an 8-bit luma plane.
bool isNearlyBlack(const AVFrame* f) {
    const auto* desc = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(f->format));
    if (!desc || (desc->flags & AV_PIX_FMT_FLAG_RGB) || desc->comp[0].depth != 8 ||
        desc->comp[0].step != 1 || !f->data[0])
        return false;  // not cheap to judge; take the frame
    long sum = 0, n = 0;
    for (int y = f->height / 16; y < f->height; y += std::max(1, f->height / 8)) {
        const uint8_t* row = f->data[0] + static_cast<std::ptrdiff_t>(y) * f->linesize[0];
        for (int x = f->width / 16; x < f->width; x += std::max(1, f->width / 8)) sum += row[x], ++n;
    }
    return n > 0 && sum / n < kDarkLuma;
}

double rotationDegrees(const AVStream* stream) {
    size_t size = 0;
    const uint8_t* matrix = av_stream_get_side_data(stream, AV_PKT_DATA_DISPLAYMATRIX, &size);
    if (!matrix || size < 9 * sizeof(int32_t)) return 0;
    double r = av_display_rotation_get(reinterpret_cast<const int32_t*>(matrix));
    return std::isfinite(r) ? r : 0;
}

std::optional<QImage> toImage(const AVFrame* f, AVRational sampleAspect, QSize maxSize, bool turned) {
    if (f->width <= 0 || f->height <= 0) return std::nullopt;
    double displayWidth = f->width;
    if (sampleAspect.num > 0 && sampleAspect.den > 0) displayWidth *= av_q2d(sampleAspect);
    QSize shown(std::max(1, static_cast<int>(std::lround(displayWidth))), f->height);
    QSize box = turned ? maxSize.transposed() : maxSize;
    if (shown.width() > box.width() || shown.height() > box.height())
        shown = shown.scaled(box, Qt::KeepAspectRatio).expandedTo(QSize(1, 1));
    std::unique_ptr<SwsContext, SwsCloser> sws(sws_getContext(
        f->width, f->height, static_cast<AVPixelFormat>(f->format), shown.width(), shown.height(),
        AV_PIX_FMT_RGB32, SWS_AREA, nullptr, nullptr, nullptr));
    if (!sws) return std::nullopt;
    QImage image(shown, QImage::Format_RGB32);
    if (image.isNull()) return std::nullopt;
    uint8_t* dst[4] = {image.bits(), nullptr, nullptr, nullptr};
    int dstStride[4] = {static_cast<int>(image.bytesPerLine()), 0, 0, 0};
    if (sws_scale(sws.get(), f->data, f->linesize, 0, f->height, dst, dstStride) <= 0)
        return std::nullopt;
    return image;
}

}  // namespace

std::optional<QImage> MovieFrameDecoder::decode(const std::string& path, QSize maxSize,
                                                const std::string& mimeType) {
    RegularFileHandle file(path);
    if (!file.isOpen()) return std::nullopt;
    return decode(file.fd(), path, maxSize, mimeType);
}

std::optional<QImage> MovieFrameDecoder::decode(int fd, const std::string& fileName, QSize maxSize,
                                                const std::string& mimeType, DecodeFailure* failure) {
    if (failure) *failure = DecodeFailure::file;
    // A failure for want of memory or descriptors is the moment's, not the file's.
    auto failed = [failure](int averror) -> std::optional<QImage> {
        if (failure && averror < 0 && DecodeLimits::isTransientErrno(AVUNERROR(averror)))
            *failure = DecodeFailure::transient;
        return std::nullopt;
    };
    if (maxSize.isEmpty()) return std::nullopt;
    int error = 0;
    MediaInput format = openMediaInput(fd, fileName, mimeType, &error);
    if (!format) return failed(error);
    if (int r = avformat_find_stream_info(format.get(), nullptr); r < 0) return failed(r);
    const AVCodec* codec = nullptr;
    int index = av_find_best_stream(format.get(), AVMEDIA_TYPE_VIDEO, -1, -1, &codec, 0);
    if (index < 0 || !codec) return failed(index == AVERROR(ENOMEM) ? index : 0);
    AVStream* stream = format->streams[index];
    // What the stream declares decides before any frame buffer is made.
    const AVCodecParameters* par = stream->codecpar;
    if (par->width <= 0 || par->height <= 0 ||
        std::int64_t(par->width) * par->height > DecodeLimits::maxMoviePixels)
        return std::nullopt;
    // Cover art attached to a sound file is a picture, not a movie frame; still fine.
    std::unique_ptr<AVCodecContext, CodecCloser> decoder(avcodec_alloc_context3(codec));
    if (!decoder) return failed(AVERROR(ENOMEM));
    if (int r = avcodec_parameters_to_context(decoder.get(), par); r < 0) return failed(r);
    decoder->thread_count = 1;  // the pool already runs one request per core
    // And for frames that grow past what the stream declared.
    decoder->max_pixels = DecodeLimits::maxMoviePixels;
    if (int r = avcodec_open2(decoder.get(), codec, nullptr); r < 0) return failed(r);

    int64_t target = AV_NOPTS_VALUE;  // in stream time base
    if (!(stream->disposition & AV_DISPOSITION_ATTACHED_PIC)) {
        int64_t duration = stream->duration;
        if (duration <= 0 && format->duration > 0)
            duration = av_rescale_q(format->duration, AV_TIME_BASE_Q, stream->time_base);
        if (duration > 0) {
            int64_t start = stream->start_time != AV_NOPTS_VALUE ? stream->start_time : 0;
            target = start + duration / 10;
            if (av_seek_frame(format.get(), index, target, AVSEEK_FLAG_BACKWARD) < 0) {
                target = AV_NOPTS_VALUE;
                av_seek_frame(format.get(), index, start, AVSEEK_FLAG_BACKWARD);
            }
            avcodec_flush_buffers(decoder.get());
        }
    }

    std::unique_ptr<AVPacket, PacketCloser> packet(av_packet_alloc());
    std::unique_ptr<AVFrame, FrameCloser> frame(av_frame_alloc());
    std::unique_ptr<AVFrame, FrameCloser> chosen(av_frame_alloc());
    if (!packet || !frame || !chosen) return std::nullopt;
    bool haveChosen = false;
    int framesConsidered = 0;
    bool draining = false;
    int readError = 0;
    // Decode up to the target time; from there take the first frame that is not
    // nearly black, or the first one when all in the stretch are.
    for (int packets = 0; packets < kMaxPacketsRead;) {
        if (!draining) {
            int r = av_read_frame(format.get(), packet.get());
            if (r < 0) {
                readError = r;
                draining = true;
                avcodec_send_packet(decoder.get(), nullptr);
            } else {
                ++packets;
                bool mine = packet->stream_index == index;
                if (mine) avcodec_send_packet(decoder.get(), packet.get());
                av_packet_unref(packet.get());
                if (!mine) continue;
            }
        }
        bool done = false;
        for (;;) {
            int r = avcodec_receive_frame(decoder.get(), frame.get());
            if (r == AVERROR(EAGAIN)) {
                done = draining;  // a flushed decoder has nothing more to give
                break;
            }
            if (r < 0) {
                done = true;  // end of stream or a decoder error
                break;
            }
            int64_t pts = frame->best_effort_timestamp;
            bool beforeTarget = target != AV_NOPTS_VALUE && pts != AV_NOPTS_VALUE && pts < target;
            if (beforeTarget) {
                // Keep the latest one in case the target lies past the last frame.
                av_frame_unref(chosen.get());
                av_frame_move_ref(chosen.get(), frame.get());
                haveChosen = true;
                continue;
            }
            bool dark = isNearlyBlack(frame.get());
            if (framesConsidered == 0 || !dark) {
                av_frame_unref(chosen.get());
                av_frame_move_ref(chosen.get(), frame.get());
                haveChosen = true;
            }
            av_frame_unref(frame.get());
            ++framesConsidered;
            if (!dark || framesConsidered >= kMaxFramesAfterTarget) {
                done = true;
                break;
            }
        }
        if (done) break;
    }
    if (!haveChosen) return failed(readError);

    double rotation = rotationDegrees(stream);
    long quarter = std::lround(rotation / 90.0);
    bool turned = (quarter % 2) != 0;
    auto image = toImage(chosen.get(), av_guess_sample_aspect_ratio(format.get(), stream, chosen.get()),
                         maxSize, turned);
    if (!image) return std::nullopt;
    if (quarter % 4 != 0) {
        // The display matrix turns counter-clockwise; QTransform::rotate clockwise.
        *image = image->transformed(QTransform().rotate(-90.0 * static_cast<double>(quarter)));
    }
    return image;
}

}  // namespace qm
