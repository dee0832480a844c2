#include "media/MediaInput.h"

#include <absl/base/thread_annotations.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <map>
#include <mutex>
#include <utility>
#include <vector>

#include "core/Mutex.h"
#include "media/MediaTypeDatabase.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/avstring.h>
#include <libavutil/dict.h>
#include <libavutil/log.h>
}

namespace qm {

namespace {

bool listContains(const char* commaList, std::string_view item) {
    if (!commaList || item.empty()) return false;
    std::string_view list(commaList);
    while (!list.empty()) {
        std::size_t comma = list.find(',');
        std::string_view entry = list.substr(0, comma);
        if (entry.size() == item.size() && av_strncasecmp(entry.data(), item.data(), item.size()) == 0)
            return true;
        if (comma == std::string_view::npos) break;
        list.remove_prefix(comma + 1);
    }
    return false;
}

// Demuxers that declare neither an extension nor a MIME type, by the type they read.
constexpr std::pair<const char*, const char*> kUndeclared[] = {{"video/mp2t", "mpegts"}};

// The names a type goes by in libavformat: its extensions and its subtype with
// the "x-" prefix and "+suffix" split off ("audio/x-opus+ogg": "opus", "ogg").
std::vector<std::string> namesForType(const std::string& type, std::string_view extension) {
    std::vector<std::string> names = MediaTypeDatabase::shared().extensionsForType(type);
    std::string lower(extension);
    for (char& ch : lower)
        if (ch >= 'A' && ch <= 'Z') ch = static_cast<char>(ch - 'A' + 'a');
    names.push_back(std::move(lower));
    if (std::size_t slash = type.find('/'); slash != std::string::npos) {
        std::string_view subtype = std::string_view(type).substr(slash + 1);
        if (subtype.starts_with("x-")) subtype.remove_prefix(2);
        std::size_t plus = subtype.find('+');
        names.emplace_back(subtype.substr(0, plus));
        if (plus != std::string_view::npos) names.emplace_back(subtype.substr(plus + 1));
    }
    for (const auto& [knownType, demuxer] : kUndeclared)
        if (type == knownType) names.emplace_back(demuxer);
    return names;
}

// The demuxers made for the file's type: those listing its MIME type, or one of
// the type's names as an extension or as their own name. A comma-separated list
// for libavformat's format whitelist.
std::string demuxersFor(std::string_view fileName, std::string_view mimeType) {
    std::size_t slash = fileName.rfind('/');
    if (slash != std::string_view::npos) fileName.remove_prefix(slash + 1);
    std::size_t dot = fileName.rfind('.');
    const std::string_view extension =
        dot == std::string_view::npos ? std::string_view() : fileName.substr(dot + 1);
    const std::string type =
        std::string(mimeType.empty() ? MediaTypeDatabase::shared().typeForFileName(fileName) : mimeType);
    if (type.empty() && extension.empty()) return {};
    // The answer depends on the type and the extension only; a crawl asks for few.
    struct Cache {
        Mutex mutex;
        std::map<std::string, std::string, std::less<>> demuxers ABSL_GUARDED_BY(mutex);
    };
    static Cache cache;
    std::string key = type + '\n';
    for (char ch : extension) key += ch >= 'A' && ch <= 'Z' ? static_cast<char>(ch - 'A' + 'a') : ch;
    {
        MutexLock lock(cache.mutex);
        if (auto it = cache.demuxers.find(key); it != cache.demuxers.end()) return it->second;
    }
    const std::vector<std::string> names = namesForType(type, extension);
    std::string demuxers;
    void* state = nullptr;
    while (const AVInputFormat* format = av_demuxer_iterate(&state)) {
        bool fits = listContains(format->mime_type, type);
        for (std::size_t i = 0; !fits && i < names.size(); ++i)
            fits = listContains(format->extensions, names[i]) || listContains(format->name, names[i]);
        if (!fits) continue;
        if (!demuxers.empty()) demuxers += ',';
        // A demuxer's name may itself be a list ("mov,mp4,m4a,..."); the whitelist
        // matches any of them.
        demuxers += format->name;
    }
    MutexLock lock(cache.mutex);
    cache.demuxers.emplace(std::move(key), demuxers);
    return demuxers;
}

}  // namespace

namespace {

// Reads from a descriptor at a position of its own (pread), so that nothing
// else sharing the descriptor moves it.
struct DescriptorReader {
    int fd = -1;
    int64_t position = 0;
};

int readDescriptor(void* opaque, uint8_t* buffer, int size) {
    auto* r = static_cast<DescriptorReader*>(opaque);
    for (;;) {
        ssize_t n = ::pread(r->fd, buffer, size_t(size), r->position);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return AVERROR(errno);
        if (n == 0) return AVERROR_EOF;
        r->position += n;
        return int(n);
    }
}

int64_t seekDescriptor(void* opaque, int64_t offset, int whence) {
    auto* r = static_cast<DescriptorReader*>(opaque);
    whence &= ~AVSEEK_FORCE;
    struct stat st {};
    if (whence == AVSEEK_SIZE || whence == SEEK_END) {
        if (::fstat(r->fd, &st) != 0) return AVERROR(errno);
        if (whence == AVSEEK_SIZE) return st.st_size;
    }
    int64_t to = 0;
    switch (whence) {
    case SEEK_SET: to = offset; break;
    case SEEK_CUR: to = r->position + offset; break;
    case SEEK_END: to = st.st_size + offset; break;
    default: return AVERROR(EINVAL);
    }
    if (to < 0) return AVERROR(EINVAL);
    r->position = to;
    return to;
}

void freeDescriptorIO(AVIOContext* io) {
    if (!io) return;
    delete static_cast<DescriptorReader*>(io->opaque);
    av_freep(&io->buffer);
    avio_context_free(&io);
}

}  // namespace

void MediaInputCloser::operator()(AVFormatContext* context) const {
    if (context && (context->flags & AVFMT_FLAG_CUSTOM_IO)) {
        AVIOContext* io = context->pb;
        avformat_close_input(&context);
        freeDescriptorIO(io);
        return;
    }
    avformat_close_input(&context);
}

MediaInput openMediaInput(const std::string& path, std::string_view fileName, std::string_view mimeType) {
    static std::once_flag quiet;
    std::call_once(quiet, [] { av_log_set_level(AV_LOG_QUIET); });

    const std::string demuxers = demuxersFor(fileName, mimeType);
    if (demuxers.empty()) return nullptr;
    // "file:" so that no name is taken for another protocol.
    const std::string url = "file:" + path;
    AVDictionary* options = nullptr;
    av_dict_set(&options, "protocol_whitelist", "file", 0);
    av_dict_set(&options, "format_whitelist", demuxers.c_str(), 0);
    AVFormatContext* raw = nullptr;
    const int opened = avformat_open_input(&raw, url.c_str(), nullptr, &options);
    av_dict_free(&options);
    if (opened < 0) return nullptr;
    return MediaInput(raw);
}

MediaInput openMediaInput(int fd, std::string_view fileName, std::string_view mimeType, int* error) {
    static std::once_flag quiet;
    std::call_once(quiet, [] { av_log_set_level(AV_LOG_QUIET); });
    if (error) *error = AVERROR(EINVAL);
    if (fd < 0) return nullptr;
    const std::string demuxers = demuxersFor(fileName, mimeType);
    if (demuxers.empty()) return nullptr;
    constexpr int kBufferSize = 1 << 16;
    auto* buffer = static_cast<unsigned char*>(av_malloc(kBufferSize));
    AVFormatContext* raw = avformat_alloc_context();
    AVIOContext* io = buffer ? avio_alloc_context(buffer, kBufferSize, 0, new DescriptorReader{fd, 0},
                                                  readDescriptor, nullptr, seekDescriptor)
                             : nullptr;
    if (!raw || !io) {
        if (io) freeDescriptorIO(io);
        else av_free(buffer);
        avformat_free_context(raw);
        if (error) *error = AVERROR(ENOMEM);
        return nullptr;
    }
    raw->pb = io;
    raw->flags |= AVFMT_FLAG_CUSTOM_IO;
    AVDictionary* options = nullptr;
    // Nothing the file names (a reference, a playlist entry) is opened.
    av_dict_set(&options, "protocol_whitelist", "none", 0);
    av_dict_set(&options, "format_whitelist", demuxers.c_str(), 0);
    // On failure the context is freed, the reader is not.
    const int opened = avformat_open_input(&raw, "", nullptr, &options);
    av_dict_free(&options);
    if (opened < 0) {
        freeDescriptorIO(io);
        if (error) *error = opened;
        return nullptr;
    }
    if (error) *error = 0;
    return MediaInput(raw);
}

}  // namespace qm
