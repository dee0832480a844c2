#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/MainQueue.h"
#include "library/DB.h"
#include "support/MemoryMetadataIndex.h"
#include "library/MemoryUserDefaults.h"

namespace qm {
namespace {

// The ingest builds its tree and processes updates on "SpotlightQueue" while
// the main thread keeps reading the published tree.
TEST(DBConcurrencyTest, IngestBuildsWhileTheMainQueueReads) {
    MemoryMetadataIndex index;
    std::vector<MetadataItem> items;
    for (int i = 0; i < 5000; ++i)
        items.push_back(
            index.add({"/h/f" + std::to_string(i), std::vector<std::string>{"T" + std::to_string(i % 40)},
                       double(i % 80) - 40.0, double(i % 300) - 150.0}));
    auto defaults = std::make_shared<MemoryUserDefaults>();
    defaults->setValue("hasBeenLaunched", true);
    auto db = DB::create({index.tagQuery(), index.gpsQuery(), defaults, nullptr, nullptr});
    ASSERT_TRUE(
        mainQueue().runUntil([&] { return index.tagQuery()->isExecuted(); }, std::chrono::seconds(20)));
    index.gpsQuery()->finish();
    index.tagQuery()->finish();
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

}  // namespace
}  // namespace qm
