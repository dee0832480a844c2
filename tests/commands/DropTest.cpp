// Drops onto sidebar nodes, the tag payload and file URLs.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>

#include "commands/CommandHarness.h"
#include "core/FileURL.h"
#include "commands/MoveFilesCommand.h"
#include "commands/ByteSafeText.h"
#include "commands/TagPasteboardType.h"
#include "library/TreeNames.h"
#include "support/ShellCommand.h"

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
    DropInfo invalid;
    invalid.items.push_back(DropItem{std::string("{\"nottag\":\"a\"}"), std::nullopt});
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
    DropInfo web;
    web.items.push_back(DropItem{std::nullopt, std::string("https://example.org/a.jpg")});
    EXPECT_FALSE(h.stack().performDrop(target, web, false));
}

// The tags as getfattr reads them from the disk, or "<none>".
std::string getfattrTags(const fs::path& p) {
    auto [status, out] = runShell("getfattr -h --only-values -n user.xdg.tags " + shellQuoted(p.string()) +
                                  " 2>/dev/null");
    return status == 0 ? out : "<none>";
}

std::string contents(const fs::path& p) {
    std::ifstream in(p);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// A process id that no process has any more.
pid_t goneProcess() {
    pid_t child = ::fork();
    if (child == 0) ::_exit(0);
    ::waitpid(child, nullptr, 0);
    return child;
}

TEST(DropTest, FilesIntoAFolderAreMovedOrCopiedAsAskedAndCopiesKeepTheirTags) {
    CommandHarness h;
    h.load();
    fs::path dest = h.root / "dest";
    fs::create_directories(dest);
    NodePtr target = folderNode(h.mutableTree(), dest);
    fs::path a = h.file("src/a.jpg", "", "photo a"), b = h.file("src/b.jpg", "", "photo b"),
             c = h.file("src/c.jpg", "", "photo c");
    ASSERT_EQ(runShell("setfattr -n user.xdg.tags -v 'Trip,Beach' " + shellQuoted(a.string())).first, 0);

    // Leftovers of a copy cut off in an earlier run of ours go; another
    // program's temporary file and those of a run still going stay.
    const pid_t gone = goneProcess();
    const fs::path leftover = dest / (".x.jpg.qm-partial-" + std::to_string(gone) + "-0");
    const fs::path leftoverFolder = dest / (".y.qm-partial-" + std::to_string(gone) + "-3");
    const fs::path running = dest / (".z.jpg.qm-partial-" + std::to_string(::getppid()) + "-0");
    writeFile(leftover, "half");
    fs::create_directories(leftoverFolder / "inner");
    writeFile(leftoverFolder / "inner" / "f", "half");
    writeFile(running, "going");
    writeFile(dest / ".x.jpg.part", "theirs");

    // Ctrl: a copy. The original stays, the copy has its bytes and its tags.
    DropInfo copy = DropInfo::forPaths({a.string()});
    copy.requested = DropOperation::copy;
    DropOperation performed = DropOperation::move;
    ASSERT_TRUE(h.stack().performDrop(target, copy, false, &performed));
    EXPECT_EQ(performed, DropOperation::copy);
    EXPECT_EQ(contents(a), "photo a");
    EXPECT_EQ(contents(dest / "a.jpg"), "photo a");
    EXPECT_EQ(getfattrTags(dest / "a.jpg"), "Trip,Beach");
    EXPECT_EQ(getfattrTags(a), "Trip,Beach");
    EXPECT_EQ(h.statuses.back(), "Copied File");
    EXPECT_EQ(h.undoTitles().back(), "Copy File");
    EXPECT_FALSE(fs::exists(leftover));
    EXPECT_FALSE(fs::exists(leftoverFolder));
    EXPECT_TRUE(fs::exists(running));
    EXPECT_EQ(contents(dest / ".x.jpg.part"), "theirs");
    // Undone, the copy goes to the Trash and the original stays.
    h.stack().undo();
    EXPECT_FALSE(fs::exists(dest / "a.jpg"));
    EXPECT_EQ(contents(a), "photo a");

    // Shift: a move.
    DropInfo move = DropInfo::forPaths({b.string()});
    move.requested = DropOperation::move;
    ASSERT_TRUE(h.stack().performDrop(target, move, false, &performed));
    EXPECT_EQ(performed, DropOperation::move);
    EXPECT_FALSE(fs::exists(b));
    EXPECT_EQ(contents(dest / "b.jpg"), "photo b");

    // A source that offers only a copy (a mail program's attachment) gets
    // one, whatever the modifier.
    DropInfo copyOnly = DropInfo::forPaths({c.string()});
    copyOnly.sourceAllowsMove = false;
    copyOnly.requested = DropOperation::move;
    ASSERT_TRUE(h.stack().performDrop(target, copyOnly, false, &performed));
    EXPECT_EQ(performed, DropOperation::copy);
    EXPECT_EQ(contents(c), "photo c");
    EXPECT_EQ(contents(dest / "c.jpg"), "photo c");
    copyOnly.sourceAllowsCopy = false;
    EXPECT_FALSE(h.stack().performDrop(folderNode(h.mutableTree(), h.root / "src"), copyOnly, false));

    // No modifier, one file system: a move.
    fs::path d = h.file("src/d.jpg", "", "photo d");
    ASSERT_TRUE(h.stack().performDrop(target, DropInfo::forPaths({d.string()}), false, &performed));
    EXPECT_EQ(performed, DropOperation::move);
    EXPECT_FALSE(fs::exists(d));

    // No modifier, from another file system (a USB stick's, here a tmpfs):
    // a copy, so the file stays there.
    struct stat home {}, shm {};
    if (::stat("/dev/shm", &shm) != 0 || ::stat(dest.c_str(), &home) != 0 || shm.st_dev == home.st_dev)
        GTEST_SKIP() << "no second file system to drop from";
    std::string stickName = "/dev/shm/qm-stick-XXXXXX";
    ASSERT_TRUE(::mkdtemp(stickName.data()));
    const fs::path stick = stickName;
    struct Removed {
        fs::path path;
        ~Removed() {
            std::error_code ec;
            fs::remove_all(path, ec);
        }
    } removed{stick};
    fs::path e = stick / "e.jpg";
    writeFile(e, "photo e");
    ASSERT_EQ(runShell("setfattr -n user.xdg.tags -v Trip " + shellQuoted(e.string())).first, 0);
    ASSERT_TRUE(h.stack().performDrop(target, DropInfo::forPaths({e.string()}), false, &performed));
    EXPECT_EQ(performed, DropOperation::copy);
    EXPECT_EQ(contents(e), "photo e");
    EXPECT_EQ(contents(dest / "e.jpg"), "photo e");
    EXPECT_EQ(getfattrTags(dest / "e.jpg"), "Trip");
    EXPECT_EQ(h.statuses.back(), "Copied File");
}

}  // namespace
}  // namespace qm
