#pragma once

#include <cstdint>
#include <string>

namespace qm {

// What the user asked for; selects texts only. Raw values are stable.
enum class TagChangeKind : uint8_t {
    star = 0,
    unstar = 1,
    tag = 2,
    untag = 3,
    merge = 4,
    unmerge = 5,
    create = 6,
    uncreate = 7,
    deleteTag = 8,  // "delete" is a keyword
    undelete = 9,
    reparent = 10,
    rename = 11,
};

TagChangeKind inverse(TagChangeKind kind);

// Menu and status texts; `countPhrase` is used by the kinds that count files
// (star, unstar, tag, untag).
std::string menuText(TagChangeKind kind, const std::string& countPhrase);
std::string statusText(TagChangeKind kind, const std::string& countPhrase);

// "File" for one file change, otherwise the count and " Files".
std::string fileCountPhrase(size_t count);

}  // namespace qm
