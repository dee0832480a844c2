// quillomere-index: runs the file index over the home folder (or given roots)
// and shows what the program sees: the timings, the counts, the tagged files,
// the files with positions, and live update batches.

#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include <absl/container/flat_hash_map.h>

#include <algorithm>

#include "core/Log.h"
#include "core/MainQueue.h"
#include "platform/FileIndex.h"
#include "platform/ListingEscape.h"

namespace {

using namespace qm;

volatile std::sig_atomic_t interrupted = 0;

void usage(FILE* to) {
    std::fputs(
        "Usage: quillomere-index [options]\n"
        "Indexes the home folder as Quillomere does and prints what it finds.\n"
        "\n"
        "  --root DIR          index DIR instead of the home folder (may be repeated)\n"
        "  --database FILE     keep the index in FILE instead of the cache folder\n"
        "  --memory            keep nothing on disk\n"
        "  --rebuild           drop the saved index and crawl afresh\n"
        "  --list-tags         print each tagged file: its path, then each tag\n"
        "  --list-positions    print each file with a position: path, latitude, longitude\n"
        "  --watch             keep running and print update batches as they arrive; Ctrl-C\n"
        "                      (or SIGTERM) ends it and prints the listings asked for again\n"
        "  --help              show this text\n"
        "\n"
        "Listings separate fields with tabs; a backslash, tab or newline in a path or tag\n"
        "is written \\\\, \\t, \\n, and other control characters and bytes that are not\n"
        "UTF-8 as \\xhh.\n",
        to);
}

// Lines of one result: the path, then the tags or the position.
std::string tagLine(const std::string& path, const std::vector<std::string>& tags) {
    std::string line = escapeListingField(path);
    for (const std::string& tag : tags)
        line.append("\t").append(escapeListingField(tag));
    return line;
}

std::string positionLine(const std::string& path, std::optional<double> lat, std::optional<double> lon) {
    return escapeListingField(path) + "\t" + formatCoordinate(lat.value_or(0)) + "\t" +
           formatCoordinate(lon.value_or(0));
}

void printUpdate(MetadataQuery& query, const MetadataUpdate& update,
                 absl::flat_hash_map<MetadataItem, std::string>& lastPath) {
    const bool tags = query.kind() == MetadataQueryKind::tags;
    std::printf("[update] %s: %zu added, %zu changed, %zu removed\n", tags ? "tags" : "positions",
                update.added.size(), update.changed.size(), update.removed.size());
    query.disableUpdates();
    auto show = [&](const MetadataItem& item, const char* verb) {
        auto path = query.pathOf(item);
        if (!path) return;
        lastPath[item] = *path;
        std::string line = tags ? tagLine(*path, query.tagsOf(item).value_or(std::vector<std::string>{}))
                                : positionLine(*path, query.latitudeOf(item), query.longitudeOf(item));
        std::printf("%s\t%s\n", verb, line.c_str());
    };
    for (const auto& item : update.added)
        show(item, "added");
    for (const auto& item : update.changed)
        show(item, "changed");
    for (const auto& item : update.removed) {
        auto it = lastPath.find(item);
        std::printf("removed\t%s\n", it == lastPath.end() ? "" : escapeListingField(it->second).c_str());
        if (it != lastPath.end()) lastPath.erase(it);
    }
    query.enableUpdates();
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    FileIndex::Options options;
    bool listTags = false, listPositions = false, watch = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&]() -> const char* {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "quillomere-index: %s needs a value\n", arg.c_str());
                std::exit(2);
            }
            return argv[++i];
        };
        if (arg == "--root") {
            std::string root = value();
            if (root.empty() || root[0] != '/') {
                std::fprintf(stderr, "quillomere-index: --root needs an absolute path\n");
                return 2;
            }
            options.roots.push_back(root);
        } else if (arg == "--database") {
            options.databasePath = value();
        } else if (arg == "--memory") {
            options.databasePath = "";
        } else if (arg == "--rebuild") {
            options.rebuild = true;
        } else if (arg == "--list-tags") {
            listTags = true;
        } else if (arg == "--list-positions") {
            listPositions = true;
        } else if (arg == "--watch") {
            watch = true;
        } else if (arg == "--help" || arg == "-h") {
            usage(stdout);
            return 0;
        } else {
            std::fprintf(stderr, "quillomere-index: unknown option %s\n", arg.c_str());
            usage(stderr);
            return 2;
        }
    }
    options.live = watch;
    std::signal(SIGINT, [](int) { interrupted = 1; });
    std::signal(SIGTERM, [](int) { interrupted = 1; });

    FileIndex index(options);
    auto tags = index.tagQuery();
    auto gps = index.gpsQuery();
    bool tagsFinished = false, gpsFinished = false;
    absl::flat_hash_map<MetadataItem, std::string> lastTagPath, lastGpsPath;
    const auto began = std::chrono::steady_clock::now();
    auto finished = [&](MetadataQuery& q, const char* what, bool& flag) {
        qm::logFormat(qm::LogArea::setup, "%s: %.3f seconds (%zu results)", what,
                      std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count(),
                      q.resultCount());
        flag = true;
    };
    tags->setHandlers({[&] { finished(*tags, "Tags query", tagsFinished); },
                       [&](const MetadataUpdate& u) {
                           if (watch) printUpdate(*tags, u, lastTagPath);
                       }});
    gps->setHandlers({[&] { finished(*gps, "GPS query", gpsFinished); },
                      [&](const MetadataUpdate& u) {
                          if (watch) printUpdate(*gps, u, lastGpsPath);
                      }});
    index.start();
    tags->execute();
    gps->execute();

    // Pump the main queue until the crawl has settled, so the listings show
    // the files as they are now, not as they were last time.
    auto settled = [&] { return interrupted || (tagsFinished && gpsFinished && index.stats().settled); };
    while (!mainQueue().runUntil(settled, std::chrono::milliseconds(200))) {
    }
    if (interrupted) return 130;
    mainQueue().runPending();

    const FileIndex::Stats s = index.stats();
    std::printf(
        "Files and folders: %zu\nTagged: %zu\nWith a position: %zu\nFiles opened for positions: %llu\n",
        s.items, s.tagged, s.positioned, static_cast<unsigned long long>(s.contentReads));

    auto listQuery = [](MetadataQuery& q, bool isTags) {
        std::vector<std::string> lines;
        q.disableUpdates();
        for (size_t i = 0, n = q.resultCount(); i < n; ++i) {
            auto path = q.pathOf(q.resultAt(i));
            if (!path) continue;
            lines.push_back(isTags ? tagLine(*path, q.tagsAt(i))
                                   : positionLine(*path, q.latitudeAt(i), q.longitudeAt(i)));
        }
        q.enableUpdates();
        std::sort(lines.begin(), lines.end());
        for (const auto& line : lines)
            std::printf("%s\n", line.c_str());
    };
    auto listAll = [&] {
        if (listTags) listQuery(*tags, true);
        if (listPositions) listQuery(*gps, false);
        std::fflush(stdout);
    };
    listAll();

    if (watch) {
        // Results known so far, so that removals can name their path.
        tags->disableUpdates();
        for (size_t i = 0, n = tags->resultCount(); i < n; ++i)
            if (auto p = tags->pathOf(tags->resultAt(i))) lastTagPath[tags->resultAt(i)] = *p;
        tags->enableUpdates();
        gps->disableUpdates();
        for (size_t i = 0, n = gps->resultCount(); i < n; ++i)
            if (auto p = gps->pathOf(gps->resultAt(i))) lastGpsPath[gps->resultAt(i)] = *p;
        gps->enableUpdates();
        std::printf("[watch] Watching %zu folders; Ctrl-C ends\n", index.watchCount());
        std::fflush(stdout);
        while (!interrupted)
            mainQueue().runUntil([] { return interrupted != 0; }, std::chrono::milliseconds(200));
        // The live state at the end, to compare with a fresh crawl's listing.
        mainQueue().runPending();
        if (listTags || listPositions) {
            std::printf("[watch] Listings at the end\n");
            listAll();
        }
    }
    index.stop();
    return 0;
}
