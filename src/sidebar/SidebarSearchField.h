#pragma once

#include <QLineEdit>

namespace qm {

// The tag search field under the sidebar: a line edit with a magnifier and
// the placeholder "Find a tag (Ctrl+F)". The container handles its keys.
class SidebarSearchField : public QLineEdit {
    Q_OBJECT
public:
    explicit SidebarSearchField(QWidget* parent = nullptr);
    static constexpr int fieldHeight = 24;
    // The theme's find icon, or a magnifier of our own where there is none.
    static QIcon magnifierIcon(const QColor& color);

protected:
    void changeEvent(QEvent* event) override;

private:
    void updateIcon();
    QAction* icon_ = nullptr;
};

}  // namespace qm
