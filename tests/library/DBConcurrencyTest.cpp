#include <gtest/gtest.h>

#include <string>
#include <variant>
#include <vector>

#include "core/MainQueue.h"
#include "core/TagFormat.h"
#include "library/DB.h"
#include "library/TagExpression.h"
#include "support/MemoryMetadataIndex.h"
#include "library/MemoryUserDefaults.h"

namespace qm {
namespace {

// A database over the index whose first gathering has been read and ended.
std::shared_ptr<DB> startDB(MemoryMetadataIndex& index) {
    auto defaults = std::make_shared<MemoryUserDefaults>();
    defaults->setValue("hasBeenLaunched", true);
    auto db = DB::create({index.tagQuery(), index.gpsQuery(), defaults, nullptr, nullptr});
    if (!mainQueue().runUntil([&] { return index.tagQuery()->isExecuted(); }, std::chrono::seconds(20)))
        return nullptr;
    index.gpsQuery()->finish();
    index.tagQuery()->finish();
    return db;
}

// The ingest builds its tree and processes updates on "SpotlightQueue" while
// the main thread keeps reading the published tree.
TEST(DBConcurrencyTest, IngestBuildsWhileTheMainQueueReads) {
    MemoryMetadataIndex index;
    std::vector<MetadataItem> items;
    for (int i = 0; i < 5000; ++i)
        items.push_back(
            index.add({"/h/f" + std::to_string(i), std::vector<std::string>{"T" + std::to_string(i % 40)},
                       double(i % 80) - 40.0, double(i % 300) - 150.0}));
    auto db = startDB(index);
    ASSERT_TRUE(db);
    size_t reads = 0;
    for (int i = 0; i < 100; ++i) {
        index.setTags(items[i], std::vector<std::string>{"U"});
        index.tagQuery()->update({{}, {items[i]}, {}});
    }
    mainQueue().runUntil(
        [&] {
            reads += db->tree().tagsNode()->sortedChildren().size() + db->tree().mapNode()->pathCount();
            return db->loadingState() == LoadingState::loaded &&
                   db->tree().tagsNode()->child(QuickString::literal("U")) &&
                   db->tree().tagsNode()->child(QuickString::literal("U"))->paths().size() == 100;
        },
        std::chrono::seconds(60));
    EXPECT_EQ(db->loadingState(), LoadingState::loaded);
    ASSERT_TRUE(db->tree().tagsNode()->child(QuickString::literal("U")));
    EXPECT_EQ(db->tree().tagsNode()->child(QuickString::literal("U"))->paths().size(), 100u);
    EXPECT_GT(reads, 0u);
    db.reset();
    mainQueue().runPending();
}

// Big queries are judged on "QueryQueue" over a snapshot of the tags while
// the ingest goes on changing them on the main thread: every query ends up
// listing what a file-by-file test of the final tags finds.
TEST(DBConcurrencyTest, QueriesJudgedAwayWhileTagsChange) {
    MemoryMetadataIndex index;
    std::vector<MetadataItem> items;
    for (int i = 0; i < 8000; ++i) {
        std::vector<std::string> tags{"T" + std::to_string(i % 7)};
        if (i % 3 == 0) tags.push_back("done");
        items.push_back(index.add({"/h/f" + std::to_string(i), tags, std::nullopt, std::nullopt}));
    }
    auto db = startDB(index);
    ASSERT_TRUE(db);
    ASSERT_TRUE(mainQueue().runUntil([&] { return db->loadingState() == LoadingState::loaded; },
                                     std::chrono::seconds(60)));

    const std::vector<std::string> texts = {"not done", "T1 or not T2", "not (T3 and done)"};
    std::vector<NodePtr> nodes;
    for (int round = 0; round < 2; ++round) {
        for (const std::string& t : texts) nodes.push_back(db->openQuery(t + (round ? " or x" + std::to_string(round) : "")));
        // The tags change while the queries are judged.
        for (int i = round * 400; i < round * 400 + 400; ++i) {
            index.setTags(items[size_t(i)], std::vector<std::string>{i % 2 ? "done" : "T2"});
            index.tagQuery()->update({{}, {items[size_t(i)]}, {}});
        }
    }
    auto settled = [&] {
        for (const NodePtr& n : nodes)
            if (db->tree().queries().isPending(*n)) return false;
        return db->tree().tagsFor(QuickString::literal("/h/f799")) ==
               QuickStringSet{db->format->nodeNameForTag("done")};
    };
    ASSERT_TRUE(mainQueue().runUntil(settled, std::chrono::seconds(60)));
    mainQueue().runPending();
    for (const NodePtr& n : nodes) {
        auto parsed = TagExpression::parse(n->name.utf8());
        const TagExpression& e = std::get<TagExpression>(parsed);
        size_t expected = 0;
        for (const auto& [path, set] : db->tree().tags()) {
            std::vector<std::string> tags;
            for (const QuickString& name : *set) tags.push_back(*TagFormat::tagForNodeName(name));
            if (!e.matches(tags)) continue;
            ++expected;
            EXPECT_TRUE(n->paths().contains(path)) << n->name.utf8() << ": " << path.utf8();
        }
        EXPECT_EQ(n->paths().size(), expected) << n->name.utf8();
        EXPECT_GT(expected, 1000u);
    }
    db.reset();
    mainQueue().runPending();
}

}  // namespace
}  // namespace qm
