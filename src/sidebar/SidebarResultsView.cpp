#include "sidebar/SidebarResultsView.h"

#include <QFontMetricsF>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QScrollBar>

#include <cmath>

#include "commands/BrowserState.h"
#include "library/DB.h"
#include "library/Tree.h"
#include "sidebar/SearchSpanFitting.h"
#include "desktop/TextContrast.h"

namespace qm {

namespace {
QColor withAlpha(QColor c, double alpha) {
    c.setAlphaF(float(alpha));
    return c;
}
}  // namespace

SidebarResultsView::SidebarResultsView(std::shared_ptr<BrowserState> window, QWidget* parent)
    : SidebarRowsArea(parent), window_(std::move(window)) {
    SidebarListAccessible::installFactory();
    setFrameShape(QFrame::NoFrame);
    setFocusPolicy(Qt::StrongFocus);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setAccessibleName(QStringLiteral("Matching tags"));
    updateFonts();
    subscriptions_.push_back(window_->currentNodeChanged.subscribe([this] {
        viewport()->update();
        if (auto i = currentIndex()) SidebarListAccessible::notifyCurrentRow(this, int(*i));
    }));
    subscriptions_.push_back(window_->context().db->pathsChanged.subscribe([this] { viewport()->update(); }));
}

void SidebarResultsView::updateFonts() {
    QFont system = font();
    int px = QFontInfo(system).pixelSize();
    layout_ = SidebarLayout(px);
    boldFont_ = system;
    boldFont_.setBold(true);
    miniFont_ = system;
    miniFont_.setPixelSize(std::max(8, int(std::lround(px * 0.77))));
    smallFont_ = system;
    smallFont_.setPixelSize(std::max(8, int(std::lround(px * 0.85))));
    auto offset = [&](const QFont& f) {
        QFontMetricsF m(f);
        return SidebarLayout::textOffset(layout_.rowHeight, m.capHeight(), m.ascent());
    };
    systemTextOffset_ = offset(system);
    smallTextOffset_ = offset(smallFont_);
    miniTextOffset_ = offset(miniFont_);
    if (results_)
        for (const SearchResult& r : *results_)
            for (const SearchSpan& s : r.spans) s.width = -1;
    updateScrollBar();
}

QString SidebarResultsView::headerText(size_t count) {
    if (count == 0) return QStringLiteral("0 matching tags");
    if (count == 1) return QStringLiteral("1 matching tag:");
    return QString::number(qulonglong(count)) + QStringLiteral(" matching tags:");
}

void SidebarResultsView::setResults(std::optional<std::vector<SearchResult>> results, QueryRow query) {
    if (!results) query = {};
    if (results && query.node) {
        // The query's row leads: "Files matching" and the expression in bold.
        static constexpr std::string_view lead = "Files matching ";
        SearchResult row{query.node, 0, {}};
        row.spans.push_back(SearchSpan{lead, false});
        row.spans.push_back(SearchSpan{query.node->name.string(), true});
        results->insert(results->begin(), std::move(row));
    }
    if (results == results_ && query == query_) return;
    results_ = std::move(results);
    query_ = std::move(query);
    SidebarListAccessible::notifyRowsReset(this);
    SidebarListAccessible::notifyHeaderChanged(this);
    updateScrollBar();
    viewport()->update();
}

double SidebarResultsView::contentHeight() {
    return layout_.contentHeight((results_ ? results_->size() : 0) + firstRow());
}

NodePtr SidebarResultsView::queryNodeAt(size_t index) const {
    return query_.node && index == 0 && results_ && !results_->empty() ? query_.node : nullptr;
}

std::optional<size_t> SidebarResultsView::indexOfPath(const NodePath& path) const {
    if (!results_ || path.empty()) return std::nullopt;
    // By identity: a pin reference's node path is not its full name split at "/".
    NodePtr node = window_->context().db->tree().lookup(path);
    if (!node) return std::nullopt;
    for (size_t i = 0; i < results_->size(); ++i)
        if ((*results_)[i].node == node) return i;
    return std::nullopt;
}

std::optional<size_t> SidebarResultsView::currentIndex() const {
    return indexOfPath(window_->currentNode());
}

void SidebarResultsView::scrollCurrentRowToVisible() {
    if (auto i = currentIndex())
        scrollToVisible(layout_.rowTop(*i + firstRow()), layout_.rowTop(*i + firstRow()) + layout_.rowHeight);
}

std::optional<QRectF> SidebarResultsView::rectForPath(const NodePath& path) const {
    auto i = indexOfPath(path);
    if (!i) return std::nullopt;
    return QRectF(0, layout_.rowTop(*i + firstRow()), viewport()->width(), layout_.rowHeight);
}

std::optional<NodePath> SidebarResultsView::pathOf(size_t index) const {
    if (!results_ || index >= results_->size()) return std::nullopt;
    const NodePtr& node = (*results_)[index].node;
    NodePath path = node->nodePath();
    // A result whose node has left the tree since the search opens nothing.
    if (window_->context().db->tree().lookup(path) != node) return std::nullopt;
    return path;
}

bool SidebarResultsView::hasKeyFocus() const {
    return window()->isActiveWindow() && hasFocus();
}

void SidebarResultsView::navigateTo(size_t index) {
    auto path = pathOf(index);
    if (!path) return;
    window_->setCurrentNode(*path);
    scrollCurrentRowToVisible();
}

bool SidebarResultsView::handleKeyDown(QKeyEvent* event) {
    const bool command = event->modifiers() & Qt::ControlModifier;
    if (scrollByKey(event->key())) return true;
    switch (event->key()) {
    case Qt::Key_Down:
    case Qt::Key_Up: {
        if (!results_ || results_->empty()) return true;
        const bool down = event->key() == Qt::Key_Down;
        auto current = currentIndex();
        size_t last = results_->size() - 1;
        if (!command && current)
            navigateTo(down ? std::min(*current + 1, last) : (*current ? *current - 1 : 0));
        else
            navigateTo(down && command ? last : 0);
        return true;
    }
    default:
        return false;
    }
}

void SidebarResultsView::keyPressEvent(QKeyEvent* event) {
    if (!handleKeyDown(event)) QAbstractScrollArea::keyPressEvent(event);
}

std::optional<size_t> SidebarResultsView::indexAt(int viewportY) const {
    if (!results_) return std::nullopt;
    double y = viewportY + scrollOffset();
    double row = std::trunc((y - SidebarLayout::topPadding) / layout_.rowHeight) - double(firstRow());
    if (row < 0 || row >= double(results_->size()) || y < SidebarLayout::topPadding) return std::nullopt;
    return size_t(row);
}

void SidebarResultsView::mousePressEvent(QMouseEvent* event) {
    setFocus(Qt::MouseFocusReason);
    if (event->button() != Qt::LeftButton || (event->modifiers() & Qt::ControlModifier)) return;
    if (auto i = indexAt(event->position().toPoint().y())) navigateTo(*i);
}

void SidebarResultsView::mouseDoubleClickEvent(QMouseEvent* event) {
    setFocus(Qt::MouseFocusReason);
    if (event->button() != Qt::LeftButton || (event->modifiers() & Qt::ControlModifier)) return;
    if (auto i = indexAt(event->position().toPoint().y()))
        if (auto path = pathOf(*i)) Q_EMIT openPathRequested(*path);
}

void SidebarResultsView::contextMenuEvent(QContextMenuEvent* event) {
    auto i = indexAt(event->pos().y());
    NodePtr node = i ? queryNodeAt(*i) : nullptr;
    if (!node) return;
    navigateTo(*i);
    if (menu_) menu_->close();
    menu_ = new QMenu(this);
    menu_->setAttribute(Qt::WA_DeleteOnClose);
    QAction* save = menu_->addAction(QStringLiteral("Save Query"));
    // A saved query is in the Queries section already.
    save->setEnabled(!window_->context().db->tree().queries().isSaved(*node));
    connect(save, &QAction::triggered, this, [this, node] { Q_EMIT saveQueryRequested(node); });
    menu_->popup(event->globalPos());
}

void SidebarResultsView::paintEvent(QPaintEvent* event) {
    QPainter p(viewport());
    const QPalette& pal = palette();
    p.fillRect(event->rect(), pal.color(QPalette::Base));
    if (!results_) return;
    const QColor text = pal.color(QPalette::Text);
    const double width = viewport()->width();
    const double rowH = layout_.rowHeight;
    const int offset = scrollOffset();
    const bool keyFocus = hasKeyFocus();
    const std::optional<size_t> current = currentIndex();
    p.translate(0, -offset);
    QRectF dirty = QRectF(event->rect()).translated(0, offset);

    QFontMetricsF systemMetrics(font()), boldMetrics(boldFont_), miniMetrics(miniFont_), smallMetrics(smallFont_);
    // Dimmed text still reads in every theme; so does text on the selection.
    const QColor base = pal.color(QPalette::Base);
    const QColor selectedText = pal.color(QPalette::Active, QPalette::HighlightedText);
    const QColor focusedFill = TextContrast::fillForText(pal.color(QPalette::Active, QPalette::Highlight), selectedText);
    const QColor unfocusedFill = TextContrast::composite(withAlpha(text, 0.12), base);
    // Header.
    p.setFont(smallFont_);
    p.setPen(TextContrast::dimmed(text, base, 0.375));
    p.drawText(QPointF(10, SidebarLayout::topPadding + smallTextOffset_ + smallMetrics.ascent()),
               smallMetrics.elidedText(headerText(tagCount()), Qt::ElideRight, std::max(0.0, width - 20)));
    if (!query_.error.empty()) {
        // Why the text is no expression, where its row would be.
        p.setFont(font());
        p.setPen(TextContrast::dimmed(text, base, 0.5));
        const QString message = QString::fromUtf8(query_.error.data(), qsizetype(query_.error.size()));
        p.drawText(QPointF(12, layout_.rowTop(1) + systemTextOffset_ + systemMetrics.ascent()),
                   systemMetrics.elidedText(message, Qt::ElideRight, std::max(0.0, width - 24)));
    }

    const size_t lead = firstRow();
    auto [first, last] = layout_.rowsMeeting(dirty.top(), dirty.bottom(), results_->size() + lead);
    first = std::max<size_t>(first, lead);
    p.setRenderHint(QPainter::Antialiasing, true);
    for (size_t row = first; row < last; ++row) {
        const SearchResult& result = (*results_)[row - lead];
        const double y = layout_.rowTop(row);
        const bool isCurrent = current && *current == row - lead;
        if (isCurrent) {
            QRectF bg(SidebarLayout::selectionInset, y, width - 2 * SidebarLayout::selectionInset, rowH);
            p.setPen(Qt::NoPen);
            p.setBrush(keyFocus ? focusedFill : withAlpha(text, 0.12));
            p.drawRoundedRect(bg, SidebarLayout::cornerRadius, SidebarLayout::cornerRadius);
        }
        const QColor rowColor = isCurrent && keyFocus ? selectedText : text;
        const QColor rowBackground = !isCurrent ? base : keyFocus ? focusedFill : unfocusedFill;
        const QColor dimmedName = TextContrast::dimmed(rowColor, rowBackground, 0.5);
        const size_t count = result.node->pathCount();
        const QString countText = count ? QString::number(qulonglong(count)) : QString();
        const double countWidth = count ? miniMetrics.horizontalAdvance(countText) : 0;
        const double rightEdge = SidebarLayout::rightEdge(width, width, count);
        const double nameX = 12;
        const double nameWidth = rightEdge - 12 - 8 - countWidth;

        std::vector<QString> texts;
        std::vector<double> widths;
        std::vector<bool> isMatch;
        for (const SearchSpan& span : result.spans) {
            texts.push_back(QString::fromUtf8(span.text.data(), qsizetype(span.text.size())));
            if (span.width < 0)
                span.width = float((span.isMatch ? boldMetrics : systemMetrics).horizontalAdvance(texts.back()));
            widths.push_back(span.width);
            isMatch.push_back(span.isMatch);
        }
        auto elideMode = [&](size_t i) { return i + 1 == texts.size() ? Qt::ElideRight : Qt::ElideMiddle; };
        std::vector<double> fitted = SearchSpanFitting::fit(widths, isMatch, nameWidth, [&](size_t i, double room) {
            const QFontMetricsF& m = isMatch[i] ? boldMetrics : systemMetrics;
            QString elided = m.elidedText(texts[i], elideMode(i), room);
            return elided.isEmpty() ? 0.0 : std::min(room, m.horizontalAdvance(elided));
        });
        double x = nameX;
        const double baseline = y + systemTextOffset_ + systemMetrics.ascent();
        for (size_t i = 0; i < texts.size(); ++i) {
            if (fitted[i] <= 0) continue;
            const QFontMetricsF& m = isMatch[i] ? boldMetrics : systemMetrics;
            p.setFont(isMatch[i] ? boldFont_ : font());
            p.setPen(isMatch[i] ? rowColor : dimmedName);
            QString shown = fitted[i] + 0.01 >= widths[i] ? texts[i] : m.elidedText(texts[i], elideMode(i), fitted[i] + 0.5);
            p.drawText(QPointF(x, baseline), shown);
            x += fitted[i];
        }
        if (count) {
            p.setFont(miniFont_);
            p.setPen(isCurrent ? rowColor : TextContrast::dimmed(rowColor, rowBackground, 0.3));
            p.drawText(QPointF(rightEdge - countWidth, y + miniTextOffset_ + miniMetrics.ascent()), countText);
        }
    }
}

int SidebarResultsView::accessibleRowCount() const {
    return results_ ? int(results_->size()) : 0;
}

SidebarAccessibleRows::RowInfo SidebarResultsView::accessibleRow(int index) const {
    RowInfo info;
    if (!results_ || index < 0 || size_t(index) >= results_->size()) return info;
    const SearchResult& r = (*results_)[size_t(index)];
    for (const SearchSpan& s : r.spans) info.name += QString::fromUtf8(s.text.data(), qsizetype(s.text.size()));
    size_t count = r.node->pathCount();
    info.description = count ? QString::number(qulonglong(count)) : QString();
    auto current = currentIndex();
    info.isSelected = current && *current == size_t(index);
    info.isFocused = info.isSelected && hasFocus();
    return info;
}

QString SidebarResultsView::accessibleHeader() const {
    if (!results_) return QString();
    QString header = headerText(tagCount());
    if (!query_.error.empty()) header += QStringLiteral(" ") + QString::fromUtf8(query_.error.data(), qsizetype(query_.error.size()));
    return header;
}

void SidebarResultsView::accessibleRowAction(int index, RowAction action) {
    if (action == RowAction::activate && results_ && index >= 0 && size_t(index) < results_->size())
        navigateTo(size_t(index));
}

QRect SidebarResultsView::accessibleRowRect(int index) const {
    double top = layout_.rowTop(size_t(std::max(0, index)) + firstRow()) - scrollOffset();
    QRect r(0, int(top), viewport()->width(), int(layout_.rowHeight));
    if (r.bottom() < 0 || r.top() > viewport()->height()) return {};
    return r.translated(viewport()->pos());
}

}  // namespace qm
