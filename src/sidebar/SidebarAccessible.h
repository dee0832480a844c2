#pragma once

#include <QAccessibleWidget>
#include <QHash>
#include <QRect>
#include <QString>

namespace qm {

class SidebarListAccessible;

// What a custom-drawn sidebar list tells assistive technology about its rows.
// The tree and the results list implement it; each visible row becomes one
// accessible tree item.
class SidebarAccessibleRows {
public:
    struct RowInfo {
        QString name;
        QString description;  // the file count, empty when none
        bool isExpandable = false;
        bool isExpanded = false;
        bool isSelected = false;
        bool isFocused = false;
    };
    virtual ~SidebarAccessibleRows();
    virtual int accessibleRowCount() const = 0;
    virtual RowInfo accessibleRow(int index) const = 0;
    // In the widget's coordinates; empty when scrolled out of view.
    virtual QRect accessibleRowRect(int index) const = 0;
    virtual QWidget* accessibleWidget() = 0;
    // What the list says above its rows ("3 matching tags:"); empty for none.
    virtual QString accessibleHeader() const { return {}; }
    // The row actions: expand or collapse its children, or go to its node.
    enum class RowAction { expand, collapse, activate };
    virtual void accessibleRowAction(int index, RowAction action) = 0;

private:
    friend class SidebarListAccessible;
    // The list's interface once somebody asked for it; none is made for
    // the list's own bookkeeping.
    SidebarListAccessible* accessibleList_ = nullptr;
};

// The accessible view of such a list: a tree whose children are its rows.
// Row interfaces are made on demand and dropped when the rows change.
class SidebarListAccessible : public QAccessibleWidget {
public:
    SidebarListAccessible(QWidget* widget, SidebarAccessibleRows* rows);
    ~SidebarListAccessible() override;

    int childCount() const override;
    QAccessibleInterface* child(int index) const override;
    int indexOfChild(const QAccessibleInterface* child) const override;
    QAccessibleInterface* childAt(int x, int y) const override;
    QAccessibleInterface* focusChild() const override;
    QString text(QAccessible::Text t) const override;

    SidebarAccessibleRows* rows() const { return rows_; }
    // The rows were rebuilt: cached row interfaces no longer match.
    void rowsReset();
    // The list is being destroyed: nothing is read from it any more.
    void rowsGone();

    // Installs the factory for widgets that implement SidebarAccessibleRows.
    static void installFactory();
    // Tells assistive technology which row is now selected (and focused,
    // when the list holds the keyboard focus).
    static void notifyCurrentRow(QWidget* widget, int index);
    // The list took the keyboard focus: its current row is focused.
    static void notifyFocus(QWidget* widget, int index);
    // A row was expanded or collapsed.
    static void notifyExpansion(QWidget* widget, int index);
    // Tells it the list of rows changed.
    static void notifyRowsReset(QWidget* widget);
    // The header above the rows changed: it is the list's description.
    static void notifyHeaderChanged(QWidget* widget);

private:
    SidebarAccessibleRows* rows_;
    mutable QHash<int, QAccessible::Id> cache_;
};

}  // namespace qm
