#include "tilegrid/TileGridAccessible.h"

#include <QAccessible>
#include <QCoreApplication>
#include <QScrollBar>

#include "commands/BrowserState.h"
#include "desktop/AccessibleEvents.h"
#include "tilegrid/MovieTime.h"
#include "tilegrid/TileContentsCache.h"
#include "tilegrid/TileGridView.h"

namespace qm {

void TileGridAccessible::notifySelection(TileGridView* view) {
    if (!AccessibleEvents::wanted()) return;
    QAccessibleEvent selection(view, QAccessible::SelectionWithin);
    AccessibleEvents::post(&selection);
    if (view->hasFocus()) notifyFocus(view);
}

void TileGridAccessible::notifyFocus(TileGridView* view) {
    if (!AccessibleEvents::wanted()) return;
    auto i = view->cursorIndex();
    if (!i || *i > size_t(INT_MAX)) return;
    QAccessibleEvent focus(view, QAccessible::Focus);
    focus.setChild(int(*i));
    AccessibleEvents::post(&focus);
}

TileGridAccessible::TileGridAccessible(TileGridView* view) : QAccessibleWidget(view, QAccessible::List) {}

TileGridAccessible::~TileGridAccessible() {
    for (auto& [index, id] : kept_) QAccessible::deleteAccessibleInterface(id);
}

void TileGridAccessible::install() {
    static const bool installed = [] {
        QAccessible::installFactory(&TileGridAccessible::factory);
        return true;
    }();
    (void)installed;
}

QAccessibleInterface* TileGridAccessible::factory(const QString& className, QObject* object) {
    if (className == QLatin1String("qm::TileGridView") && object && object->isWidgetType())
        return new TileGridAccessible(static_cast<TileGridView*>(object));
    return nullptr;
}

TileGridView* TileGridAccessible::view() const {
    return static_cast<TileGridView*>(widget());
}

int TileGridAccessible::childCount() const {
    return int(std::min<size_t>(view()->computeLayout().count(), size_t(INT_MAX)));
}

QAccessibleInterface* TileGridAccessible::child(int index) const {
    TileGridLayout layout = view()->computeLayout();
    if (index < 0 || size_t(index) >= layout.count()) return nullptr;
    // Another list: the tiles kept for the old one mean nothing now.
    QuickString first = layout.paths.front();
    if (first != keptFor_ || layout.count() != keptCount_) {
        for (auto& [i, id] : kept_) QAccessible::deleteAccessibleInterface(id);
        kept_.clear();
        keptFor_ = first;
        keptCount_ = layout.count();
    }
    for (auto& [i, id] : kept_) {
        if (i != index) continue;
        auto* tile = static_cast<TileAccessible*>(QAccessible::accessibleInterface(id));
        if (tile && tile->path() == layout.paths[size_t(index)]) return tile;
    }
    auto* tile = new TileAccessible(view(), index, layout.paths[size_t(index)]);
    kept_.emplace_back(index, QAccessible::registerAccessibleInterface(tile));
    if (kept_.size() > kKeptTiles) {
        QAccessible::deleteAccessibleInterface(kept_.front().second);
        kept_.pop_front();
    }
    return tile;
}

int TileGridAccessible::indexOfChild(const QAccessibleInterface* child) const {
    if (!child || child->role() != QAccessible::ListItem) return -1;
    const auto* tile = static_cast<const TileAccessible*>(child);
    return tile->parent() && tile->parent()->object() == widget() ? tile->index() : -1;
}

QAccessibleInterface* TileGridAccessible::childAt(int x, int y) const {
    QPoint p = view()->viewport()->mapFromGlobal(QPoint(x, y));
    TileGridLayout layout = view()->computeLayout();
    auto i = layout.indexAt(p.x(), p.y() + view()->verticalScrollBar()->value());
    return i ? child(int(*i)) : nullptr;
}

QString TileGridAccessible::text(QAccessible::Text t) const {
    if (t == QAccessible::Name) return QObject::tr("Files");
    return QAccessibleWidget::text(t);
}

TileAccessible::TileAccessible(TileGridView* view, int index, QuickString path)
    : view_(view), index_(index), path_(std::move(path)) {}

bool TileAccessible::isValid() const {
    return view_ != nullptr;
}

QWindow* TileAccessible::window() const {
    return view_ ? view_->window()->windowHandle() : nullptr;
}

QAccessibleInterface* TileAccessible::parent() const {
    return view_ ? QAccessible::queryAccessibleInterface(view_.data()) : nullptr;
}

QString TileAccessible::text(QAccessible::Text t) const {
    std::string_view p = path_.utf8();
    if (t == QAccessible::Name) {
        size_t slash = p.rfind('/');
        std::string_view name = slash == std::string_view::npos ? p : p.substr(slash + 1);
        return QString::fromUtf8(name.data(), qsizetype(name.size()));
    }
    if (t == QAccessible::Description) return description();
    return {};
}

QString TileAccessible::description() const {
    if (!view_) return {};
    auto tr = [](const char* text) { return QCoreApplication::translate("qm::TileGridView", text); };
    QStringList parts;
    if (view_->controller().isStarred(path_)) parts << tr("starred");
    if (const TileContents* contents = TileContentsCache::shared().peek(path_)) {
        if (contents->metadata.duration)
            parts << QString::fromStdString(formatMovieTime(*contents->metadata.duration));
        if (contents->metadata.gpano) parts << tr("panorama");
    }
    return parts.join(QStringLiteral(", "));
}

QRect TileAccessible::rect() const {
    if (!view_) return {};
    TileGridLayout layout = view_->computeLayout();
    TileCell c = layout.cell(size_t(index_));
    QRect local(int(c.x), int(c.y) - view_->verticalScrollBar()->value(), int(c.side), int(c.height()));
    return QRect(view_->viewport()->mapToGlobal(local.topLeft()), local.size());
}

QAccessible::State TileAccessible::state() const {
    QAccessible::State s;
    s.selectable = true;
    s.multiSelectable = true;
    s.focusable = true;
    if (!view_) {
        s.invalid = true;
        return s;
    }
    s.selected = view_->isSelected(path_);
    if (s.selected && view_->hasFocus()) {
        auto cursor = view_->cursorIndex();
        s.focused = cursor && *cursor == size_t(index_);
    }
    QRect visible = view_->viewport()->rect();
    QRect r = rect();
    r.moveTopLeft(view_->viewport()->mapFromGlobal(r.topLeft()));
    s.offscreen = !visible.intersects(r);
    return s;
}

void* TileAccessible::interface_cast(QAccessible::InterfaceType type) {
    if (type == QAccessible::ActionInterface) return static_cast<QAccessibleActionInterface*>(this);
    return nullptr;
}

QStringList TileAccessible::actionNames() const {
    return {pressAction()};
}

void TileAccessible::doAction(const QString& name) {
    if (view_ && name == pressAction()) view_->activate(path_);
}

QStringList TileAccessible::keyBindingsForAction(const QString& name) const {
    if (name == pressAction()) return {QStringLiteral("Return")};
    return {};
}

}  // namespace qm
