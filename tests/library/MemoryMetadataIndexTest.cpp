#include "library/MemoryMetadataIndex.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace qm {
namespace {

// The result list read between disable and enable.
std::vector<MetadataItem> readList(MemoryMetadataQuery& q) {
    q.disableUpdates();
    std::vector<MetadataItem> out;
    for (size_t i = 0, n = q.resultCount(); i < n; ++i)
        out.push_back(q.resultAt(i));
    q.enableUpdates();
    return out;
}

// The oracle: every item ever seen, in first-seen order, filtered file by file.
std::vector<MetadataItem> expected(const MemoryMetadataIndex& index, const std::vector<MetadataItem>& seen,
                                   MetadataQueryKind kind) {
    std::vector<MetadataItem> out;
    for (const MetadataItem& item : seen) {
        auto f = index.get(item);
        if (!f) continue;
        if (kind == MetadataQueryKind::tags ? (f->tags && !f->tags->empty()) : f->latitude.has_value())
            out.push_back(item);
    }
    return out;
}

TEST(MemoryMetadataIndexTest, IncrementalListsMatchABruteForceFilterAndFreezeStably) {
    MemoryMetadataIndex index;
    auto tags = index.tagQuery();
    auto gps = index.gpsQuery();
    std::mt19937 rng(3);
    std::vector<MetadataItem> seen;
    for (int step = 0; step < 3000; ++step) {
        const int op = int(rng() % 6);
        if (op == 0 || seen.empty()) {
            seen.push_back(index.add({"/p/" + std::to_string(step), std::vector<std::string>{"t"}, std::nullopt,
                                      std::nullopt}));
            continue;
        }
        const MetadataItem item = seen[rng() % seen.size()];
        if (op == 1) index.setTags(item, std::vector<std::string>{});
        if (op == 2) index.setTags(item, std::vector<std::string>{"a", std::to_string(step)});
        if (op == 3) index.erase(item);
        if (op == 4) index.setPosition(item, rng() % 2 ? std::optional<double>(1.0) : std::nullopt, 2.0);
        if (op == 5) {
            // A frozen list stays as it was while the script goes on.
            tags->disableUpdates();
            const size_t count = tags->resultCount();
            const MetadataItem first = count ? tags->resultAt(0) : MetadataItem{};
            const auto firstTags = count ? tags->tagsAt(0) : std::vector<std::string>{};
            index.erase(item);
            if (count) index.setTags(first, std::vector<std::string>{"changed"});
            EXPECT_EQ(tags->resultCount(), count);
            if (count) {
                EXPECT_EQ(tags->resultAt(0), first);
                EXPECT_EQ(tags->tagsAt(0), firstTags);
                // Current attributes are not frozen.
                EXPECT_EQ(tags->tagsOf(first), std::vector<std::string>{"changed"});
            }
            tags->enableUpdates();
        }
        if (step % 100 == 0) {
            ASSERT_EQ(readList(*tags), expected(index, seen, MetadataQueryKind::tags)) << step;
            ASSERT_EQ(readList(*gps), expected(index, seen, MetadataQueryKind::gps)) << step;
        }
    }
    EXPECT_EQ(readList(*tags), expected(index, seen, MetadataQueryKind::tags));
    EXPECT_EQ(readList(*gps), expected(index, seen, MetadataQueryKind::gps));
    // Outside disable/enable the list is not handed out.
    EXPECT_EQ(tags->resultAt(0), MetadataItem{});
}

}  // namespace
}  // namespace qm
