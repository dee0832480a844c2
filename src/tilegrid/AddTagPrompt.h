#pragma once

#include <QDialog>

class QCompleter;
class QLineEdit;
class QPushButton;

namespace qm {

class Tree;

// The small window-modal prompt of the grid's "Add Tag…": a message, a line
// edit that completes the tree's tag names as they are typed, and the
// buttons "Cancel" and "Add Tag". Return adds, Escape cancels. It only
// collects the text; the grid decides what the text does.
class AddTagPrompt : public QDialog {
    Q_OBJECT

public:
    AddTagPrompt(const QString& message, const Tree& tree, QWidget* parent);

    QLineEdit* lineEdit() const { return edit_; }
    QCompleter* completer() const { return completer_; }
    QPushButton* addButton() const { return add_; }

Q_SIGNALS:
    // The prompt was accepted with this text, as typed.
    void tagEntered(const QString& text);

private:
    QLineEdit* edit_;
    QCompleter* completer_;
    QPushButton* add_;
};

}  // namespace qm
