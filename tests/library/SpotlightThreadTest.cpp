#include "library/SpotlightThread.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <random>
#include <set>
#include <thread>

#include "library/IngestHarness.h"
#include "support/LogCapture.h"

namespace qm {
namespace {

using test::IngestHarness;
using PathsByNode = std::map<std::string, std::set<std::string>>;

// Every tag-listing node (Tags, Colors, ★) with the paths it lists.
void collect(const NodePtr& node, PathsByNode& out) {
    if (!node->paths().empty())
        for (const auto& [path, meta] : node->paths())
            out[std::string(node->fullName.utf8())].insert(std::string(path.utf8()));
    for (const auto& [name, child] : node->children())
        collect(child, out);
}
PathsByNode tagNodes(const Tree& tree) {
    PathsByNode out;
    collect(tree.tagsNode(), out);
    collect(tree.colorsNode(), out);
    collect(tree.starsNode(), out);
    return out;
}

// The oracle: straight from the index's records, one file at a time.
PathsByNode expectedTagNodes(const MemoryMetadataIndex& index, const std::vector<MetadataItem>& items,
                             const TagFormat& format) {
    PathsByNode out;
    for (const MetadataItem& item : items) {
        auto f = index.get(item);
        if (!f || !f->path || !f->tags) continue;
        for (const std::string& tag : *f->tags)
            if (!tag.empty()) out[std::string(format.nodeNameForTag(tag).utf8())].insert(*f->path);
    }
    return out;
}

std::set<std::string> tagSet(const Tree& tree, const std::string& path) {
    std::set<std::string> out;
    for (const QuickString& n : tree.tagsFor(QuickString::path(path)))
        out.insert(std::string(n.utf8()));
    return out;
}

std::set<std::string> mapPaths(const Tree& tree) {
    std::set<std::string> out;
    for (const auto& [p, meta] : tree.mapNode()->paths())
        out.insert(std::string(p.utf8()));
    return out;
}

TEST(SpotlightThreadTest, InitialBuildMatchesTheIndexFileByFile) {
    IngestHarness h;
    std::vector<MetadataItem> items;
    items.push_back(h.addTagged("/h/a.txt", {"Work", "Work/2024"}));
    items.push_back(h.addTagged("/h/b.txt", {"Work/2024", "Work"}));  // same set, other order
    items.push_back(h.addTagged("/h/c.txt", {"Red", "★", "x,y"}));
    items.push_back(h.addTagged("/h/bad\xff\n.txt", {"caf\xe9"}));  // not UTF-8: bytes stay
    items.push_back(h.addTagged("/h/d.txt", {"", "Solo"}));         // empty tag names no node
    // Two items with one path: the path carries the union.
    items.push_back(h.addTagged("/h/twice", {"One"}));
    items.push_back(h.addTagged("/h/twice", {"Two", "One"}));
    // No path: skipped.
    items.push_back(
        h.index.add({std::nullopt, std::vector<std::string>{"Ghost"}, std::nullopt, std::nullopt}));
    h.start();
    EXPECT_FALSE(h.hasTree());

    qm::test::LogCapture log1;
    h.finishTags();
    std::string out = log1.release();
    EXPECT_NE(out.find("[setup] Tags query: "), std::string::npos) << out;
    EXPECT_NE(out.find(" seconds (8 results)\n"), std::string::npos) << out;
    EXPECT_NE(out.find("[setup] Tag processing: "), std::string::npos) << out;
    EXPECT_EQ(out.find("[tree]"), std::string::npos) << "the first build logs no tag lines";

    Tree& tree = h.tree();
    EXPECT_EQ(tagNodes(tree), expectedTagNodes(h.index, items, *h.format));
    EXPECT_EQ(tagSet(tree, "/h/twice"), (std::set<std::string>{"Tags/One", "Tags/Two"}));
    EXPECT_EQ(tagSet(tree, "/h/c.txt"), (std::set<std::string>{"Colors/Red", "★", "Tags/x,y"}));
    EXPECT_EQ(tagSet(tree, "/h/bad\xff\n.txt"), (std::set<std::string>{"Tags/caf\xe9"}));
    EXPECT_EQ(tagSet(tree, "/h/d.txt"), (std::set<std::string>{"Tags/Solo"}));
    EXPECT_EQ(tree.tags().size(), 6u);
    EXPECT_FALSE(tree.tagsNode()->child(QuickString::literal("Ghost")));
    // Colour nodes come with the ingest's tree, listed or not.
    EXPECT_TRUE(tree.colorsNode()->child(QuickString::literal("Blue")));
    EXPECT_EQ(h.treeDeliveries(), 1);

    // A second finish notification builds nothing again.
    h.finishTags();
    EXPECT_EQ(h.treeDeliveries(), 1);
}

// A larger library with hostile tags (bytes that are not UTF-8, a zero byte,
// empty tags, repeats, the same list in another order) and paths shared by
// several items: the build must agree with the file-by-file oracle. Files
// that share a tag set must then change apart.
TEST(SpotlightThreadTest, ARandomLibraryBuildsAsFileByFileAndSharedSetsChangeApart) {
    IngestHarness h;
    const std::vector<std::string> pool{"Work", "Work/2024", "Red", "\xe2\x98\x85", std::string("nul\0byte", 8),
                                        "caf\xe9", "", "a,b", "Deep/er/still", std::string(300, 'L')};
    std::mt19937 rng(11);
    std::vector<std::vector<std::string>> lists;
    for (int l = 0; l < 40; ++l) {
        std::vector<std::string> list;
        for (int k = 0, n = int(rng() % 12); k < n; ++k) list.push_back(pool[rng() % pool.size()]);
        lists.push_back(list);
        std::shuffle(list.begin(), list.end(), rng);
        lists.push_back(list);  // the same set, another order
    }
    std::vector<MetadataItem> items;
    for (int i = 0; i < 3000; ++i) {
        const std::string path = "/h/" + std::to_string(rng() % 2000) + (i % 5 ? ".jpg" : "\n\xff");
        if (i % 97 == 0)
            items.push_back(h.index.add({std::nullopt, lists[rng() % lists.size()], std::nullopt, std::nullopt}));
        else
            items.push_back(h.addTagged(path, lists[rng() % lists.size()]));
    }
    auto first = h.addTagged("/h/shared-1", {"Work", "Red"});
    auto second = h.addTagged("/h/shared-2", {"Red", "Work"});
    items.push_back(first);
    items.push_back(second);
    h.start();
    h.finishTags();
    Tree& tree = h.tree();

    const PathsByNode expected = expectedTagNodes(h.index, items, *h.format);
    ASSERT_EQ(tagNodes(tree), expected);
    std::map<std::string, std::set<std::string>> setsByPath;
    for (const auto& [node, paths] : expected)
        for (const std::string& path : paths) setsByPath[path].insert(node);
    EXPECT_EQ(tree.tags().size(), setsByPath.size());
    for (const auto& [path, names] : setsByPath) ASSERT_EQ(tagSet(tree, path), names) << path;

    const std::set<std::string> both{"Colors/Red", "Tags/Work"};
    ASSERT_EQ(tree.tags().at(QuickString::path("/h/shared-1")),
              tree.tags().at(QuickString::path("/h/shared-2")))
        << "one set for both files";
    tree.addTag(QuickString::literal("Tags/Extra"), QuickString::path("/h/shared-1"));
    EXPECT_EQ(tagSet(tree, "/h/shared-2"), both);
    tree.removeTag(QuickString::literal("Tags/Work"), QuickString::path("/h/shared-2"), {});
    EXPECT_EQ(tagSet(tree, "/h/shared-1"), (std::set<std::string>{"Colors/Red", "Tags/Work", "Tags/Extra"}));
    EXPECT_EQ(tagSet(tree, "/h/shared-2"), (std::set<std::string>{"Colors/Red"}));

    // A live change of one file leaves the other alone, and re-reporting the
    // other one's unchanged tags sends nothing.
    h.index.setTags(first, std::vector<std::string>{"Work"});
    h.tagUpdate({{}, {first}, {}});
    EXPECT_EQ(tagSet(tree, "/h/shared-1"), (std::set<std::string>{"Tags/Work"}));
    EXPECT_EQ(tagSet(tree, "/h/shared-2"), (std::set<std::string>{"Colors/Red"}));
    h.tagUpdate({{}, {second}, {}});
    EXPECT_TRUE(h.tagChanges().back().empty());
}

TEST(SpotlightThreadTest, LiveTagUpdatesRenamesAndDeletions) {
    IngestHarness h;
    std::vector<MetadataItem> items;
    auto moved = h.addTagged("/h/old.txt", {"A", "B"});
    auto deleted = h.addTagged("/h/gone.txt", {"A"});
    auto untagged = h.addTagged("/h/untagged.txt", {"C"});
    auto vanished = h.addTagged("/h/vanished.txt", {"D"});
    auto steady = h.addTagged("/h/steady.txt", {"A"});
    h.start();
    h.finishTags();
    Tree& tree = h.tree();

    // Rename: the new path gets the tags, the old one loses every tag.
    h.index.setPath(moved, "/h/new.txt");
    // Deleted file: reported removed, no tags left.
    h.index.setTags(deleted, std::nullopt);
    // Last tag removed: a changed item without tags.
    h.index.setTags(untagged, std::vector<std::string>{});
    // Removed with no readable path any more: its last known path still clears.
    h.index.erase(vanished);
    h.tagUpdate({{}, {moved, untagged}, {deleted, vanished}});
    ASSERT_EQ(h.tagChanges().size(), 1u);

    EXPECT_EQ(tagSet(tree, "/h/new.txt"), (std::set<std::string>{"Tags/A", "Tags/B"}));
    EXPECT_TRUE(tagSet(tree, "/h/old.txt").empty());
    EXPECT_TRUE(tagSet(tree, "/h/gone.txt").empty());
    EXPECT_TRUE(tagSet(tree, "/h/untagged.txt").empty());
    EXPECT_TRUE(tagSet(tree, "/h/vanished.txt").empty());
    PathsByNode expected{{"Tags/A", {"/h/new.txt", "/h/steady.txt"}}, {"Tags/B", {"/h/new.txt"}}};
    EXPECT_EQ(tagNodes(tree), expected);
    EXPECT_FALSE(tree.tagsNode()->child(QuickString::literal("C"))) << "emptied tags vanish";

    // Re-reporting unchanged tags changes nothing.
    h.tagUpdate({{}, {steady, moved}, {}});
    ASSERT_EQ(h.tagChanges().size(), 2u);
    EXPECT_TRUE(h.tagChanges().back().empty());

    // A batch where one file moves away and another moves onto its old path,
    // in either order: the newcomer keeps its tags.
    auto x = h.addTagged("/h/x", {"X"});
    auto y = h.addTagged("/h/y", {"Y"});
    h.tagUpdate({{x, y}, {}, {}});
    h.index.setPath(x, "/h/x2");
    h.index.setPath(y, "/h/x");
    h.tagUpdate({{}, {y, x}, {}});
    EXPECT_EQ(tagSet(tree, "/h/x"), (std::set<std::string>{"Tags/Y"}));
    EXPECT_EQ(tagSet(tree, "/h/x2"), (std::set<std::string>{"Tags/X"}));
    EXPECT_TRUE(tagSet(tree, "/h/y").empty());
    h.index.setPath(x, "/h/x3");
    h.index.setPath(y, "/h/x2");
    h.tagUpdate({{}, {x, y}, {}});
    EXPECT_EQ(tagSet(tree, "/h/x2"), (std::set<std::string>{"Tags/Y"}));
    EXPECT_EQ(tagSet(tree, "/h/x3"), (std::set<std::string>{"Tags/X"}));
    EXPECT_TRUE(tagSet(tree, "/h/x").empty());

    // Items without a path are skipped; an update of nothing sends nothing.
    auto pathless = h.index.add({std::nullopt, std::vector<std::string>{"Z"}, std::nullopt, std::nullopt});
    size_t before = h.tagChanges().size();
    h.tagUpdate({{pathless}, {}, {}});
    EXPECT_EQ(h.tagChanges().size(), before);
    EXPECT_FALSE(tree.tagsNode()->child(QuickString::literal("Z")));
}

TEST(SpotlightThreadTest, UpdatesBeforeTheFirstBuildAreDroppedWithoutLoss) {
    IngestHarness h;
    auto a = h.addTagged("/h/a", {"Old"});
    h.start();
    h.index.setTags(a, std::vector<std::string>{"New"});
    auto b = h.addTagged("/h/b", {"Later"});
    h.tagUpdate({{b}, {a}, {}});
    EXPECT_TRUE(h.tagChanges().empty());
    EXPECT_FALSE(h.hasTree());
    h.finishTags();
    EXPECT_EQ(tagSet(h.tree(), "/h/a"), (std::set<std::string>{"Tags/New"}));
    EXPECT_EQ(tagSet(h.tree(), "/h/b"), (std::set<std::string>{"Tags/Later"}));
    EXPECT_FALSE(h.tree().tagsNode()->child(QuickString::literal("Old")));
    // The item map was filled by the build: a later rename still clears.
    h.index.setPath(a, "/h/a2");
    h.tagUpdate({{}, {a}, {}});
    EXPECT_TRUE(tagSet(h.tree(), "/h/a").empty());
    EXPECT_EQ(tagSet(h.tree(), "/h/a2"), (std::set<std::string>{"Tags/New"}));
}

TEST(SpotlightThreadTest, PositionsFollowMakeGPS) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_FALSE(makeGPS(0.0, 0.0));
    EXPECT_FALSE(makeGPS(-0.0, 0.0));
    ASSERT_TRUE(makeGPS(0.0, 12.5));
    EXPECT_EQ(*makeGPS(0.0, 12.5), (GPS{.latitude = 0.0, .longitude = 12.5}));
    EXPECT_EQ(*makeGPS(-33.9, 151.2), (GPS{.latitude = -33.9, .longitude = 151.2}));
    EXPECT_TRUE(makeGPS(90.0, -180.0));
    EXPECT_FALSE(makeGPS(nan, 1.0));
    EXPECT_FALSE(makeGPS(1.0, nan));
    EXPECT_FALSE(makeGPS(std::nullopt, 1.0));
    EXPECT_FALSE(makeGPS(1.0, std::nullopt));
    EXPECT_FALSE(makeGPS(inf, 1.0));
    EXPECT_FALSE(makeGPS(1.0, -inf));
    EXPECT_FALSE(makeGPS(90.5, 1.0));
    EXPECT_FALSE(makeGPS(1.0, 181.0));
    EXPECT_FALSE(makeGPS(1e308, -1e308));
}

TEST(SpotlightThreadTest, GPSFinishingBeforeTheTagsGoesIntoTheTree) {
    IngestHarness h;
    h.addTagged("/h/t", {"T"});
    h.addPositioned("/h/p1", 47.0, 8.0);
    h.addPositioned("/h/zero", 0.0, 0.0);
    h.addPositioned("/h/equator", 0.0, 8.0);
    h.addPositioned("/h/nan", std::numeric_limits<double>::quiet_NaN(), 8.0);
    h.addPositioned("/h/inf", 1.0, std::numeric_limits<double>::infinity());
    h.addPositioned("/h/far", 400.0, 8.0);
    h.start();
    h.finishGPS();
    EXPECT_TRUE(h.gpsDeliveries().empty()) << "the tree is not out yet";
    h.finishTags();
    EXPECT_EQ(mapPaths(h.tree()), (std::set<std::string>{"/h/p1", "/h/equator"}));
    EXPECT_EQ(h.tree().mapNode()->paths().at(QuickString::path("/h/p1")).gps,
              (GPS{.latitude = 47.0, .longitude = 8.0}));
    EXPECT_TRUE(h.gpsDeliveries().empty()) << "delivered exactly once, with the tree";
}

TEST(SpotlightThreadTest, GPSFinishingAfterTheTagsIsDeliveredOnceAndFollowsUpdates) {
    IngestHarness h;
    h.addTagged("/h/t", {"T"});
    auto p1 = h.addPositioned("/h/p1", 47.0, 8.0);
    auto p2 = h.addPositioned("/h/p2", 10.0, 20.0);
    h.start();
    h.finishTags();
    EXPECT_TRUE(mapPaths(h.tree()).empty());
    h.finishGPS();
    ASSERT_EQ(h.gpsDeliveries().size(), 1u);
    EXPECT_FALSE(h.gpsDeliveries()[0].touched.has_value());
    EXPECT_EQ(mapPaths(h.tree()), (std::set<std::string>{"/h/p1", "/h/p2"}));

    // Moved, repositioned to (0, 0), and a new file.
    h.index.setPath(p1, "/h/p1-moved");
    h.index.setPosition(p2, 0.0, 0.0);
    auto p3 = h.addPositioned("/h/p3", -1.0, -2.0);
    h.gpsUpdate({{p3}, {p1, p2}, {}});
    ASSERT_EQ(h.gpsDeliveries().size(), 2u);
    EXPECT_EQ(mapPaths(h.tree()), (std::set<std::string>{"/h/p1-moved", "/h/p3"}));
    const auto& touched = h.gpsDeliveries()[1].touched;
    ASSERT_TRUE(touched.has_value());
    std::set<std::string> touchedText;
    for (const QuickString& p : *touched)
        touchedText.insert(std::string(p.utf8()));
    EXPECT_EQ(touchedText, (std::set<std::string>{"/h/p1", "/h/p1-moved", "/h/p2", "/h/p3"}));

    // Removed: a deleted file without attributes.
    h.index.erase(p3);
    h.gpsUpdate({{}, {}, {p3}});
    EXPECT_EQ(mapPaths(h.tree()), (std::set<std::string>{"/h/p1-moved"}));

    // Hostile values in a live update drop the position instead of crashing.
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    for (auto [lat, lon] : {std::pair{nan, 1.0}, {1.0, inf}, {-inf, 1.0}, {91.0, 1.0}, {1.0, -180.5}}) {
        h.index.setPosition(p1, 47.0, 8.0);
        h.gpsUpdate({{}, {p1}, {}});
        ASSERT_EQ(mapPaths(h.tree()), (std::set<std::string>{"/h/p1-moved"}));
        h.index.setPosition(p1, lat, lon);
        h.gpsUpdate({{}, {p1}, {}});
        EXPECT_TRUE(mapPaths(h.tree()).empty()) << lat << ", " << lon;
    }
}

// Holds the probe until released, as a system permission prompt would.
class SlowProbe final : public FolderAccessProbe {
public:
    explicit SlowProbe(std::chrono::milliseconds delay) : delay_(delay) {}
    void listDirectory(const std::string& path) override {
        if (path.ends_with("/Documents")) std::this_thread::sleep_for(delay_);
        ++listed;
    }
    std::atomic<int> listed{0};

private:
    std::chrono::milliseconds delay_;
};

TEST(SpotlightThreadTest, FolderAccessProbeReportsABlockedStart) {
    {
        auto probe = std::make_shared<SlowProbe>(std::chrono::milliseconds(600));
        IngestHarness h(probe);
        h.start();
        h.settle();
        EXPECT_EQ(h.permission(), (std::vector<bool>{true, false}));
        EXPECT_EQ(probe->listed.load(), 6);
    }
    {
        auto probe = std::make_shared<SlowProbe>(std::chrono::milliseconds(0));
        IngestHarness h(probe, /*launchedBefore=*/false);
        EXPECT_EQ(h.defaults->value("hasBeenLaunched"), std::nullopt);
        h.start();
        h.settle();
        EXPECT_EQ(h.permission(), (std::vector<bool>{false}));
        EXPECT_EQ(h.defaults->value("hasBeenLaunched"), DefaultsValue(true));
    }
}

}  // namespace
}  // namespace qm
