// The program's start on a real (temporary) home: the real index, tag store,
// folder watcher and settings under the delegate, with tags written by
// another program (setfattr) before and while it runs.

#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QTest>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "app/AppDelegate.h"
#include "app/AppWindow.h"
#include "app/BrowserFrame.h"
#include "app/LinuxServices.h"
#include "app/Theme.h"
#include "commands/BrowserState.h"
#include "core/MainQueue.h"
#include "platform/FileIndex.h"
#include "desktop/QtMainQueue.h"
#include "desktop/SettingsUserDefaults.h"
#include "support/TempDir.h"

namespace qm::test {
namespace {

namespace fs = std::filesystem;
constexpr int timeoutMs = 30000;

NodePath P(std::initializer_list<const char*> names) {
    NodePath out;
    for (const char* n : names)
        out.push_back(QuickString::bytes(n));
    return out;
}

void setTagsWithSetfattr(const fs::path& file, const std::string& tags) {
    const std::string command = "setfattr -n user.xdg.tags -v '" + tags + "' '" + file.string() + "'";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
}

bool nodeLists(const DB& db, const NodePath& node, const fs::path& file) {
    NodePtr n = db.tree().lookup(node);
    return n && n->resolvedPaths().contains(QuickString::path(file.string()));
}

// The inotify instances this process holds, counted from its open files.
int inotifyInstances() {
    int count = 0;
    for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
        std::error_code ec;
        const fs::path target = fs::read_symlink(entry.path(), ec);
        if (!ec && target.string() == "anon_inode:inotify") ++count;
    }
    return count;
}

TEST(AppStartTest, RealIndexShowsTaggedFilesAndFollowsAnotherProgram) {
    const fs::path home = testHome();
    const fs::path a = home / "Pictures/trip/a.jpg", b = home / "Pictures/b.txt";
    writeFile(a, "a");
    writeFile(b, "b");
    setTagsWithSetfattr(a, "Trips/Rome,beach");

    QtMainQueue binding;
    LinuxServices platform = makeLinuxServices();
    EXPECT_TRUE(platform.warnings.empty());
    {
        AppDelegate delegate(platform.services);
        delegate.applicationDidFinishLaunching();
        ASSERT_EQ(delegate.frames().size(), 1u);
        AppWindow* w = delegate.frames().front()->currentWindow();
        const DB& db = *delegate.db();
        ASSERT_TRUE(QTest::qWaitFor([&] { return db.loadingState() == LoadingState::loaded; }, timeoutMs));
        EXPECT_TRUE(nodeLists(db, P({"Tags", "Trips", "Rome"}), a));
        EXPECT_TRUE(nodeLists(db, P({"Tags", "beach"}), a));
        w->state()->setCurrentNode(P({"Tags", "Trips", "Rome"}));
        EXPECT_EQ(w->frame()->windowTitle(), "Tags: Trips/Rome");

        // One inotify instance serves the index and the folder watcher.
        EXPECT_EQ(inotifyInstances(), 1);

        // Another program tags a file while the program runs.
        setTagsWithSetfattr(b, "later");
        ASSERT_TRUE(QTest::qWaitFor([&] { return nodeLists(db, P({"Tags", "later"}), b); }, timeoutMs));

        // A new folder reaches the folder section through the shared watcher.
        delegate.db()->openDirectories({QuickString::bytes("Folders/Pictures")});
        ASSERT_TRUE(QTest::qWaitFor([&] { return db.tree().lookup(P({"Folders", "Pictures", "trip"})) != nullptr; },
                                    timeoutMs));
        fs::create_directory(home / "Pictures/new");
        ASSERT_TRUE(QTest::qWaitFor([&] { return db.tree().lookup(P({"Folders", "Pictures", "new"})) != nullptr; },
                                    timeoutMs));
    }
    platform.index.reset();
    mainQueue().runPending();
}

TEST(AppStartTest, CorruptSettingsOrUnwritableConfigFolderStillStart) {
    const fs::path file = SettingsUserDefaults().fileName();
    const fs::path folder = file.parent_path();
    QtMainQueue binding;
    auto startAndLoad = [](LinuxServices& platform) {
        AppDelegate delegate(platform.services);
        delegate.applicationDidFinishLaunching();
        EXPECT_EQ(delegate.currentTheme(), Theme::automatic);
        EXPECT_EQ(delegate.frames().size(), 1u);
        EXPECT_TRUE(QTest::qWaitFor([&] { return delegate.db()->loadingState() == LoadingState::loaded; }, timeoutMs));
        delegate.setCurrentTheme(Theme::dark);  // cannot be kept, must not fail
        delegate.setCurrentTheme(Theme::automatic);
    };

    fs::create_directories(folder);
    writeFile(file, std::string("[General\n\0\xff theme=\"dark\"\n", 24));
    {
        LinuxServices platform = makeLinuxServices();
        ASSERT_EQ(platform.warnings.size(), 1u);
        EXPECT_NE(platform.warnings[0].find("[setup] The settings file"), std::string::npos) << platform.warnings[0];
        EXPECT_NE(platform.warnings[0].find("cannot be read"), std::string::npos) << platform.warnings[0];
        startAndLoad(platform);
    }

    // The settings folder cannot be made: a plain file is in its way.
    fs::remove_all(folder);
    writeFile(folder, "in the way");
    {
        LinuxServices platform = makeLinuxServices();
        ASSERT_EQ(platform.warnings.size(), 1u);
        EXPECT_NE(platform.warnings[0].find("is not writable"), std::string::npos) << platform.warnings[0];
        startAndLoad(platform);
    }
    fs::remove(folder);
    mainQueue().runPending();
}

}  // namespace
}  // namespace qm::test
