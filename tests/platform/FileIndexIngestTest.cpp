// The ingest over the real file index: the tree the program would show
// follows the disk through renames, retags and deletions.

#include <gtest/gtest.h>
#include <sys/xattr.h>

#include <filesystem>
#include <memory>

#include "core/MainQueue.h"
#include "core/SerialQueue.h"
#include "library/MemoryUserDefaults.h"
#include "library/SpotlightThread.h"
#include "platform/FileIndex.h"
#include "support/TempDir.h"

namespace qm {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

class NoProbe final : public FolderAccessProbe {
public:
    void listDirectory(const std::string&) override {}
};

bool pumpUntil(const std::function<bool()>& predicate, std::chrono::milliseconds timeout = 10s) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline)
        if (mainQueue().runUntil(predicate, 20ms)) return true;
    return predicate();
}

TEST(FileIndexIngest, TheTreeFollowsTheDisk) {
    test::TempDir dir;
    const fs::path root = dir / "home";
    auto tag = [](const fs::path& p, const std::string& value) {
        ASSERT_EQ(::lsetxattr(p.c_str(), "user.xdg.tags", value.data(), value.size(), 0), 0);
    };
    test::writeFile(root / "Docs/report.txt", "r");
    tag(root / "Docs/report.txt", "Work/2024,★");
    test::writeFile(root / "Docs/notes.txt", "n");
    tag(root / "Docs/notes.txt", "Work");

    FileIndex::Options options;
    options.roots = {root.string()};
    options.databasePath = (dir / "cache/index.sqlite3").string();
    options.coalesce = 100ms;
    options.log = [](const std::string&) {};
    FileIndex index(options);

    auto defaults = std::make_shared<MemoryUserDefaults>();
    defaults->setValue("hasBeenLaunched", true);
    auto thread = std::make_shared<SpotlightThread>(std::make_shared<TagFormat>(), index.tagQuery(),
                                                    index.gpsQuery(), defaults, std::make_shared<NoProbe>());
    auto queue = std::make_shared<SerialQueue>("SpotlightQueue");
    std::shared_ptr<Tree> tree;
    SpotlightThread::Callbacks cb;
    cb.treeReady = [&tree](std::shared_ptr<Tree> t) { mainQueue().post([&tree, t] { tree = t; }); };
    cb.tagChanges = [&tree](SpotlightThread::TagChanges changes) {
        mainQueue().post([&tree, changes] {
            if (tree)
                for (const auto& [path, names] : changes)
                    tree->setTags(names, path);
        });
    };
    index.start();
    std::weak_ptr<SerialQueue> weakQueue = queue;
    queue->async([thread, weakQueue, cb] { thread->start(weakQueue, cb); });
    ASSERT_TRUE(pumpUntil([&] { return tree != nullptr; }));

    auto tagsOf = [&](const fs::path& p) -> size_t {
        auto it = tree->tags().find(QuickString::path(p.string()));
        return it == tree->tags().end() ? 0 : it->second->size();
    };
    EXPECT_EQ(tagsOf(root / "Docs/report.txt"), 2u);
    EXPECT_EQ(tagsOf(root / "Docs/notes.txt"), 1u);

    fs::create_directories(root / "Archive");
    fs::rename(root / "Docs/report.txt", root / "Archive/report 2024.txt");
    tag(root / "Docs/notes.txt", "Work,Ideas,Later");
    test::writeFile(root / "new.txt", "x");
    tag(root / "new.txt", "Fresh");
    ASSERT_TRUE(pumpUntil([&] {
        return tagsOf(root / "Archive/report 2024.txt") == 2 && tagsOf(root / "Docs/report.txt") == 0 &&
               tagsOf(root / "Docs/notes.txt") == 3 && tagsOf(root / "new.txt") == 1;
    }));

    fs::remove(root / "Docs/notes.txt");
    ::lremovexattr((root / "new.txt").c_str(), "user.xdg.tags");
    ASSERT_TRUE(
        pumpUntil([&] { return tagsOf(root / "Docs/notes.txt") == 0 && tagsOf(root / "new.txt") == 0; }));
    EXPECT_EQ(tree->tags().size(), 1u);

    queue.reset();
    index.stop();
    mainQueue().runPending();
}

}  // namespace
}  // namespace qm
