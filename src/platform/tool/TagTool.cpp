// quillomere-tag: tags files and queries the library from the command line,
// over the same tag attribute and saved index as the program.

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include <absl/container/flat_hash_map.h>

#include "commands/TagNameInput.h"
#include "core/QuickString.h"
#include "geo/GreatCircle.h"
#include "geo/NearSearch.h"
#include "library/TagCounts.h"
#include "library/TagExpression.h"
#include "platform/LibraryReader.h"
#include "platform/ListingEscape.h"
#include "platform/ListingWriter.h"
#include "platform/TagEditor.h"
#include "platform/XattrTagStore.h"

namespace {

using namespace qm;

constexpr const char* helpText =
    "Usage: quillomere-tag [OPTIONS] COMMAND [ARGUMENTS]\n"
    "Tags files and finds them again, over the tags Quillomere shows (the extended\n"
    "attribute user.xdg.tags) and the index it keeps.\n"
    "\n"
    "Commands:\n"
    "  add TAG... -- FILE...      give each FILE the TAGs\n"
    "  remove TAG... -- FILE...   take the TAGs from each FILE\n"
    "  list [--] [FILE...]        each FILE's tags; with no FILE, every tag of the\n"
    "                             library with the number of files carrying it\n"
    "  find [--] EXPRESSION       the files whose tags satisfy EXPRESSION\n"
    "  near LATITUDE LONGITUDE RADIUS\n"
    "                             the files with a position within RADIUS (\"2km\",\n"
    "                             \"500m\") of the point, nearest first, with the\n"
    "                             distance in metres\n"
    "\n"
    "Options:\n"
    "  -0, --null          end every field with a NUL byte instead of escaping it\n"
    "                      (find, near: the paths alone, for xargs -0; list: each\n"
    "                      FILE, its tags, then an empty field; without FILE the\n"
    "                      tag names)\n"
    "  --json              write a JSON array of objects\n"
    "  --no-index FOLDER   read FOLDER from the disk instead of the saved index\n"
    "  --saved             answer from the saved index as it was last written, without\n"
    "                      bringing it up to date first even when Quillomere is not\n"
    "                      running: much faster over a large home, but changes made\n"
    "                      while it was not running may be missing\n"
    "  -h, --help          show this text\n"
    "\n"
    "Expressions:\n"
    "  expression := term { or term }\n"
    "  term       := factor { and factor }\n"
    "  factor     := not factor | ( expression ) | NAME\n"
    "  \"not\" binds tighter than \"and\", \"and\" tighter than \"or\". The keywords are\n"
    "  lower case words of their own. NAME is a run of characters other than blanks,\n"
    "  parentheses and '\"', or any text between double quotes (\\\" and \\\\ inside\n"
    "  stand for \" and \\). A NAME ending in \"/\" matches the tag and every tag below\n"
    "  it: Work/ matches Work, Work/2024 and Work/2024/Q1. Several arguments are\n"
    "  joined with spaces. A malformed expression is reported with its position\n"
    "  (counted in bytes from 1) and the reason.\n"
    "  Example: quillomere-tag find 'Taxes/2025 and not done'\n"
    "\n"
    "Tag names:\n"
    "  A name given to add follows the window's rules for tag names: \"/\" nests\n"
    "  tags, blanks around each level are dropped, and a name with an empty level\n"
    "  (\"Work/\", \"/Work\", \"a//b\"), a \",\" or a control character such as a tab\n"
    "  or a line break is refused. Two programs changing the tags of one file at\n"
    "  the same moment can lose one of the two changes: the attribute has no lock.\n"
    "\n"
    "Queries answer from the saved index in $XDG_CACHE_HOME/quillomere. While\n"
    "Quillomere (or quillomere-index --watch) runs, it keeps that index current and\n"
    "it is read at once; otherwise it is first brought up to date with the disk, as\n"
    "the program does when it starts. add and remove wait (at most 3 seconds) until\n"
    "a running Quillomere has stored their changes. Hidden files and folders are not\n"
    "indexed. Text output writes a backslash, tab or newline in a path or tag as\n"
    "\\\\, \\t, \\n, and bytes that are not UTF-8 as \\xhh. Paths and tags are listed\n"
    "in natural order. A saved index that cannot answer (damaged, or written by\n"
    "another version) is never changed by a query: the disk is read instead, or,\n"
    "with --saved, the query fails.\n"
    "\n"
    "Exit status: 0 on success, 1 when some FILE could not be read or changed or\n"
    "when files may be missing from an answer (each problem is named on standard\n"
    "error), 2 for a usage error, a refused tag name or a malformed expression.\n";

int usageError(const std::string& message) {
    std::fprintf(stderr, "quillomere-tag: %s\nTry 'quillomere-tag --help'.\n", message.c_str());
    return 2;
}

void writeOut(std::string_view bytes) {
    std::fwrite(bytes.data(), 1, bytes.size(), stdout);
}

struct Arguments {
    std::string command;
    std::vector<std::string> operands;  // before "--"
    std::vector<std::string> files;     // after "--"
    bool sawSeparator = false;
    ListingWriter::Mode mode = ListingWriter::Mode::text;
    std::optional<std::string> folder;
    bool reconcile = true;
};

// A negative number ("-33.9") is an operand of near, not an option.
bool looksNumeric(const char* arg) {
    return arg[0] == '-' && (std::isdigit(static_cast<unsigned char>(arg[1])) || arg[1] == '.');
}

int editTags(const Arguments& a, bool adding) {
    if (!a.sawSeparator) return usageError(a.command + " needs \"--\" between the tags and the files");
    if (a.operands.empty()) return usageError(a.command + " needs at least one tag");
    if (a.files.empty()) return usageError(a.command + " needs at least one file after \"--\"");
    // Added names follow the window's rule for a typed tag, word for word;
    // removed ones may be any tag a file carries (even one another program
    // stored against that rule), so they are taken as given, and also as
    // they would have been added.
    std::vector<std::string> tags;
    for (const std::string& given : a.operands) {
        const TagNameInput::Path parsed = TagNameInput::parseExactPath(given);
        if (adding && !parsed.refusal.empty()) {
            std::fprintf(stderr, "quillomere-tag: \"%s\": %s; nothing was changed\n", escapeListingField(given).c_str(),
                         parsed.refusal.c_str());
            return 2;
        }
        const std::string& tag = adding ? parsed.tag : given;
        if (auto reason = TagEditor::invalidTagReason(tag)) {
            std::fprintf(stderr, "quillomere-tag: %s; nothing was changed\n", reason->c_str());
            return 2;
        }
        tags.push_back(tag);
        if (!adding && parsed.refusal.empty() && !parsed.tag.empty() && parsed.tag != given)
            tags.push_back(parsed.tag);
    }
    XattrTagStore store;
    TagEditor editor(store);
    const std::vector<std::string> none;
    int status = 0;
    std::vector<std::string> changed;
    for (const std::string& file : a.files) {
        TagEditor::Outcome o = adding ? editor.change(file, tags, none) : editor.change(file, none, tags);
        if (!o.ok) {
            std::fprintf(stderr, "quillomere-tag: %s\n", o.error.c_str());
            status = 1;
        } else if (o.changed) {
            changed.push_back(file);
        }
    }
    // A running window answers the next query from its saved index: let it
    // store these changes first, so that "add" then "find" agree.
    LibraryReader::awaitLiveIndex(changed, std::chrono::seconds(3));
    return status;
}

LibraryReader::Options readerOptions(const Arguments& a) {
    LibraryReader::Options o;
    o.folder = a.folder;
    o.reconcile = a.reconcile;
    return o;  // the index's timing lines are noise here
}

// Says on standard error what went wrong with the saved index; 1 when files
// may be missing from the answer, so that a script never takes a broken
// index for "no file has this tag".
int readerStatus(const LibraryReader& reader) {
    for (const std::string& p : reader.problems())
        std::fprintf(stderr, "quillomere-tag: %s\n", escapeListingField(p).c_str());
    if (reader.isComplete()) return 0;
    std::fprintf(stderr, "quillomere-tag: the answer may be incomplete\n");
    return 1;
}

int listTags(const Arguments& a) {
    std::vector<std::string> files = a.operands;
    files.insert(files.end(), a.files.begin(), a.files.end());
    ListingWriter out(a.mode, writeOut);
    if (files.empty()) {
        TagCounts counts;
        LibraryReader reader(readerOptions(a));
        const int status = readerStatus(reader);
        reader.forEachTagged([&](std::string_view, const std::vector<std::string>& tags) { counts.add(tags); });
        for (const auto& [tag, count] : counts.sorted())
            out.tagCount(tag, count);
        return status;
    }
    XattrTagStore store;
    int status = 0;
    for (const std::string& file : files) {
        TagStore::ReadResult r = store.readTags(file);
        if (!r.ok) {
            out.flush();  // what came before the message goes out before it
            std::fflush(stdout);
            std::fprintf(stderr, "quillomere-tag: %s\n", TagEditor::describeFailure(r.error, file).c_str());
            status = 1;
            continue;
        }
        std::sort(r.tags.begin(), r.tags.end(), [](const std::string& x, const std::string& y) {
            return naturalLess(x, y) || (!naturalLess(y, x) && x < y);
        });
        r.tags.erase(std::unique(r.tags.begin(), r.tags.end()), r.tags.end());
        out.pathWithTags(file, r.tags);
    }
    return status;
}

int findFiles(const Arguments& a) {
    // After "--" words may begin with "-" (a tag named "-draft").
    std::vector<std::string> words = a.operands;
    words.insert(words.end(), a.files.begin(), a.files.end());
    if (words.empty()) return usageError("find needs an expression");
    std::string text;
    for (const std::string& word : words)
        text += (text.empty() ? "" : " ") + word;
    auto parsed = TagExpression::parse(text);
    if (auto* e = std::get_if<TagExpression::Error>(&parsed)) {
        std::fprintf(stderr, "quillomere-tag: %s\n  %s\n  %*s^\n", e->message().c_str(),
                     escapeListingField(text).c_str(), int(e->position - 1), "");
        return 2;
    }
    const TagExpression& expression = std::get<TagExpression>(parsed);
    const bool json = a.mode == ListingWriter::Mode::json;
    std::vector<QuickString> paths;
    absl::flat_hash_map<QuickString, std::vector<std::string>> tagsOf;  // for --json
    int status = 0;
    {
        LibraryReader reader(readerOptions(a));
        status = readerStatus(reader);
        reader.forEachTagged([&](std::string_view path, const std::vector<std::string>& tags) {
            if (!expression.matches(tags)) return;
            paths.push_back(QuickString::bytes(path));
            if (json) tagsOf[paths.back()] = tags;
        });
    }
    sortNatural(paths);
    ListingWriter out(a.mode, writeOut);
    for (const QuickString& p : paths) {
        if (json)
            out.pathWithTags(p.utf8(), tagsOf[p]);
        else
            out.path(p.utf8());
    }
    return status;
}

int nearFiles(const Arguments& a) {
    if (a.operands.size() != 3) return usageError("near needs LATITUDE LONGITUDE RADIUS");
    std::string error;
    auto lat = GreatCircle::parseDegrees(a.operands[0], 90, error);
    if (!lat) return usageError("latitude " + a.operands[0] + ": " + error);
    auto lon = GreatCircle::parseDegrees(a.operands[1], 180, error);
    if (!lon) return usageError("longitude " + a.operands[1] + ": " + error);
    auto radius = GreatCircle::parseRadius(a.operands[2], error);
    if (!radius) return usageError("radius " + a.operands[2] + ": " + error);
    NearSearch search(*lat, *lon, *radius);
    int status = 0;
    {
        LibraryReader reader(readerOptions(a));
        status = readerStatus(reader);
        reader.forEachLocated([&](std::string_view path, double la, double lo) { search.add(path, la, lo); });
    }
    ListingWriter out(a.mode, writeOut);
    for (const NearSearch::Hit& h : search.take())
        out.located(h.path, h.distanceMeters, h.latitude, h.longitude);
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    Arguments a;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (a.sawSeparator) {
            a.files.push_back(arg);
        } else if (arg == "--") {
            a.sawSeparator = true;
        } else if (arg == "-h" || arg == "--help") {
            std::fputs(helpText, stdout);
            return 0;
        } else if (arg == "-0" || arg == "--null") {
            a.mode = ListingWriter::Mode::nul;
        } else if (arg == "--saved") {
            a.reconcile = false;
        } else if (arg == "--json") {
            a.mode = ListingWriter::Mode::json;
        } else if (arg == "--no-index") {
            if (i + 1 >= argc) return usageError("--no-index needs a folder");
            std::error_code ec;
            std::filesystem::path folder = std::filesystem::absolute(argv[++i], ec).lexically_normal();
            std::string s = folder.string();
            while (s.size() > 1 && s.back() == '/')
                s.pop_back();
            if (ec || !std::filesystem::is_directory(std::filesystem::symlink_status(s)))
                return usageError("--no-index: " + escapeListingField(argv[i]) + " is not a folder");
            a.folder = s;
        } else if (arg.size() > 1 && arg[0] == '-' && !looksNumeric(argv[i])) {
            return usageError("unknown option " + escapeListingField(arg));
        } else if (a.command.empty()) {
            a.command = arg;
        } else {
            a.operands.push_back(arg);
        }
    }
    if (a.command.empty()) return usageError("no command given");
    int status;
    if (a.command == "add")
        status = editTags(a, true);
    else if (a.command == "remove")
        status = editTags(a, false);
    else if (a.command == "list")
        status = listTags(a);
    else if (a.command == "find")
        status = findFiles(a);
    else if (a.command == "near")
        status = nearFiles(a);
    else
        return usageError("unknown command " + escapeListingField(a.command));
    // A full disk or a closed pipe must not pass for a complete answer.
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        std::fprintf(stderr, "quillomere-tag: cannot write the output: %s\n", std::strerror(errno));
        return 1;
    }
    return status;
}
