#include "platform/XattrTagStore.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

#include "support/TempDir.h"

namespace qm {
namespace {

namespace fs = std::filesystem;
using Tags = std::vector<std::string>;

std::string shellQuote(const std::string& s) {
    std::string out = "'";
    for (char c : s)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

// Runs a command and returns its standard output.
std::string run(const std::string& command) {
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    std::string out;
    std::array<char, 4096> buf{};
    size_t n;
    while (pipe && (n = fread(buf.data(), 1, buf.size(), pipe.get())) > 0)
        out.append(buf.data(), n);
    return out;
}

// The raw stored value as getfattr sees it, or "<none>".
std::string getfattr(const fs::path& p) {
    std::string out =
        run("getfattr -h --only-values -n user.xdg.tags " + shellQuote(p.string()) + " 2>/dev/null");
    return out.empty() ? "<none>" : out;
}

void setfattr(const fs::path& p, const std::string& value) {
    ASSERT_EQ(
        0,
        std::system(
            ("setfattr -h -n user.xdg.tags -v " + shellQuote(value) + " " + shellQuote(p.string())).c_str()));
}

bool xattrsSupported(const fs::path& dir) {
    fs::path probe = dir / ".probe";
    test::writeFile(probe, "");
    bool ok = ::lsetxattr(probe.c_str(), "user.qm.probe", "1", 1, 0) == 0;
    fs::remove(probe);
    return ok;
}

class XattrTagStoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!xattrsSupported(dir.path())) GTEST_SKIP() << "no user xattrs on " << dir.path();
        if (run("command -v getfattr").empty()) GTEST_SKIP() << "getfattr missing";
    }
    test::TempDir dir{"qm-xattr"};
    XattrTagStore store;
};

TEST_F(XattrTagStoreTest, WrittenTagsAreSortedAndReadableByGetfattr) {
    fs::path file = dir / "photo.jpg";
    test::writeFile(file, "x");
    auto w = store.writeTags(file, {"zebra", "Ærø", "★", "a/b", "two words", "zebra", ""});
    ASSERT_TRUE(w.ok) << w.error;
    // Byte order, duplicates and empty names gone.
    EXPECT_EQ("a/b,two words,zebra,Ærø,★", getfattr(file));
    auto r = store.readTags(file);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ((Tags{"a/b", "two words", "zebra", "Ærø", "★"}), r.tags);

    // Folders carry tags too.
    fs::path folder = dir / "Folder";
    fs::create_directory(folder);
    ASSERT_TRUE(store.writeTags(folder, {"x"}).ok);
    EXPECT_EQ("x", getfattr(folder));

    // The empty list removes the attribute, and removing again is fine.
    ASSERT_TRUE(store.writeTags(file, {}).ok);
    EXPECT_EQ("<none>", getfattr(file));
    ASSERT_TRUE(store.writeTags(file, {}).ok);
    r = store.readTags(file);
    EXPECT_TRUE(r.ok);
    EXPECT_TRUE(r.tags.empty());
}

TEST_F(XattrTagStoreTest, ReadsValuesSetByOtherProgramsLikeKde) {
    fs::path file = dir / "doc.txt";
    test::writeFile(file, "x");
    setfattr(file, "★,Été,a/b,with space");
    auto r = store.readTags(file);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ((Tags{"★", "Été", "a/b", "with space"}), r.tags);  // stored order kept

    setfattr(file, ",a,,b,");
    r = store.readTags(file);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ((Tags{"a", "b"}), r.tags);
    EXPECT_EQ(",a,,b,", getfattr(file));  // reading never rewrites

    setfattr(file, ",,,");
    r = store.readTags(file);
    EXPECT_TRUE(r.ok);
    EXPECT_TRUE(r.tags.empty());
}

TEST_F(XattrTagStoreTest, BadValuesReadWithoutHarm) {
    fs::path file = dir / "bad";
    test::writeFile(file, "x");
    // Not UTF-8: the bytes come back as they are.
    std::string raw = "\xff\xfe,ok,\xc3";
    ASSERT_EQ(0, ::lsetxattr(file.c_str(), XattrTagStore::attributeName, raw.data(), raw.size(), 0));
    auto r = store.readTags(file);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ((Tags{"\xff\xfe", "ok", "\xc3"}), r.tags);

    // As large as the file system allows (ext4 keeps about one block).
    std::string huge;
    for (int i = 0; huge.size() < 60000; ++i)
        huge += "tag" + std::to_string(i) + ",";
    size_t stored = huge.size();
    while (stored > 16 &&
           ::lsetxattr(file.c_str(), XattrTagStore::attributeName, huge.data(), stored, 0) != 0)
        stored /= 2;
    r = store.readTags(file);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(XattrTagStore::parse(std::string_view(huge).substr(0, stored)), r.tags);
    EXPECT_EQ("tag0", r.tags.front());
}

TEST_F(XattrTagStoreTest, CommaInTagFailsAndLeavesFileAlone) {
    fs::path file = dir / "f";
    test::writeFile(file, "x");
    setfattr(file, "keep,these");
    auto w = store.writeTags(file, {"fine", "a,b"});
    EXPECT_FALSE(w.ok);
    EXPECT_NE(std::string::npos, w.error.find("comma")) << w.error;
    EXPECT_NE(std::string::npos, w.error.find("a,b")) << w.error;
    EXPECT_EQ("keep,these", getfattr(file));
}

TEST_F(XattrTagStoreTest, SymlinksAreNotFollowedAndErrorsAreReturned) {
    fs::path target = dir / "target";
    test::writeFile(target, "x");
    setfattr(target, "original");
    fs::path link = dir / "link";
    fs::create_symlink(target, link);

    auto r = store.readTags(link);
    EXPECT_TRUE(r.ok);
    EXPECT_TRUE(r.tags.empty());  // the target's tags are not the link's
    auto w = store.writeTags(link, {"new"});
    EXPECT_FALSE(w.ok);
    EXPECT_FALSE(w.error.empty());
    EXPECT_EQ("original", getfattr(target));
    (void)store.writeTags(link, {});  // whatever it returns, the target stays as it was
    EXPECT_EQ("original", getfattr(target));

    // A dangling link and a missing file.
    fs::create_symlink(dir / "nowhere", dir / "dangling");
    EXPECT_TRUE(store.readTags(dir / "dangling").ok);
    r = store.readTags(dir / "missing");
    EXPECT_FALSE(r.ok);
    EXPECT_NE(std::string::npos, r.error.find("missing")) << r.error;
    w = store.writeTags(dir / "missing", {"a"});
    EXPECT_FALSE(w.ok);

    // Names that are not UTF-8 or hold newlines and commas.
    for (std::string name : {std::string("caf\xe9"), std::string("line\nbreak,comma")}) {
        fs::path odd = dir.path() / name;
        test::writeFile(odd, "x");
        ASSERT_TRUE(store.writeTags(odd, {"b", "a"}).ok) << name;
        EXPECT_EQ("a,b", getfattr(odd));
        EXPECT_EQ((Tags{"a", "b"}), store.readTags(odd).tags);
    }

    // Without write permission the write fails and says why.
    if (geteuid() != 0) {
        fs::path ro = dir / "readonly";
        test::writeFile(ro, "x");
        ::chmod(ro.c_str(), 0444);
        w = store.writeTags(ro, {"a"});
        EXPECT_FALSE(w.ok);
        EXPECT_EQ("<none>", getfattr(ro));
    }
}

}  // namespace
}  // namespace qm

namespace qm {
namespace {

// The one read of the raw attribute, shared with the index: values of every
// size as getfattr reads them, "" for none, and a failure kept apart from "no tags".
TEST(XattrTagStore, RawAttributeReadTellsNoTagsFromFailure) {
    test::TempDir dir;
    if (!xattrsSupported(dir.path())) GTEST_SKIP() << "no user xattrs here";
    const fs::path plain = dir / "plain", small = dir / "small", big = dir / "big";
    test::writeFile(plain, "");
    test::writeFile(small, "");
    test::writeFile(big, "");
    setfattr(small, "a,b");
    std::string longValue;
    // Past the 1 KiB first read, within the 4 KiB that ext4 allows a file's attributes.
    for (int i = 0; longValue.size() < 2500; ++i) longValue += (i ? "," : "") + std::string("tag") + std::to_string(i);
    setfattr(big, longValue);

    EXPECT_EQ(XattrTagStore::readAttribute(plain.string()), std::optional<std::string>(""));
    EXPECT_EQ(XattrTagStore::readAttribute(small.string()), std::optional<std::string>(getfattr(small)));
    EXPECT_EQ(XattrTagStore::readAttribute(big.string()), std::optional<std::string>(getfattr(big)));
    EXPECT_EQ(XattrTagStore::readAttribute(big.string())->size(), longValue.size());

    EXPECT_FALSE(XattrTagStore::readAttribute((dir / "missing").string())) << "a failure, not \"no tags\"";

    // The crawl's read from the open folder agrees with getfattr too, for a
    // hostile name, and never follows a symlink to a tagged file.
    const fs::path odd = dir / "-odd\nname \xff";
    test::writeFile(odd, "");
    setfattr(odd, "x,y");
    fs::create_symlink(small, dir / "link");
    const int folder = ::open(dir.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(folder, 0);
    auto at = [&](const fs::path& p) {
        return XattrTagStore::readAttribute(folder, p.filename().c_str(), p.string());
    };
    EXPECT_EQ(at(plain), std::optional<std::string>(""));
    EXPECT_EQ(at(small), std::optional<std::string>(getfattr(small)));
    EXPECT_EQ(at(big), std::optional<std::string>(getfattr(big)));
    EXPECT_EQ(at(odd), std::optional<std::string>("x,y"));
    EXPECT_EQ(at(dir / "link"), std::optional<std::string>("")) << "the link's own, not its target's";
    EXPECT_FALSE(at(dir / "missing"));
    ::close(folder);
    XattrTagStore store;
    EXPECT_FALSE(store.readTags((dir / "missing").string()).ok);
    EXPECT_EQ(store.readTags(big.string()).tags.size(), XattrTagStore::parse(longValue).size());
}

}  // namespace
}  // namespace qm
