#include "sidebar/SidebarAccessible.h"

#include <QAccessible>
#include <QCoreApplication>
#include <QWidget>

#include "desktop/AccessibleEvents.h"

namespace qm {

namespace {

QString expandName() {
    return QCoreApplication::translate("SidebarAccessible", "Expand");
}
QString collapseName() {
    return QCoreApplication::translate("SidebarAccessible", "Collapse");
}

// One row: no object of its own, it reads everything from the list.
class SidebarRowAccessible : public QAccessibleInterface, public QAccessibleActionInterface {
public:
    SidebarRowAccessible(SidebarListAccessible* list, int index) : list_(list), index_(index) {}

    bool isValid() const override { return list_ && list_->rows() && index_ < list_->rows()->accessibleRowCount(); }
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
    void* interface_cast(QAccessible::InterfaceType type) override {
        if (type == QAccessible::ActionInterface) return static_cast<QAccessibleActionInterface*>(this);
        return nullptr;
    }

    // Expand or collapse as the row allows, and activate (press) to go to it.
    QStringList actionNames() const override {
        QStringList names;
        if (!isValid()) return names;
        auto row = list_->rows()->accessibleRow(index_);
        if (row.isExpandable) names << (row.isExpanded ? collapseName() : expandName());
        names << pressAction();
        return names;
    }
    QString localizedActionDescription(const QString& name) const override {
        if (name == expandName()) return QCoreApplication::translate("SidebarAccessible", "Shows the row's children");
        if (name == collapseName()) return QCoreApplication::translate("SidebarAccessible", "Hides the row's children");
        return QAccessibleActionInterface::localizedActionDescription(name);
    }
    void doAction(const QString& name) override {
        if (!isValid()) return;
        using A = SidebarAccessibleRows::RowAction;
        // The rows may be rebuilt by the action: this interface can go away.
        SidebarAccessibleRows* rows = list_->rows();
        int index = index_;
        if (name == expandName()) rows->accessibleRowAction(index, A::expand);
        else if (name == collapseName()) rows->accessibleRowAction(index, A::collapse);
        else if (name == pressAction()) rows->accessibleRowAction(index, A::activate);
    }
    QStringList keyBindingsForAction(const QString& name) const override {
        if (name == expandName()) return {QStringLiteral("Right")};
        if (name == collapseName()) return {QStringLiteral("Left")};
        return {};
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
    : QAccessibleWidget(widget, QAccessible::Tree), rows_(rows) {
    rows_->accessibleList_ = this;
}

SidebarListAccessible::~SidebarListAccessible() {
    rowsReset();
    if (rows_ && rows_->accessibleList_ == this) rows_->accessibleList_ = nullptr;
}

SidebarAccessibleRows::~SidebarAccessibleRows() {
    if (accessibleList_) accessibleList_->rowsGone();
}

void SidebarListAccessible::rowsGone() {
    rowsReset();
    rows_ = nullptr;
}

int SidebarListAccessible::childCount() const {
    return rows_ ? rows_->accessibleRowCount() : 0;
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
    if (!rows_) return nullptr;
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

QString SidebarListAccessible::text(QAccessible::Text t) const {
    if (t == QAccessible::Description && rows_) {
        QString header = rows_->accessibleHeader();
        if (!header.isEmpty()) return header;
    }
    return QAccessibleWidget::text(t);
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
    // Row interfaces from an earlier query must not outlive their rows.
    if (auto* rows = dynamic_cast<SidebarAccessibleRows*>(widget); rows && rows->accessibleList_)
        rows->accessibleList_->rowsReset();
    if (!AccessibleEvents::wanted()) return;
    QAccessibleEvent event(widget, QAccessible::ObjectReorder);
    AccessibleEvents::post(&event);
}

void SidebarListAccessible::notifyCurrentRow(QWidget* widget, int index) {
    if (!AccessibleEvents::wanted() || index < 0) return;
    if (widget->hasFocus()) notifyFocus(widget, index);
    QAccessibleEvent selection(widget, QAccessible::Selection);
    selection.setChild(index);
    AccessibleEvents::post(&selection);
}

void SidebarListAccessible::notifyFocus(QWidget* widget, int index) {
    if (!AccessibleEvents::wanted() || index < 0) return;
    QAccessibleEvent focus(widget, QAccessible::Focus);
    focus.setChild(index);
    AccessibleEvents::post(&focus);
}

void SidebarListAccessible::notifyExpansion(QWidget* widget, int index) {
    if (!AccessibleEvents::wanted() || index < 0) return;
    QAccessible::State changed;
    changed.expanded = true;
    changed.collapsed = true;
    QAccessibleStateChangeEvent event(widget, changed);
    event.setChild(index);
    AccessibleEvents::post(&event);
}

void SidebarListAccessible::notifyHeaderChanged(QWidget* widget) {
    if (!AccessibleEvents::wanted()) return;
    QAccessibleEvent event(widget, QAccessible::DescriptionChanged);
    AccessibleEvents::post(&event);
}

}  // namespace qm
