#include "support/MemoryMetadataIndex.h"

#include <gtest/gtest.h>

#include <algorithm>
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

// The bulk read hands out what the single reads do, item by item, including
// the current path of an item renamed while the list is frozen.
TEST(MemoryMetadataIndexTest, BulkReadAgreesWithTheSingleReads) {
    MemoryMetadataIndex index;
    std::vector<MetadataItem> items;
    for (int i = 0; i < 50; ++i)
        items.push_back(index.add({"/p/" + std::to_string(i), std::vector<std::string>{"t", std::to_string(i % 7)},
                                   i % 3 ? std::optional<double>(i) : std::nullopt, -i}));
    items.push_back(index.add({std::nullopt, std::vector<std::string>{"no path"}, 5.0, 6.0}));
    index.erase(items[10]);

    for (const auto& query : {index.tagQuery(), index.gpsQuery()}) {
        query->disableUpdates();
        index.setPath(items[4], "/moved/4");  // after the freeze
        struct Copy {
            MetadataItem item;
            std::optional<std::string> path;
            std::vector<std::string> tags;
            std::optional<double> latitude, longitude;
        };
        std::vector<Copy> visited;  // the visitor may not call the query
        query->readResults([&](const MetadataQuery::ResultView& r) {
            visited.push_back({r.item, r.path ? std::optional<std::string>(*r.path) : std::nullopt, r.tags,
                               r.latitude, r.longitude});
        });
        for (size_t i = 0; i < visited.size(); ++i) {
            const Copy& r = visited[i];
            EXPECT_EQ(r.item, query->resultAt(i));
            EXPECT_EQ(r.path, query->pathOf(r.item));
            EXPECT_EQ(r.tags, query->tagsAt(i));
            EXPECT_EQ(r.latitude, query->latitudeAt(i));
            EXPECT_EQ(r.longitude, query->longitudeAt(i));
        }
        EXPECT_TRUE(std::any_of(visited.begin(), visited.end(),
                                [](const Copy& c) { return c.path == "/moved/4"; }));
        EXPECT_EQ(visited.size(), query->resultCount());
        query->enableUpdates();
        index.setPath(items[4], "/p/4");
    }
    // Outside disable/enable nothing is handed out.
    size_t visits = 0;
    index.tagQuery()->readResults([&](const MetadataQuery::ResultView&) { ++visits; });
    EXPECT_EQ(visits, 0u);
}

}  // namespace
}  // namespace qm
