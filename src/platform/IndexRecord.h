#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "library/MetadataQuery.h"

namespace qm {

// What the index knows about one file or directory. `tags` is the raw value
// of the tag attribute (empty: none), kept unparsed so that storing and
// comparing it costs nothing; `gpsChecked` says the position fields describe
// the file at this size and mtime, so an unchanged file is never reopened.
struct IndexRecord {
    MetadataItem item;
    std::string path;
    bool isDirectory = false;
    int64_t size = 0;
    int64_t mtimeNs = 0;
    int64_t ctimeNs = 0;
    std::string tags;
    std::optional<double> latitude, longitude;
    bool gpsChecked = false;

    // Same file contents and attributes as far as stat can tell.
    bool sameStat(const IndexRecord& o) const {
        return size == o.size && mtimeNs == o.mtimeNs && ctimeNs == o.ctimeNs && isDirectory == o.isDirectory;
    }
};

}  // namespace qm
