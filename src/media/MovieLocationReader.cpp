#include "media/MovieLocationReader.h"

#include "media/MediaInput.h"
#include "media/MediaTypeDatabase.h"
#include "media/RegularFileHandle.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
}

#include <cctype>
#include <cmath>
#include <cstdlib>

namespace qm {

namespace {

// One signed ISO 6709 coordinate at the front of `text`: the count of integer
// digits tells degrees (2 or 3), degrees+minutes (4 or 5) or
// degrees+minutes+seconds (6 or 7).
std::optional<double> coordinate(std::string_view& text, int degreeDigits) {
    if (text.empty() || (text[0] != '+' && text[0] != '-')) return std::nullopt;
    const bool negative = text[0] == '-';
    size_t i = 1, intDigits = 0;
    while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) ++i, ++intDigits;
    size_t end = i;
    if (end < text.size() && text[end] == '.') {
        ++end;
        while (end < text.size() && std::isdigit(static_cast<unsigned char>(text[end]))) ++end;
    }
    if (intDigits == 0) return std::nullopt;
    std::string number(text.substr(1, end - 1));
    double v = std::strtod(number.c_str(), nullptr);
    double value;
    if (intDigits == static_cast<size_t>(degreeDigits)) {
        value = v;
    } else if (intDigits == static_cast<size_t>(degreeDigits + 2)) {
        double deg = std::floor(v / 100);
        value = deg + (v - deg * 100) / 60;
    } else if (intDigits == static_cast<size_t>(degreeDigits + 4)) {
        double deg = std::floor(v / 10000);
        double rest = v - deg * 10000;
        double min = std::floor(rest / 100);
        value = deg + min / 60 + (rest - min * 100) / 3600;
    } else {
        return std::nullopt;
    }
    text.remove_prefix(end);
    return negative ? -value : value;
}

}  // namespace

std::optional<GPS> MovieLocationReader::parseISO6709(std::string_view text) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text[0]))) text.remove_prefix(1);
    auto lat = coordinate(text, 2);
    if (!lat) return std::nullopt;
    auto lon = coordinate(text, 3);
    if (!lon) return std::nullopt;
    if (!GPS::isOnGlobe(*lat, *lon)) return std::nullopt;
    return GPS{.latitude = *lat, .longitude = *lon};
}

bool MovieLocationReader::handles(std::string_view path) {
    return handlesType(MediaTypeDatabase::shared().typeForFileName(path));
}

bool MovieLocationReader::handlesType(std::string_view type) {
    return type == "video/mp4" || type == "video/quicktime" || type == "video/x-m4v" ||
           type == "video/3gpp" || type == "video/3gpp2";
}

std::optional<GPS> MovieLocationReader::read(const std::string& path) {
    RegularFileHandle file(path);
    if (!file.isOpen()) return std::nullopt;
    MediaInput ctx = openMediaInput(file.path(), path);
    if (!ctx) return std::nullopt;
    std::optional<GPS> result;
    // The container's metadata is read on open; no stream probing needed.
    for (const char* key : {"location", "com.apple.quicktime.location.ISO6709", "location-eng"}) {
        if (const AVDictionaryEntry* e = av_dict_get(ctx->metadata, key, nullptr, 0); e && e->value) {
            result = parseISO6709(e->value);
            if (result) break;
        }
    }
    return result;
}

}  // namespace qm
