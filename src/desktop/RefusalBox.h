#pragma once

class QMessageBox;
class QString;
class QWidget;

namespace qm {

// What a view shows when it refuses a typed name or tag: a warning with the
// reason, modal to the parent's window only (so other windows keep working),
// that deletes itself when closed.
struct RefusalBox {
    // The box, already open; `objectName` lets the window and tests find it.
    static QMessageBox* open(QWidget* parent, const QString& message, const QString& objectName);
};

}  // namespace qm
