#include "tilegrid/AddTagPrompt.h"

#include <QCompleter>
#include <QDialogButtonBox>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "tilegrid/AddTagAction.h"
#include "tilegrid/TagCompleter.h"

namespace qm {

AddTagPrompt::AddTagPrompt(const QString& message, const Tree& tree, QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("addTagPrompt"));
    setWindowTitle(QString::fromUtf8(AddTagAction::button));
    setWindowModality(Qt::WindowModal);
    setAttribute(Qt::WA_DeleteOnClose);

    auto* label = new QLabel(message, this);
    label->setWordWrap(true);
    edit_ = new QLineEdit(this);
    edit_->setObjectName(QStringLiteral("addTagEditor"));
    edit_->setAccessibleName(QString::fromUtf8(AddTagAction::button));
    edit_->setAccessibleDescription(message);
    // Wide enough for the message with a file name of usual length on one line.
    edit_->setMinimumWidth(edit_->fontMetrics().averageCharWidth() * 56);
    label->setBuddy(edit_);

    completer_ = new TagCompleter(tree, this);
    edit_->setCompleter(completer_);

    auto* buttons = new QDialogButtonBox(this);
    // The style may give the standard button an icon; "Add Tag" has none.
    buttons->addButton(QDialogButtonBox::Cancel)->setIcon(QIcon());
    add_ = buttons->addButton(QString::fromUtf8(AddTagAction::button), QDialogButtonBox::AcceptRole);
    add_->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(this, &QDialog::accepted, this, [this] { Q_EMIT tagEntered(edit_->text()); });

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(label);
    layout->addWidget(edit_);
    layout->addWidget(buttons);
    edit_->setFocus(Qt::OtherFocusReason);
}

}  // namespace qm
