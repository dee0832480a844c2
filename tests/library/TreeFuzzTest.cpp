#include <gtest/gtest.h>

#include <absl/container/flat_hash_map.h>

#include <random>
#include <string>
#include <vector>

#include "core/TagFormat.h"
#include "library/Tree.h"
#include "support/LogCapture.h"

namespace qm {
namespace {

// Random bytes, heavy on "/", so that empty, leading and trailing components
// and bytes that are not UTF-8 all turn up.
std::string randomBytes(std::mt19937_64& rng, size_t maxLen) {
    static const std::string common = "ab/A1\xFF\xE2\x98\x85,\n ";
    std::string s;
    size_t n = rng() % (maxLen + 1);
    for (size_t i = 0; i < n; ++i)
        s.push_back(rng() % 3 ? common[rng() % common.size()] : static_cast<char>(rng() % 256));
    return s;
}

using Model = absl::flat_hash_map<QuickString, QuickStringSet>;

// Every listing in the tree is one the model expects, and every expected one
// is there.
void checkAgainstModel(const Tree& tree, const Model& model) {
    size_t expected = 0;
    for (const auto& [path, names] : model) {
        expected += names.size();
        for (const QuickString& name : names) {
            NodePtr n = tree.lookup(name.components());
            ASSERT_TRUE(n) << name.description();
            ASSERT_TRUE(n->paths().contains(path)) << name.description() << " " << path.description();
        }
    }
    size_t listed = 0;
    std::vector<NodePtr> pending{tree.rootNode()};
    while (!pending.empty()) {
        NodePtr n = pending.back();
        pending.pop_back();
        listed += n->paths().size();
        for (const auto& [_, c] : n->children()) {
            ASSERT_EQ(c->parent(), n);
            // Emptied sub-tags never linger under a tag container.
            if (has(n->kind, NodeKind::tagContainer)) {
                ASSERT_FALSE(c->isEmpty()) << c->fullName.description();
            }
            pending.push_back(c);
        }
    }
    ASSERT_EQ(listed, expected);
    ASSERT_EQ(tree.tags().size(), model.size());
    for (const auto& [path, names] : model)
        ASSERT_EQ(tree.tagsFor(path), names);
}

TEST(TreeFuzzTest, RandomTagChangesKeepTheTreeConsistentAndEndEmpty) {
    std::mt19937_64 rng(42);
    TagFormat format;
    Tree tree;
    tree.addColorNodes(format);
    std::vector<std::string> tagPool = {"Red", "Blue", "\xE2\x98\x85", "a", "a/b", "a/b/c", "/", "//", ""};
    for (int i = 0; i < 40; ++i)
        tagPool.push_back(randomBytes(rng, 8));
    std::vector<QuickString> pathPool;
    for (int i = 0; i < 60; ++i)
        pathPool.push_back(QuickString::bytes("/" + randomBytes(rng, 10)));
    Model model;

    qm::test::LogCapture log1;
    for (int step = 0; step < 6000; ++step) {
        const QuickString& path = pathPool[rng() % pathPool.size()];
        QuickString name = format.nodeNameForTag(tagPool[rng() % tagPool.size()]);
        switch (rng() % 3) {
            case 0:
                tree.addTag(name, path);
                model[path].insert(name);
                break;
            case 1: {
                tree.removeTag(name, path, {});
                auto it = model.find(path);
                if (it != model.end()) {
                    it->second.erase(name);
                    if (it->second.empty()) model.erase(it);
                }
                break;
            }
            case 2: {
                QuickStringSet set;
                for (size_t k = rng() % 4; k > 0; --k)
                    set.insert(format.nodeNameForTag(tagPool[rng() % tagPool.size()]));
                tree.setTags(set, path);
                if (set.empty())
                    model.erase(path);
                else
                    model[path] = set;
                break;
            }
        }
        if (step % 97 == 0) {
            checkAgainstModel(tree, model);
            if (HasFatalFailure()) break;
        }
    }
    checkAgainstModel(tree, model);
    // Remove everything: the tree is back to its fresh state.
    for (const QuickString& p : pathPool)
        tree.setTags({}, p);
    log1.release();
    EXPECT_TRUE(tree.tags().empty());
    EXPECT_TRUE(tree.tagsNode()->children().empty());
    EXPECT_TRUE(tree.starsNode()->paths().empty());
    EXPECT_EQ(tree.colorsNode()->children().size(), format.colorTags().size());
    for (const auto& [_, c] : tree.colorsNode()->children())
        EXPECT_TRUE(c->isEmpty());
    EXPECT_EQ(tree.rootNode()->children().size(), 6u);
}

TEST(TreeFuzzTest, RandomAddAndRemoveOfPathsOnNodes) {
    std::mt19937_64 rng(7);
    Tree tree;
    absl::flat_hash_map<QuickString, QuickStringSet> listed;  // full name to paths
    std::vector<NodePath> where;
    for (int i = 0; i < 30; ++i)
        where.push_back(QuickString::bytes("Tags/" + randomBytes(rng, 6)).components());
    for (int step = 0; step < 5000; ++step) {
        const NodePath& comps = where[rng() % where.size()];
        QuickString full = fullNameForNodePath(comps);
        QuickString path = QuickString::bytes(randomBytes(rng, 3));
        if (rng() % 2) {
            bool isNew = !listed[full].contains(path);
            bool nodeExisted = tree.lookup(comps) != nullptr;
            WhatChanged w = tree.rootNode()->addPath(comps, path, {});
            ASSERT_EQ(has(w, WhatChanged::paths), isNew);
            ASSERT_EQ(has(w, WhatChanged::children), !nodeExisted);
            listed[full].insert(path);
        } else {
            bool was = listed.contains(full) && listed[full].contains(path);
            WhatChanged w = tree.rootNode()->removePath(comps, path, {});
            ASSERT_EQ(has(w, WhatChanged::paths), was);
            if (was) listed[full].erase(path);
            if (listed.contains(full) && listed[full].empty()) listed.erase(full);
        }
        for (const auto& [f, paths] : listed)
            ASSERT_EQ(tree.lookup(f.components())->paths().size(), paths.size());
    }
    for (const auto& [f, paths] : listed)
        for (const QuickString& p : paths)
            tree.rootNode()->removePath(f.components(), p, {});
    EXPECT_TRUE(tree.tagsNode()->children().empty());
}

}  // namespace
}  // namespace qm
