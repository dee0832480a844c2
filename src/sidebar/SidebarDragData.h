#pragma once

#include <string>

#include "commands/DropInfo.h"

class QMimeData;

namespace qm {

// Between Qt's drag data and the commands' drop description: file URIs as
// `text/uri-list` (read byte for byte, so escaped non-UTF-8 names survive)
// and the tag payload under its own MIME type.
struct SidebarDragData {
    static DropInfo dropInfo(const QMimeData& mime);
    static QMimeData* forTag(const std::string& tag);
    static QMimeData* forPaths(const std::vector<std::string>& paths);
};

}  // namespace qm
