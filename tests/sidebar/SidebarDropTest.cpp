// Drops on the sidebar tree with real QMimeData: tags reparented (and
// refused onto themselves, their parent or their subtags), files tagged with
// the attribute checked on disk, files moved into folders, hover expansion.
#include <gtest/gtest.h>

#include <QDragEnterEvent>
#include <QMimeData>
#include <QTest>

#include "SidebarHarness.h"
#include "core/FileURL.h"
#include "desktop/FileDragData.h"
#include "sidebar/SidebarDragData.h"
#include "sidebar/SidebarView.h"

using namespace qm;
using namespace qm::test;

namespace {

struct DropFixture : SidebarHarness {
    std::unique_ptr<SidebarView> view;
    void open(const std::vector<std::vector<std::string>>& tags) {
        loadTags(tags);
        view = std::make_unique<SidebarView>(window);
        showActive(*view);
    }
    ~DropFixture() { view.reset(); }

    size_t row(const std::string& fullName) {
        auto r = view->rows().indexOfPath(*tree().rootNode(), nodePathForFullName(Q(fullName)));
        EXPECT_TRUE(r) << fullName;
        return r.value_or(0);
    }
    QPoint at(const std::string& fullName) {
        int y = int(view->layout().rowTop(row(fullName)) + view->layout().rowHeight / 2) - view->scrollOffset();
        return QPoint(60, y);
    }
    // Whether a drag hovering over the row is accepted.
    bool hover(QMimeData* mime, const std::string& fullName) {
        QDragEnterEvent enter(at(fullName), Qt::CopyAction | Qt::MoveAction, mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(view->viewport(), &enter);
        QDragMoveEvent move(at(fullName), Qt::CopyAction | Qt::MoveAction, mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(view->viewport(), &move);
        return move.isAccepted();
    }
    bool drop(QMimeData* mime, const std::string& fullName) {
        hover(mime, fullName);
        QDropEvent event(at(fullName), Qt::CopyAction | Qt::MoveAction, mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(view->viewport(), &event);
        mainQueue().runPending();
        return event.isAccepted();
    }
    void leave() {
        QDragLeaveEvent event;
        QApplication::sendEvent(view->viewport(), &event);
    }
};

const std::vector<std::vector<std::string>> library = {{"Work/2024/Q1"}, {"Work/2025"}, {"Home"}, {"x"}};

}  // namespace

TEST(SidebarDrop, TagsAreRefusedOntoThemselvesTheirParentAndSubtags) {
    DropFixture f;
    f.open(library);
    f.window->setIsExpanded({Q(""), Q("Tags"), Q("Tags/Work"), Q("Tags/Work/2024")});
    std::unique_ptr<QMimeData> work(SidebarDragData::forTag("Work"));
    EXPECT_FALSE(f.hover(work.get(), "Tags/Work"));
    EXPECT_FALSE(f.hover(work.get(), "Tags"));  // already there
    EXPECT_FALSE(f.hover(work.get(), "Tags/Work/2024"));
    EXPECT_FALSE(f.hover(work.get(), "Tags/Work/2024/Q1"));
    EXPECT_FALSE(f.hover(work.get(), "Colors"));  // holds no tags
    EXPECT_TRUE(f.hover(work.get(), "Tags/Home"));
    f.leave();
    EXPECT_FALSE(f.view->dropTargetNode());

    // A subtag onto the Tags section moves it to the top, rewriting its files.
    std::unique_ptr<QMimeData> year(SidebarDragData::forTag("Work/2024"));
    EXPECT_TRUE(f.hover(year.get(), "Tags"));
    EXPECT_TRUE(f.drop(year.get(), "Tags"));
    EXPECT_TRUE(f.tree().lookup(P({"Tags", "2024", "Q1"})));
    EXPECT_EQ(rawTags(f.root / "f0.txt"), "2024/Q1");
    f.stack().undo();
    EXPECT_EQ(rawTags(f.root / "f0.txt"), "Work/2024/Q1");
    // A refused drop changes nothing.
    EXPECT_FALSE(f.drop(work.get(), "Tags/Work/2025"));
    EXPECT_EQ(f.undoTitles().size(), 0u);
}

TEST(SidebarDrop, FilesFromAFileManagerAreTaggedAndUndoRestoresThem) {
    DropFixture f;
    f.open(library);
    f.window->setIsExpanded({Q(""), Q("Tags")});
    fs::path plain = f.file("a b#1.txt");
    fs::path tagged = f.file("c%d.txt", "zeta");
    // As a desktop file manager writes it: percent-escaped file URIs, CRLF-separated.
    auto mime = std::make_unique<QMimeData>();
    std::string list = "# dragged\r\n" + fileURLForPath(plain.string()) + "\r\n" + fileURLForPath(tagged.string()) + "\r\n";
    mime->setData("text/uri-list", QByteArray::fromStdString(list));
    EXPECT_FALSE(f.hover(mime.get(), "Tags"));  // not a tag
    EXPECT_TRUE(f.hover(mime.get(), "Tags/Home"));
    EXPECT_TRUE(f.drop(mime.get(), "Tags/Home"));
    EXPECT_EQ(rawTags(plain), "Home");
    EXPECT_EQ(rawTags(tagged), "Home,zeta");
    EXPECT_EQ(f.undoTitles(), std::vector<std::string>{"Tag 2 Files"});
    f.stack().undo();
    EXPECT_EQ(rawTags(plain), "<none>");
    EXPECT_EQ(rawTags(tagged), "zeta");
    // Colour rows take files too, their section does not.
    f.window->setIsExpanded({Q(""), Q("Colors")});
    EXPECT_TRUE(f.hover(mime.get(), "Colors/Red"));
    EXPECT_FALSE(f.hover(mime.get(), "Colors"));
    f.leave();
}

TEST(SidebarDrop, FilesIntoAFolderMoveAndNameConflictsAsk) {
    DropFixture f;
    f.open(library);
    std::string home = f.root.filename().string();
    fs::create_directories(f.root / "inbox");
    fs::path loose = f.file("loose.txt");
    fs::path clash = f.file("inbox/f1.txt");
    f.db->openDirectories({Q("Folders/" + home), Q("Folders/" + home + "/inbox")});
    mainQueue().runUntil([&] { return !f.db->isUpdatingDirectories(); }, CommandHarness::timeout);
    f.window->setIsExpanded({Q(""), Q("Folders"), Q("Folders/" + home)});
    std::unique_ptr<QMimeData> mime(FileDragData::forPaths({loose.string()}));
    EXPECT_TRUE(f.drop(mime.get(), "Folders/" + home + "/inbox"));
    EXPECT_TRUE(fs::exists(f.root / "inbox" / "loose.txt"));
    EXPECT_FALSE(fs::exists(loose));
    f.stack().undo();
    EXPECT_TRUE(fs::exists(loose));

    // A name that is taken goes to the window's rename question.
    std::vector<std::pair<std::string, std::string>> asked;
    f.window->renameConflictAlert = [&](const NodePtr&, const DropInfo&, const auto& renames) { asked = renames; };
    std::unique_ptr<QMimeData> same(FileDragData::forPaths({(f.root / "f1.txt").string()}));
    EXPECT_TRUE(f.drop(same.get(), "Folders/" + home + "/inbox"));
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0], (std::pair<std::string, std::string>{"f1.txt", "f1 copy.txt"}));
    EXPECT_TRUE(fs::exists(f.root / "f1.txt"));
    (void)clash;
}

TEST(SidebarDrop, HoveringOverACollapsedRowExpandsItOnlyAfterTheTimer) {
    DropFixture f;
    f.open(library);
    f.window->setIsExpanded({Q(""), Q("Tags")});
    fs::path file = f.file("new.txt");
    std::unique_ptr<QMimeData> mime(FileDragData::forPaths({file.string()}));
    EXPECT_TRUE(f.hover(mime.get(), "Tags/Work"));
    EXPECT_TRUE(f.view->hoverExpandTimer().isActive());
    EXPECT_EQ(f.view->hoverExpandTimer().interval(), 1000);
    // Leaving first cancels it.
    f.leave();
    EXPECT_FALSE(f.view->hoverExpandTimer().isActive());
    EXPECT_FALSE(f.window->isExpanded().contains(Q("Tags/Work")));
    // Staying: the timer's expansion opens the row.
    EXPECT_TRUE(f.hover(mime.get(), "Tags/Work"));
    f.view->hoverExpand();
    EXPECT_TRUE(f.window->isExpanded().contains(Q("Tags/Work")));
    // A leaf row schedules nothing.
    EXPECT_TRUE(f.hover(mime.get(), "Tags/Home"));
    EXPECT_FALSE(f.view->hoverExpandTimer().isActive());
    f.leave();
}

namespace {
// Drag data as another program's drag offers it, counting how often the file
// list is read out of it.
class CountingMimeData : public QMimeData {
public:
    mutable int listReads = 0;

protected:
    QVariant retrieveData(const QString& type, QMetaType metaType) const override {
        if (type == QLatin1String("text/uri-list")) ++listReads;
        return QMimeData::retrieveData(type, metaType);
    }
};
}  // namespace

TEST(SidebarDrop, AManyFileDragIsReadOncePerDragNotPerMove) {
    DropFixture f;
    f.open(library);
    f.window->setIsExpanded({Q(""), Q("Tags"), Q("Tags/Work")});
    std::vector<std::string> paths;
    for (int i = 0; i < 5000; ++i) paths.push_back((f.root / ("photo " + std::to_string(i) + ".jpg")).string());
    std::unique_ptr<QMimeData> made(FileDragData::forPaths(paths));
    CountingMimeData mime;
    mime.setData("text/uri-list", made->data("text/uri-list"));
    const QPoint home = f.at("Tags/Home"), work = f.at("Tags/Work");
    QDragEnterEvent enter(home, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(f.view->viewport(), &enter);
    for (int i = 0; i < 30; ++i) {
        QDragMoveEvent move(i % 2 ? home : work, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(f.view->viewport(), &move);
        EXPECT_TRUE(move.isAccepted());
    }
    EXPECT_EQ(mime.listReads, 1);
    f.leave();
    // A new drag reads its own contents.
    QDragEnterEvent again(home, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(f.view->viewport(), &again);
    EXPECT_EQ(mime.listReads, 2);
    f.leave();
}

TEST(SidebarDrop, ATagNamedInBytesThatAreNotUtf8IsDraggedAsItself) {
    DropFixture f;
    f.open({{"caf\xe9"}, {"Travel"}});
    f.window->setIsExpanded({Q(""), Q("Tags")});
    // What the tree's drag of that row carries, dropped on another tag.
    std::unique_ptr<QMimeData> mime(SidebarDragData::forTag("caf\xe9"));
    EXPECT_TRUE(f.drop(mime.get(), "Tags/Travel"));
    EXPECT_EQ(rawTags(f.root / "f0.txt"), "Travel/caf\xe9");
    EXPECT_TRUE(f.tree().lookup(P({"Tags", "Travel", "caf\xe9"})));
    f.stack().undo();
    EXPECT_EQ(rawTags(f.root / "f0.txt"), "caf\xe9");
}

TEST(SidebarDrop, DraggingNearAnEdgeScrollsToRowsOffScreen) {
    std::vector<std::vector<std::string>> many;
    for (int i = 0; i < 60; ++i) many.push_back({"Tag " + std::to_string(i)});
    DropFixture f;
    f.open(many);
    f.window->setIsExpanded({Q(""), Q("Tags")});
    fs::path file = f.file("dropped.txt");
    std::unique_ptr<QMimeData> mime(FileDragData::forPaths({file.string()}));
    QWidget* viewport = f.view->viewport();
    const int bottom = viewport->height() - 4;
    // Rows below the viewport at first.
    const auto shown = f.view->layout().rowAt(bottom + f.view->scrollOffset(), f.view->rows().size());
    ASSERT_TRUE(shown);
    QDragEnterEvent enter(QPoint(60, bottom), Qt::CopyAction, mime.get(), Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &enter);
    QDragMoveEvent move(QPoint(60, bottom), Qt::CopyAction, mime.get(), Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &move);
    // Resting near the bottom edge scrolls until the end.
    const int end = int(std::ceil(f.view->contentHeight())) - viewport->height();
    ASSERT_TRUE(QTest::qWaitFor([&] { return f.view->scrollOffset() == end; }, 20000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !f.view->autoScrollTimer().isActive(); }));
    // The last tag, far below the first screen (the map's row under the edge
    // takes no files), is now a drop target.
    const QPoint onLastTag(60, f.at("Tags/Tag 59").y());
    ASSERT_LT(onLastTag.y(), bottom - 16);
    EXPECT_GT(f.row("Tags/Tag 59"), *shown + 10);
    QDragMoveEvent there(onLastTag, Qt::CopyAction, mime.get(), Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &there);
    EXPECT_TRUE(there.isAccepted());
    EXPECT_FALSE(f.view->autoScrollTimer().isActive());
    QDropEvent drop(onLastTag, Qt::CopyAction, mime.get(), Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &drop);
    mainQueue().runPending();
    EXPECT_EQ(rawTags(file), "Tag 59");

    // Near the top edge it scrolls back up; in the middle it stays.
    QDragEnterEvent top(QPoint(60, 3), Qt::CopyAction, mime.get(), Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &top);
    ASSERT_TRUE(QTest::qWaitFor([&] { return f.view->scrollOffset() == 0; }, 20000));
    QDragMoveEvent middle(QPoint(60, viewport->height() / 2), Qt::CopyAction, mime.get(), Qt::LeftButton,
                          Qt::NoModifier);
    QApplication::sendEvent(viewport, &middle);
    EXPECT_FALSE(f.view->autoScrollTimer().isActive());
    f.leave();
}
