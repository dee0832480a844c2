// Drops onto sidebar nodes, the tag payload and file URLs.
#include <gtest/gtest.h>

#include <fstream>

#include "commands/CommandHarness.h"
#include "core/FileURL.h"
#include "commands/MoveFilesCommand.h"
#include "commands/ByteSafeText.h"
#include "commands/TagPasteboardType.h"
#include "library/TreeNames.h"

namespace qm {
namespace {

using namespace qm::test;
using Strings = std::vector<std::string>;
using Renames = std::vector<std::pair<std::string, std::string>>;

// The folder node for a directory under home, made when the scan has not.
NodePtr folderNode(Tree& tree, const fs::path& dir) {
    NodePath path = nodePathForFullName(*nodeNameForFolder(dir.string()));
    NodePtr at = tree.rootNode();
    for (const QuickString& name : path) {
        NodePtr next = at->child(name);
        if (!next) next = at->addChild(NodeKind::directory, name);
        at = next;
    }
    return at;
}

TEST(DropTest, TagPayload) {
    TagPasteboardType star("★");
    EXPECT_EQ(TagPasteboardType::writableTypes(), (Strings{"application/x-quillomere-tag"}));
    std::string json = star.pasteboardPropertyList();
    EXPECT_EQ(json, "{\"tag\":\"\xE2\x98\x85\"}");
    ASSERT_TRUE(TagPasteboardType::decode(json));
    EXPECT_EQ(TagPasteboardType::decode(json)->tag, "★");
    EXPECT_EQ(TagPasteboardType::decode(" { \"other\": 1, \"tag\" : \"a\\/b\\u00e9\" } ")->tag, "a/b\xC3\xA9");
    for (const char* bad : {"", "{", "[]", "{\"tags\":\"a\"}", "{\"tag\":3}", "\"tag\"", "{\"tag\":null}"})
        EXPECT_FALSE(TagPasteboardType::decode(bad)) << bad;
    // Tags other programs wrote in bytes that are not UTF-8 come back as
    // themselves; a payload of ours is still JSON text.
    for (std::string bytes : {std::string("caf\xe9"), std::string("\xff\xfe/x"), std::string("a\0b", 3)}) {
        std::string payload = TagPasteboardType(bytes).pasteboardPropertyList();
        EXPECT_TRUE(isValidUtf8(payload));
        ASSERT_TRUE(TagPasteboardType::decode(payload));
        EXPECT_EQ(TagPasteboardType::decode(payload)->tag, bytes);
    }

    DropInfo one = DropInfo::forTag("a/b");
    ASSERT_TRUE(one.tagPayload());
    EXPECT_EQ(one.tagPayload()->tag, "a/b");
    DropInfo two = one;
    two.items.push_back(DropItem{std::nullopt, fileURLForPath("/x/y")});
    EXPECT_FALSE(two.tagPayload());
    EXPECT_EQ(two.filePaths(), (std::vector<QuickString>{Q("/x/y")}));
    DropInfo invalid{{DropItem{std::string("{\"nottag\":\"a\"}"), std::nullopt}}};
    EXPECT_FALSE(invalid.tagPayload());
}

TEST(DropTest, FileURLs) {
    std::string hostile = "/h/a b/100%/#?\xE2\x98\x85\n\"q\"\xFF";
    std::string url = fileURLForPath(hostile);
    EXPECT_EQ(url, "file:///h/a%20b/100%25/%23%3F%E2%98%85%0A%22q%22%FF");
    EXPECT_EQ(pathForFileURL(url), hostile);
    EXPECT_EQ(pathForFileURL("FILE://localhost/tmp/x%2fy"), "/tmp/x/y");
    EXPECT_EQ(pathForFileURL("file:///a%zz%4"), "/a%zz%4");
    EXPECT_EQ(pathForFileURL("file:///a?query#frag"), "/a");
    EXPECT_FALSE(pathForFileURL("file://server/share/x"));
    EXPECT_FALSE(pathForFileURL("https://example.org/x"));
    EXPECT_FALSE(pathForFileURL("file:///a%00b"));
    EXPECT_EQ(percentDecode(percentEncodePath("~a-_.z/Ω")), "~a-_.z/Ω");
    EXPECT_EQ(percentEncodePath("~a-_.z/Ω"), "~a-_.z/%CE%A9");

    DropInfo d = DropInfo::forPaths({"/a/x", "/a/x", "/System/Volumes/Data/a/y/"});
    d.items.push_back(DropItem{std::nullopt, std::string("http://no")});
    d.items.push_back(DropItem{std::nullopt, std::nullopt});
    EXPECT_EQ(d.filePaths(), (std::vector<QuickString>{Q("/a/x"), Q("/System/Volumes/Data/a/y")}));
}

TEST(DropTest, TagDrops) {
    CommandHarness h;
    fs::path x = h.file("x", "a"), y = h.file("y", "a/b"), z = h.file("z", "b");
    h.load({{x, {"a"}}, {y, {"a/b"}}, {z, {"b"}}});
    NodePtr ab = h.tree().lookup(P({"Tags", "a", "b"})), b = h.tree().lookup(P({"Tags", "b"}));
    ASSERT_TRUE(ab && b);
    EXPECT_FALSE(h.stack().performDrop(ab, DropInfo::forTag("a"), false));  // into its own descendant
    EXPECT_FALSE(h.stack().performDrop(h.tree().lookup(P({"Tags", "a"})), DropInfo::forTag("a"), false));
    EXPECT_FALSE(h.stack().performDrop(b, DropInfo::forTag("missing"), false));
    EXPECT_FALSE(h.stack().performDrop(h.tree().lookup(P({"Colors", "Red"})), DropInfo::forTag("b"), false));
    EXPECT_TRUE(h.stack().undoStack().empty());

    EXPECT_TRUE(h.stack().performDrop(b, DropInfo::forTag("a"), false));
    EXPECT_EQ(rawTags(x), "b/a");
    EXPECT_EQ(rawTags(y), "b/a/b");
    EXPECT_EQ(h.window->currentNode(), P({"Tags", "b", "a"}));
    EXPECT_EQ(h.statuses.back(), "Reparented Tag");
    // Onto the Tags section: back to the top level.
    EXPECT_TRUE(h.stack().performDrop(h.tree().tagsNode(), DropInfo::forTag("b/a"), false));
    EXPECT_EQ(rawTags(x), "a");
    EXPECT_EQ(rawTags(z), "b");
}

TEST(DropTest, FileDropsOntoTagNodes) {
    CommandHarness h;
    fs::path x = h.file("x"), y = h.file("y"), t = h.file("t", "p");
    h.load({{t, {"p"}}});
    h.mutableTree().addPin(Q("Tags/p"));
    DropInfo files = DropInfo::forPaths({x.string(), y.string()});
    for (const NodePtr& refused : {h.tree().tagsNode(), h.tree().colorsNode(), h.tree().mapNode(),
                                   h.tree().pinnedNode(), h.tree().rootNode()})
        EXPECT_FALSE(h.stack().performDrop(refused, files, false)) << refused->fullName.utf8();
    EXPECT_TRUE(h.stack().undoStack().empty());

    EXPECT_TRUE(h.stack().performDrop(h.tree().lookup(P({"Colors", "Red"})), files, false));
    EXPECT_EQ(rawTags(x), "Red");
    EXPECT_EQ(rawTags(y), "Red");
    EXPECT_EQ(h.statuses.back(), "Tagged 2 Files");
    EXPECT_EQ(h.listed(P({"Colors", "Red"})), (Strings{x.string(), y.string()}));
    // The pinned tag's files are already listed by its pin: only the new one.
    DropInfo withT = DropInfo::forPaths({x.string(), t.string()});
    NodePtr pin = h.tree().lookup(P({"Pinned", "p"}));
    ASSERT_TRUE(pin);
    EXPECT_TRUE(h.stack().performDrop(pin, withT, false));
    EXPECT_EQ(rawTags(x), "Red,p");
    EXPECT_EQ(h.statuses.back(), "Tagged File");
    EXPECT_FALSE(h.stack().performDrop(pin, DropInfo::forPaths({t.string()}), false));
    EXPECT_TRUE(h.stack().performDrop(h.tree().starsNode(), DropInfo::forPaths({y.string()}), false));
    EXPECT_EQ(rawTags(y), "Red,★");
    h.stack().undo();
    EXPECT_EQ(rawTags(y), "Red");
}

TEST(DropTest, FileDropsOntoFoldersWithRenames) {
    CommandHarness h;
    fs::path photo = h.file("src/photo.jpg", "", "new photo"), notes = h.file("src/notes", "", "new notes");
    fs::path profile = h.file("src/.profile", "", "new profile"), plain = h.file("src/plain.txt", "", "P");
    fs::path dest = h.root / "dest";
    h.file("dest/photo.jpg", "", "old photo");
    h.file("dest/photo copy.jpg", "", "old copy");
    h.file("dest/notes", "", "old notes");
    h.file("dest/.profile", "", "old profile");
    h.load();
    NodePtr target = folderNode(h.mutableTree(), dest);
    DropInfo drop = DropInfo::forPaths({photo.string(), notes.string(), profile.string(), plain.string()});

    std::vector<Renames> alerts;
    h.window->renameConflictAlert = [&](const NodePtr& t, const DropInfo& d, const Renames& r) {
        EXPECT_EQ(t, target);
        EXPECT_EQ(d.items.size(), drop.items.size());
        alerts.push_back(r);
    };
    EXPECT_TRUE(h.stack().performDrop(target, drop, false));
    ASSERT_EQ(alerts.size(), 1u);
    EXPECT_EQ(alerts[0], (Renames{{"photo.jpg", "photo copy 2.jpg"},
                                  {"notes", "notes copy"},
                                  {".profile", " copy.profile"}}));
    EXPECT_TRUE(h.stack().undoStack().empty());  // nothing moved before the answer
    EXPECT_TRUE(fs::exists(plain));

    // Meanwhile "notes copy" appeared: the retry looks at the disk again.
    h.file("dest/notes copy", "", "meanwhile");
    EXPECT_TRUE(h.stack().performDrop(target, drop, true));
    EXPECT_EQ(alerts.size(), 1u);
    const auto& moved = dynamic_cast<const MoveFilesCommand&>(*h.stack().undoStack().back().command);
    ASSERT_EQ(moved.fromTo.size(), 4u);
    EXPECT_EQ(moved.fromTo[0].second, plain.string());  // plain pairs first
    EXPECT_EQ(h.statuses.back(), "Moved 4 files");
    auto read = [](const fs::path& p) {
        std::ifstream in(p);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    EXPECT_EQ(read(dest / "photo copy 2.jpg"), "new photo");
    EXPECT_EQ(read(dest / "notes copy 2"), "new notes");
    EXPECT_EQ(read(dest / " copy.profile"), "new profile");
    EXPECT_EQ(read(dest / "plain.txt"), "P");
    EXPECT_EQ(read(dest / "photo.jpg"), "old photo");
    EXPECT_EQ(read(dest / "notes copy"), "meanwhile");
    h.stack().undo();
    EXPECT_EQ(read(photo), "new photo");
    EXPECT_EQ(read(profile), "new profile");
    EXPECT_FALSE(fs::exists(dest / "photo copy 2.jpg"));

    auto none = [](const std::string&) { return false; };
    EXPECT_EQ(CommandStack::copyName("a.tar.gz", none), "a.tar copy.gz");
    EXPECT_EQ(CommandStack::copyName("x.", none), "x copy.");

    // No conflicts: moved at once without asking.
    fs::path other = h.root / "other";
    fs::create_directories(other);
    EXPECT_TRUE(h.stack().performDrop(folderNode(h.mutableTree(), other),
                                      DropInfo::forPaths({plain.string()}), false));
    EXPECT_TRUE(fs::exists(other / "plain.txt"));
    EXPECT_EQ(h.statuses.back(), "Moved File");
    EXPECT_EQ(alerts.size(), 1u);
    // Not file URLs: refused.
    DropInfo web{{DropItem{std::nullopt, std::string("https://example.org/a.jpg")}}};
    EXPECT_FALSE(h.stack().performDrop(target, web, false));
}

}  // namespace
}  // namespace qm
