#include "map/TilePolicy.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "map/MapCamera.h"

namespace qm {

int TilePolicy::tileZoomFor(double zoomLevel, double devicePixelRatio) {
    double z = zoomLevel + std::log2(std::max(1.0, devicePixelRatio));
    // A tile is shown between 0.84 and 1.68 times its size: sharp enough,
    // and never more tiles than needed.
    return std::clamp(int(std::floor(z + 0.25)), 0, maxZoom);
}

std::vector<VisibleTile> TilePolicy::visibleTiles(const MapCamera& camera, double devicePixelRatio) {
    std::vector<VisibleTile> out;
    const int z = tileZoomFor(camera.zoomLevel(), devicePixelRatio);
    const int n = 1 << z;
    const double tileMap = mercator::worldSize / n;  // map points per tile
    const MapRect r = camera.visibleMapRect();
    const double size = tileMap * camera.scale();
    // Half-open: a tile that only touches the view's far edge is not needed.
    const int x0 = int(std::floor(r.x / tileMap)), x1 = int(std::ceil((r.x + r.width) / tileMap)) - 1;
    const int y0 = std::max(0, int(std::floor(r.y / tileMap)));
    const int y1 = std::min(n - 1, int(std::ceil((r.y + r.height) / tileMap)) - 1);
    for (int ty = y0; ty <= y1; ++ty)
        for (int tx = x0; tx <= x1; ++tx) {
            int wrapped = ((tx % n) + n) % n;
            out.push_back(VisibleTile{TileKey{z, wrapped, ty}, (tx * tileMap - r.x) * camera.scale(),
                                      (ty * tileMap - r.y) * camera.scale(), size});
        }
    const double cx = camera.viewWidth() / 2, cy = camera.viewHeight() / 2;
    auto distance = [&](const VisibleTile& t) {
        double dx = t.viewX + size / 2 - cx, dy = t.viewY + size / 2 - cy;
        return dx * dx + dy * dy;
    };
    std::stable_sort(out.begin(), out.end(),
                     [&](const VisibleTile& a, const VisibleTile& b) { return distance(a) < distance(b); });
    return out;
}

bool TilePolicy::isAcceptedTemplate(std::string_view urlTemplate) {
    auto lower = [](std::string_view text) {
        std::string out(text);
        for (char& c : out)
            c = char(std::tolower(static_cast<unsigned char>(c)));
        return out;
    };
    std::string_view rest;
    for (std::string_view scheme : {"http://", "https://"})
        if (urlTemplate.size() > scheme.size() && lower(urlTemplate.substr(0, scheme.size())) == scheme)
            rest = urlTemplate.substr(scheme.size());
    if (rest.empty()) return false;
    for (unsigned char c : urlTemplate)
        if (c <= ' ' || c == 0x7f) return false;
    // A host: something before the path, the query or the fragment.
    const std::string_view authority = rest.substr(0, rest.find_first_of("/?#"));
    return !authority.empty() && authority.front() != ':' && authority.front() != '@';
}

std::string TilePolicy::url(std::string_view urlTemplate, const TileKey& key) {
    std::string out;
    out.reserve(urlTemplate.size() + 16);
    for (size_t i = 0; i < urlTemplate.size(); ++i) {
        std::string_view rest = urlTemplate.substr(i);
        if (rest.starts_with("{z}")) {
            out += std::to_string(key.z);
            i += 2;
        } else if (rest.starts_with("{x}")) {
            out += std::to_string(key.x);
            i += 2;
        } else if (rest.starts_with("{y}")) {
            out += std::to_string(key.y);
            i += 2;
        } else {
            out += urlTemplate[i];
        }
    }
    return out;
}

namespace {

// max-age (or s-maxage) of a Cache-Control value; no-store and no-cache count as 0.
std::optional<long> maxAge(std::string_view value) {
    std::string lower(value);
    for (char& c : lower)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    std::optional<long> age;
    size_t pos = 0;
    while (pos <= lower.size()) {
        size_t end = lower.find(',', pos);
        if (end == std::string::npos) end = lower.size();
        std::string part = lower.substr(pos, end - pos);
        part.erase(0, part.find_first_not_of(" \t"));
        if (part.starts_with("no-store") || part.starts_with("no-cache")) return 0;
        for (std::string_view key : {"max-age=", "s-maxage="})
            if (part.starts_with(key)) {
                char* stop = nullptr;
                long v = std::strtol(part.c_str() + key.size(), &stop, 10);
                if (stop != part.c_str() + key.size() && v >= 0) age = std::max(age.value_or(0), v);
            }
        pos = end + 1;
    }
    return age;
}

}  // namespace

TilePolicy::Clock::time_point TilePolicy::expiry(Clock::time_point now,
                                                 std::optional<std::string_view> cacheControl,
                                                 std::optional<Clock::time_point> expires,
                                                 std::optional<Clock::time_point> date) {
    // Lifetimes are compared before they are added to now, so that no sum
    // can leave the clock's range.
    Clock::duration lifetime{0};
    std::optional<long> age = cacheControl ? maxAge(*cacheControl) : std::nullopt;
    const long longest = std::chrono::duration_cast<std::chrono::seconds>(maximumLifetime).count();
    if (age)
        lifetime = std::chrono::seconds(std::min(*age, longest));
    else if (expires)
        lifetime = *expires - (date ? *date : now);
    return now + std::clamp<Clock::duration>(lifetime, minimumLifetime, maximumLifetime);
}

TilePolicy::Clock::time_point TilePolicy::fromEpochMilliseconds(int64_t milliseconds) {
    // 2200-01-01T00:00:00Z.
    constexpr int64_t latest = 7258118400000;
    return Clock::time_point(std::chrono::milliseconds(std::clamp<int64_t>(milliseconds, 0, latest)));
}

}  // namespace qm

namespace qm {

namespace {

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar.
int64_t daysFromCivil(int64_t y, int m, int d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

// The text split at spaces, commas and dashes (the three forms' separators).
std::vector<std::string_view> dateWords(std::string_view text) {
    std::vector<std::string_view> out;
    size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && (text[i] == ' ' || text[i] == ',' || text[i] == '-' || text[i] == '\t'))
            ++i;
        size_t j = i;
        while (j < text.size() && text[j] != ' ' && text[j] != ',' && text[j] != '-' && text[j] != '\t')
            ++j;
        if (j > i) out.push_back(text.substr(i, j - i));
        i = j;
    }
    return out;
}

std::optional<int64_t> number(std::string_view word, size_t minDigits, size_t maxDigits) {
    if (word.size() < minDigits || word.size() > maxDigits) return std::nullopt;
    int64_t v = 0;
    for (char c : word) {
        if (c < '0' || c > '9') return std::nullopt;
        v = v * 10 + (c - '0');
    }
    return v;
}

int monthOf(std::string_view word) {
    static constexpr std::string_view names[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                 "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    for (int i = 0; i < 12; ++i)
        if (word == names[i]) return i + 1;
    return 0;
}

}  // namespace

std::optional<TilePolicy::Clock::time_point> TilePolicy::parseHttpDate(std::string_view text) {
    std::vector<std::string_view> w = dateWords(text);
    // Without the weekday: "06 Nov 1994 08:49:37 GMT" or "Nov 6 08:49:37 1994".
    if (!w.empty() && !w[0].empty() && (w[0][0] < '0' || w[0][0] > '9') && !monthOf(w[0])) w.erase(w.begin());
    std::optional<int64_t> day, year;
    int month = 0;
    std::string_view clock;
    if (w.size() == 5 && w[4] == "GMT") {  // day month year time GMT
        day = number(w[0], 1, 2);
        month = monthOf(w[1]);
        year = number(w[2], 2, 4);
        clock = w[3];
        if (year && w[2].size() == 2) *year += *year < 70 ? 2000 : 1900;
    } else if (w.size() == 4) {  // month day time year
        month = monthOf(w[0]);
        day = number(w[1], 1, 2);
        clock = w[2];
        year = number(w[3], 4, 4);
    }
    if (!day || !year || !month || *day < 1 || *day > 31 || clock.size() != 8 || clock[2] != ':' ||
        clock[5] != ':')
        return std::nullopt;
    const auto h = number(clock.substr(0, 2), 2, 2), m = number(clock.substr(3, 2), 2, 2),
               sec = number(clock.substr(6, 2), 2, 2);
    if (!h || !m || !sec || *h > 23 || *m > 59 || *sec > 60) return std::nullopt;
    const int64_t seconds = daysFromCivil(*year, month, int(*day)) * 86400 + *h * 3600 + *m * 60 + *sec;
    return fromEpochMilliseconds(seconds * 1000);
}

}  // namespace qm
