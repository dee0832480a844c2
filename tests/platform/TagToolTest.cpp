// The command-line tool run as a program, on the test's temporary HOME, with
// hostile file names, checked against getfattr and the disk.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "core/MainQueue.h"
#include "platform/FileIndex.h"
#include "platform/IndexLiveLock.h"
#include "platform/IndexStore.h"
#include "platform/LibraryReader.h"
#include "platform/ListingEscape.h"
#include "support/TempDir.h"

extern char** environ;

using namespace qm;
namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

struct Result {
    int status = -1;
    std::string out, err;
};

// Runs the tool with these arguments (no shell), capturing both streams.
Result tool(const std::vector<std::string>& args) {
    static int counter = 0;
    const fs::path dir = fs::temp_directory_path();
    const std::string tag = std::to_string(::getpid()) + "-" + std::to_string(counter++);
    const fs::path outFile = dir / ("qm-tagtool-out-" + tag), errFile = dir / ("qm-tagtool-err-" + tag);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    std::vector<char*> argv{const_cast<char*>(QM_TAG_TOOL)};
    for (const auto& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    Result r;
    if (posix_spawn(&pid, QM_TAG_TOOL, &actions, nullptr, argv.data(), environ) == 0) {
        int status = 0;
        ::waitpid(pid, &status, 0);
        r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    posix_spawn_file_actions_destroy(&actions);
    r.out = test::readFile(outFile);
    r.err = test::readFile(errFile);
    fs::remove(outFile);
    fs::remove(errFile);
    return r;
}

std::string shellQuoted(const fs::path& p) {
    std::string out = "'";
    for (char c : p.string())
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

// The oracle: the attribute's raw value as getfattr prints it ("" when none).
std::string getfattr(const fs::path& p) {
    const fs::path value = fs::temp_directory_path() / ("qm-getfattr-" + std::to_string(::getpid()));
    const std::string cmd = "getfattr -h --only-values -n user.xdg.tags " + shellQuoted(p) + " > " + shellQuoted(value) +
                            " 2>/dev/null";
    const bool ok = std::system(cmd.c_str()) == 0;
    std::string bytes = ok ? test::readFile(value) : std::string();
    fs::remove(value);
    return bytes;
}

void setfattr(const fs::path& p, const std::string& value) {
    ASSERT_EQ(std::system(("setfattr -h -n user.xdg.tags -v " + shellQuoted(value) + " " + shellQuoted(p)).c_str()), 0);
}

std::vector<std::string> splitNul(const std::string& bytes) {
    std::vector<std::string> out;
    size_t start = 0;
    for (size_t i = 0; i < bytes.size(); ++i)
        if (bytes[i] == '\0') {
            out.push_back(bytes.substr(start, i - start));
            start = i + 1;
        }
    EXPECT_EQ(start, bytes.size()) << "output does not end with NUL";
    return out;
}

std::vector<std::string> sorted(std::vector<std::string> v) {
    std::sort(v.begin(), v.end());
    return v;
}

const std::string newlineName = "line\nbreak.txt";
const std::string commaName = "a,b.txt";
const std::string badName = std::string("bad\xff\xfe") + ".txt";

}  // namespace

TEST(TagTool, AddRemoveAndListFilesWithHostileNames) {
    test::TempDir dir;
    std::vector<fs::path> files;
    for (const std::string& name : {newlineName, commaName, badName, std::string("plain.txt")}) {
        files.push_back(dir / name);
        test::writeFile(files.back(), "x");
    }
    setfattr(files[3], "keep,zeta");
    std::vector<std::string> args = {"add", "Work/2024", "Ünïcode tag", "--"};
    for (const auto& f : files)
        args.push_back(f.string());
    Result r = tool(args);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    for (size_t i = 0; i < 3; ++i)
        EXPECT_EQ(getfattr(files[i]), "Work/2024,Ünïcode tag") << i;
    EXPECT_EQ(getfattr(files[3]), "Work/2024,keep,zeta,Ünïcode tag");  // sorted by bytes, merged

    // A tag with a comma is refused before anything is written.
    r = tool({"add", "fine", "x,y", "--", files[0].string()});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("\"x,y\": The tag name cannot contain a \",\" character"), std::string::npos) << r.err;
    EXPECT_EQ(getfattr(files[0]), "Work/2024,Ünïcode tag");
    r = tool({"add", "bad\xff", "--", files[0].string()});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("\"bad\\xff\" is not UTF-8"), std::string::npos) << r.err;
    EXPECT_EQ(getfattr(files[0]), "Work/2024,Ünïcode tag");

    // Missing and unwritable files: one line each, naming the file; the rest is done.
    const fs::path missing = dir / "missing\nfile";
    const fs::path link = dir / "link";
    fs::create_symlink(files[3], link);
    r = tool({"remove", "Work/2024", "absent", "--", missing.string(), files[0].string(), link.string(),
              files[3].string()});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;  // the link had no tag to remove
    EXPECT_NE(r.err.find((dir / "missing\\nfile").string() + ": No such file or directory"), std::string::npos)
        << r.err;
    EXPECT_EQ(getfattr(files[0]), "Ünïcode tag");
    EXPECT_EQ(getfattr(files[3]), "keep,zeta,Ünïcode tag");
    r = tool({"add", "new", "--", link.string(), files[1].string()});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find(link.string() + ": Operation not permitted"), std::string::npos) << r.err;
    EXPECT_EQ(getfattr(link), "");  // never through the link
    EXPECT_EQ(getfattr(files[1]), "Work/2024,new,Ünïcode tag");

    // Removing the last tag removes the attribute.
    r = tool({"remove", "Ünïcode tag", "--", files[0].string()});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(getfattr(files[0]), "");

    // list FILE: escaped text, and raw bytes with -0.
    r = tool({"list", files[2].string(), missing.string(), files[0].string(), files[1].string()});
    EXPECT_EQ(r.status, 1);
    // Tags in natural order (case folded, so Ü sorts with U).
    EXPECT_EQ(r.out, (dir / "bad\\xff\\xfe.txt").string() + "\tÜnïcode tag\tWork/2024\n" +
                         (dir / "line\\nbreak.txt").string() + "\n" + files[1].string() +
                         "\tÜnïcode tag\tnew\tWork/2024\n");
    r = tool({"list", "-0", "--", files[0].string(), files[2].string()});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, files[0].string() + std::string("\0\0", 2) + files[2].string() + '\0' +
                         "Ünïcode tag" + '\0' + "Work/2024" + '\0' + '\0');

    // Usage errors.
    EXPECT_EQ(tool({"add", "x", files[0].string()}).status, 2);  // no "--"
    EXPECT_EQ(tool({"add", "--", files[0].string()}).status, 2);
    EXPECT_EQ(tool({"frobnicate"}).status, 2);
    EXPECT_EQ(tool({"find", "--bogus", "x"}).status, 2);
    r = tool({"--help"});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("expression := term { or term }"), std::string::npos);
}

TEST(TagTool, QueriesAnswerFromTheSavedIndexAsTheDiskIsNow) {
    const fs::path home = test::testHome() / "Documents";
    fs::remove_all(home);
    // Tags as they would be set by any program; the oracle is getfattr over them.
    const std::map<std::string, std::string> tags = {
        {newlineName, "Taxes/2025,Work"},     {commaName, "Taxes/2025,done"},   {badName, "Taxes,Work/2024/Q1"},
        {"sub/plain.txt", "Workshop"},        {"sub/none.txt", ""},             {".hidden/x.txt", "Taxes/2025"},
        {"sub/deep/photo 10.txt", "Taxes/2025"}, {"sub/deep/photo 9.txt", "Taxes/2025"},
    };
    for (const auto& [name, value] : tags) {
        test::writeFile(home / name, "x");
        if (!value.empty()) setfattr(home / name, value);
    }
    auto p = [&](const std::string& name) { return (home / name).string(); };

    // find -0 reads back byte for byte, in natural order (photo 9 before photo 10).
    Result r = tool({"find", "-0", "Taxes/", "and", "not", "done"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(splitNul(r.out), (std::vector<std::string>{p(badName), p(newlineName), p("sub/deep/photo 9.txt"),
                                                         p("sub/deep/photo 10.txt")}));
    for (const std::string& path : splitNul(r.out))
        EXPECT_NE(getfattr(path).find("Taxes"), std::string::npos) << path;

    // The text form escapes; a malformed expression says where.
    r = tool({"find", "Work/ or Workshop and not Taxes"});
    EXPECT_EQ(r.out, (home / "bad\\xff\\xfe.txt").string() + "\n" + (home / "line\\nbreak.txt").string() + "\n" +
                         p("sub/plain.txt") + "\n");
    r = tool({"find", "Work and (Taxes or"});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("at position 19"), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");

    // Changes made while no window runs are seen by the next query.
    setfattr(home / commaName, "Taxes/2025");
    ASSERT_EQ(tool({"remove", "Taxes", "--", p(badName)}).status, 0);
    test::writeFile(home / "sub/late.txt", "x");
    ASSERT_EQ(tool({"add", "Taxes/2025/Q3", "--", p("sub/late.txt")}).status, 0);
    // --saved answers from the index as last written: the changes are not there yet.
    const std::vector<std::string> before = {p(badName), p(newlineName), p("sub/deep/photo 9.txt"),
                                             p("sub/deep/photo 10.txt")};
    r = tool({"find", "--saved", "-0", "Taxes/ and not done"});
    EXPECT_EQ(splitNul(r.out), before);
    r = tool({"find", "-0", "Taxes/ and not done"});
    EXPECT_EQ(sorted(splitNul(r.out)), sorted({p(commaName), p(newlineName), p("sub/deep/photo 9.txt"),
                                               p("sub/deep/photo 10.txt"), p("sub/late.txt")}));

    // The reconciled answer was stored: now --saved has it too.
    r = tool({"find", "--saved", "-0", "Taxes/ and not done"});
    EXPECT_EQ(sorted(splitNul(r.out)), sorted({p(commaName), p(newlineName), p("sub/deep/photo 9.txt"),
                                               p("sub/deep/photo 10.txt"), p("sub/late.txt")}));

    // Every tag with its count, in natural order; -0 gives the names alone.
    r = tool({"list"});
    EXPECT_EQ(r.out, "Taxes/2025\t4\nTaxes/2025/Q3\t1\nWork\t1\nWork/2024/Q1\t1\nWorkshop\t1\n");
    r = tool({"list", "-0"});
    EXPECT_EQ(splitNul(r.out),
              (std::vector<std::string>{"Taxes/2025", "Taxes/2025/Q3", "Work", "Work/2024/Q1", "Workshop"}));

    // JSON: the exact bytes of a path that is not UTF-8 survive as hex.
    r = tool({"find", "--json", "Work/"});
    ASSERT_EQ(r.status, 0);
    const nlohmann::json j = nlohmann::json::parse(r.out);
    ASSERT_EQ(j.size(), 2u);
    EXPECT_EQ(j[0]["pathHex"].get<std::string>().size(), 2 * p(badName).size());
    std::string bytes;
    const std::string hex = j[0]["pathHex"];
    for (size_t i = 0; i < hex.size(); i += 2)
        bytes += char(std::stoi(hex.substr(i, 2), nullptr, 16));
    EXPECT_EQ(bytes, p(badName));
    EXPECT_EQ(j[0]["tags"], nlohmann::json::parse(R"(["Work/2024/Q1"])"));
    EXPECT_EQ(j[1]["path"], p(newlineName));
    EXPECT_FALSE(j[1].contains("pathHex"));

    // --no-index reads one folder straight from the disk.
    r = tool({"find", "--no-index", (home / "sub").string(), "-0", "Taxes/"});
    EXPECT_EQ(splitNul(r.out), (std::vector<std::string>{p("sub/deep/photo 9.txt"), p("sub/deep/photo 10.txt"),
                                                         p("sub/late.txt")}));
    r = tool({"list", "--no-index", (home / "sub/deep").string()});
    EXPECT_EQ(r.out, "Taxes/2025\t2\n");
    EXPECT_EQ(tool({"find", "--no-index", (home / "nowhere").string(), "x"}).status, 2);
    fs::remove_all(home);
}

TEST(TagTool, NearListsLocatedFilesNearestFirstAcrossTheAntimeridianAndPoles) {
    if (std::system("command -v convert >/dev/null && command -v exiftool >/dev/null") != 0)
        GTEST_SKIP() << "needs ImageMagick and exiftool";
    const fs::path home = test::testHome() / "Pictures";
    fs::remove_all(home);
    fs::create_directories(home);
    struct Photo {
        std::string name;
        double lat, lon;
    };
    const std::vector<Photo> photos = {
        {"east of the line.jpg", -16.5, 179.99}, {"west of the line.jpg", -16.5, -179.98},
        {"far west.jpg", -16.5, -179.0},         {"north pole a.jpg", 89.995, 10},
        {"north pole b.jpg", 89.99, -170},       {"paris.jpg", 48.8584, 2.2945},
    };
    const fs::path base = home / "base.jpg.tmp";
    ASSERT_EQ(std::system(("convert -size 16x16 xc:green jpeg:" + shellQuoted(base)).c_str()), 0);
    // One exiftool run writes every photo (an argument file, one -execute each).
    std::string args;
    for (const Photo& ph : photos) {
        const fs::path p = home / ph.name;
        fs::copy_file(base, p);
        args += "-q\n-overwrite_original\n-GPSLatitude=" + std::to_string(std::fabs(ph.lat)) +
                "\n-GPSLatitudeRef=" + (ph.lat < 0 ? "S" : "N") + "\n-GPSLongitude=" + std::to_string(std::fabs(ph.lon)) +
                "\n-GPSLongitudeRef=" + (ph.lon < 0 ? "W" : "E") + "\n" + p.string() + "\n-execute\n";
    }
    const fs::path argFile = home / "exiftool.args.tmp";
    test::writeFile(argFile, args);
    ASSERT_EQ(std::system(("exiftool -@ " + shellQuoted(argFile) + " >/dev/null").c_str()), 0);
    fs::remove(argFile);
    auto p = [&](const std::string& name) { return (home / name).string(); };

    Result r = tool({"near", "-16.5", "180", "5km"});
    EXPECT_EQ(r.status, 0) << r.err;
    // 0.01 degree of longitude at 16.5 S is 6371008.8 m * pi / 180 * 0.01 * cos(16.5) = 1066.2 m.
    EXPECT_EQ(r.out, p("east of the line.jpg") + "\t1066.2\t-16.5000000\t179.9900000\n" + p("west of the line.jpg") +
                         "\t2132.3\t-16.5000000\t-179.9800000\n");
    r = tool({"near", "-0", "90", "0", "2 km"});
    EXPECT_EQ(splitNul(r.out), (std::vector<std::string>{p("north pole a.jpg"), p("north pole b.jpg")}));
    r = tool({"near", "--json", "48.8584", "2.2945", "100m"});
    const nlohmann::json j = nlohmann::json::parse(r.out);
    ASSERT_EQ(j.size(), 1u);
    EXPECT_EQ(j[0]["path"], p("paris.jpg"));
    EXPECT_LT(j[0]["distanceMeters"].get<double>(), 1.0);
    EXPECT_EQ(tool({"near", "91", "0", "1km"}).status, 2);
    EXPECT_EQ(tool({"near", "0", "0", "12"}).status, 2);
    fs::remove_all(home);
}

TEST(TagTool, ATagAddedArrivesAsAnUpdateInAWatchingIndex) {
    test::TempDir dir;
    const fs::path file = dir / "watched\nfile.txt";
    test::writeFile(file, "x");
    FileIndex::Options o;
    o.roots = {dir.path().string()};
    o.databasePath = "";
    o.log = [](const std::string&) {};
    FileIndex index(o);
    auto tags = index.tagQuery();
    std::vector<std::string> arrived;
    tags->setHandlers({{}, [&](const MetadataUpdate& u) {
                           for (const auto& item : u.added)
                               if (auto t = tags->tagsOf(item)) arrived.insert(arrived.end(), t->begin(), t->end());
                           for (const auto& item : u.changed)
                               if (auto t = tags->tagsOf(item)) arrived.insert(arrived.end(), t->begin(), t->end());
                       }});
    index.start();
    tags->execute();
    index.gpsQuery()->execute();
    ASSERT_TRUE(index.waitUntilSettled(60s));
    mainQueue().runPending();

    Result r = tool({"add", "From the shell", "--", file.string()});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(mainQueue().runUntil(
        [&] { return std::find(arrived.begin(), arrived.end(), "From the shell") != arrived.end(); }, 60s));
    index.stop();
}

TEST(TagTool, WhileALiveIndexRunsQueriesReadItsSavedIndexAndSeeTheToolsOwnChanges) {
    const fs::path home = test::testHome() / "Live";
    fs::remove_all(home);
    test::writeFile(home / "before.txt", "x");
    setfattr(home / "before.txt", "Live");
    test::writeFile(home / "later.txt", "x");
    const std::string db = IndexStore::defaultPath();
    ASSERT_FALSE(IndexLiveLock::isHeld(db));

    // The program's index: the home folder, the default saved index, watching.
    FileIndex::Options o;
    o.log = [](const std::string&) {};
    auto index = std::make_unique<FileIndex>(o);
    index->tagQuery()->setHandlers({});
    index->gpsQuery()->setHandlers({});
    index->start();
    index->tagQuery()->execute();
    index->gpsQuery()->execute();
    ASSERT_TRUE(index->waitUntilSettled(60s));
    // The lock comes from the index's store queue, with nothing for the main queue.
    for (auto deadline = std::chrono::steady_clock::now() + 60s;
         !IndexLiveLock::isHeld(db) && std::chrono::steady_clock::now() < deadline;)
        std::this_thread::sleep_for(5ms);
    ASSERT_TRUE(IndexLiveLock::isHeld(db));
    {
        LibraryReader reader(LibraryReader::Options{});
        EXPECT_TRUE(reader.answeredFromSavedIndex());
    }

    // add, then find at once: the tool waited until the live index stored it.
    for (int round = 0; round < 3; ++round) {
        const std::string tag = "Round-" + std::to_string(round);
        ASSERT_EQ(tool({"add", tag, "--", (home / "later.txt").string()}).status, 0);
        Result r = tool({"find", "-0", tag});
        EXPECT_EQ(splitNul(r.out), std::vector<std::string>{(home / "later.txt").string()}) << round << r.err;
        ASSERT_EQ(tool({"remove", tag, "--", (home / "later.txt").string()}).status, 0);
        EXPECT_EQ(tool({"find", "-0", tag}).out, "") << round;
    }
    EXPECT_EQ(splitNul(tool({"find", "-0", "Live"}).out), std::vector<std::string>{(home / "before.txt").string()});

    // Once it stops nobody keeps the saved index current: readers walk the disk.
    index.reset();
    mainQueue().runPending();
    EXPECT_FALSE(IndexLiveLock::isHeld(db));
    setfattr(home / "later.txt", "Unseen");
    {
        LibraryReader reader(LibraryReader::Options{});
        EXPECT_FALSE(reader.answeredFromSavedIndex());
    }
    EXPECT_EQ(splitNul(tool({"find", "-0", "Unseen"}).out),
              std::vector<std::string>{(home / "later.txt").string()});
    fs::remove_all(home);
}

TEST(TagTool, BashCompletionOffersCommandsOptionsAndTagNames) {
    const fs::path home = test::testHome() / "Completion";
    fs::remove_all(home);
    test::writeFile(home / "a.txt", "x");
    setfattr(home / "a.txt", "To Do,Travel/2019,Work");
    // The completion calls the tool by name; the test script prints one
    // candidate a line for the words given.
    const fs::path script = home / ".complete.sh";
    test::writeFile(script, R"(source ")" QM_TAG_COMPLETION R"("
COMP_WORDS=("$@"); COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); COMPREPLY=()
_quillomere_tag
printf '%s\n' "${COMPREPLY[@]}"
)");
    const std::string path = fs::path(QM_TAG_TOOL).parent_path().string() + ":" + std::getenv("PATH");
    auto complete = [&](const std::string& words) {
        const fs::path out = home / ".out";
        const std::string cmd = "PATH=" + shellQuoted(path) + " bash " + shellQuoted(script) + " quillomere-tag " +
                                words + " > " + shellQuoted(out);
        EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
        return test::readFile(out);
    };
    EXPECT_EQ(complete("''"), "add\nremove\nlist\nfind\nnear\n");
    EXPECT_EQ(complete("--js"), "--json\n");
    EXPECT_EQ(complete("add T"), "To\\ Do\nTravel/2019\n");
    EXPECT_EQ(complete("find Work and T"), "\"To Do\"\nTravel/2019\n");
    EXPECT_EQ(complete("find n"), "not\n");
    fs::remove_all(home);
}

namespace {

// The saved index's bytes, to show a reader left them alone.
std::string checksum(const fs::path& p) {
    const fs::path sum = fs::temp_directory_path() / ("qm-sum-" + std::to_string(::getpid()));
    const bool ok = std::system(("sha256sum " + shellQuoted(p) + " > " + shellQuoted(sum)).c_str()) == 0;
    std::string s = ok ? test::readFile(sum) : std::string();
    fs::remove(sum);
    return s.substr(0, 64);
}

// A value read from the saved index by SQLite's own shell.
std::string sqlite(const fs::path& db, const std::string& sql) {
    const fs::path out = fs::temp_directory_path() / ("qm-sqlite-" + std::to_string(::getpid()));
    const std::string cmd = "sqlite3 " + shellQuoted(db) + " " + shellQuoted(sql) + " > " + shellQuoted(out) + " 2>&1";
    std::system(cmd.c_str());
    std::string s = test::readFile(out);
    fs::remove(out);
    while (!s.empty() && s.back() == '\n') s.pop_back();
    return s;
}

void removeSavedIndex() {
    for (const char* suffix : {"", "-wal", "-shm", ".live"})
        fs::remove(IndexStore::defaultPath() + suffix);
}

}  // namespace

TEST(TagTool, AQueryNeverChangesASavedIndexItCannotUseAndSaysWhy) {
    if (std::system("command -v sqlite3 >/dev/null && command -v sha256sum >/dev/null") != 0)
        GTEST_SKIP() << "needs sqlite3 and sha256sum";
    const fs::path home = test::testHome() / "Broken";
    fs::remove_all(home);
    removeSavedIndex();
    // Enough rows that the file spans many pages, 15 of them with the tag.
    std::vector<std::string> tagged;
    for (int i = 0; i < 1500; ++i) {
        const fs::path f = home / ("folder " + std::to_string(i % 30)) / ("file " + std::to_string(i) + ".txt");
        test::writeFile(f, "x");
        if (i % 100 == 7) {
            setfattr(f, "Trips");
            tagged.push_back(f.string());
        }
    }
    tagged = sorted(tagged);
    ASSERT_EQ(tagged.size(), 15u);
    const fs::path db = IndexStore::defaultPath();
    Result r = tool({"find", "-0", "Trips"});
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_EQ(sorted(splitNul(r.out)), tagged);
    ASSERT_EQ(r.err, "");
    // Nothing running: the file is settled (no write-ahead log left).
    ASSERT_FALSE(fs::exists(db.string() + "-wal"));
    const std::string rows = sqlite(db, "SELECT count(*) FROM items");
    ASSERT_GT(std::stoi(rows), 1500);

    // Written by another version of the program, while a live index keeps it.
    ASSERT_EQ(sqlite(db, "PRAGMA user_version=7"), "");
    IndexLiveLock live;
    ASSERT_TRUE(live.acquire(db.string()));
    const std::string before = checksum(db);
    r = tool({"find", "-0", "Trips"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(sorted(splitNul(r.out)), tagged);  // from the disk
    EXPECT_NE(r.err.find("cannot answer from the saved index"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("reading the disk instead"), std::string::npos) << r.err;
    EXPECT_EQ(checksum(db), before);
    EXPECT_EQ(sqlite(db, "SELECT count(*) FROM items"), rows);
    EXPECT_EQ(sqlite(db, "PRAGMA user_version"), "7");
    // Asked for the saved index alone, it has no answer: status 1, not "no file".
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"find", "--saved", "Trips"}, {"list", "--saved"}, {"near", "--saved", "0", "0", "1km"}}) {
        r = tool(args);
        EXPECT_EQ(r.status, 1) << args[0] << r.err;
        EXPECT_EQ(r.out, "") << args[0];
        EXPECT_NE(r.err.find("cannot answer from the saved index"), std::string::npos) << r.err;
    }
    EXPECT_EQ(checksum(db), before);
    // Tagging waits for the live index through the same file, read only.
    ASSERT_EQ(tool({"add", "Other", "--", tagged[0]}).status, 0);
    EXPECT_EQ(checksum(db), before);
    EXPECT_EQ(sqlite(db, "PRAGMA user_version"), "7");

    // Damaged: cut short, so a read fails part way through the rows.
    ASSERT_EQ(sqlite(db, "PRAGMA user_version=1"), "");
    fs::resize_file(db, fs::file_size(db) / 2);
    const std::string damaged = checksum(db);
    r = tool({"find", "--saved", "-0", "Trips"});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(r.out, "");  // rows before the failure are no answer
    EXPECT_NE(r.err.find(db.string()), std::string::npos) << r.err;
    EXPECT_EQ(checksum(db), damaged);
    r = tool({"find", "-0", "Trips"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(sorted(splitNul(r.out)), tagged);
    EXPECT_NE(r.err.find("reading the disk instead"), std::string::npos) << r.err;
    EXPECT_EQ(checksum(db), damaged);

    // Not a database at all.
    test::writeFile(db, std::string(8192, 'Q'));
    const std::string garbage = checksum(db);
    r = tool({"find", "--saved", "Trips"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("cannot answer from the saved index"), std::string::npos) << r.err;
    EXPECT_EQ(checksum(db), garbage);

    // With no live index this query may repair it: it says so, answers in full.
    live.release();
    r = tool({"find", "-0", "Trips"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(sorted(splitNul(r.out)), tagged);
    EXPECT_NE(r.err.find("is damaged"), std::string::npos) << r.err;
    EXPECT_EQ(sqlite(db, "SELECT count(*) FROM items WHERE tags IS NOT NULL"), "15");

    // --saved with nothing saved is no answer either.
    removeSavedIndex();
    r = tool({"find", "--saved", "Trips"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("cannot answer from the saved index"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(db));  // a reader creates nothing
    fs::remove_all(home);
    removeSavedIndex();
}

TEST(TagTool, AddRefusesTheTagNamesTheWindowRefuses) {
    test::TempDir dir;
    const fs::path file = dir / "photo.jpg";
    test::writeFile(file, "x");
    setfattr(file, "keep");
    const std::string comma = "The tag name cannot contain a \",\" character";
    const std::string control = "The tag name cannot contain a control character";
    const std::string emptyLevel = "The tag name cannot have an empty level";
    const std::vector<std::pair<std::string, std::string>> refused = {
        {"Trips/", emptyLevel}, {"/Trips", emptyLevel},  {"a//b", emptyLevel},  {"a/ /b", emptyLevel},
        {"a\nb", control},      {"Trips\t2024", control}, {"x\x7fy", control}, {"x,y", comma},
        {"Work/20,24", comma},
    };
    for (const auto& [name, message] : refused) {
        // A good name beside it is not written either.
        Result r = tool({"add", "fine", name, "--", file.string()});
        EXPECT_EQ(r.status, 2) << escapeListingField(name);
        EXPECT_NE(r.err.find(message), std::string::npos) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;  // one line, whatever the name holds
        EXPECT_EQ(getfattr(file), "keep") << escapeListingField(name);
    }
    // Blanks around levels go, as in the window's prompt.
    Result r = tool({"add", " Trips / 2024 ", "--", file.string()});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(getfattr(file), "Trips/2024,keep");
    // A name another program stored against the rule can still be removed.
    setfattr(file, "Trips/,keep,a\tb");
    r = tool({"remove", "Trips/", "a\tb", "--", file.string()});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(getfattr(file), "keep");

    r = tool({"--help"});
    EXPECT_NE(r.out.find("can lose one of the two changes"), std::string::npos);
}
