#include "tilegrid/AddTagPrompt.h"

#include <QCompleter>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStringListModel>
#include <QVBoxLayout>

#include <algorithm>

#include "tilegrid/AddTagAction.h"

namespace qm {

AddTagPrompt::AddTagPrompt(const QString& message, QStringList tagNames, QWidget* parent) : QDialog(parent) {
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
    edit_->setMinimumWidth(edit_->fontMetrics().averageCharWidth() * 40);
    label->setBuddy(edit_);

    // A sorted model lets the completer find prefixes by binary search,
    // which keeps typing quick with a hundred thousand tags.
    std::sort(tagNames.begin(), tagNames.end(),
              [](const QString& a, const QString& b) { return a.compare(b, Qt::CaseInsensitive) < 0; });
    tagNames.erase(std::unique(tagNames.begin(), tagNames.end()), tagNames.end());
    completer_ = new QCompleter(this);
    completer_->setModel(new QStringListModel(tagNames, completer_));
    completer_->setCaseSensitivity(Qt::CaseInsensitive);
    completer_->setModelSorting(QCompleter::CaseInsensitivelySortedModel);
    completer_->setCompletionMode(QCompleter::PopupCompletion);
    edit_->setCompleter(completer_);

    auto* buttons = new QDialogButtonBox(this);
    buttons->addButton(QDialogButtonBox::Cancel);
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
