#pragma once

#include <string>
#include <vector>

#include "commands/DropInfo.h"
#include "core/QuickString.h"

class QDropEvent;
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
    // The same with what the drop may do to the files: the actions the source
    // offers and the modifier held (Ctrl copies, Shift moves).
    static DropInfo dropInfo(const QDropEvent& event);
    static void readActions(const QDropEvent& event, DropInfo& info);
    // Tells the source what became of its files.
    static void reportPerformed(QDropEvent& event, DropOperation performed);
};

}  // namespace qm
