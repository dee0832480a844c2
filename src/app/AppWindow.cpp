#include "app/AppWindow.h"

#include <QAction>
#include <QApplication>
#include <QPushButton>
#include <QLabel>
#include <QMessageBox>
#include <QTabWidget>
#include <QToolBar>
#include <QVBoxLayout>

#include <algorithm>

#include "app/AppDelegate.h"
#include "app/BrowserFrame.h"
#include "app/RenameConflictText.h"
#include "app/RootView.h"
#include "commands/BrowserState.h"
#include "commands/CommandStack.h"
#include "commands/StateArchive.h"
#include "tilegrid/TileGridView.h"
#include "library/DB.h"

namespace qm {

AppWindow::AppWindow(AppDelegate& delegate, QWidget* parent)
    : QWidget(parent), delegate_(delegate), state_(BrowserState::create(delegate.context())) {
    setObjectName("appWindow");
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    toolbar_ = new QToolBar(QStringLiteral("tools"), this);
    toolbar_->setObjectName("tools");
    toolbar_->setToolButtonStyle(Qt::ToolButtonIconOnly);
    toolbar_->setIconSize(QSize(16, 16));
    toolbar_->setMovable(false);
    sidebarAction_ = toolbar_->addAction(AppDelegate::icon("view-sidebar"), QStringLiteral("Show or Hide Sidebar"));
    sidebarAction_->setObjectName("toggleSidebar");
    toolbar_->addSeparator();
    backAction_ = toolbar_->addAction(AppDelegate::icon("go-previous"), QStringLiteral("Back"));
    backAction_->setObjectName("Back");
    backAction_->setToolTip(QStringLiteral("Back"));
    backAction_->setEnabled(false);
    forwardAction_ = toolbar_->addAction(AppDelegate::icon("go-next"), QStringLiteral("Forward"));
    forwardAction_->setObjectName("Forward");
    forwardAction_->setToolTip(QStringLiteral("Forward"));
    forwardAction_->setEnabled(false);
    layout->addWidget(toolbar_);

    rootView_ = new RootView(*this, this);
    layout->addWidget(rootView_, 1);

    connect(backAction_, &QAction::triggered, this, [this] { state_->navigateHistory(HistoryDirection::back); });
    connect(forwardAction_, &QAction::triggered, this,
            [this] { state_->navigateHistory(HistoryDirection::forward); });
    connect(sidebarAction_, &QAction::triggered, rootView_, &RootView::toggleSidebar);
    connect(rootView_, &RootView::sidebarLayoutChanged, this, &AppWindow::restorableStateInvalidated);
    connect(rootView_, &RootView::revealRequested, this,
            [this](const NodePath& node, const QuickStringSet& selection, Qt::KeyboardModifiers modifiers) {
                revealTarget({RevealTarget::Files{fullNameForNodePath(node), selection}}, true, modifiers);
            });
    connect(rootView_, &RootView::revealLocationRequested, this,
            [this](double longitude, double latitude, Qt::KeyboardModifiers modifiers) {
                revealTarget({RevealTarget::Location{longitude, latitude}}, true, modifiers);
            });

    // The state's hooks; the state never outlives its use by this window
    // (panes hold it too, but they are this window's children).
    state_->captureScrollState = [this] { return rootView_->captureScrollState(); };
    state_->restoreScrollState = [this](const HistoryScrollState& s) { rootView_->restoreScrollState(s); };
    state_->invalidateRestorableState = [this] { Q_EMIT restorableStateInvalidated(); };
    state_->historyButtonsChanged = [this](bool canGoBack, bool canGoForward) {
        backAction_->setEnabled(canGoBack);
        forwardAction_->setEnabled(canGoForward);
    };
    state_->titleChanged = [this] { updateTitle(); };
    // What had the focus while this tab was in front gets it back when the
    // tab returns. Only moves within the tab count: focus arriving from
    // elsewhere is Qt passing it on as tabs switch, not the person's choice.
    focusTracking_ = connect(qApp, &QApplication::focusChanged, this, [this](QWidget* old, QWidget* now) {
        const bool fromThisTab = old && (old == this || isAncestorOf(old));
        if (fromThisTab && now && now != this && isAncestorOf(now) && now->isVisible()) lastFocused_ = now;
    });
    state_->renameConflictAlert = [this](const NodePtr& target, const DropInfo& drop,
                                         const std::vector<std::pair<std::string, std::string>>& renames) {
        renameConflictAlert(target, drop, renames);
    };
    updateTitle();
}

AppWindow::~AppWindow() {
    // The children go after this body; focus moves while they do are not ours to track.
    disconnect(focusTracking_);
    // Nothing may call back into a window that is gone.
    state_->captureScrollState = nullptr;
    state_->restoreScrollState = nullptr;
    state_->invalidateRestorableState = nullptr;
    state_->historyButtonsChanged = nullptr;
    state_->titleChanged = nullptr;
    state_->renameConflictAlert = nullptr;
}

// ---- Restoration ----

AppWindowState AppWindow::encodeRestorableState() const {
    // Until the library has loaded, the window shows its defaults; what it
    // will show is the archived state, and that is what a write keeps.
    if (initialState_ && loadingSubscription_.isActive()) return *initialState_;
    AppWindowState out;
    out.currentNode = state_->currentNode();
    // A start restores no more than this; the rest would only make the file
    // too large to read back (selecting all of a huge library, then quitting).
    const auto& selection = state_->currentSelection();
    out.currentSelection.reserve(std::min(selection.size(), StateArchive::maximumSelectedPathsPerTab));
    for (const QuickString& path : selection) {
        if (out.currentSelection.size() == StateArchive::maximumSelectedPathsPerTab) break;
        out.currentSelection.push_back(path);
    }
    out.isExpanded.assign(state_->isExpanded().begin(), state_->isExpanded().end());
    out.isSidebarVisible = rootView_->isSidebarVisible();
    out.isTileGridViewFocused = rootView_->isTileGridViewFocused();
    out.sidebarThickness = rootView_->sidebarThickness();
    out.scrollState = rootView_->archivedScrollState();
    out.placedCircle = rootView_->archivedPlacedCircle();
    return out;
}

void AppWindow::restoreState(AppWindowState state) {
    initialState_ = std::move(state);
    rootView_->setSidebarThickness(initialState_->sidebarThickness);
    rootView_->setSidebarVisible(initialState_->isSidebarVisible);
    const auto& db = state_->context().db;
    if (!db || db->loadingState() == LoadingState::loaded) {
        applyInitialState();
        return;
    }
    loadingSubscription_ = db->loadingStateChanged.subscribe([this] {
        if (state_->context().db->loadingState() == LoadingState::loaded) applyInitialState();
    });
}

void AppWindow::applyInitialState() {
    // Once: the library's first load. A later reload must not take the user back.
    loadingSubscription_.reset();
    applyInitialStateNow();
}

void AppWindow::applyInitialStateNow() {
    if (!initialState_) return;
    const AppWindowState& s = *initialState_;
    const QuickStringSet selection(s.currentSelection.begin(), s.currentSelection.end());
    QuickStringSet expanded(s.isExpanded.begin(), s.isExpanded.end());
    state_->applyInitialNode(s.currentNode, selection);
    state_->setIsExpanded(std::move(expanded));
    state_->loadExpandedFolders();

    rootView_->restoreArchivedScrollState(s.scrollState);
    rootView_->restorePlacedCircle(s.placedCircle);
    if (s.isTileGridViewFocused) focusPane(rootView_->tileGridView());
}

void AppWindow::focusPane(QWidget* pane) {
    if (!pane) return;
    lastFocused_ = pane;
    // Focus given to a widget of a background tab would leave the tab in front without it.
    BrowserFrame* f = frame();
    if (!f || f->currentWindow() == this) pane->setFocus(Qt::OtherFocusReason);
}

void AppWindow::focusLastFocusedPane() {
    QWidget* target = lastFocused_;
    if (!target || !isAncestorOf(target) || target->isHidden() || !target->isEnabled())
        target = rootView_->defaultFocusPane();
    if (target) {
        focusPane(target);
        return;
    }
    // Nothing to type into yet (the library is loading): the tab itself, so
    // that the keys stay in this window; the grid takes them once it shows.
    setFocus(Qt::OtherFocusReason);
}

BrowserFrame* AppWindow::frame() const {
    for (QWidget* w = parentWidget(); w; w = w->parentWidget())
        if (auto* f = qobject_cast<BrowserFrame*>(w)) return f;
    return nullptr;
}

QString AppWindow::frameTitle() const {
    const QString title = QString::fromStdString(state_->title());
    if (state_->subtitle().empty()) return title;
    return title + QStringLiteral(" - ") + QString::fromStdString(state_->subtitle());
}

void AppWindow::updateTitle() {
    setWindowTitle(frameTitle());
    Q_EMIT titleChanged();
}

void AppWindow::revealTarget(const RevealTarget& target, bool allowNewWindow, Qt::KeyboardModifiers modifiers) {
    if (allowNewWindow && (modifiers & (Qt::ControlModifier | Qt::ShiftModifier))) {
        AppWindow* other = (modifiers & Qt::ControlModifier) ? delegate_.makeWindowInTabOf(this)
                                                             : delegate_.makeWindowInNewFrame(true);
        other->revealTarget(target, false, {});
        // Key and front: a new window that stays hidden would be lost to the user.
        delegate_.makeKeyAndFront(other);
        other->focusPane(other->rootView()->tileGridView());
        return;
    }
    if (const auto* files = std::get_if<RevealTarget::Files>(&target.target)) {
        rootView_->revealPaths(nodePathForFullName(files->fullName), files->paths);
    } else {
        const auto& location = std::get<RevealTarget::Location>(target.target);
        rootView_->revealLocation(location.longitude, location.latitude);
    }
}

void AppWindow::renameConflictAlert(const NodePtr& target, const DropInfo& drop,
                                    const std::vector<std::pair<std::string, std::string>>& renames) {
    const RenameConflictText text = renameConflictText(renames);
    auto* box = new QMessageBox(this);
    box->setObjectName("renameConflictAlert");
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::WindowModal);
    box->setIcon(QMessageBox::Question);
    // File names are shown as written: "<b>x</b>.jpg" is no markup, and the
    // list keeps its line breaks.
    box->setTextFormat(Qt::PlainText);
    box->setText(QString::fromStdString(text.message));
    if (!text.details.empty()) {
        box->setInformativeText(QString::fromStdString(text.details));
        if (auto* details = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_informativelabel")))
            details->setTextFormat(Qt::PlainText);
    }
    QPushButton* rename = box->addButton(QStringLiteral("Rename"), QMessageBox::AcceptRole);
    box->addButton(QStringLiteral("Cancel"), QMessageBox::RejectRole);
    box->setDefaultButton(rename);
    connect(box, &QMessageBox::buttonClicked, this, [this, rename, target, drop](QAbstractButton* button) {
        if (button == static_cast<QAbstractButton*>(rename)) state_->commandStack()->performDrop(target, drop, true);
    });
    box->open();
}

QWidget* AppWindow::keyViewFrom(QWidget* from, bool next) const {
    auto isCandidate = [this](QWidget* w) {
        return w && w != this && isAncestorOf(w) && w->isVisibleTo(const_cast<AppWindow*>(this)) &&
               w->isEnabled() && (w->focusPolicy() & Qt::TabFocus);
    };
    auto isSkipped = [](QWidget* w) { return w->property(skipInKeyViewLoopProperty).toBool(); };
    QWidget* candidate = from ? from : const_cast<AppWindow*>(this);
    QWidget* last = nullptr;
    int steps = 0;
    // The focus chain is a ring through the whole top-level window; at most
    // one lap of it is walked.
    for (int guard = 0; guard < 100000; ++guard) {
        candidate = next ? candidate->nextInFocusChain() : candidate->previousInFocusChain();
        if (!candidate) break;
        // Back where it started: the start itself is the answer unless skipped.
        if (!isCandidate(candidate)) {
            if (candidate == from) break;
            continue;
        }
        last = candidate;
        if (!isSkipped(candidate) || ++steps >= 100) break;
    }
    return last;
}

bool AppWindow::focusNextPrevChild(bool next) {
    QWidget* chosen = keyViewFrom(focusWidget(), next);
    if (chosen) chosen->setFocus(next ? Qt::TabFocusReason : Qt::BacktabFocusReason);
    return true;
}

}  // namespace qm
