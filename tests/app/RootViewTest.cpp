// The root view: the loading message, the content modes, the sidebar and
// the toast, on a real window.

#include <QAction>
#include <QSplitter>

#include "AppHarness.h"
#include "app/LoadingMessageView.h"
#include "app/RootView.h"
#include "app/ToastView.h"
#include "map/MapView.h"
#include "sidebar/SidebarContainer.h"
#include "sidebar/SidebarSearchField.h"
#include "sidebar/SidebarView.h"
#include "tilegrid/TileGridView.h"
#include "commands/TagChangeCommand.h"

namespace qm::test {
namespace {

TEST(RootViewTest, LoadingMessageUntilTheLibraryIsLoaded) {
    AppHarness h;
    AppWindow* w = h.launch();
    ASSERT_TRUE(w);
    RootView* root = w->rootView();
    LoadingMessageView* message = root->loadingMessageView();
    EXPECT_EQ(message->message(), "Loading...");
    EXPECT_FALSE(root->sidebarView()->isVisible());
    EXPECT_FALSE(root->tileGridView()->isVisible());
    EXPECT_FALSE(root->mapView()->isVisible());
    // Centred in the content area.
    EXPECT_EQ(message->textRect().center(), message->rect().center());

    // The first crawl's count shows under the message.
    message->setProgress(12345);
    EXPECT_TRUE(message->message().startsWith("Loading...\n"));
    EXPECT_TRUE(message->message().contains("seen so far"));
    message->setProgress(std::nullopt);

    // The permission text wraps at 460 at most.
    message->setLoadingState(LoadingState::blockedByPermissionPrompt);
    EXPECT_TRUE(message->message().startsWith("You need to grant this app permission"));
    w->frame()->resize(1400, 700);
    EXPECT_LE(message->textRect().width(), 460);
    EXPECT_GT(message->textRect().height(), message->fontMetrics().height());
    // The message is drawn: inside its rectangle some pixels differ from the background.
    const QImage shot = message->grab().toImage();
    const QRect text = message->textRect();
    int inked = 0;
    for (int y = text.top(); y <= text.bottom(); ++y)
        for (int x = text.left(); x <= text.right(); ++x)
            inked += shot.pixel(x, y) != shot.pixel(1, 1);
    EXPECT_GT(inked, 100);
    message->setLoadingState(LoadingState::loading);

    h.load();
    EXPECT_EQ(message->message(), "");
    EXPECT_TRUE(root->sidebarView()->isVisible());
    EXPECT_TRUE(root->tileGridView()->isVisible());
    EXPECT_FALSE(root->mapView()->isVisible());
    EXPECT_EQ(root->tileGridView()->geometry(), message->rect());
}

TEST(RootViewTest, ContentModesOnAndOffTheMap) {
    AppHarness h;
    h.load();
    AppWindow* w = h.launch();
    ASSERT_TRUE(w);
    w->frame()->resize(1200, 800);
    RootView* root = w->rootView();
    QWidget* area = root->loadingMessageView();
    auto& state = *w->state();

    state.setCurrentNode(P({"Map"}));
    EXPECT_EQ(root->tileGridConstraints(), TileGridConstraints::hidden);
    EXPECT_TRUE(root->mapView()->isVisible());
    EXPECT_FALSE(root->tileGridView()->isVisible());
    EXPECT_EQ(root->mapView()->geometry(), area->rect());

    state.setMapResults(std::vector<QuickString>{Q("/x")});
    EXPECT_EQ(root->tileGridConstraints(), TileGridConstraints::partial);
    EXPECT_TRUE(root->tileGridView()->isVisible());
    const QRect panel = root->tileGridView()->geometry();
    EXPECT_EQ(panel.width(), 300);
    EXPECT_EQ(area->width() - panel.right() - 1, 30);
    EXPECT_EQ(area->height() - panel.bottom() - 1, 30);
    EXPECT_EQ(panel.top(), 60);

    // The panel follows the window's size.
    w->frame()->resize(1000, 700);
    EXPECT_EQ(root->tileGridView()->geometry(), tileGridFrame(TileGridConstraints::partial, area->rect()));

    state.setCurrentNode(P({"Tags"}));
    EXPECT_EQ(root->tileGridConstraints(), TileGridConstraints::full);
    EXPECT_FALSE(root->mapView()->isVisible());
    EXPECT_EQ(root->tileGridView()->geometry(), area->rect());
}

TEST(RootViewTest, SidebarKeepsItsWidthAndToggles) {
    AppHarness h;
    h.load();
    AppWindow* w = h.launch();
    ASSERT_TRUE(w);
    RootView* root = w->rootView();
    w->frame()->resize(1200, 700);
    EXPECT_EQ(root->splitView()->sizes().at(0), 250);
    w->frame()->resize(900, 700);
    EXPECT_EQ(root->splitView()->sizes().at(0), 250);

    QTest::keyClick(w->frame(), Qt::Key_F9);
    EXPECT_FALSE(root->isSidebarVisible());
    EXPECT_EQ(root->loadingMessageView()->width(), root->width());
    w->sidebarAction()->trigger();
    EXPECT_TRUE(root->isSidebarVisible());
    EXPECT_EQ(root->splitView()->sizes().at(0), 250);

    // Find brings the sidebar back and focuses its search field.
    root->setSidebarVisible(false);
    QTest::keyClick(w->frame(), Qt::Key_F, Qt::ControlModifier);
    EXPECT_TRUE(root->isSidebarVisible());
    EXPECT_TRUE(root->sidebarView()->searchField()->hasFocus());

    // Hiding the sidebar while it has the keyboard hands it to the files, from
    // the field and from the tree alike.
    for (QWidget* holder : {static_cast<QWidget*>(root->sidebarView()->searchField()),
                            static_cast<QWidget*>(root->sidebarView()->treeView())}) {
        root->setSidebarVisible(true);
        holder->setFocus();
        ASSERT_TRUE(QTest::qWaitFor([&] { return holder->hasFocus(); }));
        QTest::keyClick(w->frame(), Qt::Key_F9);
        EXPECT_FALSE(root->isSidebarVisible());
        EXPECT_EQ(QApplication::focusWidget(), root->tileGridView());
    }
}

TEST(RootViewTest, ToastShowsEachCommandsStatus) {
    AppHarness h;
    fs::path a = h.file("a.txt"), b = h.file("b.txt"), c = h.file("c.txt");
    h.load();
    AppWindow* w = h.launch();
    ASSERT_TRUE(w);
    ToastView* toast = w->rootView()->toastView();
    EXPECT_FALSE(toast->isVisible());

    w->state()->commandStack()->performCommand(tagCommand({a, b, c}, "t"));
    EXPECT_EQ(toast->text(), "Tagged 3 Files");
    EXPECT_TRUE(toast->isVisible());
    EXPECT_TRUE(toast->isShowing());
    const QSize text = toast->fontMetrics().size(0, "Tagged 3 Files");
    EXPECT_EQ(toast->size(), text + QSize(30, 10));
    // Centred, 10 above the bottom.
    const QRect r = toast->geometry();
    EXPECT_EQ(w->rootView()->height() - (r.y() + r.height()), 10);
    EXPECT_LE(std::abs(r.center().x() - w->rootView()->rect().center().x()), 1);

    w->state()->commandStack()->undo();
    EXPECT_EQ(toast->text(), "Untagged 3 Files");
    EXPECT_EQ(toast->size(), toast->fontMetrics().size(0, "Untagged 3 Files") + QSize(30, 10));
    EXPECT_TRUE(toast->isShowing());
}

}  // namespace
}  // namespace qm::test
