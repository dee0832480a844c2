#pragma once

// A browser window's state over a loaded database, with the real tag store
// (extended attributes) and the real file operations, on files under the
// test's temporary home.

#include <gtest/gtest.h>
#include <sys/xattr.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "commands/BrowserState.h"
#include "commands/CommandStack.h"
#include "core/MainQueue.h"
#include "library/DB.h"
#include "library/MemoryUserDefaults.h"
#include "platform/LinuxFileOperations.h"
#include "platform/XattrTagStore.h"
#include "support/LogCapture.h"
#include "support/MemoryMetadataIndex.h"
#include "support/TempDir.h"

namespace qm::test {

namespace fs = std::filesystem;

// The stored tag attribute as the kernel returns it, or "<none>".
inline std::string rawTags(const fs::path& p) {
    char buf[4096];
    ssize_t n = ::lgetxattr(p.c_str(), "user.xdg.tags", buf, sizeof buf);
    return n < 0 ? std::string("<none>") : std::string(buf, size_t(n));
}

inline void setRawTags(const fs::path& p, const std::string& value) {
    ASSERT_EQ(0, ::lsetxattr(p.c_str(), "user.xdg.tags", value.data(), value.size(), 0)) << p;
}

inline QuickString Q(const std::string& s) {
    return QuickString::bytes(s);
}

inline NodePath P(std::initializer_list<const char*> names) {
    NodePath out;
    for (const char* n : names) out.push_back(QuickString::bytes(n));
    return out;
}

struct CommandHarness {
    MemoryMetadataIndex index;
    std::shared_ptr<MemoryUserDefaults> defaults = std::make_shared<MemoryUserDefaults>();
    std::shared_ptr<DB> db;
    std::shared_ptr<BrowserState> window;
    std::vector<std::string> events;
    std::vector<std::string> statuses;
    std::vector<Subscription> subscriptions;
    TempDir dir{"qm-cmd"};
    fs::path root;  // inside the temporary home, so log lines show short paths
    std::vector<MetadataItem> items;  // of the loaded files, in order: for changes "another program" makes

    // Files already tagged when the library loads: path and tag list.
    void load(const std::vector<std::pair<fs::path, std::vector<std::string>>>& tagged = {}) {
        for (const auto& [path, tags] : tagged)
            items.push_back(index.add({path.string(), tags, std::nullopt, std::nullopt}));
        defaults->setValue("hasBeenLaunched", true);
        db = DB::create(LibraryServices{index.tagQuery(), index.gpsQuery(), defaults, nullptr, nullptr});
        ASSERT_TRUE(mainQueue().runUntil([&] { return index.tagQuery()->isExecuted(); }, timeout));
        index.tagQuery()->finish();
        ASSERT_TRUE(mainQueue().runUntil([&] { return db->loadingState() == LoadingState::loaded; }, timeout));
        mainQueue().runUntil([&] { return !db->isUpdatingDirectories(); }, timeout);
        window = BrowserState::create(CommandContext{db, std::make_shared<XattrTagStore>(),
                                                     std::make_shared<LinuxFileOperations>()});
        subscriptions.push_back(db->childrenChanged.subscribe([this] { events.push_back("children"); }));
        subscriptions.push_back(db->pathsChanged.subscribe([this] { events.push_back("paths"); }));
        subscriptions.push_back(stack().commandDidRun.subscribe([this](const std::string& s) { statuses.push_back(s); }));
    }

    CommandHarness() {
        root = testHome() / ("h" + std::to_string(counter()++));
        fs::create_directories(root);
    }
    ~CommandHarness() {
        window.reset();
        db.reset();
        mainQueue().runPending();
        std::error_code ec;
        fs::remove_all(root, ec);
    }

    CommandStack& stack() { return *window->commandStack(); }
    const Tree& tree() const { return db->tree(); }
    Tree& mutableTree() { return db->mutableTree(); }

    // A file with contents and (optionally) stored tags.
    fs::path file(const std::string& rel, const std::string& tags = "", const std::string& bytes = "x") {
        fs::path p = root / rel;
        writeFile(p, bytes);
        if (!tags.empty()) setRawTags(p, tags);
        return p;
    }

    // The paths a node lists, sorted; "<missing>" when there is no node.
    std::vector<std::string> listed(const NodePath& node) {
        NodePtr n = tree().lookup(node);
        if (!n) return {"<missing>"};
        std::vector<std::string> out;
        for (const QuickString& p : n->sortedPaths()) out.emplace_back(p.utf8());
        return out;
    }

    std::vector<std::string> undoTitles() {
        std::vector<std::string> out;
        for (const CommandItem& i : stack().undoStack()) out.push_back(i.menuText);
        return out;
    }
    std::vector<std::string> redoTitles() {
        std::vector<std::string> out;
        for (const CommandItem& i : stack().redoStack()) out.push_back(i.menuText);
        return out;
    }

    static int& counter() {
        static int n = 0;
        return n;
    }
    static constexpr std::chrono::milliseconds timeout{10000};
};

// Captures the lines the commands log while the object lives.
struct Output {
    std::string take() { return capture.release(); }
    LogCapture capture;
};

}  // namespace qm::test
