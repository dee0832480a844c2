#include "tilegrid/TileGridPrompts.h"

#include <QApplication>
#include <QPushButton>

#include "commands/BrowserState.h"
#include "commands/CommandStack.h"
#include "commands/TagNameInput.h"
#include "desktop/RefusalBox.h"
#include "library/DB.h"
#include "tilegrid/AddTagAction.h"
#include "tilegrid/DesktopActions.h"

namespace qm {

TileGridPrompts::TileGridPrompts(QWidget* grid, std::shared_ptr<BrowserState> window)
    : grid_(grid), window_(std::move(window)) {}

void TileGridPrompts::confirmOpen(const std::vector<QuickString>& paths) {
    if (openConfirmation_) openConfirmation_->reject();
    auto* box = new QMessageBox(QMessageBox::Question, QString(), tr("Open %n files?", nullptr, int(paths.size())),
                                QMessageBox::Cancel, grid_);
    box->setObjectName(QStringLiteral("tileGridOpenConfirmation"));
    box->setInformativeText(tr("Each file opens in an application window of its own."));
    QPushButton* openButton = box->addButton(tr("Open"), QMessageBox::AcceptRole);
    box->setDefaultButton(QMessageBox::Cancel);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::WindowModal);
    connect(box, &QMessageBox::buttonClicked, this, [openButton, paths](QAbstractButton* b) {
        if (b == openButton) openFilesWithDefaultApplication(paths);
    });
    connect(box, &QDialog::finished, this, &TileGridPrompts::takeBackKeyboard);
    openConfirmation_ = box;
    box->open();
}

AddTagPrompt* TileGridPrompts::promptToAddTag(const std::vector<QuickString>& files) {
    if (files.empty()) return nullptr;
    if (addTagPrompt_) addTagPrompt_->reject();
    auto* prompt = new AddTagPrompt(QString::fromStdString(AddTagAction::message(files)),
                                    window_->context().db->tree(), grid_);
    connect(prompt, &AddTagPrompt::tagEntered, this, [this, files](const QString& text) { addTag(files, text); });
    connect(prompt, &QDialog::finished, this, &TileGridPrompts::takeBackKeyboard);
    addTagPrompt_ = prompt;
    prompt->open();
    return prompt;
}

void TileGridPrompts::addTag(const std::vector<QuickString>& files, const QString& text) {
    const QByteArray utf8 = text.toUtf8();
    TagNameInput::Path typed = TagNameInput::parsePath(std::string_view(utf8.constData(), size_t(utf8.size())));
    if (!typed.refusal.empty()) {
        refuse(QString::fromStdString(typed.refusal));
        return;
    }
    DB& db = *window_->context().db;
    if (CommandPtr command = AddTagAction::command(db.tree(), *db.format, files, typed.tag))
        window_->commandStack()->performCommand(command);
}

void TileGridPrompts::refuse(const QString& message) {
    QMessageBox* box = RefusalBox::open(grid_, message, QStringLiteral("tileGridTagRefusal"));
    connect(box, &QDialog::finished, this, &TileGridPrompts::takeBackKeyboard);
}

void TileGridPrompts::takeBackKeyboard() {
    // Not every window manager (nor the offscreen platform) activates the
    // window again when its modal prompt closes; without it the keyboard
    // would go nowhere. A refusal that opened meanwhile keeps it.
    if (QApplication::activeModalWidget()) return;
    grid_->activateWindow();
    grid_->setFocus(Qt::OtherFocusReason);
}

}  // namespace qm
