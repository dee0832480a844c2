// A large live tag-update batch reaches the database in slices, one per
// main-queue turn, and must leave the tree exactly as applying it at once
// would (the ingest harness applies every batch whole with Tree::setTags).

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "core/MainQueue.h"
#include "library/DB.h"
#include "library/IngestHarness.h"
#include "library/MemoryUserDefaults.h"
#include "support/MemoryMetadataIndex.h"

namespace qm {
namespace {

constexpr size_t fileCount = 10000;
constexpr auto timeout = std::chrono::seconds(20);

std::string filePath(size_t i) {
    return "/burst/f" + std::to_string(i);
}

// The tags each file starts with: a few flat ones and some nested ones, so
// the burst empties and removes sub-tags as well as adding nodes.
std::vector<std::string> initialTags(size_t i) {
    std::vector<std::string> tags{"Old" + std::to_string(i % 7)};
    if (i % 3 == 0) tags.push_back("Proj/p" + std::to_string(i % 11));
    return tags;
}

// The first burst: every file gains "Burst"; every other file loses its old
// flat tag, and the nested ones move to other sub-tags.
std::vector<std::string> burstTags(size_t i) {
    std::vector<std::string> tags{"Burst"};
    if (i % 2 == 0) tags.push_back("Old" + std::to_string(i % 7));
    if (i % 3 == 0) tags.push_back("Proj/q" + std::to_string(i % 5));
    if (i % 50 == 0) tags.push_back("Flip");
    return tags;
}

// The second batch, right behind the first: the "Flip" files lose every tag.
bool untaggedBySecond(size_t i) {
    return i % 50 == 0;
}

// One script, run against any index: the files, and the two updates.
struct Script {
    std::vector<MetadataItem> items;

    void populate(MemoryMetadataIndex& index) {
        for (size_t i = 0; i < fileCount; ++i)
            items.push_back(index.add({filePath(i), initialTags(i), std::nullopt, std::nullopt}));
    }
    MetadataUpdate burst(MemoryMetadataIndex& index) const {
        MetadataUpdate u;
        for (size_t i = 0; i < fileCount; ++i) {
            index.setTags(items[i], burstTags(i));
            u.changed.push_back(items[i]);
        }
        return u;
    }
    MetadataUpdate untag(MemoryMetadataIndex& index) const {
        MetadataUpdate u;
        for (size_t i = 0; i < fileCount; ++i) {
            if (!untaggedBySecond(i)) continue;
            index.setTags(items[i], std::nullopt);
            u.removed.push_back(items[i]);
        }
        return u;
    }
};

struct Fixture {
    MemoryMetadataIndex index;
    Script script;
    std::shared_ptr<DB> db;
    int children = 0, paths = 0;
    std::vector<Subscription> subscriptions;

    Fixture() {
        script.populate(index);
        auto defaults = std::make_shared<MemoryUserDefaults>();
        defaults->setValue("hasBeenLaunched", true);
        db = DB::create(LibraryServices{index.tagQuery(), index.gpsQuery(), defaults, nullptr, nullptr});
        subscriptions.push_back(db->childrenChanged.subscribe([this] { ++children; }));
        subscriptions.push_back(db->pathsChanged.subscribe([this] { ++paths; }));
        EXPECT_TRUE(mainQueue().runUntil([&] { return index.tagQuery()->isExecuted(); }, timeout));
        index.tagQuery()->finish();
        EXPECT_TRUE(mainQueue().runUntil(
            [&] { return db->loadingState() == LoadingState::loaded && !db->isUpdatingDirectories(); },
            timeout));
        mainQueue().runPending();
    }
    ~Fixture() {
        db.reset();
        mainQueue().runPending();
    }

    // Waits, without running the main queue, until `count` more tasks wait
    // there: the ingest has handed over its batches and none was applied yet.
    static void awaitPosted(size_t before, size_t count) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (mainQueue().pendingCount() < before + count) {
            ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "the ingest did not deliver";
            std::this_thread::yield();
        }
    }

    size_t pathCountOf(const char* tag) const {
        NodePtr n = db->tree().lookup(NodePath{QuickString::literal("Tags"), QuickString::literal(tag)});
        return n ? n->pathCount() : 0;
    }
};

std::set<std::string> keys(const Node::Paths& paths) {
    std::set<std::string> out;
    for (const auto& [p, meta] : paths) out.insert(std::string(p.utf8()));
    return out;
}

// Node by node: names, kinds, flags, paths and children.
void expectSameSubtree(const NodePtr& got, const NodePtr& want) {
    ASSERT_TRUE(got && want);
    SCOPED_TRACE(std::string(want->fullName.utf8()));
    EXPECT_EQ(got->name, want->name);
    EXPECT_EQ(got->fullName, want->fullName);
    EXPECT_EQ(got->kind, want->kind);
    EXPECT_EQ(got->flags(), want->flags());
    EXPECT_EQ(keys(got->paths()), keys(want->paths()));
    std::vector<std::string> gotNames, wantNames;
    for (const NodePtr& c : got->sortedChildren()) gotNames.push_back(std::string(c->name.utf8()));
    for (const NodePtr& c : want->sortedChildren()) wantNames.push_back(std::string(c->name.utf8()));
    ASSERT_EQ(gotNames, wantNames);
    for (size_t i = 0; i < gotNames.size(); ++i)
        expectSameSubtree(got->sortedChildren()[i], want->sortedChildren()[i]);
}

void expectSameTags(const Tree& got, const Tree& want) {
    std::map<std::string, std::set<std::string>> g, w;
    for (const auto& [path, set] : got.tags())
        for (const QuickString& n : *set) g[std::string(path.utf8())].insert(std::string(n.utf8()));
    for (const auto& [path, set] : want.tags())
        for (const QuickString& n : *set) w[std::string(path.utf8())].insert(std::string(n.utf8()));
    EXPECT_EQ(g, w);
}

TEST(DBTagBurstTest, BatchesApplyInBoundedOrderedSlicesAndMatchAOneShotApply) {
    Fixture f;
    ASSERT_EQ(f.pathCountOf("Old0"), (fileCount + 6) / 7);

    // Both batches wait on the main queue before any slice runs, so the
    // second one arrives while the first is still unfinished.
    const size_t before = mainQueue().pendingCount();
    // The ingest reads the tags when it handles an update, so the second
    // change to the index waits until the first batch was handed over.
    f.index.tagQuery()->update(f.script.burst(f.index));
    ASSERT_NO_FATAL_FAILURE(Fixture::awaitPosted(before, 1));
    f.index.tagQuery()->update(f.script.untag(f.index));
    ASSERT_NO_FATAL_FAILURE(Fixture::awaitPosted(before, 2));

    // One turn at a time: each applies at most one slice and announces it
    // at most once per event.
    size_t turns = 0, applyingTurns = 0, lastBurst = 0;
    while (f.pathCountOf("Burst") < fileCount - fileCount / 50 || f.db->isApplyingTagChanges()) {
        ASSERT_LT(turns, 10 * fileCount) << "the slices never finished";
        f.children = f.paths = 0;
        ASSERT_GT(mainQueue().runPending(), 0u) << "nothing queued while changes are pending";
        ++turns;
        const size_t burst = f.pathCountOf("Burst");
        EXPECT_LE(burst - std::min(burst, lastBurst), DB::tagSliceFiles);
        if (burst != lastBurst) ++applyingTurns;
        // The second batch only untags files once the first one is done:
        // by then every file it leaves tagged has "Burst".
        size_t burstDone = 0, untagged = 0;
        for (size_t i = 0; i < fileCount; ++i) {
            const QuickStringSet& tags = f.db->tree().tagsFor(QuickString::path(filePath(i)));
            if (untaggedBySecond(i))
                untagged += tags.empty();
            else
                burstDone += tags.contains(QuickString::literal("Tags/Burst"));
        }
        if (untagged > 0) {
            EXPECT_EQ(burstDone, fileCount - fileCount / 50) << "turn " << turns;
        }
        lastBurst = burst;
        EXPECT_LE(f.children, 1);
        EXPECT_LE(f.paths, 1);
    }
    EXPECT_GE(applyingTurns, fileCount / DB::tagSliceFiles);
    EXPECT_EQ(mainQueue().pendingCount(), 0u);

    // Tagged by the first batch, untagged by the second: untagged, whatever
    // slice the first batch reached them in.
    const Tree& t = f.db->tree();
    for (size_t i = 0; i < fileCount; ++i) {
        const QuickString path = QuickString::path(filePath(i));
        if (untaggedBySecond(i)) {
            EXPECT_TRUE(t.tagsFor(path).empty()) << filePath(i);
        } else {
            EXPECT_TRUE(t.tagsFor(path).contains(QuickString::literal("Tags/Burst"))) << filePath(i);
        }
    }
    EXPECT_EQ(f.pathCountOf("Flip"), 0u);

    // The oracle: the same script through the ingest, each batch applied
    // whole with Tree::setTags.
    test::IngestHarness oracle;
    Script script;
    script.populate(oracle.index);
    ASSERT_NO_FATAL_FAILURE(oracle.start());
    ASSERT_NO_FATAL_FAILURE(oracle.finishTags());
    oracle.tagUpdate(script.burst(oracle.index));
    oracle.tagUpdate(script.untag(oracle.index));
    ASSERT_EQ(oracle.tagChanges().size(), 2u);
    expectSameSubtree(t.tagsNode(), oracle.tree().tagsNode());
    expectSameSubtree(t.starsNode(), oracle.tree().starsNode());
    expectSameSubtree(t.colorsNode(), oracle.tree().colorsNode());
    expectSameTags(t, oracle.tree());
}

TEST(DBTagBurstTest, SmallBatchIsWholeInItsOwnTurnAndSlicesStopWithTheDatabase) {
    Fixture f;

    // A batch within one slice: applied in the turn that delivers it.
    const size_t before = mainQueue().pendingCount();
    MetadataUpdate one{{}, {f.script.items[1]}, {}};
    f.index.setTags(f.script.items[1], std::vector<std::string>{"Single"});
    f.index.tagQuery()->update(one);
    ASSERT_NO_FATAL_FAILURE(Fixture::awaitPosted(before, 1));
    f.children = f.paths = 0;
    mainQueue().runPending();
    EXPECT_EQ(f.pathCountOf("Single"), 1u);
    EXPECT_FALSE(f.db->isApplyingTagChanges());
    EXPECT_EQ(f.children, 1);
    EXPECT_EQ(f.paths, 1);
    EXPECT_EQ(mainQueue().pendingCount(), 0u);

    // A database gone with slices pending: the rest never touches the tree.
    const size_t queued = mainQueue().pendingCount();
    f.index.tagQuery()->update(f.script.burst(f.index));
    ASSERT_NO_FATAL_FAILURE(Fixture::awaitPosted(queued, 1));
    mainQueue().runPending();
    ASSERT_TRUE(f.db->isApplyingTagChanges());
    const std::shared_ptr<const Tree> tree = f.db->treePtr();
    const NodePtr burst = tree->lookup(NodePath{QuickString::literal("Tags"), QuickString::literal("Burst")});
    ASSERT_TRUE(burst);
    const size_t applied = burst->pathCount();
    EXPECT_GT(applied, 0u);
    EXPECT_LT(applied, fileCount);
    f.db.reset();
    mainQueue().runPending();
    EXPECT_EQ(burst->pathCount(), applied);
    EXPECT_EQ(mainQueue().pendingCount(), 0u);
}

}  // namespace
}  // namespace qm
