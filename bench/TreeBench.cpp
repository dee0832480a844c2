// Building and sorting the library tree.
// Targets: BM_AddPaths1M (1,000,000 files in groups sharing a tag set, over
// 20,000 tag nodes, filled by addTagGroups as the ingest's first build
// does) under 1.5 s per build; BM_SortedPaths100k under 60 ms. BM_TreeMemory
// reports the resident memory of the built tree per file and per listing.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "core/TagFormat.h"
#include "library/Tree.h"

namespace {

using namespace qm;

struct Group {
    std::vector<QuickString> tagNames;  // tag node full names
    std::vector<QuickString> paths;
};

struct Library {
    std::vector<Group> groups;
    size_t files = 0;
    size_t listings = 0;
};

// 50,000 groups of 20 files; 1,000 parent tags with 20 sub-tags each give
// 20,000 leaf tag nodes, every one used, plus colours and the star now and then.
Library makeLibrary() {
    std::mt19937_64 rng(4242);
    TagFormat format;
    std::vector<QuickString> leafTags;
    for (int p = 0; p < 1000; ++p)
        for (int s = 0; s < 20; ++s)
            leafTags.push_back(format.nodeNameForTag("Project " + std::to_string(p) + "/Part " + std::to_string(s)));
    const char* kinds[] = {"Pictures", "Documents", "Music", "Movies"};
    Library lib;
    lib.groups.resize(50000);
    for (size_t g = 0; g < lib.groups.size(); ++g) {
        Group& group = lib.groups[g];
        group.tagNames.push_back(leafTags[g % leafTags.size()]);
        if (rng() % 2) group.tagNames.push_back(leafTags[rng() % leafTags.size()]);
        if (rng() % 10 == 0) group.tagNames.push_back(format.nodeNameForTag("Red"));
        if (rng() % 20 == 0) group.tagNames.push_back(starString());
        std::string dir = "/home/alice/" + std::string(kinds[rng() % 4]) + "/" + std::to_string(2010 + rng() % 14) +
                          "/Folder " + std::to_string(g) + "/";
        for (int f = 0; f < 20; ++f)
            group.paths.push_back(QuickString::literal(dir + "IMG_" + std::to_string(rng() % 100000) + "_" +
                                                        std::to_string(f) + ".JPG"));
        lib.files += group.paths.size();
        lib.listings += group.paths.size() * group.tagNames.size();
    }
    return lib;
}

const Library& library() {
    static const Library lib = makeLibrary();
    return lib;
}

// What the ingest's first build does with the groups.
std::unique_ptr<Tree> buildTree(const Library& lib) {
    auto tree = std::make_unique<Tree>();
    tree->addColorNodes(TagFormat());
    std::vector<Tree::TagGroup> groups;
    groups.reserve(lib.groups.size());
    for (const Group& g : lib.groups)
        groups.push_back(
            {std::make_shared<const QuickStringSet>(g.tagNames.begin(), g.tagNames.end()), g.paths});
    tree->addTagGroups(groups);
    return tree;
}

void BM_AddPaths1M(benchmark::State& state) {
    const Library& lib = library();
    for (auto _ : state) {
        auto tree = buildTree(lib);
        benchmark::DoNotOptimize(tree.get());
        state.PauseTiming();
        tree.reset();
        state.ResumeTiming();
    }
    state.counters["files"] = static_cast<double>(lib.files);
    state.counters["listings"] = static_cast<double>(lib.listings);
}
BENCHMARK(BM_AddPaths1M)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_SortedPaths100k(benchmark::State& state) {
    std::mt19937_64 rng(9);
    NodePtr node = Node::make(NodeKind::subTag, QuickString::literal("n"));
    for (int i = 0; i < 100000; ++i) {
        std::string p = "/home/alice/Pictures/" + std::to_string(2010 + rng() % 14) + "/Trip " +
                        std::to_string(rng() % 300) + "/" + (rng() % 2 ? "IMG_" : "img_") +
                        std::to_string(rng() % 100000) + ".JPG";
        node->insertPath(QuickString::literal(p), {});
    }
    const QuickString sentinel = QuickString::literal("/sentinel");
    for (auto _ : state) {
        // Listing and unlisting a path drops the cached order (two hash operations).
        node->insertPath(sentinel, {});
        node->erasePath(sentinel);
        benchmark::DoNotOptimize(node->sortedPaths().data());
    }
    state.counters["paths"] = static_cast<double>(node->paths().size());
}
BENCHMARK(BM_SortedPaths100k)->Unit(benchmark::kMillisecond);

long statusKiB(const char* key) {
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind(key, 0) == 0) return std::strtol(line.c_str() + std::strlen(key), nullptr, 10);
    return -1;
}

void BM_TreeMemory(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        long before = statusKiB("VmRSS:");
        size_t files, listings;
        std::unique_ptr<Tree> tree;
        {
            Library lib = makeLibrary();
            files = lib.files;
            listings = lib.listings;
            tree = buildTree(lib);
        }  // the groups go; the paths live on in the tree
        long after = statusKiB("VmRSS:");
        double bytes = static_cast<double>(after - before) * 1024.0;
        state.counters["bytes_per_file"] = bytes / static_cast<double>(files);
        state.counters["bytes_per_listing"] = bytes / static_cast<double>(listings);
        state.counters["tree_MiB"] = bytes / (1024.0 * 1024.0);
        state.counters["VmHWM_MiB"] = static_cast<double>(statusKiB("VmHWM:")) / 1024.0;
        tree.reset();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_TreeMemory)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
