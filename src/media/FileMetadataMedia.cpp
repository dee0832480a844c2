#include <string>

#include "media/FileMetadataReaders.h"
#include "media/MediaInput.h"

extern "C" {
#include <libavformat/avformat.h>
}

namespace qm::media {

namespace {

std::optional<double> streamSeconds(const AVStream* stream) {
    if (stream->duration == AV_NOPTS_VALUE || stream->duration < 0 || stream->time_base.den == 0)
        return std::nullopt;
    return static_cast<double>(stream->duration) * av_q2d(stream->time_base);
}

std::optional<double> containerSeconds(const AVFormatContext* context) {
    if (context->duration == AV_NOPTS_VALUE || context->duration < 0) return std::nullopt;
    return static_cast<double>(context->duration) / AV_TIME_BASE;
}

const AVStream* firstVideoStream(const AVFormatContext* context) {
    for (unsigned i = 0; i < context->nb_streams; ++i) {
        const AVStream* s = context->streams[i];
        if (s->codecpar->codec_type == AVMEDIA_TYPE_VIDEO && !(s->disposition & AV_DISPOSITION_ATTACHED_PIC))
            return s;
    }
    return nullptr;
}

bool hasAudioStream(const AVFormatContext* context) {
    for (unsigned i = 0; i < context->nb_streams; ++i)
        if (context->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) return true;
    return false;
}

}  // namespace

std::optional<double> mediaDuration(const std::filesystem::path& path, MediaKind kind) {
    MediaInput context = openMediaInput(path.string(), path.filename().string());
    if (!context) return std::nullopt;

    // Containers with a real header list their streams on opening; probing the packets
    // is only paid where they do not.
    bool probed = false;
    auto probe = [&] {
        if (!probed) avformat_find_stream_info(context.get(), nullptr);
        probed = true;
    };
    if (context->nb_streams == 0 || (context->ctx_flags & AVFMTCTX_NOHEADER)) probe();

    if (kind == MediaKind::sound) {
        if (!hasAudioStream(context.get())) probe();
        if (!hasAudioStream(context.get())) return std::nullopt;
        if (auto d = containerSeconds(context.get())) return d;
        probe();
        return containerSeconds(context.get());
    }
    const AVStream* video = firstVideoStream(context.get());
    if (!video) {
        probe();
        video = firstVideoStream(context.get());
    }
    if (!video) return std::nullopt;
    if (auto d = streamSeconds(video)) return d;
    if (auto d = containerSeconds(context.get())) return d;
    probe();
    if (auto d = streamSeconds(video)) return d;
    return containerSeconds(context.get());
}

}  // namespace qm::media
