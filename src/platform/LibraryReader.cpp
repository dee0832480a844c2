#include "platform/LibraryReader.h"

#include <sys/stat.h>

#include <thread>

#include "core/MainQueue.h"
#include "core/PathNames.h"
#include "core/XdgDirectories.h"
#include "platform/FileIndex.h"
#include "platform/IndexLiveLock.h"
#include "platform/IndexStore.h"
#include "platform/XattrTagStore.h"

namespace qm {

namespace {

FileIndex::Options indexOptions(const LibraryReader::Options& options, bool memoryOnly) {
    FileIndex::Options o;
    o.live = false;  // one answer, then gone: nothing to follow
    if (options.folder) {
        o.roots = {*options.folder};
        o.databasePath.emplace();  // memory only
    } else if (memoryOnly) {
        // The home folder as the saved index would cover it, keeping nothing.
        const std::string database = options.databasePath.value_or(IndexStore::defaultPath());
        o.databasePath.emplace();
        o.excludedPaths = {xdgDataHome() + "/Trash", parentOf(database)};
    } else if (options.databasePath) {
        o.databasePath.emplace(*options.databasePath);
    }
    o.log = options.log ? options.log : [](const std::string&) {};
    return o;
}

}  // namespace

LibraryReader::LibraryReader(Options options) {
    const std::string database = options.databasePath.value_or(IndexStore::defaultPath());
    if (options.folder) {
        runIndex(options, false);
        return;
    }
    // Only while a live index keeps the saved index current may it answer
    // as it is; the live index owns the file then, so it is only read.
    const bool live = IndexLiveLock::isHeld(database);
    if (live || !options.reconcile) {
        if (readSaved(database)) return;
        problems_.back() = "cannot answer from the saved index: " + problems_.back();
        if (!options.reconcile) {
            complete_ = false;
            return;
        }
        problems_.back() += "; reading the disk instead";
        runIndex(options, true);
        return;
    }
    // None keeps it: this reader brings it up to date itself, as a start would.
    runIndex(options, false);
}

LibraryReader::~LibraryReader() {
    if (index_) index_->stop();
}

std::vector<std::string> LibraryReader::problems() const {
    std::vector<std::string> out = problems_;
    if (index_)
        for (std::string& p : index_->problems())
            out.push_back(std::move(p));
    return out;
}

void LibraryReader::runIndex(const Options& options, bool memoryOnly) {
    index_ = std::make_unique<FileIndex>(indexOptions(options, memoryOnly));
    auto tags = index_->tagQuery();
    auto gps = index_->gpsQuery();
    tags->setHandlers({});
    gps->setHandlers({});
    index_->start();
    tags->execute();
    gps->execute();
    // Settling is signalled from the index's own queues, so wait on that; the
    // queries' notifications meanwhile go to the main queue, where nobody
    // listens: drain them now and then so they do not pile up.
    while (!index_->waitUntilSettled(std::chrono::milliseconds(500)))
        mainQueue().runPending();
    mainQueue().runPending();
}

void LibraryReader::awaitLiveIndex(const std::vector<std::string>& changedFiles, std::chrono::milliseconds timeout,
                                   const std::optional<std::string>& databasePath) {
    const std::string path = databasePath.value_or(IndexStore::defaultPath());
    if (changedFiles.empty() || !IndexLiveLock::isHeld(path)) return;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::vector<MetadataItem> items;
    std::vector<std::string> expected;  // the attribute as it is now
    for (const std::string& f : changedFiles) {
        struct stat st;
        if (::lstat(f.c_str(), &st) != 0) continue;
        items.push_back({uint64_t(st.st_dev), uint64_t(st.st_ino)});
        expected.push_back(XattrTagStore::readAttribute(f).value_or(""));
    }
    IndexStore store;
    if (!store.openForReading(path)) return;
    while (!items.empty()) {
        const std::vector<std::optional<std::string>> stored = store.storedTags(items);
        size_t kept = 0;
        for (size_t i = 0; i < items.size(); ++i) {
            if (!stored[i] || *stored[i] == expected[i]) continue;  // unknown, or already stored
            if (kept != i) {
                items[kept] = items[i];
                expected[kept] = std::move(expected[i]);
            }
            ++kept;
        }
        items.resize(kept);
        expected.resize(kept);
        if (items.empty() || std::chrono::steady_clock::now() >= deadline) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

bool LibraryReader::readSaved(const std::string& path) {
    IndexStore store;
    bool ok = store.openForReading(path);
    std::vector<IndexRecord> rows;
    if (ok) rows = store.load(true, ok);
    if (!ok) {
        problems_.push_back(store.problem());
        return false;
    }
    for (IndexRecord& r : rows) {
        Saved s{std::move(r.path), XattrTagStore::parse(r.tags), r.latitude, r.longitude};
        saved_.push_back(std::move(s));
    }
    return true;
}

void LibraryReader::forEachTagged(
    const std::function<void(std::string_view, const std::vector<std::string>&)>& visit) const {
    if (!index_) {
        for (const Saved& s : saved_)
            if (!s.tags.empty()) visit(s.path, s.tags);
        return;
    }
    auto q = index_->tagQuery();
    q->disableUpdates();
    q->readResults([&](const MetadataQuery::ResultView& r) {
        if (r.path && !r.tags.empty()) visit(*r.path, r.tags);
    });
    q->enableUpdates();
}

void LibraryReader::forEachLocated(const std::function<void(std::string_view, double, double)>& visit) const {
    if (!index_) {
        for (const Saved& s : saved_)
            if (s.latitude && s.longitude) visit(s.path, *s.latitude, *s.longitude);
        return;
    }
    auto q = index_->gpsQuery();
    q->disableUpdates();
    q->readResults([&](const MetadataQuery::ResultView& r) {
        if (r.path && r.latitude && r.longitude) visit(*r.path, *r.latitude, *r.longitude);
    });
    q->enableUpdates();
}

}  // namespace qm
