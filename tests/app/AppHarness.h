#pragma once

// The real AppDelegate over an in-memory metadata index, the real tag store
// and file operations, with the main queue bound to Qt's event loop.

#include <gtest/gtest.h>
#include <sys/xattr.h>

#include <QApplication>
#include <QTest>

#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "app/AppDelegate.h"
#include "app/AppWindow.h"
#include "app/BrowserFrame.h"
#include "commands/BrowserState.h"
#include "commands/CommandStack.h"
#include "commands/TagChangeCommand.h"
#include "core/MainQueue.h"
#include "support/MemoryMetadataIndex.h"
#include "library/MemoryUserDefaults.h"
#include "platform/LinuxFileOperations.h"
#include "desktop/QtMainQueue.h"
#include "platform/XattrTagStore.h"
#include "support/TempDir.h"

namespace qm::test {

namespace fs = std::filesystem;

inline NodePath P(std::initializer_list<const char*> names) {
    NodePath out;
    for (const char* n : names)
        out.push_back(QuickString::bytes(n));
    return out;
}

inline QuickString Q(const std::string& s) {
    return QuickString::path(s);
}

// User defaults that count their writes.
class CountingDefaults final : public UserDefaults {
public:
    std::optional<DefaultsValue> value(std::string_view key) const override { return inner.value(key); }
    void setValue(std::string_view key, const DefaultsValue& value) override {
        ++writes;
        inner.setValue(key, value);
    }
    void removeValue(std::string_view key) override {
        ++writes;
        inner.removeValue(key);
    }
    MemoryUserDefaults inner;
    int writes = 0;
};

// A command tagging the files with one tag, as a drop onto a tag row makes it.
inline CommandPtr tagCommand(const std::vector<fs::path>& paths, const std::string& tag) {
    std::vector<TagChange> changes;
    for (const auto& p : paths) {
        TagChange c{QuickString::path(p.string()), {}, {}};
        c.tagsToAdd.insert(tag);
        changes.push_back(c);
    }
    return std::make_shared<TagChangeCommand>(TagChangeKind::tag, TagChangeKind::tag, changes,
                                              std::set<std::string>{}, std::set<std::string>{});
}

// A file's tag attribute as stored ("<none>" when it has none).
inline std::string rawTags(const fs::path& p) {
    char buf[4096];
    ssize_t n = ::lgetxattr(p.c_str(), "user.xdg.tags", buf, sizeof buf);
    return n < 0 ? std::string("<none>") : std::string(buf, size_t(n));
}

// Makes a top-level window the active one and waits until the platform says so.
inline void activate(QWidget* window) {
    window->show();
    window->raise();
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window)) << window->objectName().toStdString();
}

struct AppHarness {
    QtMainQueue binding;
    MemoryMetadataIndex index;
    std::shared_ptr<CountingDefaults> defaults = std::make_shared<CountingDefaults>();
    std::vector<QUrl> opened;
    std::unique_ptr<AppDelegate> delegate;
    fs::path root;

    explicit AppHarness(const std::vector<std::pair<fs::path, std::vector<std::string>>>& tagged = {},
                        std::optional<std::string> theme = std::nullopt, std::string stateFile = {},
                        std::shared_ptr<CountingDefaults> keptDefaults = nullptr) {
        // Settings kept from an earlier launch, for relaunch tests.
        if (keptDefaults) defaults = std::move(keptDefaults);
        root = testHome() / ("app" + std::to_string(counter()++));
        fs::create_directories(root);
        for (const auto& [path, tags] : tagged)
            index.add({path.string(), tags, std::nullopt, std::nullopt});
        defaults->inner.setValue("hasBeenLaunched", true);
        if (theme) defaults->inner.setValue("theme", *theme);
        AppServices services;
        services.library = LibraryServices{index.tagQuery(), index.gpsQuery(), defaults, nullptr, nullptr};
        services.tagStore = std::make_shared<XattrTagStore>();
        services.fileOperations = std::make_shared<LinuxFileOperations>();
        services.openUrl = [this](const QUrl& url) { opened.push_back(url); };
        services.stateFile = std::move(stateFile);
        delegate = std::make_unique<AppDelegate>(std::move(services));
    }

    // Finishes the tag query and waits for the loaded library.
    void load() {
        ASSERT_TRUE(QTest::qWaitFor([&] { return index.tagQuery()->isExecuted(); }));
        index.tagQuery()->finish();
        ASSERT_TRUE(QTest::qWaitFor([&] { return delegate->db()->loadingState() == LoadingState::loaded; }));
    }

    // Launches with one window and makes it key.
    AppWindow* launch() {
        delegate->applicationDidFinishLaunching();
        AppWindow* w = delegate->keyBrowserWindow();
        if (!w) {
            auto frames = delegate->frames();
            if (frames.empty()) return nullptr;
            activate(frames.front());
            w = delegate->keyBrowserWindow();
        }
        return w;
    }

    ~AppHarness() {
        delegate.reset();
        mainQueue().runPending();
        std::error_code ec;
        fs::remove_all(root, ec);
    }

    fs::path file(const std::string& rel, const std::string& tags = "") {
        fs::path p = root / rel;
        writeFile(p, "x");
        if (!tags.empty()) ::lsetxattr(p.c_str(), "user.xdg.tags", tags.data(), tags.size(), 0);
        return p;
    }

    static int& counter() {
        static int n = 0;
        return n;
    }
};

}  // namespace qm::test
