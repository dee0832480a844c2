#include "media/MediaInput.h"

#include <absl/base/thread_annotations.h>

#include <map>
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

void MediaInputCloser::operator()(AVFormatContext* context) const {
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

}  // namespace qm
