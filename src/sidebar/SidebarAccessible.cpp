#include "sidebar/SidebarAccessible.h"

#include <QAccessible>
#include <QWidget>

namespace qm {

namespace {

// One row: no object of its own, it reads everything from the list.
class SidebarRowAccessible : public QAccessibleInterface {
public:
    SidebarRowAccessible(SidebarListAccessible* list, int index) : list_(list), index_(index) {}

    bool isValid() const override { return list_ && index_ < list_->rows()->accessibleRowCount(); }
    QObject* object() const override { return nullptr; }
    QWindow* window() const override { return list_->window(); }
    QAccessibleInterface* focusChild() const override { return nullptr; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
    QAccessibleInterface* parent() const override { return list_; }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QString text(QAccessible::Text t) const override {
        if (!isValid()) return {};
        auto row = list_->rows()->accessibleRow(index_);
        if (t == QAccessible::Name) return row.name;
        if (t == QAccessible::Description) return row.description;
        return {};
    }
    void setText(QAccessible::Text, const QString&) override {}
    QRect rect() const override {
        if (!isValid()) return {};
        QRect r = list_->rows()->accessibleRowRect(index_);
        QWidget* w = list_->rows()->accessibleWidget();
        return r.isEmpty() ? QRect() : QRect(w->mapToGlobal(r.topLeft()), r.size());
    }
    QAccessible::Role role() const override { return QAccessible::TreeItem; }
    QAccessible::State state() const override {
        QAccessible::State s;
        if (!isValid()) return s;
        auto row = list_->rows()->accessibleRow(index_);
        s.selectable = true;
        s.focusable = true;
        s.selected = row.isSelected;
        s.focused = row.isFocused;
        s.expandable = row.isExpandable;
        s.expanded = row.isExpandable && row.isExpanded;
        s.collapsed = row.isExpandable && !row.isExpanded;
        s.invisible = list_->rows()->accessibleRowRect(index_).isEmpty();
        s.offscreen = s.invisible;
        return s;
    }
    int index() const { return index_; }

private:
    SidebarListAccessible* list_;
    int index_;
};

QAccessibleInterface* factory(const QString&, QObject* object) {
    auto* widget = qobject_cast<QWidget*>(object);
    if (!widget) return nullptr;
    if (auto* rows = dynamic_cast<SidebarAccessibleRows*>(widget)) return new SidebarListAccessible(widget, rows);
    return nullptr;
}

}  // namespace

SidebarListAccessible::SidebarListAccessible(QWidget* widget, SidebarAccessibleRows* rows)
    : QAccessibleWidget(widget, QAccessible::Tree), rows_(rows) {}

SidebarListAccessible::~SidebarListAccessible() {
    rowsReset();
}

int SidebarListAccessible::childCount() const {
    return rows_->accessibleRowCount();
}

QAccessibleInterface* SidebarListAccessible::child(int index) const {
    if (index < 0 || index >= childCount()) return nullptr;
    if (auto it = cache_.find(index); it != cache_.end()) return QAccessible::accessibleInterface(*it);
    auto* row = new SidebarRowAccessible(const_cast<SidebarListAccessible*>(this), index);
    cache_.insert(index, QAccessible::registerAccessibleInterface(row));
    return row;
}

int SidebarListAccessible::indexOfChild(const QAccessibleInterface* child) const {
    if (auto* row = dynamic_cast<const SidebarRowAccessible*>(child); row && row->parent() == this)
        return row->index();
    return -1;
}

QAccessibleInterface* SidebarListAccessible::childAt(int x, int y) const {
    QPoint p = rows_->accessibleWidget()->mapFromGlobal(QPoint(x, y));
    for (int i = 0, n = childCount(); i < n; ++i) {
        QRect r = rows_->accessibleRowRect(i);
        if (!r.isEmpty() && r.contains(p)) return child(i);
        if (!r.isEmpty() && r.top() > p.y()) break;
    }
    return nullptr;
}

QAccessibleInterface* SidebarListAccessible::focusChild() const {
    for (int i = 0, n = childCount(); i < n; ++i)
        if (rows_->accessibleRow(i).isSelected) return child(i);
    return nullptr;
}

void SidebarListAccessible::rowsReset() {
    for (QAccessible::Id id : std::as_const(cache_)) QAccessible::deleteAccessibleInterface(id);
    cache_.clear();
}

void SidebarListAccessible::installFactory() {
    static bool installed = [] {
        QAccessible::installFactory(factory);
        return true;
    }();
    (void)installed;
}

void SidebarListAccessible::notifyRowsReset(QWidget* widget) {
    if (!QAccessible::isActive()) {
        // Interfaces may exist from an earlier query; keep them in step anyway.
        if (auto* iface = dynamic_cast<SidebarListAccessible*>(QAccessible::queryAccessibleInterface(widget)))
            iface->rowsReset();
        return;
    }
    if (auto* iface = dynamic_cast<SidebarListAccessible*>(QAccessible::queryAccessibleInterface(widget)))
        iface->rowsReset();
    QAccessibleEvent event(widget, QAccessible::ObjectReorder);
    QAccessible::updateAccessibility(&event);
}

void SidebarListAccessible::notifyCurrentRow(QWidget* widget, int index) {
    if (!QAccessible::isActive() || index < 0) return;
    QAccessibleEvent focus(widget, QAccessible::Focus);
    focus.setChild(index);
    QAccessible::updateAccessibility(&focus);
    QAccessibleEvent selection(widget, QAccessible::Selection);
    selection.setChild(index);
    QAccessible::updateAccessibility(&selection);
}

}  // namespace qm
