#pragma once

#include <QAccessibleWidget>
#include <QPointer>

#include <deque>
#include <utility>

#include "core/QuickString.h"

namespace qm {

class TileGridView;

// Exposes the grid to assistive technology as a list of its files. The
// interface of a tile is made when asked for and only the most recent few
// are kept, so a node of a hundred thousand files makes no object per file.
class TileGridAccessible : public QAccessibleWidget {
public:
    explicit TileGridAccessible(TileGridView* view);
    ~TileGridAccessible() override;

    // The factory Qt asks for the grid's interface.
    static QAccessibleInterface* factory(const QString& className, QObject* object);
    // Gives Qt the factory, once however many grids there are.
    static void install();

    int childCount() const override;
    QAccessibleInterface* child(int index) const override;
    int indexOfChild(const QAccessibleInterface* child) const override;
    QAccessibleInterface* childAt(int x, int y) const override;
    QString text(QAccessible::Text t) const override;

    // Announced through AccessibleEvents, and only while someone listens.
    // The selection changed; the focused tile, when the grid has focus.
    static void notifySelection(TileGridView* view);
    static void notifyFocus(TileGridView* view);

    static constexpr size_t kKeptTiles = 128;
    size_t keptTiles() const { return kept_.size(); }

private:
    TileGridView* view() const;
    mutable std::deque<std::pair<int, QAccessible::Id>> kept_;  // oldest first
    mutable QuickString keptFor_;  // the first shown path when kept_ was filled
    mutable size_t keptCount_ = 0;
};

// One tile: its file's name, selection state and place on the screen.
class TileAccessible : public QAccessibleInterface, public QAccessibleActionInterface {
public:
    TileAccessible(TileGridView* view, int index, QuickString path);

    bool isValid() const override;
    QObject* object() const override { return nullptr; }
    QWindow* window() const override;
    QAccessibleInterface* parent() const override;
    QAccessibleInterface* child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
    QString text(QAccessible::Text t) const override;
    void setText(QAccessible::Text, const QString&) override {}
    QRect rect() const override;
    QAccessible::Role role() const override { return QAccessible::ListItem; }
    QAccessible::State state() const override;
    void* interface_cast(QAccessible::InterfaceType type) override;

    // Press opens the file.
    QStringList actionNames() const override;
    void doAction(const QString& name) override;
    QStringList keyBindingsForAction(const QString& name) const override;

    int index() const { return index_; }
    const QuickString& path() const { return path_; }

private:
    // "starred", the duration and "panorama", as far as they are known.
    QString description() const;

    QPointer<TileGridView> view_;
    int index_;
    QuickString path_;
};

}  // namespace qm
