#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/QuickString.h"
#include "library/Node.h"
#include "library/NodePath.h"
#include "library/TagExpression.h"
#include "library/WhatChanged.h"

namespace qm {

class Tree;

// The query nodes of a tree: each lists the tagged files whose tags satisfy
// a tag expression, kept in step with every tag change of the tree. They sit
// under the section "Queries", which joins the root only with the first
// query and stays hidden until one is saved; a query the person only typed
// or opened is a hidden child, a saved one a visible child with a name of
// its own. A query node's name is its expression's text, so its node path
// ({"Queries", text}) stays the same when it is saved or renamed.
class TreeQueries {
public:
    // A saved query as the settings keep it.
    struct Saved {
        std::string name;
        std::string expression;
        friend bool operator==(const Saved&, const Saved&) = default;
    };

    TreeQueries() = default;
    TreeQueries(const TreeQueries&) = delete;
    TreeQueries& operator=(const TreeQueries&) = delete;
    TreeQueries(TreeQueries&&) = default;
    TreeQueries& operator=(TreeQueries&&) = default;

    // Unsaved query nodes kept at most; the least recently opened goes first.
    static constexpr size_t maxUnsaved = 8;

    // The query node of an expression text (trimmed of blanks), made and
    // filled when missing; null when the text does not parse. `changed`
    // gets the bits a removed older query caused.
    NodePtr open(Tree& tree, std::string_view text, WhatChanged* changed = nullptr);
    // The node when it exists; nothing is made.
    NodePtr find(std::string_view text) const;
    // The query behind a query node; null for other nodes.
    const TagExpression* expressionOf(const Node& node) const;
    bool isSaved(const Node& node) const;

    // Saves (or renames) the query node of `text` under `name`; false when
    // the text does not parse. A saved query is shown.
    bool save(Tree& tree, std::string_view text, std::string_view name);
    // Back to an unsaved, hidden query; false when it was not saved.
    bool unsave(Tree& tree, std::string_view text);
    // The saved queries in the order they are shown.
    std::vector<Saved> saved() const;

    // The expression texts of the unsaved queries, to carry them into
    // another tree.
    std::vector<std::string> unsavedTexts() const;

    // A file's tag node names became `names` (null: it has no tags now);
    // moves it into or out of every query. Paths bit when a list changed.
    WhatChanged fileChanged(const QuickString& path, const QuickStringSet* names);

    // Fills a query's node from the whole tree.
    static void evaluate(const Tree& tree, Node& node, const TagExpression& expression);

    // The tag a tag node's full name stands for, as the expression sees it
    // ("Tags/a/b" is a/b, "Colors/Red" is Red, "★" is ★).
    static std::string_view tagOf(const QuickString& nodeName);
    static std::string trimmed(std::string_view text);
    // The node path of a query ({"Queries", text}), and back: the text of a
    // path that names a query, none for any other path.
    static NodePath pathFor(std::string_view text);
    static std::optional<std::string_view> textOf(const NodePath& path);
    // "Files matching " and the expression, the title of a query's files.
    static std::string titleFor(std::string_view text);

private:
    struct Entry {
        NodePtr node;
        TagExpression expression;
        bool saved = false;
        uint64_t lastOpened = 0;
    };
    Entry* entryFor(std::string_view text);
    const Entry* entryFor(std::string_view text) const;
    static NodePtr section(Tree& tree);
    void updateSectionVisibility(Tree& tree);
    void evictUnsaved(Tree& tree, WhatChanged* changed);

    std::vector<Entry> entries_;
    uint64_t clock_ = 0;
};

}  // namespace qm
