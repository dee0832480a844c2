#include "desktop/RefusalBox.h"

#include <QMessageBox>

namespace qm {

QMessageBox* RefusalBox::open(QWidget* parent, const QString& message, const QString& objectName) {
    auto* box = new QMessageBox(QMessageBox::Warning, QString(), message, QMessageBox::Ok, parent);
    box->setObjectName(objectName);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::WindowModal);
    box->open();
    return box;
}

}  // namespace qm
