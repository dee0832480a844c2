// Directories are read on the database's "FolderQueue" while the main queue
// keeps turning; the tests hold that queue with a gate to catch a read in
// flight, and check every result against the file system itself.
#include <gtest/gtest.h>

#include <filesystem>
#include <future>
#include <memory>
#include <set>
#include <string>

#include "core/MainQueue.h"
#include "core/SerialQueue.h"
#include "library/DB.h"
#include "library/MemoryUserDefaults.h"
#include "support/MemoryMetadataIndex.h"
#include "support/TempDir.h"

namespace qm {
namespace {

namespace fs = std::filesystem;

QuickString Q(const std::string& s) {
    return QuickString::literal(s);
}

std::set<std::string> keys(const Node::Paths& paths) {
    std::set<std::string> out;
    for (const auto& [p, meta] : paths)
        out.insert(std::string(p.utf8()));
    return out;
}

std::set<std::string> filesIn(const fs::path& dir) {
    std::set<std::string> out;
    for (const auto& entry : fs::directory_iterator(dir))
        if (!entry.is_directory()) out.insert(entry.path().string());
    return out;
}

// Holds the folder queue: every task queued after it waits until release.
class Gate {
public:
    explicit Gate(SerialQueue& queue) {
        queue.async([opened = opened_.get_future().share()] { opened.wait(); });
    }
    ~Gate() { release(); }
    void release() {
        if (released_) return;
        released_ = true;
        opened_.set_value();
    }

private:
    std::promise<void> opened_;
    bool released_ = false;
};

struct Library {
    MemoryMetadataIndex index;
    std::shared_ptr<DB> db;

    Library() {
        auto defaults = std::make_shared<MemoryUserDefaults>();
        defaults->setValue("hasBeenLaunched", true);
        db = DB::create({index.tagQuery(), index.gpsQuery(), defaults, nullptr, nullptr});
        EXPECT_TRUE(
            mainQueue().runUntil([&] { return index.tagQuery()->isExecuted(); }, std::chrono::seconds(10)));
        index.tagQuery()->finish();
        EXPECT_TRUE(mainQueue().runUntil([&] { return db->loadingState() == LoadingState::loaded; },
                                         std::chrono::seconds(10)));
        pumpUntilIdle();
    }
    ~Library() {
        db.reset();
        mainQueue().runPending();
    }
    // Runs the folder pass, reads included, to its end.
    void pumpUntilIdle() {
        EXPECT_TRUE(
            mainQueue().runUntil([&] { return !db->isUpdatingDirectories(); }, std::chrono::seconds(20)));
    }
    // Turns the main queue until the pass has a directory read in flight.
    bool waitForRead() {
        return mainQueue().runUntil([&] { return db->isReadingDirectory(); }, std::chrono::seconds(10));
    }
    NodePtr folder(const std::string& fullName) const {
        return db->tree().lookup(nodePathForFullName(Q(fullName)));
    }
};

TEST(FolderReadConcurrencyTest, BigFolderIsReadWhileTheMainQueueTurns) {
    const fs::path big = test::testHome() / "BigRead";
    fs::create_directories(big / "Inner");
    for (int i = 0; i < 3000; ++i)
        test::writeFile(big / ("IMG_" + std::to_string(i) + ".jpg"), "");

    Library lib;
    NodePtr node = lib.folder("Folders/BigRead");
    ASSERT_TRUE(node);
    Gate gate(lib.db->folderQueue());
    lib.db->openDirectories({Q("Folders/BigRead")});
    ASSERT_TRUE(lib.waitForRead());
    EXPECT_TRUE(lib.db->isUpdatingDirectories());

    // The main queue goes on while the directory waits to be read: a task
    // posted now runs, and the pass does not spin meanwhile.
    bool ran = false;
    mainQueue().post([&] { ran = true; });
    EXPECT_TRUE(mainQueue().runUntil([&] { return ran; }, std::chrono::seconds(10)));
    mainQueue().runPending();
    EXPECT_EQ(mainQueue().pendingCount(), 0u) << "nothing polls while the read is in flight";
    EXPECT_TRUE(node->paths().empty());
    EXPECT_FALSE(node->hasFlag(NodeFlags::opened)) << "opened once its read is applied";
    EXPECT_TRUE(lib.db->isReadingDirectory());

    gate.release();
    lib.pumpUntilIdle();
    EXPECT_FALSE(lib.db->isReadingDirectory());
    EXPECT_EQ(keys(node->paths()), filesIn(big));
    EXPECT_TRUE(node->hasFlag(NodeFlags::opened));
    NodePtr inner = node->child(Q("Inner"));
    ASSERT_TRUE(inner);
    EXPECT_FALSE(inner->hasFlag(NodeFlags::stale)) << "the opened folder's sub-folder was read too";
}

TEST(FolderReadConcurrencyTest, EventDuringAReadReadsAgain) {
    const fs::path dir = test::testHome() / "Busy";
    test::writeFile(dir / "a", "x");
    Library lib;
    lib.db->openDirectories({Q("Folders/Busy")});
    lib.pumpUntilIdle();
    NodePtr node = lib.folder("Folders/Busy");
    ASSERT_TRUE(node);
    ASSERT_EQ(keys(node->paths()), filesIn(dir));

    {
        Gate gate(lib.db->folderQueue());
        test::writeFile(dir / "b", "x");
        lib.db->directoryChanged(QuickString::path(dir.string()), false);
        ASSERT_TRUE(lib.waitForRead());
        gate.release();
    }
    // The listing is done (its result waits on the main queue) before the
    // next change happens and is reported.
    lib.db->folderQueue().sync([] {});
    test::writeFile(dir / "c", "x");
    lib.db->directoryChanged(QuickString::path(dir.string()), false);
    lib.pumpUntilIdle();
    EXPECT_EQ(keys(node->paths()), filesIn(dir));
    EXPECT_TRUE(node->paths().contains(QuickString::literal((dir / "c").string())));
}

TEST(FolderReadConcurrencyTest, FolderDeletedDuringItsRead) {
    const fs::path dir = test::testHome() / "Going";
    test::writeFile(dir / "Sub" / "f", "x");
    test::writeFile(dir / "kept", "x");
    Library lib;
    lib.db->openDirectories({Q("Folders/Going/Sub")});
    lib.pumpUntilIdle();
    NodePtr going = lib.folder("Folders/Going");
    ASSERT_TRUE(going);
    ASSERT_TRUE(going->child(Q("Sub")));
    ASSERT_EQ(going->child(Q("Sub"))->paths().size(), 1u);

    {
        Gate gate(lib.db->folderQueue());
        lib.db->directoryChanged(QuickString::path((dir / "Sub").string()), false);
        ASSERT_TRUE(lib.waitForRead());
        fs::remove_all(dir / "Sub");
    }
    // The failed read marks the parent, whose read drops the folder.
    lib.pumpUntilIdle();
    EXPECT_FALSE(going->child(Q("Sub")));
    EXPECT_EQ(keys(going->paths()), filesIn(dir));
}

TEST(FolderReadConcurrencyTest, DatabaseGoesWithAReadInFlight) {
    const fs::path dir = test::testHome() / "Left";
    for (int i = 0; i < 500; ++i)
        test::writeFile(dir / ("f" + std::to_string(i)), "");
    // Result already posted when the database goes.
    {
        Library lib;
        {
            Gate gate(lib.db->folderQueue());
            lib.db->openDirectories({Q("Folders/Left")});
            ASSERT_TRUE(lib.waitForRead());
        }
        lib.db->folderQueue().sync([] {});
        ASSERT_GT(mainQueue().pendingCount(), 0u);
        lib.db.reset();
        mainQueue().runPending();
    }
    // Read still running, or not started, when the database goes.
    {
        Library lib;
        Gate gate(lib.db->folderQueue());
        lib.db->openDirectories({Q("Folders/Left")});
        ASSERT_TRUE(lib.waitForRead());
        gate.release();
        lib.db.reset();
        mainQueue().runPending();
    }
}

}  // namespace
}  // namespace qm
