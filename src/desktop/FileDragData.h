#pragma once

#include <string>
#include <vector>

#include "commands/DropInfo.h"
#include "core/QuickString.h"

class QMimeData;
class QString;

namespace qm {

// Files on Qt's drag data, as every view writes and reads them: the list is
// taken byte for byte, never through QUrl, whose decoding to text would spoil
// names that are not UTF-8.
struct FileDragData {
    static const QString& mimeType();  // text/uri-list
    static bool hasFiles(const QMimeData& mime);
    // New drag data of these paths' file URLs; the caller owns it.
    static QMimeData* forPaths(const std::vector<std::string>& paths);
    static QMimeData* forPaths(const std::vector<QuickString>& paths);
    // One item per URI of the list, in order; none without a list.
    static DropInfo dropInfo(const QMimeData& mime);
};

}  // namespace qm
