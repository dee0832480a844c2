#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "core/QuickString.h"

namespace qm {

// The text/uri-list format of file drags (RFC 2483): one URI per line, lines
// ending in CRLF, "#" starting a comment. File URLs carry a path's bytes
// percent-encoded, so any name, UTF-8 or not, survives the trip.
struct UriList {
    static std::string forPaths(const std::vector<std::string>& paths);
    static std::string forPaths(const std::vector<QuickString>& paths);
    // The URIs of a list in order: white space around each line dropped,
    // blank and comment lines skipped, bare LF line ends taken too since
    // some programs write them.
    static std::vector<std::string> uris(std::string_view list);
};

}  // namespace qm
