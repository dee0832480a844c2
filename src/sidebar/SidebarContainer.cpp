#include "sidebar/SidebarContainer.h"

#include <QKeyEvent>
#include <QSignalBlocker>
#include <QStackedWidget>
#include <QVBoxLayout>

#include <cmath>
#include <variant>

#include "commands/BrowserState.h"
#include "commands/CommandStack.h"
#include "commands/SavedQueryCommand.h"
#include "desktop/FileManagerReveal.h"
#include "library/DB.h"
#include "library/TagExpression.h"
#include "library/Tree.h"
#include "library/TreeNames.h"
#include "sidebar/SidebarResultsView.h"
#include "sidebar/SidebarScrollState.h"
#include "sidebar/SidebarSearchField.h"
#include "sidebar/SidebarView.h"
#include "sidebar/TagSearchIndex.h"
#include "sidebar/TagSearchQuery.h"

namespace qm {

namespace {
constexpr int initialWidth = 250;
constexpr int fieldInset = 3;
// A refresh after a library change walks at most this long per event-loop
// turn, which leaves room in a 5 ms turn for painting the list.
constexpr std::chrono::milliseconds refreshSlice{2};
}  // namespace

SidebarContainer::SidebarContainer(std::shared_ptr<BrowserState> window, QWidget* parent)
    : QWidget(parent), window_(std::move(window)) {
    setObjectName(QStringLiteral("sidebar"));
    resize(initialWidth, height());
    stack_ = new QStackedWidget(this);
    tree_ = new SidebarView(window_, stack_);
    results_ = new SidebarResultsView(window_, stack_);
    stack_->addWidget(tree_);
    stack_->addWidget(results_);
    field_ = new SidebarSearchField(this);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(stack_, 1);
    auto* fieldBox = new QVBoxLayout;
    fieldBox->setContentsMargins(fieldInset, fieldInset, fieldInset, fieldInset);
    fieldBox->addWidget(field_);
    layout->addLayout(fieldBox);
    setFocusProxy(tree_);

    // Every change the person makes, the clear button included; the container's
    // own clearing when it opens a result blocks this.
    connect(field_, &QLineEdit::textChanged, this, [this] { queryUpdate(); });
    connect(results_, &SidebarResultsView::openPathRequested, this, &SidebarContainer::openPathInTree);
    connect(results_, &SidebarResultsView::saveQueryRequested, this, &SidebarContainer::saveQuery);
    connect(tree_, &SidebarView::revealInFileManagerRequested, this, [this](const QList<QByteArray>& paths) {
        std::vector<std::string> bytes;
        for (const QByteArray& p : paths) bytes.emplace_back(p.constData(), size_t(p.size()));
        FileManagerReveal::showItems(bytes);
        Q_EMIT revealInFileManagerRequested(paths);
    });
    field_->installEventFilter(this);
    tree_->installEventFilter(this);
    results_->installEventFilter(this);

    subscriptions_.push_back(window_->currentNodeChanged.subscribe([this] { scrollCurrentRowToVisible(); }));
    // The library changed: the tags to search are collected again. Under a
    // running search that happens in slices between other events, and the
    // search runs again, keeping whatever node the person chose.
    refreshTimer_.setInterval(0);
    connect(&refreshTimer_, &QTimer::timeout, this, &SidebarContainer::refreshStep);
    auto refresh = [this] {
        // Opening the field's query makes or drops only unsaved queries,
        // which take no row and are never searched.
        if (openingQuery_) return;
        index_.reset();
        building_.reset();
        searchPending_ = false;
        refreshTimer_.stop();
        if (results_->results())
            startRefresh(true);
        else if (field_->hasFocus())
            startRefresh(false);
    };
    subscriptions_.push_back(window_->context().db->childrenChanged.subscribe(refresh));
    subscriptions_.push_back(window_->context().db->treeChanged.subscribe(refresh));
    showTree(true);
}

SidebarContainer::~SidebarContainer() = default;

bool SidebarContainer::isShowingTree() const {
    return stack_->currentWidget() == tree_;
}

void SidebarContainer::showTree(bool tree) {
    QWidget* next = tree ? static_cast<QWidget*>(tree_) : results_;
    if (stack_->currentWidget() == next) return;
    bool hadFocus = stack_->currentWidget() && stack_->currentWidget()->hasFocus();
    stack_->setCurrentWidget(next);
    setFocusProxy(next);
    if (hadFocus) next->setFocus();
}

void SidebarContainer::focusSearchField() {
    field_->setFocus(Qt::ShortcutFocusReason);
    field_->selectAll();
}

std::vector<std::string> SidebarContainer::queryTokens() const {
    const QByteArray text = field_->text().toUtf8();
    return TagSearchQuery::tokens(std::string_view(text.constData(), size_t(text.size())));
}

const TagSearchIndex& SidebarContainer::searchIndex() {
    if (!index_) {
        // A collection under way goes on to its end now.
        if (!building_) building_.emplace(*window_->context().db->tree().rootNode());
        building_->step(std::chrono::steady_clock::time_point::max());
        index_ = building_->take();
        building_.reset();
    }
    return *index_;
}

void SidebarContainer::queryUpdate() {
    // The person typed: a search pending after a refresh is for the old text.
    searchPending_ = false;
    std::vector<std::string> tokens = queryTokens();
    std::optional<std::vector<SearchResult>> results;
    SidebarResultsView::QueryRow query;
    if (!tokens.empty()) {
        query = queryRow();
        results = searchIndex().search(tokens);
    }
    if (!building_) refreshTimer_.stop();
    results_->setResults(std::move(results), std::move(query));
    // A current node that is not among the results is cleared, as typing asks.
    if (!window_->currentNode().empty() && !results_->rectForPath(window_->currentNode()))
        window_->setCurrentNode({});
    showTree(field_->text().isEmpty());
}

SidebarResultsView::QueryRow SidebarContainer::queryRow() {
    const QByteArray bytes = field_->text().toUtf8();
    const std::string_view text(bytes.constData(), size_t(bytes.size()));
    SidebarResultsView::QueryRow row;
    auto parsed = TagExpression::parse(text);
    if (auto* error = std::get_if<TagExpression::Error>(&parsed)) {
        if (TagExpression::looksLikeExpression(text)) row.error = error->message();
    } else if (std::get<TagExpression>(parsed).isCompound()) {
        // The node lists its files from now on, so the row's count is live.
        openingQuery_ = true;
        row.node = window_->context().db->openQuery(text);
        openingQuery_ = false;
    }
    return row;
}

void SidebarContainer::saveQuery(const NodePtr& node) {
    if (!node || !node->isQuery()) return;
    const std::string text(node->name.utf8());
    window_->commandStack()->performCommand(std::make_shared<SavedQueryCommand>(text, std::nullopt, text),
                                            node->nodePath());
    // The saved query shows under its section in this window's tree.
    window_->setExpanded(queriesSectionName(), true);
}

void SidebarContainer::startRefresh(bool searchAfter) {
    if (!index_ && !building_) building_.emplace(*window_->context().db->tree().rootNode());
    searchPending_ = searchAfter;
    refreshTimer_.start();
}

void SidebarContainer::refreshStep() {
    if (building_) {
        if (!building_->step(std::chrono::steady_clock::now() + refreshSlice)) return;
        index_ = building_->take();
        building_.reset();
        // The search runs in a turn of its own.
        if (searchPending_) return;
    }
    refreshTimer_.stop();
    if (!searchPending_ || !index_) return;
    searchPending_ = false;
    std::vector<std::string> tokens = queryTokens();
    if (tokens.empty()) return;
    // Only the list changes: the current node stays, even when the change
    // took it out of the results (the grid goes on showing it).
    results_->setResults(index_->search(tokens), results_->queryRow());
}

bool SidebarContainer::isRefreshing() const {
    return building_.has_value() || searchPending_;
}

std::optional<QRectF> SidebarContainer::activeRectForPath(const NodePath& path) const {
    return isShowingTree() ? tree_->rectForPath(path) : results_->rectForPath(path);
}

int SidebarContainer::activeScrollOffset() const {
    return isShowingTree() ? tree_->scrollOffset() : results_->scrollOffset();
}

void SidebarContainer::setActiveScrollOffset(int y) {
    if (isShowingTree())
        tree_->setScrollOffset(y);
    else
        results_->setScrollOffset(y);
}

void SidebarContainer::scrollCurrentRowToVisible() {
    if (isShowingTree())
        tree_->scrollCurrentRowToVisible();
    else
        results_->scrollCurrentRowToVisible();
}

void SidebarContainer::openPathInTree(const NodePath& path) {
    DB& db = *window_->context().db;
    if (NodePtr node = db.tree().lookup(path)) {
        QuickStringSet expanded = window_->isExpanded();
        bool changed = false;
        for (NodePtr up = node->parent(); up && up->parent(); up = up->parent()) {
            if (expanded.contains(up->fullName)) break;
            expanded.insert(up->fullName);
            changed = true;
        }
        if (changed) window_->setIsExpanded(std::move(expanded));
    }
    std::optional<double> offset;
    if (auto rect = activeRectForPath(path)) offset = rect->top() - activeScrollOffset();
    window_->setCurrentNode(path);
    {
        QSignalBlocker quiet(field_);
        field_->clear();
    }
    searchPending_ = false;
    if (!building_) refreshTimer_.stop();
    results_->setResults(std::nullopt);
    showTree(true);
    tree_->setFocus(Qt::OtherFocusReason);
    if (auto rect = tree_->rectForPath(path); rect && offset)
        tree_->setScrollOffset(int(std::lround(rect->top() - *offset)));
    else
        tree_->scrollCurrentRowToVisible();
}

std::any SidebarContainer::scrollState() const {
    auto rect = activeRectForPath(window_->currentNode());
    if (!rect) return {};
    return SidebarScrollState{rect->top() - activeScrollOffset()};
}

void SidebarContainer::setScrollState(const std::any& state) {
    const auto* saved = std::any_cast<SidebarScrollState>(&state);
    if (!saved) return;
    if (auto rect = activeRectForPath(window_->currentNode()))
        setActiveScrollOffset(int(std::lround(rect->top() - saved->relativeScrollOffset)));
}

bool SidebarContainer::routeToActive(QKeyEvent* event) {
    return isShowingTree() ? tree_->handleKeyDown(event) : results_->handleKeyDown(event);
}

bool SidebarContainer::eventFilter(QObject* watched, QEvent* event) {
    // Someone about to search: the tags are collected in slices meanwhile,
    // so that the first key finds them ready.
    if (watched == field_ && event->type() == QEvent::FocusIn && !index_) startRefresh(searchPending_);
    if (event->type() != QEvent::KeyPress) return QWidget::eventFilter(watched, event);
    auto* key = static_cast<QKeyEvent*>(event);
    const Qt::KeyboardModifiers mods = key->modifiers() & ~Qt::KeypadModifier;
    if (key->matches(QKeySequence::Find)) {
        focusSearchField();
        return true;
    }
    if (watched != field_) return QWidget::eventFilter(watched, event);
    // The field's own keys: arrows move in the list, Return opens, Escape clears.
    switch (key->key()) {
    case Qt::Key_Up:
    case Qt::Key_Down: {
        QKeyEvent routed(QEvent::KeyPress, key->key(), mods & Qt::ControlModifier);
        routeToActive(&routed);
        return true;
    }
    case Qt::Key_Return:
    case Qt::Key_Enter: {
        NodePath path = window_->currentNode();
        if (path.empty())
            if (auto first = results_->pathOf(0)) path = *first;
        openPathInTree(path);
        return true;
    }
    case Qt::Key_Escape:
        if (!field_->text().isEmpty()) {
            field_->clear();  // runs the query update at once
        } else {
            stack_->currentWidget()->setFocus(Qt::OtherFocusReason);
        }
        return true;
    default:
        return QWidget::eventFilter(watched, event);
    }
}

}  // namespace qm
