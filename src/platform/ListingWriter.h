#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace qm {

// The results of the command-line tool in one of three forms:
// - text: one result a line, fields separated by tabs, every path and tag
//   escaped as the index tool's listings are (see ListingEscape.h);
// - nul: the raw bytes of each field followed by a NUL byte, for xargs -0;
// - json: one array of objects (see the methods). JSON text must be UTF-8,
//   so a byte that is not becomes U+FFFD; a path with such bytes also carries
//   its exact bytes as lower-case hex in "pathHex".
// Output is buffered and handed to the sink in large pieces.
class ListingWriter {
public:
    enum class Mode { text, nul, json };
    using Sink = std::function<void(std::string_view)>;

    ListingWriter(Mode mode, Sink sink);
    ~ListingWriter();  // finishes
    ListingWriter(const ListingWriter&) = delete;
    ListingWriter& operator=(const ListingWriter&) = delete;

    // A matching file. text: path; nul: path NUL; json: {"path": ...}.
    void path(std::string_view path);
    // A file and its tags. text: path, then each tag; nul: path NUL, each tag
    // NUL, then one more NUL (no tag is empty, so the empty field ends the
    // file); json: {"path": ..., "tags": [...]}.
    void pathWithTags(std::string_view path, const std::vector<std::string>& tags);
    // A tag of the library. text: tag, count; nul: tag NUL (the names alone,
    // for completion); json: {"tag": ..., "count": n}.
    void tagCount(std::string_view tag, size_t count);
    // A located file. text: path, distance in metres with one decimal,
    // latitude, longitude; nul: path NUL; json: {"path", "distanceMeters",
    // "latitude", "longitude"}.
    void located(std::string_view path, double distanceMeters, double latitude, double longitude);

    // Hands on what is buffered (before a message on another stream).
    void flush();
    // Closes the JSON array and hands on what is buffered. Called once.
    void finish();

    // A JSON string literal of `bytes` (quotes included), U+FFFD for bytes
    // that are not UTF-8.
    static void appendJsonString(std::string& out, std::string_view bytes);

private:
    void beginObject();
    void appendJsonPath(std::string_view path);
    void endRecord();

    Mode mode_;
    Sink sink_;
    std::string buffer_;
    bool any_ = false;
    bool finished_ = false;
};

}  // namespace qm
