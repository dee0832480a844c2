#include "sidebar/SidebarView.h"

#include <QAccessible>
#include <QApplication>
#include <QContextMenuEvent>
#include <QDrag>
#include <QFontMetricsF>
#include <QKeyEvent>
#include <QLineEdit>
#include <QLinearGradient>
#include <QMenu>
#include <QMimeData>
#include <QPainter>
#include <QPainterPath>
#include <QScrollBar>
#include <QStyle>

#include <cmath>

#include "commands/BrowserState.h"
#include "commands/CommandStack.h"
#include "commands/TagPasteboardType.h"
#include "desktop/AccessibleEvents.h"
#include "desktop/DragThreshold.h"
#include "desktop/FileDragData.h"
#include "desktop/RefusalBox.h"
#include "library/DB.h"
#include "library/Tree.h"
#include "sidebar/SidebarDragData.h"
#include "sidebar/SidebarDropRules.h"
#include "desktop/TextContrast.h"

namespace qm {

namespace {

QColor withAlpha(QColor c, double alpha) {
    c.setAlphaF(float(alpha));
    return c;
}

QString displayName(const QuickString& name) {
    std::string_view text = name.string();
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

constexpr double hoverExpandSeconds = 1.0;
// As Qt's item views: a drag within this margin of the top or bottom edge
// scrolls a row at a time, every 50 ms.
constexpr int autoScrollMargin = 16;
constexpr int autoScrollInterval = 50;

}  // namespace

SidebarView::SidebarView(std::shared_ptr<BrowserState> window, QWidget* parent)
    : SidebarRowsArea(parent),
      window_(std::move(window)),
      db_(window_->context().db),
      controller_(window_, db_) {
    SidebarListAccessible::installFactory();
    setFrameShape(QFrame::NoFrame);
    setFocusPolicy(Qt::StrongFocus);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setAcceptDrops(true);
    viewport()->setAcceptDrops(true);
    viewport()->setMouseTracking(false);
    setAccessibleName(QStringLiteral("Tags and folders"));
    hoverTimer_.setSingleShot(true);
    hoverTimer_.setInterval(int(hoverExpandSeconds * 1000));
    connect(&hoverTimer_, &QTimer::timeout, this, &SidebarView::hoverExpand);
    autoScrollTimer_.setInterval(autoScrollInterval);
    connect(&autoScrollTimer_, &QTimer::timeout, this, &SidebarView::autoScrollStep);
    updateFonts();
    subscribe();
}

SidebarView::~SidebarView() = default;

void SidebarView::subscribe() {
    if (!db_) return;
    auto rebuild = [this] { rowsChanged(); };
    subscriptions_.push_back(db_->childrenChanged.subscribe(rebuild));
    subscriptions_.push_back(db_->treeChanged.subscribe(rebuild));
    subscriptions_.push_back(db_->pathsChanged.subscribe([this] { viewport()->update(); }));
    subscriptions_.push_back(window_->isExpandedChanged.subscribe(rebuild));
    subscriptions_.push_back(window_->currentNodeChanged.subscribe([this] { currentNodeChanged(); }));
}

void SidebarView::currentNodeChanged() {
    controller_.invalidateCurrentRow();
    // The person went elsewhere (a history key, the map shortcut) while
    // typing a name: the edit was for the node they left.
    if (edit_ && window_->currentNode() != edit_->path) cancelNameEditor();
    viewport()->update();
    if (auto row = currentRow()) SidebarListAccessible::notifyCurrentRow(this, int(*row));
}

void SidebarView::updateFonts() {
    QFont system = font();
    QFontInfo info(system);
    layout_ = SidebarLayout(info.pixelSize());
    miniFont_ = system;
    // The mini control size is about three quarters of the regular one.
    miniFont_.setPixelSize(std::max(8, int(std::lround(info.pixelSize() * 0.77))));
    QFontMetricsF sm(system), mm(miniFont_);
    systemTextOffset_ = SidebarLayout::textOffset(layout_.rowHeight, sm.capHeight(), sm.ascent());
    miniTextOffset_ = SidebarLayout::textOffset(layout_.rowHeight, mm.capHeight(), mm.ascent());
    updateScrollBar();
    placeNameEditor();
}

void SidebarView::rowsChanged() {
    controller_.invalidateRows();
    if (dropTarget_) setDropTarget(std::nullopt);
    SidebarListAccessible::notifyRowsReset(this);
    updateScrollBar();
    placeNameEditor();
    viewport()->update();
}

double SidebarView::contentHeight() {
    // A new item's editor may sit on a row below the last one (and stand a
    // little over it), which must be reachable.
    if (edit_ && edit_->isNew) return layout_.contentHeight(rows().size() + 1) + 4;
    return layout_.contentHeight(rows().size());
}

void SidebarView::scrollCurrentRowToVisible() {
    if (auto row = currentRow()) reveal(SidebarRowSpan{*row, 1});
}

void SidebarView::reveal(SidebarRowSpan span) {
    const double top = layout_.rowTop(span.first);
    scrollToVisible(top, top + layout_.rowHeight * double(std::max<size_t>(span.count, 1)));
}

std::optional<QRectF> SidebarView::rectForPath(const NodePath& path) {
    if (!db_) return std::nullopt;
    auto row = rows().indexOfPath(*db_->tree().rootNode(), path);
    if (!row) return std::nullopt;
    return QRectF(0, layout_.rowTop(*row), viewport()->width(), layout_.rowHeight);
}

std::optional<size_t> SidebarView::rowAtViewportY(int y) {
    return layout_.rowAt(double(y + scrollOffset()), rows().size());
}

bool SidebarView::hasKeyFocus() const {
    const QWidget* w = this;
    return w->window()->isActiveWindow() && (hasFocus() || (editor_ && editor_->hasFocus()));
}

std::optional<NodePtr> SidebarView::dropTargetNode() const {
    if (!dropTarget_) return std::nullopt;
    return dropTarget_->node;
}

std::optional<NodePath> SidebarView::nameEditorPath() const {
    if (!editor_ || !edit_) return std::nullopt;
    return edit_->path;
}

// ---- Painting ----

void SidebarView::paintEvent(QPaintEvent* event) {
    QPainter p(viewport());
    const QPalette& pal = palette();
    p.fillRect(event->rect(), pal.color(QPalette::Base));
    if (!db_) return;
    const SidebarRows& r = rows();
    const double width = viewport()->width();
    const double rowH = layout_.rowHeight;
    const int offset = scrollOffset();
    const bool keyFocus = hasKeyFocus();
    const QColor text = pal.color(QPalette::Text);
    const QColor lineColor = withAlpha(text, 0.1);
    const std::optional<size_t> current = currentRow();
    // Text reads on the selection and dimmed text on the background in
    // every theme, whatever contrast the theme's own colours have.
    const QColor base = pal.color(QPalette::Base);
    const QColor selectedText = pal.color(QPalette::Active, QPalette::HighlightedText);
    const QColor focusedFill = TextContrast::fillForText(pal.color(QPalette::Active, QPalette::Highlight), selectedText);
    const QColor unfocusedFill = TextContrast::composite(withAlpha(text, 0.12), base);

    p.translate(0, -offset);
    QRectF dirty = QRectF(event->rect()).translated(0, offset);
    auto [first, last] = layout_.rowsMeeting(dirty.top(), dirty.bottom(), r.size());

    // The selection background sits under the current row.
    if (current && *current >= first && *current < last) {
        QRectF bg(SidebarLayout::selectionInset, layout_.rowTop(*current), width - 2 * SidebarLayout::selectionInset,
                  rowH);
        QColor fill = keyFocus ? focusedFill : withAlpha(text, 0.12);
        p.setRenderHint(QPainter::Antialiasing, true);
        p.setPen(Qt::NoPen);
        p.setBrush(fill);
        p.drawRoundedRect(bg, SidebarLayout::cornerRadius, SidebarLayout::cornerRadius);
    }

    QPainterPath plainGuides, fadingGuides;
    std::optional<QRectF> focusRect;
    const QFont systemFont = font();
    QFontMetricsF systemMetrics(systemFont);
    QFontMetricsF miniMetrics(miniFont_);
    p.setRenderHint(QPainter::Antialiasing, true);

    for (size_t i = first; i < last; ++i) {
        const SidebarRow& row = r[i];
        const Node& node = *row.node;
        const double y = layout_.rowTop(i);
        const bool isCurrent = current && *current == i;
        if (typeNavigation().node.get() == &node)
            focusRect = QRectF(SidebarLayout::selectionInset, y, width - 2 * SidebarLayout::selectionInset, rowH);
        const double textX = SidebarLayout::textX(row.depth, node.color().has_value());
        const QColor rowColor = isCurrent && keyFocus ? selectedText : text;
        const QColor rowBackground = !isCurrent ? base : keyFocus ? focusedFill : unfocusedFill;

        const size_t count = node.pathCount();
        const QString countText = count ? QString::number(qulonglong(count)) : QString();
        const double countWidth = count ? miniMetrics.horizontalAdvance(countText) : 0;
        const double rightEdge = SidebarLayout::rightEdge(width, width, count);

        const bool showsChildren = row.isExpanded;
        for (int level = 0; level < row.depth; ++level) {
            QRectF guide(SidebarLayout::guideX(level), y, 1, rowH);
            bool fading = !showsChildren && level < 64 && (row.lastChildMask >> level) & 1;
            (fading ? fadingGuides : plainGuides).addRect(guide);
        }

        const double cy = y + rowH / 2;
        p.setPen(Qt::NoPen);
        if (&node == db_->tree().mapNode().get()) {
            QPointF c(textX - 8.5, y + std::floor(rowH / 2) + 0.5);
            p.setPen(QPen(rowColor, 1));
            p.setBrush(Qt::NoBrush);
            p.drawEllipse(c, 3.5, 3.5);
            p.drawLine(QPointF(c.x() - 5.5, c.y()), QPointF(c.x() - 3.5, c.y()));
            p.drawLine(QPointF(c.x() + 3.5, c.y()), QPointF(c.x() + 5.5, c.y()));
            p.drawLine(QPointF(c.x(), c.y() - 5.5), QPointF(c.x(), c.y() - 3.5));
            p.drawLine(QPointF(c.x(), c.y() + 3.5), QPointF(c.x(), c.y() + 5.5));
            p.setPen(Qt::NoPen);
        }

        // Name, truncated in the middle so both ends of long names stay readable.
        const double nameWidth = rightEdge - textX - 8 - countWidth;
        p.setFont(systemFont);
        const double baseline = y + systemTextOffset_ + systemMetrics.ascent();
        if (node.name.empty()) {
            p.setPen(TextContrast::dimmed(rowColor, rowBackground, 0.5));
            p.drawText(QPointF(textX, baseline),
                       systemMetrics.elidedText(QStringLiteral("(empty)"), Qt::ElideMiddle, std::max(0.0, nameWidth)));
        } else {
            p.setPen(rowColor);
            p.drawText(QPointF(textX, baseline),
                       systemMetrics.elidedText(displayName(node.displayName()), Qt::ElideMiddle, std::max(0.0, nameWidth)));
        }
        if (count) {
            p.setFont(miniFont_);
            p.setPen(isCurrent ? rowColor : TextContrast::dimmed(rowColor, rowBackground, 0.3));
            p.drawText(QPointF(rightEdge - countWidth, y + miniTextOffset_ + miniMetrics.ascent()), countText);
        }

        const double x0 = textX - 8;
        if (SidebarRows::isExpandable(node)) {
            const double d = 2 * std::sqrt(2.0);
            QPolygonF triangle;
            if (showsChildren)
                triangle << QPointF(x0 + d, cy - d) << QPointF(x0 + d, cy + d) << QPointF(x0 - d, cy + d);
            else
                triangle << QPointF(x0 + 2, cy) << QPointF(x0 - 2, cy - 4) << QPointF(x0 - 2, cy + 4);
            p.setPen(Qt::NoPen);
            p.setBrush(rowColor);
            p.drawPolygon(triangle);
        } else if (node.color()) {
            const Color& c = *node.color();
            QPointF centre(textX - 10, cy);
            p.setPen(Qt::NoPen);
            p.setBrush(QColor::fromRgbF(float(c.red), float(c.green), float(c.blue), float(c.alpha)));
            p.drawEllipse(centre, 5, 5);
            p.setPen(QPen(withAlpha(rowColor, 0.5), 1));
            p.setBrush(Qt::NoBrush);
            p.drawEllipse(centre, 4.5, 4.5);
        }
    }

    p.setRenderHint(QPainter::Antialiasing, false);
    p.fillPath(plainGuides, lineColor);
    if (!fadingGuides.isEmpty()) {
        // The gradient repeats per row: each fading line runs out within its row.
        QLinearGradient fade(0, 0, 0, rowH);
        fade.setCoordinateMode(QGradient::LogicalMode);
        fade.setSpread(QGradient::RepeatSpread);
        fade.setColorAt(0, withAlpha(text, 0.1));
        fade.setColorAt(0.25, withAlpha(text, 0.0875));
        fade.setColorAt(0.5, withAlpha(text, 0.05));
        fade.setColorAt(0.75, withAlpha(text, 0.0125));
        fade.setColorAt(1, withAlpha(text, 0));
        // Rows start at the top padding, so shift the repeating gradient with them.
        fade.setStart(0, SidebarLayout::topPadding);
        fade.setFinalStop(0, SidebarLayout::topPadding + rowH);
        p.fillPath(fadingGuides, fade);
    }

    if (focusRect) {
        p.setRenderHint(QPainter::Antialiasing, true);
        QRectF ring = focusRect->adjusted(-1.5, -1.5, 1.5, 1.5);
        p.setPen(QPen(withAlpha(pal.color(QPalette::Active, QPalette::Highlight), 0.8), SidebarLayout::focusRingWidth));
        p.setBrush(Qt::NoBrush);
        p.drawRoundedRect(ring, 5.5, 5.5);
    }

    if (dropTarget_) {
        p.setRenderHint(QPainter::Antialiasing, false);
        QRectF box(0, layout_.rowTop(dropTarget_->row), width, rowH);
        p.setPen(QPen(text, 2));
        p.setBrush(Qt::NoBrush);
        p.drawRect(box.adjusted(1, 1, -1, -1));
    }
}

void SidebarView::scrollContentsBy(int, int) {
    viewport()->update();
    placeNameEditor();
}

// ---- Navigation and expansion ----

void SidebarView::notifyExpansion(const Node* node) {
    if (!node || !AccessibleEvents::wanted()) return;
    if (auto row = rows().indexOf(node)) SidebarListAccessible::notifyExpansion(this, int(*row));
}

void SidebarView::setExpanded(const Node& node, bool expand, bool recursive) {
    controller_.setExpanded(node, expand, recursive);
    notifyExpansion(&node);
}

void SidebarView::applyKeyOutcome(const SidebarTreeController::KeyOutcome& outcome) {
    notifyExpansion(outcome.expansionChanged);
    if (outcome.reveal) reveal(*outcome.reveal);
    if (outcome.redraw) viewport()->update();
    if (outcome.trigger) trigger(*outcome.trigger);
}

bool SidebarView::handleKeyDown(QKeyEvent* event) {
    if (!db_) return false;
    const Qt::KeyboardModifiers mods = event->modifiers() & ~Qt::KeypadModifier;
    const bool command = mods & Qt::ControlModifier;
    // Alt+Left and Alt+Right are Back and Forward, so Shift applies an
    // expansion change to the whole subtree (Alt still does where it arrives).
    const bool recursive = mods & (Qt::ShiftModifier | Qt::AltModifier);
    if (scrollByKey(event->key())) return true;
    std::optional<SidebarTreeKey> key;
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter: key = SidebarTreeKey::commit; break;
    case Qt::Key_Escape: key = SidebarTreeKey::escape; break;
    case Qt::Key_F2: key = SidebarTreeKey::rename; break;
    case Qt::Key_Left: key = SidebarTreeKey::left; break;
    case Qt::Key_Right: key = SidebarTreeKey::right; break;
    case Qt::Key_Down: key = SidebarTreeKey::down; break;
    case Qt::Key_Up: key = SidebarTreeKey::up; break;
    case Qt::Key_Asterisk:
        if (!command) key = SidebarTreeKey::expandSubtree;
        break;
    case Qt::Key_Menu:
        showContextMenuForCurrentRow();
        return true;
    case Qt::Key_F10:
        if (mods != Qt::ShiftModifier) return false;
        showContextMenuForCurrentRow();
        return true;
    default:
        break;
    }
    if (key) {
        const auto outcome = controller_.key(*key, command, recursive);
        applyKeyOutcome(outcome);
        return outcome.handled;
    }
    if (command) return false;
    QString characters = event->text();
    if (characters.isEmpty() || !characters.at(0).isPrint()) return false;
    const QByteArray utf8 = characters.toUtf8();
    applyKeyOutcome(controller_.typeCharacters(std::string_view(utf8.constData(), size_t(utf8.size()))));
    return true;
}

void SidebarView::keyPressEvent(QKeyEvent* event) {
    if (editor_) return QAbstractScrollArea::keyPressEvent(event);
    if (!handleKeyDown(event)) QAbstractScrollArea::keyPressEvent(event);
}

// ---- Mouse ----

void SidebarView::mousePressEvent(QMouseEvent* event) {
    const Qt::KeyboardModifiers mods = event->modifiers() & ~Qt::KeypadModifier;
    const bool control = mods & Qt::ControlModifier;
    const bool right = event->button() == Qt::RightButton || (event->button() == Qt::LeftButton && control);
    if (!right && event->button() != Qt::LeftButton) return QAbstractScrollArea::mousePressEvent(event);
    if (editor_) cancelNameEditor();
    const QPoint pos = event->position().toPoint();
    if (!right) {
        dragStart_ = pos;
        isDragging_ = false;
    }
    if (auto row = rowAtViewportY(pos.y())) {
        if (right) {
            controller_.rightClick(*row);
            setFocus(Qt::MouseFocusReason);
            showContextMenu(pos);
            return;
        }
        // Window managers take Alt with the mouse, so Shift+click opens or
        // closes the whole branch; Alt alone still does where it arrives.
        const bool recursive = mods == Qt::ShiftModifier || mods == Qt::AltModifier;
        NodePtr node = rows()[*row].node;
        if (controller_.leftClick(*row, pos.x(), recursive) == SidebarTreeController::Click::toggled)
            notifyExpansion(node.get());
        viewport()->update();
    }
    setFocus(Qt::MouseFocusReason);
}

void SidebarView::mouseMoveEvent(QMouseEvent* event) {
    if (!(event->buttons() & Qt::LeftButton) || isDragging_) return;
    const QPoint pos = event->position().toPoint();
    if (!DragThreshold::reached(dragStart_, pos)) return;
    isDragging_ = true;
    auto row = rowAtViewportY(pos.y());
    if (!row) return;
    auto tag = controller_.draggedTag(*row);
    if (!tag) return;
    auto* drag = new QDrag(this);
    drag->setMimeData(SidebarDragData::forTag(*tag));
    drag->exec(Qt::CopyAction | Qt::MoveAction, Qt::CopyAction);
}

void SidebarView::contextMenuEvent(QContextMenuEvent* event) {
    // Mouse right clicks open the menu on press; this is the keyboard's Menu key.
    if (event->reason() == QContextMenuEvent::Mouse) return;
    showContextMenuForCurrentRow();
}

void SidebarView::showContextMenuForCurrentRow() {
    // Some platforms send both the key and a context-menu event for it.
    if (menu_ && menu_->isVisible()) return;
    auto row = currentRow();
    if (!row) return;
    scrollCurrentRowToVisible();
    showContextMenu(QPoint(int(SidebarLayout::textInset), int(layout_.rowTop(*row) - scrollOffset() + layout_.rowHeight)));
}

void SidebarView::showContextMenu(const QPoint& viewportPos) {
    if (!db_) return;
    std::vector<SidebarMenuItem> items = controller_.menu();
    if (items.empty()) return;
    if (menu_) menu_->deleteLater();
    menu_ = new QMenu(this);
    for (const SidebarMenuItem& item : items) {
        SidebarAction action = item.action;
        menu_->addAction(QString::fromStdString(item.title), this, [this, action] { trigger(action); });
    }
    menu_->popup(viewport()->mapToGlobal(viewportPos));
}

// ---- Actions and the name editor ----

void SidebarView::trigger(SidebarAction action) {
    if (!db_) return;
    if (action == SidebarAction::showInFileManager) {
        // Bytes all the way: names that are not UTF-8 stay themselves.
        QList<QByteArray> paths;
        for (const std::string& p : SidebarActions::revealPaths(db_->tree(), window_->currentNode()))
            paths << QByteArray(p.data(), qsizetype(p.size()));
        if (!paths.isEmpty()) Q_EMIT revealInFileManagerRequested(paths);
        return;
    }
    if (SidebarActions::promptFor(action, window_->currentNode()))
        openNameEditor(action);
    else
        SidebarActions::perform(*window_, action);
}

void SidebarView::openNameEditor(SidebarAction action) {
    if (editor_) cancelNameEditor();
    std::optional<SidebarEdit> edit = controller_.beginEdit(action);
    if (!edit) return;
    edit_ = std::move(*edit);
    updateScrollBar();  // a new item's row below the last must be reachable
    editor_ = new QLineEdit(viewport());
    editor_->setObjectName(QStringLiteral("sidebarNameEditor"));
    const QString message = QString::fromStdString(edit_->prompt.message);
    editor_->setPlaceholderText(message);
    editor_->setToolTip(message);
    editor_->setAccessibleName(QString::fromStdString(edit_->prompt.button));
    editor_->setAccessibleDescription(message);
    editor_->setText(QString::fromStdString(edit_->prompt.initialText));
    editor_->selectAll();
    editor_->installEventFilter(this);
    connect(editor_, &QLineEdit::returnPressed, this, &SidebarView::commitNameEditor);
    // Bring the editor on screen, with its node's row for a new item.
    if (auto rect = nameEditorRect()) {
        double top = rect->top();
        if (auto place = controller_.editorPlace(*edit_); place && edit_->isNew && place->row > 0)
            top = std::min(top, layout_.rowTop(place->row - 1));
        scrollToVisible(top, rect->bottom());
    }
    placeNameEditor();
    if (!editor_) return;
    editor_->show();
    editor_->setFocus(Qt::OtherFocusReason);
}

std::optional<QRect> SidebarView::nameEditorRect() {
    if (!editor_ || !edit_) return std::nullopt;
    auto place = controller_.editorPlace(*edit_);
    if (!place) return std::nullopt;
    const int x = int(SidebarLayout::textX(place->depth, false)) - 4;
    const int h = std::max(int(layout_.rowHeight) + 4, editor_->sizeHint().height());
    const int y = int(layout_.rowTop(place->row)) - (h - int(layout_.rowHeight)) / 2;
    return QRect(x, y, std::max(60, viewport()->width() - x - 6), h);
}

void SidebarView::placeNameEditor() {
    if (!editor_ || !edit_) return;
    auto rect = nameEditorRect();
    if (!rect) {
        // The node was removed, renamed elsewhere or collapsed out of sight.
        cancelNameEditor();
        return;
    }
    editor_->setGeometry(rect->translated(0, -scrollOffset()));
}

bool SidebarView::eventFilter(QObject* watched, QEvent* event) {
    if (watched == editor_) {
        if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
            cancelNameEditor();
            setFocus(Qt::OtherFocusReason);
            return true;
        }
        if (event->type() == QEvent::FocusOut) {
            // Clicking elsewhere abandons the edit, as Escape does.
            QMetaObject::invokeMethod(this, [this, e = editor_] {
                if (e && editor_ == e && !e->hasFocus()) cancelNameEditor();
            }, Qt::QueuedConnection);
        }
    }
    return QAbstractScrollArea::eventFilter(watched, event);
}

void SidebarView::cancelNameEditor() {
    const bool hadNewRow = edit_ && edit_->isNew;
    edit_.reset();
    if (hadNewRow) updateScrollBar();
    if (!editor_) return;
    QLineEdit* e = editor_;
    editor_ = nullptr;
    const bool hadFocus = e->hasFocus();
    e->removeEventFilter(this);
    e->hide();
    e->deleteLater();
    if (hadFocus) setFocus(Qt::OtherFocusReason);
    viewport()->update();
}

void SidebarView::commitNameEditor() {
    if (!editor_ || !edit_) return;
    const QByteArray text = editor_->text().toUtf8();
    const SidebarEdit edit = *edit_;
    cancelNameEditor();
    setFocus(Qt::OtherFocusReason);
    std::string refusal = controller_.commit(edit, std::string_view(text.constData(), size_t(text.size())));
    if (!refusal.empty()) refuse(QString::fromStdString(refusal));
}

void SidebarView::refuse(const QString& message) {
    Q_EMIT nameRefused(message);
    RefusalBox::open(this, message, QStringLiteral("sidebarNameRefusal"));
}

// ---- Drops ----

const DropInfo& SidebarView::dropInfoFor(const QMimeData* mime) {
    if (mime != dropMime_) {
        dropMime_ = mime;
        dropInfo_ = mime ? SidebarDragData::dropInfo(*mime) : DropInfo();
        dropDrag_ = SidebarDropRules::read(dropInfo_, *db_->format);
    }
    return dropInfo_;
}

std::optional<SidebarView::DropTarget> SidebarView::evaluateDrop(const QMimeData* mime, const QPoint& viewportPos) {
    if (!mime || !db_) return std::nullopt;
    auto row = rowAtViewportY(viewportPos.y());
    if (!row) return std::nullopt;
    NodePtr node = rows()[*row].node;
    dropInfoFor(mime);
    if (!SidebarDropRules::accepts(*node, dropDrag_)) return std::nullopt;
    return DropTarget{node, *row};
}

void SidebarView::setDropTarget(std::optional<DropTarget> target) {
    if (target == dropTarget_) return;
    dropTarget_ = std::move(target);
    hoverTimer_.stop();
    viewport()->update();
    if (dropTarget_ && SidebarRows::isExpandable(*dropTarget_->node) &&
        !window_->isExpanded().contains(dropTarget_->node->fullName))
        hoverTimer_.start();
}

void SidebarView::hoverExpand() {
    hoverTimer_.stop();
    if (!dropTarget_) return;
    NodePtr node = dropTarget_->node;
    setExpanded(*node, true, false);
}

void SidebarView::updateAutoScroll(const QPoint& viewportPos) {
    const int h = viewport()->height();
    autoScrollDirection_ = viewportPos.y() < autoScrollMargin ? -1 : viewportPos.y() >= h - autoScrollMargin ? 1 : 0;
    lastDragPos_ = viewportPos;
    if (autoScrollDirection_ == 0)
        autoScrollTimer_.stop();
    else if (!autoScrollTimer_.isActive())
        autoScrollTimer_.start();
}

void SidebarView::autoScrollStep() {
    const int before = scrollOffset();
    setScrollOffset(before + autoScrollDirection_ * int(layout_.rowHeight));
    if (scrollOffset() == before) {
        autoScrollTimer_.stop();
        return;
    }
    // The row under the resting pointer changed: it is the drop target now.
    if (dropMime_) setDropTarget(evaluateDrop(dropMime_, lastDragPos_));
}

void SidebarView::endDrag() {
    autoScrollTimer_.stop();
    autoScrollDirection_ = 0;
    dropMime_ = nullptr;
    dropInfo_ = DropInfo();
    dropDrag_ = {};
    setDropTarget(std::nullopt);
}

void SidebarView::dragEnterEvent(QDragEnterEvent* event) {
    dropMime_ = nullptr;  // a new drag: read its contents afresh
    const QPoint pos = event->position().toPoint();
    setDropTarget(evaluateDrop(event->mimeData(), pos));
    // Entering takes any drag of files or a tag, so that moves over other
    // rows keep arriving; each move then answers for its own row.
    const QMimeData* mime = event->mimeData();
    if (mime && (FileDragData::hasFiles(*mime) ||
                 mime->hasFormat(QString::fromStdString(TagPasteboardType::pasteboardType())))) {
        event->setDropAction(Qt::CopyAction);
        event->accept();
        updateAutoScroll(pos);
    } else {
        event->ignore();
    }
}

void SidebarView::dragMoveEvent(QDragMoveEvent* event) {
    const QPoint pos = event->position().toPoint();
    auto target = evaluateDrop(event->mimeData(), pos);
    setDropTarget(target);
    updateAutoScroll(pos);
    if (target) {
        event->setDropAction(Qt::CopyAction);
        event->accept();
    } else {
        event->ignore();
    }
}

void SidebarView::dragLeaveEvent(QDragLeaveEvent*) {
    endDrag();
}

void SidebarView::dropEvent(QDropEvent* event) {
    auto target = evaluateDrop(event->mimeData(), event->position().toPoint());
    DropInfo info = dropInfo_;
    FileDragData::readActions(*event, info);
    endDrag();
    if (!target) return event->ignore();
    DropOperation performed = DropOperation::copy;
    if (window_->commandStack()->performDrop(target->node, info, false, &performed)) {
        FileDragData::reportPerformed(*event, performed);
    } else {
        event->ignore();
    }
}

// ---- Accessibility ----

int SidebarView::accessibleRowCount() const {
    return int(const_cast<SidebarView*>(this)->rows().size());
}

SidebarAccessibleRows::RowInfo SidebarView::accessibleRow(int index) const {
    auto* self = const_cast<SidebarView*>(this);
    const SidebarRows& r = self->rows();
    RowInfo info;
    if (index < 0 || size_t(index) >= r.size()) return info;
    const SidebarRow& row = r[size_t(index)];
    info.name = row.node->name.empty() ? QStringLiteral("(empty)") : displayName(row.node->displayName());
    size_t count = row.node->pathCount();
    info.description = count ? QString::number(qulonglong(count)) : QString();
    info.isExpandable = SidebarRows::isExpandable(*row.node);
    info.isExpanded = row.isExpanded;
    auto current = self->currentRow();
    info.isSelected = current && *current == size_t(index);
    info.isFocused = info.isSelected && hasFocus();
    return info;
}

void SidebarView::accessibleRowAction(int index, RowAction action) {
    const SidebarRows& r = rows();
    if (index < 0 || size_t(index) >= r.size()) return;
    NodePtr node = r[size_t(index)].node;
    if (action == RowAction::activate) {
        controller_.resetTypeNavigation();
        window_->setCurrentNode(node->nodePath());
        return;
    }
    if (SidebarRows::isExpandable(*node)) setExpanded(*node, action == RowAction::expand, false);
}

QRect SidebarView::accessibleRowRect(int index) const {
    double top = layout_.rowTop(size_t(std::max(0, index))) - scrollOffset();
    QRect r(0, int(top), viewport()->width(), int(layout_.rowHeight));
    if (r.bottom() < 0 || r.top() > viewport()->height()) return {};
    return r.translated(viewport()->pos());
}

}  // namespace qm
