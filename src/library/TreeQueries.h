#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/QuickString.h"
#include "library/FileTags.h"
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
//
// A query over many files can be filled away from the tree's thread: with an
// evaluator set, such a query's node starts empty and pending, its files are
// judged on a snapshot of the tree's tags, and `deliver` puts them in, with
// the files whose tags changed meanwhile judged again.
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

    // A query's files to judge elsewhere.
    struct Evaluation {
        uint64_t id = 0;
        TagExpression expression;
        std::shared_ptr<const FileTags> tags;  // the tree's tags when it was asked for
        // Set once the query has gone (removed, or its tree replaced).
        std::shared_ptr<const std::atomic<bool>> cancelled;
    };
    // Takes an evaluation to run `judge` on and bring its files back to
    // `deliver` on the tree's thread; the snapshot must be dropped there too.
    using Evaluator = std::function<void(Evaluation)>;
    // From now on a query that would read more than `syncLimit` files is
    // handed to the evaluator; the others are filled at once. A null
    // evaluator fills every query at once (the default).
    void setEvaluator(Evaluator evaluator, size_t syncLimit);
    // The files of an evaluation; callable on any thread. Empty when it was
    // cancelled on the way.
    static Node::Paths judge(const Evaluation& evaluation);
    // The files of evaluation `id`; nothing changes when its query is gone.
    WhatChanged deliver(const Tree& tree, uint64_t id, Node::Paths found);
    // Whether a query node waits for its files.
    bool isPending(const Node& node) const;

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
    // An evaluation's cancel flag, raised when its entry goes (a moved-from
    // one has none).
    struct PendingFlag {
        std::shared_ptr<std::atomic<bool>> flag;
        PendingFlag() = default;
        PendingFlag(PendingFlag&&) noexcept = default;
        PendingFlag& operator=(PendingFlag&& o) noexcept {
            raise();
            flag = std::move(o.flag);
            return *this;
        }
        ~PendingFlag() { raise(); }
        void raise() noexcept {
            if (flag) flag->store(true, std::memory_order_relaxed);
            flag.reset();
        }
    };
    struct Entry {
        NodePtr node;
        TagExpression expression;
        bool saved = false;
        uint64_t lastOpened = 0;
        // While its files are judged elsewhere: that evaluation, and the
        // files whose tags changed since its snapshot.
        uint64_t pendingId = 0;
        PendingFlag cancelled{};
        QuickStringSet changedWhilePending{};
    };
    Entry* entryFor(std::string_view text);
    const Entry* entryFor(std::string_view text) const;
    static NodePtr section(Tree& tree);
    void updateSectionVisibility(Tree& tree);
    void evictUnsaved(Tree& tree, WhatChanged* changed);
    // Whether the entry's node should list the file with these tag names.
    static bool judgeFile(Entry& e, const QuickString& path, const QuickStringSet* names);
    // Fills the node from every tagged file, or from the candidates' files.
    static void fillFrom(const Tree& tree, Node& node, const TagExpression& expression,
                         const std::vector<const Node*>& candidates, bool everyFile);
    void fill(Tree& tree, Entry& e);

    std::vector<Entry> entries_;
    uint64_t clock_ = 0;
    Evaluator evaluator_;
    size_t syncLimit_ = 0;
};

}  // namespace qm
