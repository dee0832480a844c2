#pragma once

#include <QStringList>

namespace qm {

// Shows files or folders selected in the desktop's file manager through
// org.freedesktop.FileManager1.ShowItems; where no file manager answers, the
// first item's parent folder is opened instead.
struct FileManagerReveal {
    static void showItems(const QStringList& paths);
};

}  // namespace qm
