#pragma once

#include <QAccessibleWidget>
#include <QHash>
#include <QRect>
#include <QString>

namespace qm {

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
    virtual ~SidebarAccessibleRows() = default;
    virtual int accessibleRowCount() const = 0;
    virtual RowInfo accessibleRow(int index) const = 0;
    // In the widget's coordinates; empty when scrolled out of view.
    virtual QRect accessibleRowRect(int index) const = 0;
    virtual QWidget* accessibleWidget() = 0;
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

    SidebarAccessibleRows* rows() const { return rows_; }
    // The rows were rebuilt: cached row interfaces no longer match.
    void rowsReset();

    // Installs the factory for widgets that implement SidebarAccessibleRows.
    static void installFactory();
    // Tells assistive technology which row now has the focus or selection.
    static void notifyCurrentRow(QWidget* widget, int index);
    // Tells it the list of rows changed.
    static void notifyRowsReset(QWidget* widget);

private:
    SidebarAccessibleRows* rows_;
    mutable QHash<int, QAccessible::Id> cache_;
};

}  // namespace qm
