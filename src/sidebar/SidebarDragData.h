#pragma once

#include <string>

#include "commands/DropInfo.h"

class QMimeData;

namespace qm {

// Between Qt's drag data and the commands' drop description: the tag payload
// under its own MIME type, else the files (FileDragData).
struct SidebarDragData {
    static DropInfo dropInfo(const QMimeData& mime);
    static QMimeData* forTag(const std::string& tag);
};

}  // namespace qm
