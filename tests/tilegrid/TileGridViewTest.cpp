// The real grid widget, offscreen, over a real database and command stack,
// with real files (tags in extended attributes, the real Trash) under the
// test's temporary home.
#include <gtest/gtest.h>

// The model's headers first: their emitters' member "emit" must be seen
// before Qt's keyword macro of that name.
#include "commands/CommandHarness.h"
#include "library/TreeNames.h"

#include <QAccessible>
#include <QApplication>
#include <QDesktopServices>
#include <QCompleter>
#include <QDragEnterEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QScrollBar>
#include <QAbstractItemView>
#include <QTest>
#include <QTextDocument>
#include <QToolTip>

#include <deque>
#include <functional>
#include <map>
#include <thread>

#include "desktop/AccessibleEvents.h"
#include "desktop/FileDragData.h"
#include "desktop/TextContrast.h"
#include "desktop/ThumbnailService.h"
#include "tilegrid/AddTagPrompt.h"
#include "tilegrid/TileGridAccessible.h"
#include "tilegrid/TileGridScrollState.h"
#include "tilegrid/TileGridView.h"

namespace qm::test {
namespace {

// Thumbnails that arrive only when the test says so.
struct SlowThumbnails {
    struct Request {
        std::string path;
        std::shared_ptr<ThumbnailRequestState> state;
        bool delivered = false;
    };
    std::deque<Request> requests;

    TileGridView::ThumbnailRequester requester() {
        return [this](const std::string& path, ThumbnailCallback done) {
            auto state = std::make_shared<ThumbnailRequestState>(std::move(done));
            requests.push_back({path, state});
            return ThumbnailRequest(state);
        };
    }
    // Delivers a coloured square for the request of a path (the callback
    // posts to the main queue; the caller decides when that runs).
    bool deliver(const std::string& path, QColor color = Qt::red) {
        for (auto& r : requests)
            if (r.path == path && !r.state->isCancelled() && !r.delivered) {
                QImage img(256, 256, QImage::Format_ARGB32);
                img.fill(color);
                r.delivered = true;
                r.state->deliver(ThumbnailResult{img, ThumbnailResult::Origin::decoded});
                return true;
            }
        return false;
    }
    size_t live() const {
        size_t n = 0;
        for (auto& r : requests) n += !r.state->isCancelled() && !r.delivered;
        return n;
    }
};

// An AVI whose main header gives 25 frames of 120 ms: 3 seconds.
std::string aviBytes() {
    std::string b = "RIFF";
    b += std::string("\x00\x10\x00\x00", 4);
    b += "AVI LIST";
    b += std::string("\xC0\x00\x00\x00", 4);
    b += "hdrlavih";
    b += std::string("\x38\x00\x00\x00", 4);
    b += std::string("\xC0\xD4\x01\x00", 4);  // 120000 microseconds per frame
    b += std::string(12, '\0');
    b += std::string("\x19\x00\x00\x00", 4);  // 25 frames
    b += std::string(100, '\0');
    return b;
}

// Runs Qt's events and the main queue until the condition holds.
bool waitFor(const std::function<bool()>& ok) {
    for (int i = 0; i < 2000 && !ok(); ++i) {
        QApplication::processEvents();
        mainQueue().runPending();
        if (!ok()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return ok();
}

QPalette darkTheme() {
    QPalette p;
    for (auto group : {QPalette::Active, QPalette::Inactive}) {
        p.setColor(group, QPalette::Base, QColor("#2d2d2d"));
        p.setColor(group, QPalette::Window, QColor("#353535"));
        p.setColor(group, QPalette::AlternateBase, QColor("#353535"));
        p.setColor(group, QPalette::Text, QColor("#eeeeec"));
        p.setColor(group, QPalette::WindowText, QColor("#eeeeec"));
        p.setColor(group, QPalette::Highlight, QColor("#15539e"));
        p.setColor(group, QPalette::HighlightedText, QColor("#ffffff"));
    }
    return p;
}

struct Grid : CommandHarness {
    SlowThumbnails thumbs;
    std::unique_ptr<TileGridView> view;

    // Names under the tiles are off unless asked for, so that the grid is the
    // plain square one; none leaves them as the settings say.
    void makeView(int width = 600, int height = 400, std::optional<bool> names = false) {
        auto& cache = TileGridView::tileContentsCache();
        cache.clear();
        view = std::make_unique<TileGridView>(window, nullptr);
        if (names) view->setShowsFileNames(*names);
        // Metadata read inline, so that a delivery is on the main queue at once.
        ThumbnailScheduler::Backend backend;
        backend.request = thumbs.requester();
        backend.runInBackground = [](std::function<void()> job) { job(); };
        view->setThumbnailBackend(std::move(backend));
        view->show();
        // The viewport is what the layout measures; size the widget around it.
        QSize frame = view->size() - view->viewport()->size();
        view->resize(width + frame.width(), height + frame.height());
        view->updateTiles();
    }
    ~Grid() { view.reset(); }

    std::vector<QuickString> mapFiles(size_t n, const std::string& prefix = "/nowhere/f") {
        std::vector<QuickString> out;
        out.reserve(n);
        char buf[32];
        for (size_t i = 0; i < n; ++i) {
            std::snprintf(buf, sizeof buf, "%07zu.jpg", i);
            out.push_back(QuickString::bytes(prefix + buf));
        }
        return out;
    }
    void showMap(std::vector<QuickString> files) {
        window->setMapResults(std::move(files));
        window->setCurrentNode({mapSectionName()});
    }
    // The folder's node, read as its sidebar row reads it, made current.
    void showFolder(const fs::path& dir) {
        std::optional<QuickString> folder = nodeNameForFolder(dir.string());
        ASSERT_TRUE(folder);
        db->openDirectories({*folder});
        mainQueue().runUntil([&] { return !db->isUpdatingDirectories(); }, CommandHarness::timeout);
        window->setCurrentNode(nodePathForFullName(*folder));
    }
    void scroll(int y) { view->verticalScrollBar()->setValue(y); }
    QPoint center(size_t i) {
        TileGridLayout l = view->computeLayout();
        TileCell c = l.cell(i);
        return QPoint(int(c.x + c.side / 2), int(c.y + c.side / 2 - view->verticalScrollBar()->value()));
    }
    QPoint corner(size_t i, bool right) {
        TileGridLayout l = view->computeLayout();
        TileCell c = l.cell(i);
        return QPoint(int(right ? c.right() - 10 : c.x + 10), int(c.y + 10 - view->verticalScrollBar()->value()));
    }
    void click(QPoint p, Qt::KeyboardModifiers m = {}) { QTest::mouseClick(view->viewport(), Qt::LeftButton, m, p); }
    void key(Qt::Key k, Qt::KeyboardModifiers m = {}) { QTest::keyClick(view.get(), k, m); }
    std::vector<std::string> selected() {
        std::vector<std::string> out;
        for (auto& p : window->currentSelection()) out.emplace_back(p.utf8());
        std::sort(out.begin(), out.end());
        return out;
    }
    std::string name(const fs::path& p) { return p.string(); }
    // Delivers a thumbnail for every request, those the deliveries start included.
    void deliverAll(QColor color = Qt::red) {
        for (size_t k = 0; k < thumbs.requests.size(); ++k) {
            thumbs.deliver(thumbs.requests[k].path, color);
            mainQueue().runPending();
        }
    }
};

TEST(TileGridView, UpdatePassBindsOnlyTheRowsNearTheScreen) {
    Grid g;
    g.load();
    g.makeView(600, 400);
    g.showMap(g.mapFiles(100));
    TileGridLayout l = g.view->computeLayout();
    ASSERT_EQ(l.columns, 4);
    // The first 16 requests went to the visible rows, the top row first.
    ASSERT_EQ(g.thumbs.requests.size(), 16u);
    EXPECT_EQ(g.thumbs.requests[0].path, "/nowhere/f0000003.jpg");
    EXPECT_EQ(g.thumbs.requests[3].path, "/nowhere/f0000000.jpg");
    EXPECT_EQ(g.thumbs.requests[4].path, "/nowhere/f0000007.jpg");
    for (size_t i = 0; i < 12; ++i) EXPECT_LT(g.thumbs.requests[i].path, "/nowhere/f0000012.jpg");
    for (size_t i = 12; i < 16; ++i) EXPECT_LT(g.thumbs.requests[i].path, "/nowhere/f0000016.jpg");
    EXPECT_EQ(g.view->verticalScrollBar()->maximum(), 25 * 150 - 400);
    // Top: visible rows 0..2 and one screen below (to 800: rows 0..5).
    EXPECT_EQ(g.view->placedCount(), 6u * 4);
    g.scroll(1000);
    // Visible 1000..1400, prepared 600..1800: rows 4..11.
    EXPECT_EQ(g.view->placedCount(), 8u * 4);
    EXPECT_LE(g.view->tilePool().boundCount(), l.tileCapacity(400));
    EXPECT_LE(g.view->requestsInFlight(), TileGridView::kMaxConcurrentRequests);
    g.scroll(0);
    EXPECT_EQ(g.view->placedCount(), 24u);

    // A width below 1 (collapsed pane) leaves the tiles alone.
    g.view->resize(0, 400);
    g.view->updateTiles();
    EXPECT_EQ(g.view->verticalScrollBar()->maximum(), 0);

    // An empty node: no tiles, no height, no keyboard focus (the map node
    // keeps it: Escape removes its circle).
    g.view->resize(700, 500);
    g.window->setMapResults(std::vector<QuickString>{});
    EXPECT_EQ(g.view->placedCount(), 0u);
    EXPECT_EQ(g.view->verticalScrollBar()->maximum(), 0);
    EXPECT_EQ(g.view->focusPolicy(), Qt::StrongFocus);
    g.window->setCurrentNode(P({"Tags"}));
    EXPECT_EQ(g.view->focusPolicy(), Qt::NoFocus);
}

TEST(TileGridView, ScrollingAHundredThousandFilesKeepsTheTileBound) {
    Grid g;
    g.load();
    g.makeView(600, 400);
    g.showMap(g.mapFiles(100000));
    TileGridLayout l = g.view->computeLayout();
    const size_t bound = l.tileCapacity(400);
    const int max = g.view->verticalScrollBar()->maximum();
    ASSERT_EQ(max, 25000 * 150 - 400);
    auto check = [&](int y) {
        g.scroll(y);
        ASSERT_LE(g.view->tilePool().tileCount(), bound) << y;
        ASSERT_LE(g.view->tilePool().boundCount(), bound) << y;
        ASSERT_LE(g.view->requestsInFlight(), TileGridView::kMaxConcurrentRequests);
        ASSERT_EQ(size_t(g.view->requestsInFlight()), g.thumbs.live()) << y;
    };
    for (int y = 0; y < 200000; y += 90) check(y);   // steady scrolling
    for (int y = max; y > max - 20000; y -= 170) check(y);
    for (int i = 0; i < 400; ++i) check(int((uint64_t(i) * 7919 * 15485863) % uint64_t(max)));  // jumps
    // Every tile placed shows the file of its own cell.
    g.scroll(123456);
    TileGridLayout now = g.view->computeLayout();
    size_t placed = 0;
    for (size_t i = 0; i < now.count(); ++i)
        if (g.view->tilePool().find(now.paths[i])) ++placed;
    EXPECT_GE(placed, g.view->placedCount());
}

TEST(TileGridView, RecycledTileNeverShowsThePreviousFilesThumbnail) {
    Grid g;
    g.load();
    fs::path movie = g.file("movie.avi", "", aviBytes());
    g.makeView(600, 400);
    std::vector<QuickString> files = g.mapFiles(2000, (g.root / "f").string());
    files[0] = QuickString::bytes(movie.string());
    g.showMap(files);
    // The movie's thumbnail finishes on a worker; its hand-over to the main
    // queue has not run when the tile is recycled and bound to another file.
    QuickString m = QuickString::bytes(movie.string());
    QuickString f1 = files[1];
    ASSERT_TRUE(g.thumbs.deliver(movie.string()));
    g.scroll(30000);
    g.scroll(60000);  // every tile of the first rows now shows another file
    EXPECT_FALSE(g.view->tilePool().find(m));
    mainQueue().runPending();
    auto showsNothing = [&] {
        TileGridLayout l = g.view->computeLayout();
        for (const QuickString& p : l.paths)
            if (g.view->tileShowsContents(p) || g.view->tileDuration(p) || !g.view->tileImage(p).isNull()) return false;
        return true;
    };
    EXPECT_TRUE(showsNothing());
    EXPECT_FALSE(TileGridView::tileContentsCache().contains(m));  // dropped, not cached
    // Not yet delivered when recycled: the request was cancelled, so a late
    // completion cannot arrive.
    EXPECT_FALSE(g.thumbs.deliver(std::string(f1.utf8())));
    EXPECT_EQ(size_t(g.view->requestsInFlight()), g.thumbs.live());
    g.scroll(0);
    mainQueue().runPending();
    EXPECT_FALSE(g.view->tileShowsContents(m));
    EXPECT_FALSE(g.view->tileShowsContents(f1));
    // The new requests for the first row complete normally, once the
    // requests still running for the rows bound further down make room.
    for (int guard = 0; !g.thumbs.deliver(movie.string(), Qt::blue); ++guard) {
        ASSERT_LT(guard, 100);
        for (auto& r : g.thumbs.requests)
            if (!r.delivered && !r.state->isCancelled()) {
                g.thumbs.deliver(r.path);
                break;
            }
        mainQueue().runPending();
    }
    mainQueue().runPending();
    EXPECT_TRUE(g.view->tileShowsContents(m));
    EXPECT_EQ(g.view->tileDuration(m), 3.0);
    EXPECT_EQ(g.view->tileImage(m).pixelColor(5, 5), QColor(Qt::blue));
    EXPECT_TRUE(TileGridView::tileContentsCache().contains(m));
    // Other tiles of the first screen carry no duration.
    EXPECT_FALSE(g.view->tileDuration(f1));
    EXPECT_LE(g.view->requestsInFlight(), TileGridView::kMaxConcurrentRequests);
    EXPECT_EQ(size_t(g.view->requestsInFlight()), g.thumbs.live());
    // Scrolling away and back without eviction shows the cached image at once.
    size_t before = g.thumbs.requests.size();
    g.scroll(300);
    g.scroll(0);
    EXPECT_EQ(g.thumbs.requests.size(), before);
    EXPECT_TRUE(g.view->tileShowsContents(m));
    // And the pixels: the blue thumbnail fills the movie's tile.
    QImage shot = g.view->viewport()->grab().toImage();
    EXPECT_EQ(shot.pixelColor(g.center(0)), QColor(Qt::blue));
}

TEST(TileGridView, ClicksKeysStarAndDeleteThroughTheCommandStack) {
    Grid g;
    fs::path a = g.root / "a.jpg", b = g.root / "b.jpg", c = g.root / "c.jpg";
    g.file("a.jpg", "Holiday");
    g.file("b.jpg", "Holiday");
    g.file("c.jpg", "Holiday,Work");
    g.load({{a, {"Holiday"}}, {b, {"Holiday"}}, {c, {"Holiday", "Work"}}});
    g.makeView(600, 400);
    g.window->setCurrentNode(P({"Tags", "Holiday"}));
    ASSERT_EQ(g.view->computeLayout().count(), 3u);

    g.click(g.center(0));
    EXPECT_EQ(g.selected(), std::vector<std::string>{a.string()});
    g.click(g.center(2), Qt::ShiftModifier);
    EXPECT_EQ(g.selected(), (std::vector<std::string>{a.string(), b.string(), c.string()}));
    g.click(g.center(1), Qt::ControlModifier);
    EXPECT_EQ(g.selected(), (std::vector<std::string>{a.string(), c.string()}));
    g.key(Qt::Key_Escape);
    EXPECT_TRUE(g.selected().empty());
    g.key(Qt::Key_Right);
    EXPECT_EQ(g.selected(), std::vector<std::string>{a.string()});
    g.key(Qt::Key_Right, Qt::ShiftModifier);
    EXPECT_EQ(g.selected(), (std::vector<std::string>{a.string(), b.string()}));
    g.key(Qt::Key_Right);
    g.key(Qt::Key_Right);  // the last tile stays
    EXPECT_EQ(g.selected(), std::vector<std::string>{c.string()});
    g.key(Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(g.selected().size(), 3u);

    // Check zone: check-box mode, toggling.
    g.click(QPoint(0, 0) + g.corner(1, false));
    EXPECT_TRUE(g.view->isUsingCheckBoxes());
    g.click(g.center(1));  // a selected tile leaves on mouse-up
    EXPECT_EQ(g.selected(), (std::vector<std::string>{a.string(), c.string()}));

    // The star zone stars through an undoable command, selection untouched.
    g.click(g.center(2));
    g.key(Qt::Key_Escape);
    g.click(g.center(0));  // check-box mode over: a plain click
    auto before = g.selected();
    g.click(g.corner(1, true));
    EXPECT_EQ(g.selected(), before);
    EXPECT_EQ(rawTags(b), "Holiday,★");
    EXPECT_TRUE(g.tree().starsNode()->resolvedPaths().contains(Q(b.string())));
    EXPECT_EQ(g.undoTitles().back(), "Star File");
    g.click(g.corner(1, true));  // starred: unstar
    EXPECT_EQ(rawTags(b), "Holiday");
    g.stack().undo();
    EXPECT_EQ(rawTags(b), "Holiday,★");
    g.stack().undo();
    EXPECT_EQ(rawTags(b), "Holiday");

    // Delete in a tag node untags the selected files of the node.
    g.click(g.center(0));
    g.click(g.center(2), Qt::ControlModifier);
    g.key(Qt::Key_Delete);
    EXPECT_EQ(rawTags(a), "<none>");
    EXPECT_EQ(rawTags(c), "Work");
    EXPECT_EQ(g.listed(P({"Tags", "Holiday"})), std::vector<std::string>{b.string()});
    g.stack().undo();
    EXPECT_EQ(rawTags(a), "Holiday");
    EXPECT_EQ(rawTags(c), "Holiday,Work");
    EXPECT_EQ(g.listed(P({"Tags", "Holiday"})).size(), 3u);
}

TEST(TileGridView, DeleteInAFolderMovesToTheTrashAndUndoRestores) {
    Grid g;
    fs::path a = g.file("pics/a.jpg"), b = g.file("pics/b.jpg");
    g.load();
    g.makeView(600, 400);
    g.showFolder(g.root / "pics");
    ASSERT_EQ(g.view->computeLayout().count(), 2u);
    g.click(g.center(1));
    g.key(Qt::Key_Delete);
    EXPECT_FALSE(fs::exists(b));
    EXPECT_TRUE(fs::exists(a));
    g.stack().undo();
    EXPECT_TRUE(fs::exists(b));
    // Delete on the map node does nothing.
    g.showMap({Q(a.string())});
    g.click(g.center(0));
    g.key(Qt::Key_Delete);
    EXPECT_TRUE(fs::exists(a));
}

TEST(TileGridView, DragOutEscapesUrisAndADropTagsExactlyThoseFiles) {
    Grid g;
    std::vector<std::string> odd{"a b.jpg", "x#y.png", "50%.gif", "line\nbreak.txt", std::string("caf\xE9.jpg")};
    std::vector<fs::path> files;
    for (const auto& n : odd) files.push_back(g.file(n));
    fs::path other = g.file("other.jpg");
    fs::path tagged = g.file("in.jpg", "Trip");
    g.load({{tagged, {"Trip"}}});
    g.makeView(600, 400);

    std::vector<QuickString> paths;
    for (auto& f : files) paths.push_back(Q(f.string()));
    std::unique_ptr<QMimeData> data(FileDragData::forPaths(paths));
    QByteArray list = data->data("text/uri-list");
    const std::string root = "file://" + g.root.string() + "/";
    EXPECT_EQ(list.toStdString(), root + "a%20b.jpg\r\n" + root + "x%23y.png\r\n" + root + "50%25.gif\r\n" + root +
                                      "line%0Abreak.txt\r\n" + root + "caf%E9.jpg\r\n");
    // Qt's own reading of the list finds five local files.
    EXPECT_EQ(data->urls().size(), 5);

    // Onto the tag node: exactly those five are tagged, nothing else.
    g.window->setCurrentNode(P({"Tags", "Trip"}));
    ASSERT_TRUE(g.view->canDrop(data.get()));
    ASSERT_TRUE(g.view->performDrop(FileDragData::dropInfo(*data)));
    for (auto& f : files) EXPECT_EQ(rawTags(f), "Trip") << f;
    EXPECT_EQ(rawTags(other), "<none>");
    EXPECT_EQ(g.listed(P({"Tags", "Trip"})).size(), 6u);
    // The map node refuses drops.
    g.window->setCurrentNode({mapSectionName()});
    EXPECT_FALSE(g.view->canDrop(data.get()));
    EXPECT_FALSE(g.view->performDrop(FileDragData::dropInfo(*data)));

    // Dragging the selection takes the selected tiles in display order,
    // including one scrolled far away.
    std::vector<QuickString> many = g.mapFiles(5000);
    g.showMap(many);
    g.window->setCurrentSelection({many[4999], many[1], many[0]});
    EXPECT_EQ(g.view->draggedPaths(), (std::vector<QuickString>{many[0], many[1], many[4999]}));
}

std::vector<std::string> menuTexts(QMenu* menu) {
    std::vector<std::string> out;
    for (QAction* a : menu->actions()) {
        std::string t = a->isSeparator() ? "--" : a->text().toStdString();
        if (a->isChecked()) t += " [x]";
        if (!a->isSeparator() && !a->isEnabled()) t = "(" + t + ")";
        out.push_back(t);
    }
    return out;
}

TEST(TileGridView, ContextMenusOfTagFolderAndMapNodes) {
    Grid g;
    fs::path a = g.file("trip/a.jpg", "Trip,★");
    fs::path b = g.file("trip/b.jpg", "Trip,Best");
    g.index.add({a.string(), std::vector<std::string>{"Trip", "★"}, 48.8534, 2.3488});
    g.load({{b, {"Trip", "Best"}}});
    g.index.gpsQuery()->finish();
    ASSERT_TRUE(mainQueue().runUntil([&] { return !g.tree().mapNode()->resolvedPaths().empty(); },
                                     CommandHarness::timeout));
    g.makeView(600, 400);
    std::string rel = (g.root / "trip").string().substr(homeDirectoryWithSlash().size());

    g.window->setCurrentNode(P({"Tags", "Trip"}));
    EXPECT_EQ(g.view->makeContextMenu(QPoint(590, 390)), nullptr);  // outside every tile
    std::unique_ptr<QMenu> menu(g.view->makeContextMenu(g.center(0)));
    ASSERT_TRUE(menu);
    EXPECT_EQ(g.selected(), std::vector<std::string>{a.string()});  // the clicked tile only
    EXPECT_EQ(menuTexts(menu.get()),
              (std::vector<std::string>{"Show in File Manager", "Open File", "Add Tag…", "Remove from Tag", "--",
                                        "(Jump to Folder:)", rel, "--", "(Jump to Tag:)", "Trip [x]", "--",
                                        "(Jump to Map:)", "48.85340, 2.34880"}));
    // The place name replaces the coordinates once the offline geocoder answers.
    QAction* place = menu->actions().back();
    ASSERT_TRUE(mainQueue().runUntil([&] { return place->text() != "48.85340, 2.34880"; },
                                     CommandHarness::timeout));
    EXPECT_EQ(place->text().toStdString(), "Paris, Île-de-France, France");

    g.window->setCurrentSelection({Q(a.string()), Q(b.string())});
    menu.reset(g.view->makeContextMenu(g.center(1)));
    EXPECT_EQ(menuTexts(menu.get()),
              (std::vector<std::string>{"Show in File Manager", "Open Files", "Add Tag…", "Remove from Tag", "--",
                                        "(Jump to Folder:)", rel, "--", "(Jump to Tag:)", "Best", "Trip [x]"}));

    // A folder node: Move to Trash, no folder section.
    QuickString folder = *nodeNameForFolder((g.root / "trip").string());
    g.db->openDirectories({folder});
    mainQueue().runUntil([&] { return !g.db->isUpdatingDirectories(); }, CommandHarness::timeout);
    g.window->setCurrentNode(nodePathForFullName(folder));
    g.window->setCurrentSelection({});
    menu.reset(g.view->makeContextMenu(g.center(1)));
    ASSERT_TRUE(menu);
    EXPECT_EQ(menuTexts(menu.get()), (std::vector<std::string>{"Show in File Manager", "Open File", "Add Tag…", "Move to Trash",
                                                               "--", "(Jump to Tag:)", "Best", "Trip"}));

    // The map node: a folder section; with two files no map section, with the
    // located one alone the place name at once from the cache.
    g.showMap({Q(a.string()), Q(b.string())});
    g.window->setCurrentSelection({Q(a.string()), Q(b.string())});
    menu.reset(g.view->makeContextMenu(g.center(0)));
    EXPECT_EQ(menuTexts(menu.get()).size(), 10u);
    g.window->setCurrentSelection({Q(a.string())});
    menu.reset(g.view->makeContextMenu(g.center(0)));
    EXPECT_EQ(menuTexts(menu.get()).back(), "Paris, Île-de-France, France");

    // Jumps go up to the window as requests.
    std::vector<std::pair<std::string, size_t>> reveals;
    QObject::connect(g.view.get(), &TileGridView::revealRequested,
                     [&](NodePath node, QuickStringSet files, Qt::KeyboardModifiers) {
                         reveals.emplace_back(std::string(fullNameForNodePath(node).utf8()), files.size());
                     });
    for (QAction* act : menu->actions())
        if (act->text().toStdString() == rel || act->text() == "Trip") act->trigger();
    EXPECT_EQ(reveals, (std::vector<std::pair<std::string, size_t>>{{std::string(folder.utf8()), 1},
                                                                    {"Tags/Trip", 1}}));
}

// The keyboard's way to tag files: the menu's "Add Tag…" prompt, driven by
// key presses, checked against the files' extended attributes.
TEST(TileGridView, AddTagPromptTagsTheSelectedFilesInOneUndoableCommand) {
    Grid g;
    fs::path a = g.file("trip/a.jpg", "Trip"), b = g.file("trip/b.jpg", "Trip,Work/2024");
    g.load({{a, {"Trip"}}, {b, {"Trip", "Work/2024"}}});
    g.makeView(600, 400);
    g.window->setCurrentNode(P({"Tags", "Trip"}));
    g.window->setCurrentSelection({Q(a.string()), Q(b.string())});

    std::unique_ptr<QMenu> menu(g.view->makeContextMenu(g.center(0)));
    ASSERT_TRUE(menu);
    QAction* item = menu->actions()[2];
    ASSERT_EQ(item->text(), "Add Tag…");
    item->trigger();
    auto* prompt = qobject_cast<AddTagPrompt*>(QApplication::activeModalWidget());
    ASSERT_TRUE(prompt);
    EXPECT_EQ(prompt->windowModality(), Qt::WindowModal);
    EXPECT_EQ(prompt->findChild<QLabel*>()->text(), "Enter the tag to add to the 2 selected files:");
    EXPECT_EQ(prompt->addButton()->text(), "Add Tag");
    EXPECT_TRUE(QTest::qWaitFor([&] { return prompt->lineEdit()->hasFocus(); }));

    // Completion over the existing tags and labels, a level at a time.
    auto offered = [&] {
        QStringList out;
        for (int i = 0; i < prompt->completer()->completionCount(); ++i) {
            prompt->completer()->setCurrentRow(i);
            out << prompt->completer()->currentCompletion();
        }
        return out;
    };
    QTest::keyClicks(prompt->lineEdit(), "wo");
    EXPECT_EQ(offered(), QStringList{"Work"});
    QTest::keyClicks(prompt->lineEdit(), "rk / 2");
    EXPECT_EQ(offered(), QStringList{"Work/2024"});
    prompt->lineEdit()->clear();
    QTest::keyClicks(prompt->lineEdit(), "r");
    EXPECT_EQ(offered(), QStringList{"Red"});
    prompt->completer()->popup()->hide();
    prompt->lineEdit()->clear();

    // Levels are trimmed and empty ones dropped; one command tags both.
    QTest::keyClicks(prompt->lineEdit(), " Plans / /Next ");
    QTest::keyClick(prompt->lineEdit(), Qt::Key_Return);
    EXPECT_TRUE(prompt->isHidden());
    EXPECT_EQ(rawTags(a), "Plans/Next,Trip");
    EXPECT_EQ(rawTags(b), "Plans/Next,Trip,Work/2024");
    EXPECT_EQ(g.listed(P({"Tags", "Plans", "Next"})), (std::vector<std::string>{a.string(), b.string()}));
    EXPECT_EQ(g.undoTitles(), std::vector<std::string>{"Tag 2 Files"});
    g.stack().undo();
    EXPECT_EQ(rawTags(a), "Trip");
    EXPECT_EQ(rawTags(b), "Trip,Work/2024");
    EXPECT_EQ(g.listed(P({"Tags", "Plans", "Next"})), std::vector<std::string>{"<missing>"});

    // A file that has the tag already is left out, so undoing keeps its tag.
    prompt = g.view->promptToAddTag();
    ASSERT_TRUE(prompt);
    QTest::keyClicks(prompt->lineEdit(), "Work/2024");
    prompt->completer()->popup()->hide();
    QTest::keyClick(prompt->lineEdit(), Qt::Key_Return);
    EXPECT_EQ(rawTags(a), "Trip,Work/2024");
    EXPECT_EQ(g.undoTitles().back(), "Tag File");
    g.stack().undo();
    EXPECT_EQ(rawTags(a), "Trip");
    EXPECT_EQ(rawTags(b), "Trip,Work/2024");

    // A comma is refused in the sidebar's words; nothing changes.
    const size_t undos = g.undoTitles().size();
    prompt = g.view->promptToAddTag();
    ASSERT_TRUE(prompt);
    QTest::keyClicks(prompt->lineEdit(), "Plans, Next");
    QTest::keyClick(prompt->lineEdit(), Qt::Key_Return);
    auto* refusal = g.view->findChild<QMessageBox*>("tileGridTagRefusal");
    ASSERT_TRUE(refusal);
    EXPECT_EQ(refusal->text(), "The tag name cannot contain a \",\" character");
    refusal->close();
    EXPECT_EQ(g.undoTitles().size(), undos);
    EXPECT_EQ(rawTags(a), "Trip");

    // Escape cancels; one file's prompt names it.
    g.window->setCurrentSelection({Q(a.string())});
    prompt = g.view->promptToAddTag();
    ASSERT_TRUE(prompt);
    EXPECT_EQ(prompt->findChild<QLabel*>()->text(), "Enter the tag to add to the file \"a.jpg\":");
    QTest::keyClicks(prompt->lineEdit(), "Never");
    QTest::keyClick(prompt->lineEdit(), Qt::Key_Escape);
    EXPECT_TRUE(prompt->isHidden());
    EXPECT_TRUE(QTest::qWaitFor([&] { return g.view->hasFocus(); }));  // the keyboard comes back
    EXPECT_EQ(rawTags(a), "Trip");
    EXPECT_EQ(g.undoTitles().size(), undos);

    // Without a selection there is nothing to tag.
    g.window->setCurrentSelection({});
    EXPECT_EQ(g.view->promptToAddTag(), nullptr);
}

TEST(TileGridView, ScrollStateRevealAndNodeChanges) {
    Grid g;
    g.load();
    g.makeView(600, 400);
    auto files = g.mapFiles(1000);
    g.showMap(files);
    g.scroll(1510);
    std::any state = g.view->scrollState();
    auto* s = std::any_cast<TileGridScrollState>(&state);
    ASSERT_TRUE(s);
    EXPECT_EQ(s->firstVisiblePath, files[40]);  // row 10 of 4 columns
    EXPECT_DOUBLE_EQ(s->scrollOffset, 10);
    g.window->setCurrentNode(P({"Tags"}));  // another node: back to the top
    EXPECT_EQ(g.view->verticalScrollBar()->value(), 0);
    g.showMap(files);
    EXPECT_EQ(g.view->verticalScrollBar()->value(), 0);
    g.view->setScrollState(state);
    EXPECT_EQ(g.view->verticalScrollBar()->value(), 1510);
    g.view->setScrollState(std::any(42));  // foreign: ignored
    g.view->setScrollState(TileGridScrollState{Q("/gone"), 3});
    EXPECT_EQ(g.view->verticalScrollBar()->value(), 1510);
    // Reselecting the same node keeps the position.
    g.window->setCurrentNode({mapSectionName()});
    EXPECT_EQ(g.view->verticalScrollBar()->value(), 1510);

    // Reveal centres the files and selects them a moment later.
    g.view->revealPaths({mapSectionName()}, {files[800]});
    int y = g.view->verticalScrollBar()->value();
    EXPECT_EQ(y, 200 * 150 - (400 - 150) / 2);
    EXPECT_TRUE(QTest::qWaitFor([&] { return g.window->currentSelection().contains(files[800]); }));
}

TEST(TileGridView, TilesAreAccessibleWithoutAnObjectPerFile) {
    Grid g;
    g.load();
    g.makeView(600, 400);
    auto files = g.mapFiles(100000);
    g.showMap(files);
    g.window->setCurrentSelection({files[1]});
    QAccessibleInterface* grid = QAccessible::queryAccessibleInterface(g.view.get());
    ASSERT_TRUE(grid);
    EXPECT_EQ(grid->role(), QAccessible::List);
    EXPECT_EQ(grid->childCount(), 100000);
    QAccessibleInterface* second = grid->child(1);
    ASSERT_TRUE(second);
    EXPECT_EQ(second->role(), QAccessible::ListItem);
    EXPECT_EQ(second->text(QAccessible::Name), "f0000001.jpg");
    EXPECT_TRUE(second->state().selected);
    EXPECT_FALSE(second->state().offscreen);
    EXPECT_EQ(grid->indexOfChild(second), 1);
    EXPECT_EQ(second->parent(), grid);
    EXPECT_TRUE(grid->child(5000)->state().offscreen);
    QRect r = grid->child(5)->rect();
    EXPECT_EQ(grid->childAt(r.center().x(), r.center().y())->text(QAccessible::Name), "f0000005.jpg");
    for (int i = 0; i < 3000; ++i) ASSERT_TRUE(grid->child(i * 30));
    EXPECT_LE(static_cast<TileGridAccessible*>(grid)->keptTiles(), TileGridAccessible::kKeptTiles);
}

TEST(TileGridView, SpaceOpensThePreviewWhoseArrowsMoveTheSelection) {
    Grid g;
    QImage img(64, 48, QImage::Format_RGB32);
    img.fill(Qt::green);
    fs::path a = g.root / "a.png", b = g.root / "b.txt";
    g.file("b.txt", "Look", "some words");
    g.file("a.png", "Look");
    ASSERT_TRUE(img.save(QString::fromStdString(a.string())));
    g.load({{a, {"Look"}}, {b, {"Look"}}});
    g.makeView(600, 400);
    g.window->setCurrentNode(P({"Tags", "Look"}));
    g.key(Qt::Key_Right);
    g.key(Qt::Key_Space);
    ASSERT_TRUE(g.view->preview());
    EXPECT_TRUE(g.view->preview()->isVisible());
    EXPECT_TRUE(QTest::qWaitFor([&] { return g.view->preview()->mode() == "image"; }));
    EXPECT_EQ(g.view->preview()->file(), a.string());
    // Arrows in the panel go to the grid; the panel follows the selection.
    QTest::keyClick(g.view->preview(), Qt::Key_Right);
    EXPECT_EQ(g.selected(), std::vector<std::string>{b.string()});
    EXPECT_TRUE(QTest::qWaitFor([&] { return g.view->preview()->mode() == "info"; }));
    EXPECT_EQ(g.view->preview()->file(), b.string());
    // Two files: nothing to preview.
    g.key(Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(g.view->preview()->mode(), "empty");
    // Another node closes it.
    g.window->setCurrentNode(P({"Tags"}));
    EXPECT_FALSE(g.view->preview()->isVisible());
}

TEST(TileGridView, HoverShowsAnEmptyCheckBoxAndStar) {
    Grid g;
    fs::path a = g.file("a.jpg", "Mark"), b = g.file("b.jpg", "Mark,★");
    g.load({{a, {"Mark"}}, {b, {"Mark", "★"}}});
    g.makeView(600, 400);
    g.window->setCurrentNode(P({"Tags", "Mark"}));
    g.view->setDrawsAsFocused(true);
    auto pixel = [&](QPoint p) { return g.view->viewport()->grab().toImage().pixelColor(p); };
    TileGridLayout l = g.view->computeLayout();
    const QPoint checkInside(7 + 8, 7 + 8);                  // inside the check box
    const QPoint starCentre(int(l.tileSize) - 15, 15);       // the star's centre
    const QColor empty = pixel(checkInside);
    QTest::mouseMove(g.view->viewport(), g.center(0));
    EXPECT_EQ(pixel(checkInside), QColor(Qt::white));       // empty check box
    EXPECT_EQ(pixel(starCentre), QColor(Qt::white));        // empty (white) star
    // Over the starred tile: the real star, no empty one.
    QTest::mouseMove(g.view->viewport(), g.center(1));
    EXPECT_EQ(pixel(checkInside), empty);
    EXPECT_EQ(pixel(starCentre + QPoint(int(l.tileSize), 0)).rgb(), qRgb(255, 191, 64));
    // A selected tile is covered by the selection colour.
    g.click(g.center(0) + QPoint(20, 20));
    QColor selected = pixel(g.center(0) + QPoint(20, 20));
    EXPECT_NE(selected, empty);
    g.view->setDrawsAsFocused(false);
    EXPECT_NE(pixel(g.center(0) + QPoint(20, 20)), selected);  // grey when the grid is not focused
}

// Receives what the grid opens through QDesktopServices instead of the desktop.
class OpenedUrls : public QObject {
    Q_OBJECT

public:
    QStringList urls;
public Q_SLOTS:
    void open(const QUrl& url) { urls << QString::fromLatin1(url.toEncoded()); }
};

TEST(TileGridView, DoubleClickReturnAndMenuOpenTheSelectedFiles) {
    Grid g;
    fs::path a = g.file("one two.jpg", "Open"), b = g.file("50%.jpg", "Open");
    g.load({{a, {"Open"}}, {b, {"Open"}}});
    g.makeView(600, 400);
    g.window->setCurrentNode(P({"Tags", "Open"}));
    OpenedUrls opened;
    QDesktopServices::setUrlHandler("file", &opened, "open");
    const QString root = QString::fromStdString("file://" + g.root.string() + "/");
    g.click(g.center(1));
    QMouseEvent dbl(QEvent::MouseButtonDblClick, QPointF(g.center(1)), g.view->viewport()->mapToGlobal(QPointF(g.center(1))),
                    Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(g.view->viewport(), &dbl);
    EXPECT_EQ(opened.urls, QStringList{root + "one%20two.jpg"});
    g.key(Qt::Key_A, Qt::ControlModifier);
    g.key(Qt::Key_Return);
    EXPECT_EQ(opened.urls.size(), 3);
    std::unique_ptr<QMenu> menu(g.view->makeContextMenu(g.center(0)));
    ASSERT_TRUE(menu);
    menu->actions()[1]->trigger();  // "Open Files"
    EXPECT_EQ(opened.urls, (QStringList{root + "one%20two.jpg", root + "50%25.jpg", root + "one%20two.jpg",
                                        root + "50%25.jpg", root + "one%20two.jpg"}));
    QDesktopServices::unsetUrlHandler("file");
}

TEST(TileGridView, ManyFilesOpenOnlyAfterTheUserSaysSo) {
    Grid g;
    std::vector<std::pair<fs::path, std::vector<std::string>>> tagged;
    for (int i = 0; i < 30; ++i) tagged.push_back({g.file("p" + std::to_string(i) + ".jpg", "Many"), {"Many"}});
    g.load(tagged);
    g.makeView(600, 400);
    g.window->setCurrentNode(P({"Tags", "Many"}));
    OpenedUrls opened;
    QDesktopServices::setUrlHandler("file", &opened, "open");
    g.key(Qt::Key_A, Qt::ControlModifier);
    ASSERT_EQ(g.selected().size(), 30u);
    // Return, Ctrl+O and a double click over 30 selected files: a question, no opener.
    g.key(Qt::Key_Return);
    ASSERT_TRUE(g.view->openConfirmation());
    EXPECT_TRUE(opened.urls.isEmpty());
    g.view->openConfirmation()->reject();
    QApplication::processEvents();
    EXPECT_TRUE(opened.urls.isEmpty());
    QMouseEvent dbl(QEvent::MouseButtonDblClick, QPointF(g.center(3)), g.view->viewport()->mapToGlobal(QPointF(g.center(3))),
                    Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(g.view->viewport(), &dbl);
    g.key(Qt::Key_O, Qt::ControlModifier);  // one question at a time
    QMessageBox* box = g.view->openConfirmation();
    ASSERT_TRUE(box);
    EXPECT_TRUE(opened.urls.isEmpty());
    QAbstractButton* openButton = nullptr;
    for (QAbstractButton* b : box->buttons())
        if (box->buttonRole(b) == QMessageBox::AcceptRole) openButton = b;
    ASSERT_TRUE(openButton);
    openButton->click();
    EXPECT_EQ(opened.urls.size(), 30);
    QApplication::processEvents();
    EXPECT_FALSE(g.view->openConfirmation());
    QDesktopServices::unsetUrlHandler("file");
}

TEST(TileGridView, RevealIntoAFolderNotReadYetScrollsToTheFilesOnceListed) {
    Grid g;
    g.load();
    g.makeView(600, 400);
    std::vector<fs::path> files;
    for (int i = 0; i < 80; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "unread/IMG_%03d.jpg", i);
        files.push_back(g.file(name));
    }
    auto folder = nodeNameForFolder((g.root / "unread").string());
    ASSERT_TRUE(folder);
    const QuickString target = Q(files[70].string());
    g.view->revealPaths(nodePathForFullName(*folder), {target});
    // Row 17 of 4 columns, in the middle of a 400-pixel view.
    // The folder pass runs on the main queue, the selection timer on Qt's.
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            mainQueue().runPending();
            return g.view->verticalScrollBar()->value() == 17 * 150 - (400 - 150) / 2;
        },
        10000))
        << g.view->verticalScrollBar()->value();
    EXPECT_TRUE(QTest::qWaitFor([&] { return g.window->currentSelection() == QuickStringSet{target}; }));
    EXPECT_TRUE(g.view->tilePool().find(target));
}

TEST(TileGridView, DropsFromOtherProgramsOntoAFolderMoveOrCopyAsAskedAndSayWhichHappened) {
    Grid g;
    fs::path kept = g.file("pics/kept.jpg");
    fs::path a = g.file("elsewhere/a.jpg", "", "a"), b = g.file("elsewhere/b.jpg", "", "b"),
             c = g.file("elsewhere/c.jpg", "", "c");
    g.load();
    g.makeView(600, 400);
    g.showFolder(g.root / "pics");
    ASSERT_EQ(g.view->computeLayout().count(), 1u);

    // The drag as another program offers it, with the modifiers held at the drop.
    auto drop = [&](const fs::path& file, Qt::DropActions offered, Qt::DropAction proposed,
                    Qt::KeyboardModifiers mods) {
        std::unique_ptr<QMimeData> data(FileDragData::forPaths({Q(file.string())}));
        QDragEnterEvent enter(QPoint(300, 200), offered, data.get(), Qt::LeftButton, mods);
        QApplication::sendEvent(g.view->viewport(), &enter);
        EXPECT_TRUE(enter.isAccepted());
        const Qt::DropAction shown = enter.dropAction();
        QDropEvent event(QPointF(300, 200), offered, data.get(), Qt::LeftButton, mods);
        event.setDropAction(proposed);
        QApplication::sendEvent(g.view->viewport(), &event);
        EXPECT_TRUE(event.isAccepted());
        // What the pointer showed is what happened.
        EXPECT_EQ(shown, event.dropAction());
        return event.dropAction();
    };
    const fs::path pics = g.root / "pics";
    // Ctrl copies; the source hears "copy" and its file stays.
    EXPECT_EQ(drop(a, Qt::CopyAction | Qt::MoveAction, Qt::CopyAction, Qt::ControlModifier), Qt::CopyAction);
    EXPECT_EQ(readFile(a), "a");
    EXPECT_EQ(readFile(pics / "a.jpg"), "a");
    // No modifier, one file system: moved, and the source hears "move".
    EXPECT_EQ(drop(b, Qt::CopyAction | Qt::MoveAction, Qt::CopyAction, {}), Qt::MoveAction);
    EXPECT_FALSE(fs::exists(b));
    EXPECT_EQ(readFile(pics / "b.jpg"), "b");
    // A source that offers only a copy: copied, even with Shift.
    EXPECT_EQ(drop(c, Qt::CopyAction, Qt::CopyAction, Qt::ShiftModifier), Qt::CopyAction);
    EXPECT_EQ(readFile(c), "c");
    EXPECT_EQ(readFile(pics / "c.jpg"), "c");
    EXPECT_EQ(g.statuses.back(), "Copied File");
}

TEST(TileGridView, DragOverATagNodeOutlinesTheGrid) {
    Grid g;
    fs::path a = g.file("a.jpg", "Drop"), loose = g.file("loose.jpg");
    g.load({{a, {"Drop"}}});
    g.makeView(600, 400);
    g.window->setCurrentNode(P({"Tags", "Drop"}));
    auto edge = [&] { return g.view->viewport()->grab().toImage().pixelColor(598, 200); };
    const QColor before = edge();
    std::unique_ptr<QMimeData> data(FileDragData::forPaths({Q(loose.string())}));
    QDragEnterEvent enter(QPoint(300, 200), Qt::CopyAction | Qt::MoveAction, data.get(), Qt::LeftButton, {});
    QApplication::sendEvent(g.view->viewport(), &enter);
    EXPECT_TRUE(enter.isAccepted());
    EXPECT_NE(edge(), before);
    QDragLeaveEvent leave;
    QApplication::sendEvent(g.view->viewport(), &leave);
    EXPECT_EQ(edge(), before);
    EXPECT_TRUE(g.view->performDrop(FileDragData::dropInfo(*data)));
    EXPECT_EQ(rawTags(loose), "Drop");
    // The grid's own files dragged over itself: refused, so no outline.
    std::unique_ptr<QMimeData> own(FileDragData::forPaths({Q(a.string()), Q(loose.string())}));
    QDragEnterEvent ownEnter(QPoint(300, 200), Qt::CopyAction | Qt::MoveAction, own.get(), Qt::LeftButton, {});
    QApplication::sendEvent(g.view->viewport(), &ownEnter);
    EXPECT_FALSE(ownEnter.isAccepted());
    EXPECT_EQ(edge(), before);
    EXPECT_FALSE(g.view->performDrop(FileDragData::dropInfo(*own)));
    // Without file URLs: refused.
    QMimeData text;
    text.setText("hello");
    QDragEnterEvent refused(QPoint(300, 200), Qt::CopyAction, &text, Qt::LeftButton, {});
    QApplication::sendEvent(g.view->viewport(), &refused);
    EXPECT_FALSE(refused.isAccepted());
}

}  // namespace
}  // namespace qm::test

namespace qm::test {
namespace {

// For a developer's eyes: the grid over the files of $QM_SHOWCASE_DIR with
// real thumbnails, written as light.png and dark.png to $QM_SHOWCASE_OUT.
// Run with --gtest_also_run_disabled_tests (under Xvfb to watch it).
// The colours of a strip of the screen, most frequent first.
std::vector<std::pair<QRgb, int>> histogram(const QImage& shot, QRect area) {
    std::map<QRgb, int> counts;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x) ++counts[shot.pixel(x, y) | 0xff000000u];
    std::vector<std::pair<QRgb, int>> out(counts.begin(), counts.end());
    std::sort(out.begin(), out.end(), [](auto& a, auto& b) { return a.second > b.second; });
    return out;
}

// The strongest contrast any pixel of the area makes with the area's
// background (its most frequent colour), and how many pixels reach 3:1.
std::pair<double, int> textContrast(const QImage& shot, QRect area) {
    auto h = histogram(shot, area);
    const QColor background = QColor::fromRgb(h.front().first);
    double best = 1;
    int strong = 0;
    for (auto& [rgb, n] : h) {
        double r = TextContrast::ratio(QColor::fromRgb(rgb), background);
        best = std::max(best, r);
        if (r >= 3) strong += n;
    }
    return {best, strong};
}

TEST(TileGridView, NamesUnderTheTilesFollowTheSettingAndReadInLightAndDarkThemes) {
    Grid g;
    std::vector<std::pair<fs::path, std::vector<std::string>>> tagged;
    for (int i = 0; i < 40; ++i) {
        char buf[64];
        std::snprintf(buf, sizeof buf, "IMG_2024%04d_rather_long_name.jpg", i);
        tagged.push_back({g.file(buf, "Look"), {"Look"}});
    }
    g.load(tagged);
    g.makeView(600, 400, std::nullopt);  // as the settings say: on until turned off
    g.window->setCurrentNode(P({"Tags", "Look"}));
    ASSERT_TRUE(g.view->showsFileNames());
    TileGridLayout l = g.view->computeLayout();
    // The pictures keep the size they have without names; the rows grow by the strip.
    EXPECT_EQ(l.columns, 4);
    EXPECT_EQ(l.tileSize, 150);
    const double strip = l.captionHeight;
    EXPECT_GE(strip, QFontMetricsF(g.view->font()).height());
    EXPECT_EQ(l.cell(4).y, 150 + strip);
    EXPECT_EQ(g.view->verticalScrollBar()->maximum(), int(std::ceil(10 * (150 + strip) - 400)));
    g.deliverAll();
    const int s = int(strip);
    const QRect below(0, 150, 150, s);  // tile 0's strip
    auto shot = [&] { return g.view->viewport()->grab().toImage(); };

    QImage light = shot();
    EXPECT_EQ(light.pixelColor(75, 140), QColor(Qt::red));  // the picture ends where the strip begins
    auto colours = histogram(light, below);
    EXPECT_EQ(QColor::fromRgb(colours.front().first), g.view->palette().color(QPalette::Base));
    for (auto& [rgb, n] : colours) EXPECT_NE(QColor::fromRgb(rgb), QColor(Qt::red));
    auto [lightBest, lightInk] = textContrast(light, below);
    EXPECT_GE(lightBest, TextContrast::minimumRatio);
    EXPECT_GT(lightInk, 30);  // the name's letters, not a stray pixel
    // The name is darker than the background in a light theme, lighter in a dark one.
    auto inkGrey = [&](const QImage& shot, bool darkest) {
        int grey = darkest ? 255 : 0;
        for (auto& [rgb, n] : histogram(shot, below)) grey = darkest ? std::min(grey, qGray(rgb)) : std::max(grey, qGray(rgb));
        return grey;
    };
    EXPECT_LT(inkGrey(light, true), 100);

    g.view->setPalette(darkTheme());
    QImage dark = shot();
    EXPECT_EQ(QColor::fromRgb(histogram(dark, below).front().first), QColor("#2d2d2d"));
    auto [darkBest, darkInk] = textContrast(dark, below);
    EXPECT_GE(darkBest, TextContrast::minimumRatio);
    EXPECT_GT(darkInk, 30);
    EXPECT_GT(inkGrey(dark, false), 180);

    // Selected: the strip carries the selection, the name still reads.
    g.view->setDrawsAsFocused(true);
    g.click(g.center(0));
    ASSERT_EQ(g.selected().size(), 1u);
    for (const QPalette& palette : {QPalette(), darkTheme()}) {
        g.view->setPalette(palette);
        QImage chosen = shot();
        EXPECT_NE(QColor::fromRgb(histogram(chosen, below).front().first), palette.color(QPalette::Base));
        EXPECT_GE(textContrast(chosen, below).first, TextContrast::minimumRatio);
    }
    g.view->setPalette(QPalette());

    // The accessible tile covers picture and name, and is still named by the file.
    QAccessibleInterface* grid = QAccessible::queryAccessibleInterface(g.view.get());
    ASSERT_TRUE(grid);
    EXPECT_EQ(grid->child(0)->text(QAccessible::Name), QStringLiteral("IMG_20240000_rather_long_name.jpg"));
    EXPECT_EQ(grid->child(0)->rect().height(), 150 + s);

    // Names off: the square grid, with the first visible file kept at the top.
    g.scroll(int(l.rowTop(2)) + 10);
    g.view->setShowsFileNames(false);
    TileGridLayout plain = g.view->computeLayout();
    EXPECT_EQ(plain.captionHeight, 0);
    EXPECT_EQ(plain.cell(4), (TileCell{0, 150, 150}));
    EXPECT_EQ(g.view->verticalScrollBar()->maximum(), 10 * 150 - 400);
    auto anchor = plain.scrollAnchor(g.view->verticalScrollBar()->value());
    ASSERT_TRUE(anchor);
    EXPECT_EQ(anchor->index, 8u);
    EXPECT_EQ(anchor->offset, 10);
    g.scroll(0);
    g.deliverAll();
    EXPECT_EQ(shot().pixelColor(75, 150 + s / 2), QColor(Qt::red));  // the next row's picture, not a name
    EXPECT_EQ(grid->child(0)->rect().height(), 150);
}

TEST(TileGridView, TypingInTheGridSelectsTheFileWhoseNameStartsWithIt) {
    Grid g;
    std::vector<std::pair<fs::path, std::vector<std::string>>> tagged;
    for (int i = 0; i < 80; ++i) {
        char buf[32];
        std::snprintf(buf, sizeof buf, "a%02d.jpg", i);
        tagged.push_back({g.file(buf, "Zoo"), {"Zoo"}});
    }
    fs::path zebra = g.file("Zebra stripes.jpg", "Zoo"), zero = g.file("zero.png", "Zoo");
    tagged.push_back({zebra, {"Zoo"}});
    tagged.push_back({zero, {"Zoo"}});
    g.load(tagged);
    g.makeView(600, 400, true);
    g.window->setCurrentNode(P({"Tags", "Zoo"}));
    g.view->setFocus();
    QTest::keyClicks(g.view.get(), "ze");
    EXPECT_EQ(g.selected(), std::vector<std::string>{zebra.string()});
    // Scrolled into view, name strip and all.
    TileGridLayout l = g.view->computeLayout();
    TileCell c = l.cell(*l.indexOf(Q(zebra.string())));
    const int top = g.view->verticalScrollBar()->value();
    EXPECT_GE(c.y, top);
    EXPECT_LE(c.bottom(), top + 400);
    QTest::keyClicks(g.view.get(), "r");
    EXPECT_EQ(g.selected(), std::vector<std::string>{zero.string()});
    // Shortcuts are not typing: Ctrl+A selects everything.
    g.key(Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(g.selected().size(), 82u);
    // Escape clears the selection and the pattern: "a" finds the first file.
    g.key(Qt::Key_Escape);
    EXPECT_TRUE(g.selected().empty());
    QTest::keyClicks(g.view.get(), "a0");
    EXPECT_EQ(g.selected(), std::vector<std::string>{(g.root / "a00.jpg").string()});
    EXPECT_EQ(g.view->verticalScrollBar()->value(), 0);
}

TEST(TileGridView, TooltipsNameTheFileAndGiveItsFolderSizeDateTagsAndDuration) {
    Grid g;
    fs::path photo = g.file("Trip <b>photo & co.jpg", "Trips/Rome,Family", std::string(4321, 'x'));
    fs::path movie = g.file("clip.avi", "Family", aviBytes());
    g.load({{photo, {"Trips/Rome", "Family"}}, {movie, {"Family"}}});
    g.makeView(600, 400, true);
    g.window->setCurrentNode(P({"Tags", "Family"}));
    g.deliverAll();
    TileGridLayout l = g.view->computeLayout();
    auto hover = [&](QPoint at) {
        QHelpEvent help(QEvent::ToolTip, at, g.view->viewport()->mapToGlobal(at));
        QApplication::sendEvent(g.view->viewport(), &help);
    };
    auto shown = [] {
        QTextDocument doc;
        doc.setHtml(QToolTip::text());
        return doc.toPlainText();
    };
    const size_t photoIndex = *l.indexOf(Q(photo.string()));
    const size_t movieIndex = *l.indexOf(Q(movie.string()));
    hover(g.center(photoIndex));
    ASSERT_TRUE(waitFor([&] { return QToolTip::isVisible() && shown().contains(QStringLiteral("Size:")); }))
        << shown().toStdString();
    const QString text = shown();
    EXPECT_TRUE(text.startsWith(QStringLiteral("Trip <b>photo & co.jpg\n"))) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("Folder: ") + QString::fromStdString(g.root.string())));
    EXPECT_TRUE(text.contains(QLocale().toString(qulonglong(fs::file_size(photo))) + QStringLiteral(" bytes")));
    EXPECT_TRUE(text.contains(QStringLiteral("Modified: ")));
    EXPECT_TRUE(text.contains(QStringLiteral("Tags: Family, Trips/Rome"))) << text.toStdString();
    EXPECT_FALSE(text.contains(QStringLiteral("Duration:")));
    // The movie's playing time, once its metadata is read; over its name strip too.
    TileCell c = l.cell(movieIndex);
    hover(QPoint(int(c.x + c.side / 2), int(c.y + c.side + c.captionHeight / 2)));
    ASSERT_TRUE(waitFor([&] { return shown().startsWith(QStringLiteral("clip.avi")) && shown().contains(QStringLiteral("Size:")); }));
    EXPECT_TRUE(shown().contains(QStringLiteral("Duration: 0:03"))) << shown().toStdString();
    // Past the last file: no tooltip.
    hover(QPoint(590, 390));
    EXPECT_TRUE(waitFor([] { return !QToolTip::isVisible(); }));
}

TEST(TileGridView, DISABLED_Showcase) {
    const char* dir = std::getenv("QM_SHOWCASE_DIR");
    const char* out = std::getenv("QM_SHOWCASE_OUT");
    ASSERT_TRUE(dir && out);
    Grid g;
    std::vector<std::pair<fs::path, std::vector<std::string>>> tagged;
    for (auto& e : fs::directory_iterator(dir)) {
        fs::path p = g.root / e.path().filename();
        fs::copy_file(e.path(), p);
        std::string tags = e.path().filename().string().starts_with("img1") ? "Show,★" : "Show";
        setRawTags(p, tags);
        tagged.push_back({p, tags == "Show" ? std::vector<std::string>{"Show"}
                                            : std::vector<std::string>{"Show", "★"}});
    }
    g.load(tagged);
    mainQueue().setWaker([] {
        QMetaObject::invokeMethod(qApp, [] { mainQueue().runPending(); }, Qt::QueuedConnection);
    });
    auto service = std::make_shared<ThumbnailService>();
    auto view = std::make_unique<TileGridView>(g.window, service);
    view->resize(760, 480);
    view->show();
    g.window->setCurrentNode(P({"Tags", "Show"}));
    TileGridLayout l = view->computeLayout();
    (void)QTest::qWaitFor([&] {
        for (const QuickString& p : view->computeLayout().paths)
            if (!view->tileShowsContents(p)) return false;
        return true;
    }, 20000);
    g.window->setCurrentSelection({l.paths[1], l.paths[2]});
    view->setFocus();
    view->setDrawsAsFocused(true);
    QTest::mouseMove(view->viewport(), QPoint(int(l.tileSize * 3.5), int(l.tileSize * 0.5)));
    QTest::qWait(200);
    view->grab().save(QString::fromUtf8(out) + "/light.png");
    QPalette dark;
    dark.setColor(QPalette::Window, QColor(45, 45, 45));
    dark.setColor(QPalette::Base, QColor(30, 30, 30));
    dark.setColor(QPalette::AlternateBase, QColor(60, 60, 60));
    dark.setColor(QPalette::Text, Qt::white);
    dark.setColor(QPalette::Highlight, QColor(42, 130, 218));
    qApp->setStyle("Fusion");
    qApp->setPalette(dark);
    view->verticalScrollBar()->setValue(int(l.tileSize * 2.5));
    (void)QTest::qWaitFor([&] {
        for (const QuickString& p : view->computeLayout().paths)
            if (!view->tileShowsContents(p)) return false;
        return true;
    }, 20000);
    QTest::qWait(200);
    view->grab().save(QString::fromUtf8(out) + "/dark.png");
    if (std::getenv("QM_SHOWCASE_WAIT")) QTest::qWait(std::atoi(std::getenv("QM_SHOWCASE_WAIT")));
    view.reset();
    mainQueue().setWaker({});
}

}  // namespace
}  // namespace qm::test


namespace qm::test {
namespace {

TEST(TileGridView, AccessibleTilesFollowTheLayoutDescribeActivateAndAnnounce) {
    Grid g;
    const std::string star(starString().utf8());
    fs::path starred = g.file("movie.mp4", star);
    g.load({{starred, {star}}});
    g.makeView(600, 400);
    QApplication::setActiveWindow(g.view.get());
    g.view->setFocus();
    auto files = g.mapFiles(10000);
    files[3] = QuickString::bytes(starred.string());
    g.showMap(files);
    auto basename = [](const QuickString& p) {
        std::string_view s = p.utf8();
        return QString::fromUtf8(s.substr(s.rfind('/') + 1));
    };
    QAccessibleInterface* grid = QAccessible::queryAccessibleInterface(g.view.get());
    ASSERT_TRUE(grid);

    // Scrolling through all 10,000 files: the tiles on the screen, found by
    // their place, carry the names of the layout's files there.
    const int max = g.view->verticalScrollBar()->maximum();
    ASSERT_GT(max, 100000);
    for (int y = 0; y <= max; y += 7919) {
        g.scroll(y);
        TileGridLayout l = g.view->computeLayout();
        auto first = l.indexAt(1, y + 1);
        ASSERT_TRUE(first);
        for (size_t i = *first; i < std::min(*first + 12, files.size()); ++i) {
            QAccessibleInterface* tile = grid->child(int(i));
            ASSERT_EQ(tile->text(QAccessible::Name), basename(files[i]));
            QRect r = tile->rect();
            ASSERT_EQ(grid->childAt(r.center().x(), r.center().y()), tile) << i;
        }
    }
    // Another list: the same index never keeps the old file's name.
    QAccessibleInterface* before = grid->child(5);
    EXPECT_EQ(before->text(QAccessible::Name), basename(files[5]));
    std::vector<QuickString> reversed(files.rbegin(), files.rend());
    g.showMap(reversed);
    EXPECT_EQ(grid->child(5)->text(QAccessible::Name), basename(reversed[5]));
    g.showMap(files);
    g.scroll(0);

    // The description: starred, the duration and panorama as they are known.
    FileMetadata metadata;
    metadata.duration = 83;
    metadata.gpano = GPano{};
    TileGridView::tileContentsCache().set(files[3], TileContents{QImage(), metadata});
    EXPECT_EQ(grid->child(3)->text(QAccessible::Description), "starred, 1:23, panorama");
    EXPECT_EQ(grid->child(2)->text(QAccessible::Description), "");

    // Keys move the focus, and the new focused tile is announced.
    std::vector<std::pair<QAccessible::Event, int>> events;
    AccessibleEvents::setObserver([&](QAccessibleEvent* e) { events.emplace_back(e->type(), e->child()); });
    g.click(g.center(1));
    ASSERT_TRUE(g.view->hasFocus());
    events.clear();
    g.key(Qt::Key_Right);
    EXPECT_EQ(g.selected(), std::vector<std::string>{std::string(files[2].utf8())});
    EXPECT_NE(std::find(events.begin(), events.end(), std::pair(QAccessible::SelectionWithin, -1)), events.end());
    EXPECT_NE(std::find(events.begin(), events.end(), std::pair(QAccessible::Focus, 2)), events.end());
    EXPECT_TRUE(grid->child(2)->state().focused);
    EXPECT_FALSE(grid->child(1)->state().focused);
    // Shift extends; both are selected, the focus is on the last one.
    g.key(Qt::Key_Right, Qt::ShiftModifier);
    EXPECT_TRUE(grid->child(2)->state().selected);
    EXPECT_TRUE(grid->child(3)->state().focused);
    AccessibleEvents::setObserver(nullptr);

    // Shift+F10 and the Menu key open the focused tile's menu and keep the selection.
    g.key(Qt::Key_F10, Qt::ShiftModifier);
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    ASSERT_TRUE(menu);
    EXPECT_FALSE(menu->actions().isEmpty());
    menu->close();
    EXPECT_EQ(g.selected().size(), 2u);
    g.key(Qt::Key_Menu);
    menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    ASSERT_TRUE(menu);
    menu->close();

    // Activating a tile selects it alone and opens it.
    OpenedUrls opened;
    QDesktopServices::setUrlHandler(QStringLiteral("file"), &opened, "open");
    grid->child(3)->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
    EXPECT_EQ(g.selected(), std::vector<std::string>{starred.string()});
    ASSERT_EQ(opened.urls.size(), 1u);
    EXPECT_EQ(QUrl(opened.urls[0]).toLocalFile().toStdString(), starred.string());
}

}  // namespace
}  // namespace qm::test

#include "TileGridViewTest.moc"
