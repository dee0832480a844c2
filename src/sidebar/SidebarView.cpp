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
#include <QMessageBox>
#include <QMimeData>
#include <QPainter>
#include <QPainterPath>
#include <QScrollBar>
#include <QStyle>

#include <cmath>

#include "commands/BrowserState.h"
#include "commands/CommandStack.h"
#include "commands/TagPasteboardType.h"
#include "library/DB.h"
#include "library/Tree.h"
#include "sidebar/SidebarDragData.h"
#include "sidebar/SidebarDropRules.h"
#include "sidebar/SidebarExpansion.h"
#include "sidebar/TextContrast.h"

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

}  // namespace

SidebarView::SidebarView(std::shared_ptr<BrowserState> window, QWidget* parent)
    : SidebarRowsArea(parent), window_(std::move(window)), db_(window_->context().db) {
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
    subscriptions_.push_back(window_->currentNodeChanged.subscribe([this] {
        currentRowCache_.reset();
        viewport()->update();
        if (auto row = currentRow()) SidebarListAccessible::notifyCurrentRow(this, int(*row));
    }));
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
}

const SidebarRows& SidebarView::rows() {
    if (rowsDirty_) {
        if (db_)
            rows_.rebuild(*db_->tree().rootNode(), window_->isExpanded());
        else
            rows_ = SidebarRows();
        rowsDirty_ = false;
        currentRowCache_.reset();
    }
    return rows_;
}

void SidebarView::rowsChanged() {
    rowsDirty_ = true;
    currentRowCache_.reset();
    if (dropTarget_) setDropTarget(std::nullopt);
    SidebarListAccessible::notifyRowsReset(this);
    updateScrollBar();
    viewport()->update();
}

double SidebarView::contentHeight() {
    return layout_.contentHeight(rows().size());
}

std::optional<size_t> SidebarView::currentRow() {
    const SidebarRows& r = rows();
    if (!currentRowCache_) {
        currentRowCache_ = db_ ? r.indexOfPath(*db_->tree().rootNode(), window_->currentNode()) : std::nullopt;
    }
    return *currentRowCache_;
}

void SidebarView::scrollCurrentRowToVisible() {
    if (auto row = currentRow()) scrollToVisible(layout_.rowTop(*row), layout_.rowTop(*row) + layout_.rowHeight);
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
        if (typeNavigation_.node.get() == &node)
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
                       systemMetrics.elidedText(displayName(node.name), Qt::ElideMiddle, std::max(0.0, nameWidth)));
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
    if (editor_) cancelNameEditor();
}

// ---- Navigation and expansion ----

void SidebarView::navigate(const Node& node) {
    window_->setCurrentNode(node.nodePath());
}

void SidebarView::setExpanded(const Node& node, bool expand, bool recursive) {
    if (!db_) return;
    SidebarExpansion::change(*window_, *db_, node, expand, recursive);
    if (SidebarListAccessible::wantsEvents()) {
        const SidebarRows& r = rows();
        for (size_t i = 0; i < r.size(); ++i)
            if (r[i].node.get() == &node) SidebarListAccessible::notifyExpansion(this, int(i));
    }
}

bool SidebarView::commitTypeNavigation() {
    if (!typeNavigation_.node) return false;
    NodePtr node = typeNavigation_.node;
    typeNavigation_.reset();
    navigate(*node);
    viewport()->update();
    return true;
}

bool SidebarView::handleKeyDown(QKeyEvent* event) {
    if (!db_) return false;
    const Qt::KeyboardModifiers mods = event->modifiers() & ~Qt::KeypadModifier;
    const bool command = mods & Qt::ControlModifier;
    const bool option = mods & Qt::AltModifier;
    if (scrollByKey(event->key())) return true;
    const Tree& tree = db_->tree();
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        commitTypeNavigation();
        return true;
    case Qt::Key_Escape:
        if (!typeNavigation_.isReset()) {
            typeNavigation_.reset();
            viewport()->update();
        }
        return true;
    case Qt::Key_Menu:
        showContextMenuForCurrentRow();
        return true;
    case Qt::Key_F10:
        if (mods != Qt::ShiftModifier) return false;
        showContextMenuForCurrentRow();
        return true;
    case Qt::Key_F2: {
        NodePtr node = tree.lookup(window_->currentNode());
        if (!node || window_->currentNode().empty()) return true;
        NodePtr parent = node->parent();
        if (parent && has(parent->kind, NodeKind::tagContainer))
            trigger(SidebarAction::renameCurrentTag);
        else if (has(node->kind, NodeKind::directory) && window_->currentNode().size() >= 2)
            trigger(SidebarAction::renameCurrentFolder);
        return true;
    }
    case Qt::Key_Left: {
        commitTypeNavigation();
        const NodePath path = window_->currentNode();
        NodePtr node = path.empty() ? nullptr : tree.lookup(path);
        if (node && SidebarRows::isExpandable(*node) && window_->isExpanded().contains(node->fullName))
            setExpanded(*node, false, option);
        else if (path.size() >= 2)
            window_->setCurrentNode(NodePath(path.begin(), path.end() - 1));
        return true;
    }
    case Qt::Key_Right: {
        commitTypeNavigation();
        const NodePath path = window_->currentNode();
        NodePtr node = path.empty() ? nullptr : tree.lookup(path);
        if (node && SidebarRows::isExpandable(*node) && !window_->isExpanded().contains(node->fullName)) {
            setExpanded(*node, true, option);
            if (auto row = currentRow()) {
                double top = layout_.rowTop(*row);
                scrollToVisible(top, top + layout_.rowHeight * double(node->visibleRowCount(window_->isExpanded())));
            }
        }
        return true;
    }
    case Qt::Key_Down:
    case Qt::Key_Up: {
        commitTypeNavigation();
        // The row list is the neighbour walk of the tree, already laid out.
        bool down = event->key() == Qt::Key_Down;
        const SidebarRows& r = rows();
        std::optional<size_t> at = currentRow();
        std::optional<size_t> next;
        if (!r.empty()) {
            const size_t lastRow = r.size() - 1;
            if (command)
                next = down ? lastRow : 0;
            else if (!at)
                next = down ? 0 : lastRow;
            else
                next = down ? std::min(*at + 1, lastRow) : (*at ? *at - 1 : 0);
        }
        std::optional<NodePath> target;
        if (next) target = r[*next].node->nodePath();
        if (target) {
            window_->setCurrentNode(*target);
            scrollCurrentRowToVisible();
        }
        return true;
    }
    default:
        break;
    }
    if (command) return false;
    QString characters = event->text();
    if (characters.isEmpty() || !characters.at(0).isPrint()) return false;
    std::vector<const Node*> visible;
    const SidebarRows& r = rows();
    visible.reserve(r.size());
    for (const SidebarRow& row : r.rows()) visible.push_back(row.node.get());
    const QByteArray utf8 = characters.toUtf8();
    auto before = typeNavigation_.node;
    if (auto hit = typeNavigation_.type(std::string_view(utf8.constData(), size_t(utf8.size())), visible, currentRow()))
        scrollToVisible(layout_.rowTop(*hit), layout_.rowTop(*hit) + layout_.rowHeight);
    if (typeNavigation_.node != before) viewport()->update();
    return true;
}

void SidebarView::keyPressEvent(QKeyEvent* event) {
    if (editor_) return QAbstractScrollArea::keyPressEvent(event);
    if (!handleKeyDown(event)) QAbstractScrollArea::keyPressEvent(event);
}

// ---- Mouse ----

void SidebarView::mousePressEvent(QMouseEvent* event) {
    const bool control = event->modifiers() & Qt::ControlModifier;
    const bool right = event->button() == Qt::RightButton || (event->button() == Qt::LeftButton && control);
    if (!right && event->button() != Qt::LeftButton) return QAbstractScrollArea::mousePressEvent(event);
    if (editor_) cancelNameEditor();
    const QPoint pos = event->position().toPoint();
    if (!right) {
        dragStart_ = pos;
        isDragging_ = false;
    }
    auto row = rowAtViewportY(pos.y());
    if (row) {
        const SidebarRow& hit = rows()[*row];
        NodePtr node = hit.node;
        if (right) {
            typeNavigation_.reset();
            navigate(*node);
            setFocus(Qt::MouseFocusReason);
            showContextMenu(pos);
            return;
        }
        if (pos.x() >= SidebarLayout::disclosureBoundary(hit.depth)) {
            typeNavigation_.reset();
            navigate(*node);
        } else if (SidebarRows::isExpandable(*node)) {
            bool expanded = window_->isExpanded().contains(node->fullName);
            bool optionAlone = (event->modifiers() & ~Qt::KeypadModifier) == Qt::AltModifier;
            setExpanded(*node, !expanded, optionAlone);
        }
        viewport()->update();
    }
    setFocus(Qt::MouseFocusReason);
}

void SidebarView::mouseMoveEvent(QMouseEvent* event) {
    if (!(event->buttons() & Qt::LeftButton) || isDragging_) return;
    const QPoint pos = event->position().toPoint();
    QPoint d = pos - dragStart_;
    if (double(d.x()) * d.x() + double(d.y()) * d.y() < SidebarLayout::dragThreshold * SidebarLayout::dragThreshold)
        return;
    isDragging_ = true;
    auto row = rowAtViewportY(pos.y());
    if (!row) return;
    NodePtr node = rows()[*row].node;
    NodePtr parent = node->parent();
    if (!parent || !has(parent->kind, NodeKind::tagContainer)) return;
    auto tag = TagFormat::tagForNodeName(node->fullName);
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
    std::vector<SidebarMenuItem> items = SidebarActions::menuFor(db_->tree(), window_->currentNode());
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
        QStringList paths;
        for (const std::string& p : SidebarActions::revealPaths(db_->tree(), window_->currentNode()))
            paths << QString::fromUtf8(p.data(), qsizetype(p.size()));
        if (!paths.isEmpty()) Q_EMIT revealInFileManagerRequested(paths);
        return;
    }
    if (SidebarActions::promptFor(action, window_->currentNode()))
        openNameEditor(action);
    else
        SidebarActions::perform(*window_, action);
}

void SidebarView::openNameEditor(SidebarAction action) {
    auto prompt = SidebarActions::promptFor(action, window_->currentNode());
    if (!prompt) return;
    if (editor_) cancelNameEditor();
    scrollCurrentRowToVisible();
    auto row = currentRow();
    if (!row) return;
    const SidebarRow& r = rows()[*row];
    editorAction_ = action;
    editor_ = new QLineEdit(viewport());
    editor_->setObjectName(QStringLiteral("sidebarNameEditor"));
    const QString message = QString::fromStdString(prompt->message);
    editor_->setPlaceholderText(message);
    editor_->setToolTip(message);
    editor_->setAccessibleName(QString::fromStdString(prompt->button));
    editor_->setAccessibleDescription(message);
    editor_->setText(QString::fromStdString(prompt->initialText));
    editor_->selectAll();
    const bool isNew = action == SidebarAction::addNewTag || action == SidebarAction::addNewFolder;
    // A new item's editor sits one level in, where the new row will appear.
    int depth = r.depth + (isNew ? 1 : 0);
    int x = int(SidebarLayout::textX(depth, false)) - 4;
    int y = int(layout_.rowTop(*row) - scrollOffset());
    if (isNew) y += int(layout_.rowHeight);
    int h = std::max(int(layout_.rowHeight) + 4, editor_->sizeHint().height());
    editor_->setGeometry(x, y - (h - int(layout_.rowHeight)) / 2, std::max(60, viewport()->width() - x - 6), h);
    editor_->installEventFilter(this);
    connect(editor_, &QLineEdit::returnPressed, this, &SidebarView::commitNameEditor);
    editor_->show();
    editor_->setFocus(Qt::OtherFocusReason);
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
    if (!editor_) return;
    QLineEdit* e = editor_;
    editor_ = nullptr;
    e->removeEventFilter(this);
    e->hide();
    e->deleteLater();
    viewport()->update();
}

void SidebarView::commitNameEditor() {
    if (!editor_) return;
    const QByteArray text = editor_->text().toUtf8();
    const SidebarAction action = editorAction_;
    cancelNameEditor();
    setFocus(Qt::OtherFocusReason);
    std::string refusal = SidebarActions::submit(*window_, action, std::string_view(text.constData(), size_t(text.size())));
    if (!refusal.empty()) refuse(QString::fromStdString(refusal));
}

void SidebarView::refuse(const QString& message) {
    Q_EMIT nameRefused(message);
    auto* box = new QMessageBox(QMessageBox::Warning, QString(), message, QMessageBox::Ok, this);
    box->setObjectName(QStringLiteral("sidebarNameRefusal"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::WindowModal);
    box->open();
}

// ---- Drops ----

std::optional<SidebarView::DropTarget> SidebarView::evaluateDrop(const QMimeData* mime, const QPoint& viewportPos) {
    if (!mime || !db_) return std::nullopt;
    auto row = rowAtViewportY(viewportPos.y());
    if (!row) return std::nullopt;
    NodePtr node = rows()[*row].node;
    DropInfo info = SidebarDragData::dropInfo(*mime);
    if (!SidebarDropRules::accepts(*node, info, *db_->format)) return std::nullopt;
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

void SidebarView::dragEnterEvent(QDragEnterEvent* event) {
    setDropTarget(evaluateDrop(event->mimeData(), event->position().toPoint()));
    // Entering takes any drag of files or a tag, so that moves over other
    // rows keep arriving; each move then answers for its own row.
    const QMimeData* mime = event->mimeData();
    if (mime && (mime->hasFormat(QStringLiteral("text/uri-list")) ||
                 mime->hasFormat(QString::fromStdString(TagPasteboardType::pasteboardType())))) {
        event->setDropAction(Qt::CopyAction);
        event->accept();
    } else {
        event->ignore();
    }
}

void SidebarView::dragMoveEvent(QDragMoveEvent* event) {
    auto target = evaluateDrop(event->mimeData(), event->position().toPoint());
    setDropTarget(target);
    if (target) {
        event->setDropAction(Qt::CopyAction);
        event->accept();
    } else {
        event->ignore();
    }
}

void SidebarView::dragLeaveEvent(QDragLeaveEvent*) {
    setDropTarget(std::nullopt);
}

void SidebarView::dropEvent(QDropEvent* event) {
    auto target = evaluateDrop(event->mimeData(), event->position().toPoint());
    setDropTarget(std::nullopt);
    if (!target) return event->ignore();
    DropInfo info = SidebarDragData::dropInfo(*event->mimeData());
    if (window_->commandStack()->performDrop(target->node, info, false)) {
        event->setDropAction(Qt::CopyAction);
        event->accept();
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
    info.name = row.node->name.empty() ? QStringLiteral("(empty)") : displayName(row.node->name);
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
        typeNavigation_.reset();
        navigate(*node);
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
