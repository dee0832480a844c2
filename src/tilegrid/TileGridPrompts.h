#pragma once

#include <QMessageBox>
#include <QObject>
#include <QPointer>

#include <memory>
#include <vector>

#include "core/QuickString.h"
#include "tilegrid/AddTagPrompt.h"

class QWidget;

namespace qm {

class BrowserState;

// The grid's window-modal questions: whether to open many files at once, and
// "Add Tag…" with the refusal of a tag that cannot be added. Whichever
// closes gives the keyboard back to the grid.
class TileGridPrompts : public QObject {
    Q_OBJECT

public:
    // grid: the prompts' parent, which takes the keyboard back.
    TileGridPrompts(QWidget* grid, std::shared_ptr<BrowserState> window);

    // Asks before opening the files, each in an application window of its own.
    void confirmOpen(const std::vector<QuickString>& paths);
    QMessageBox* openConfirmation() const { return openConfirmation_; }
    // Asks for a tag for the files; accepting tags them in one undoable
    // command. Replaces a prompt still open.
    AddTagPrompt* promptToAddTag(const std::vector<QuickString>& files);

private:
    void addTag(const std::vector<QuickString>& files, const QString& text);
    void refuse(const QString& message);
    void takeBackKeyboard();

    QWidget* grid_;
    const std::shared_ptr<BrowserState> window_;
    QPointer<QMessageBox> openConfirmation_;
    QPointer<AddTagPrompt> addTagPrompt_;
};

}  // namespace qm
