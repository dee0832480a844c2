#include "library/TreeQueries.h"

#include <absl/container/flat_hash_map.h>

#include <algorithm>
#include <variant>

#include "library/Tree.h"
#include "library/TreeNames.h"

namespace qm {

namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// The tags of one file as the expression reads them; a file rarely has more
// than a handful, so they stay on the stack.
template <typename Fn>
bool withTags(const QuickStringSet& names, Fn&& fn) {
    absl::InlinedVector<std::string_view, 8> tags;
    for (const QuickString& n : names) tags.push_back(TreeQueries::tagOf(n));
    return fn(tags);
}

bool fileMatches(const TagExpression& expression, const QuickStringSet& names) {
    return withTags(names, [&](const auto& tags) { return expression.matches(tags); });
}

void collectSubtree(const Node& node, std::vector<const Node*>& out) {
    out.push_back(&node);
    for (const auto& [_, child] : node.children()) collectSubtree(*child, out);
}

// Whether a file without any of the expression's names matches ("not done"):
// then every tagged file is a candidate.
bool matchesUntagged(const TagExpression& expression) {
    return expression.evaluate(std::vector<bool>(expression.names().size(), false));
}

// The nodes listing the files that carry one of the expression's names (and,
// for a name ending in "/", everything below them).
std::vector<const Node*> candidateNodes(const Tree& tree, const TagExpression& expression) {
    std::vector<const Node*> nodes;
    for (const TagExpression::Name& name : expression.names()) {
        const QuickString tag = QuickString::bytes(name.tag);
        if (NodePtr c = tree.colorsNode()->child(tag)) nodes.push_back(c.get());
        if (tag == tree.starsNode()->name) nodes.push_back(tree.starsNode().get());
        NodePtr under = tree.tagsNode()->lookup(tag.components());
        if (!under || under == tree.tagsNode()) continue;
        if (name.subtree)
            collectSubtree(*under, nodes);
        else
            nodes.push_back(under.get());
    }
    return nodes;
}

// Files share tag sets, so each distinct set is judged once.
class SetVerdicts {
public:
    explicit SetVerdicts(const TagExpression& expression) : expression_(expression) {}
    bool operator()(const FileTagSet& set) {
        auto [it, inserted] = verdicts_.try_emplace(set.get(), false);
        if (inserted) it->second = fileMatches(expression_, *set);
        return it->second;
    }

private:
    const TagExpression& expression_;
    absl::flat_hash_map<const QuickStringSet*, bool> verdicts_;
};

// Evaluations carry ids unique in the process, so one meant for a replaced
// tree never lands in another.
std::atomic<uint64_t> lastEvaluationId{0};

}  // namespace

std::string_view TreeQueries::tagOf(const QuickString& nodeName) {
    // As TagFormat::tagForNodeName, without a copy: the tag sets hold only
    // colour, tag and star node names.
    std::string_view s = nodeName.utf8();
    for (std::string_view prefix : {std::string_view("Colors/"), std::string_view("Tags/")})
        if (s.starts_with(prefix)) return s.substr(prefix.size());
    return s;
}

std::string TreeQueries::trimmed(std::string_view text) {
    size_t a = 0, b = text.size();
    while (a < b && isBlank(text[a])) ++a;
    while (b > a && isBlank(text[b - 1])) --b;
    return std::string(text.substr(a, b - a));
}

NodePath TreeQueries::pathFor(std::string_view text) {
    return {queriesSectionName(), QuickString::bytes(trimmed(text))};
}

std::optional<std::string_view> TreeQueries::textOf(const NodePath& path) {
    if (path.size() != 2 || path[0] != queriesSectionName()) return std::nullopt;
    return path[1].utf8();
}

std::string TreeQueries::titleFor(std::string_view text) {
    return "Files matching " + std::string(text);
}

TreeQueries::Entry* TreeQueries::entryFor(std::string_view text) {
    for (Entry& e : entries_)
        if (e.node->name.utf8() == text) return &e;
    return nullptr;
}

const TreeQueries::Entry* TreeQueries::entryFor(std::string_view text) const {
    return const_cast<TreeQueries*>(this)->entryFor(text);
}

NodePtr TreeQueries::section(Tree& tree) {
    if (NodePtr s = tree.rootNode()->child(queriesSectionName())) return s;
    NodePtr s = tree.rootNode()->addChild(NodeKind::none, queriesSectionName());
    s->hide();
    return s;
}

void TreeQueries::updateSectionVisibility(Tree& tree) {
    NodePtr s = section(tree);
    bool anySaved = std::any_of(entries_.begin(), entries_.end(), [](const Entry& e) { return e.saved; });
    if (anySaved)
        s->show();
    else
        s->hide();
}

NodePtr TreeQueries::find(std::string_view text) const {
    const Entry* e = entryFor(trimmed(text));
    return e ? e->node : nullptr;
}

const TagExpression* TreeQueries::expressionOf(const Node& node) const {
    for (const Entry& e : entries_)
        if (e.node.get() == &node) return &e.expression;
    return nullptr;
}

bool TreeQueries::isSaved(const Node& node) const {
    for (const Entry& e : entries_)
        if (e.node.get() == &node) return e.saved;
    return false;
}

NodePtr TreeQueries::open(Tree& tree, std::string_view rawText, WhatChanged* changed) {
    const std::string text = trimmed(rawText);
    if (Entry* e = entryFor(text)) {
        e->lastOpened = ++clock_;
        return e->node;
    }
    auto parsed = TagExpression::parse(text);
    auto* expression = std::get_if<TagExpression>(&parsed);
    if (!expression || text.empty()) return nullptr;
    evictUnsaved(tree, changed);
    NodePtr s = section(tree);
    NodePtr node = s->addChild(NodeKind::query, QuickString::bytes(text));
    // Unsaved queries take no row; saving one shows it.
    node->hide();
    entries_.push_back(Entry{.node = node, .expression = std::move(*expression), .lastOpened = ++clock_});
    fill(tree, entries_.back());
    return node;
}

void TreeQueries::evictUnsaved(Tree& tree, WhatChanged* changed) {
    size_t unsaved = size_t(std::count_if(entries_.begin(), entries_.end(), [](const Entry& e) { return !e.saved; }));
    while (unsaved >= maxUnsaved) {
        auto oldest = entries_.end();
        for (auto it = entries_.begin(); it != entries_.end(); ++it)
            if (!it->saved && (oldest == entries_.end() || it->lastOpened < oldest->lastOpened)) oldest = it;
        // Its evaluation, if any, is cancelled with it.
        section(tree)->removeChild(oldest->node->name);
        entries_.erase(oldest);
        --unsaved;
        // A window may still show it: it sees its node gone.
        if (changed) *changed |= WhatChanged::children | WhatChanged::paths;
    }
}

bool TreeQueries::save(Tree& tree, std::string_view text, std::string_view name) {
    if (!open(tree, text)) return false;
    Entry* e = entryFor(trimmed(text));
    e->saved = true;
    const std::string label = trimmed(name);
    e->node->setLabel(label == e->node->name.utf8() ? QuickString() : QuickString::bytes(label));
    e->node->show();
    updateSectionVisibility(tree);
    return true;
}

bool TreeQueries::unsave(Tree& tree, std::string_view text) {
    Entry* e = entryFor(trimmed(text));
    if (!e || !e->saved) return false;
    e->saved = false;
    e->node->setLabel(QuickString());
    e->node->hide();
    e->lastOpened = ++clock_;
    updateSectionVisibility(tree);
    evictUnsaved(tree, nullptr);
    return true;
}

std::vector<TreeQueries::Saved> TreeQueries::saved() const {
    std::vector<Saved> out;
    for (const Entry& e : entries_)
        if (e.saved) out.push_back(Saved{std::string(e.node->displayName().utf8()), std::string(e.node->name.utf8())});
    std::sort(out.begin(), out.end(), [](const Saved& a, const Saved& b) {
        return naturalLess(a.name, b.name) || (!naturalLess(b.name, a.name) && a.expression < b.expression);
    });
    return out;
}

std::vector<std::string> TreeQueries::unsavedTexts() const {
    std::vector<std::string> out;
    for (const Entry& e : entries_)
        if (!e.saved) out.emplace_back(e.node->name.utf8());
    return out;
}

WhatChanged TreeQueries::fileChanged(const QuickString& path, const QuickStringSet* names) {
    WhatChanged changed = WhatChanged::none;
    for (Entry& e : entries_) {
        // Judged again once the evaluation's files arrive.
        if (e.pendingId) {
            e.changedWhilePending.insert(path);
            continue;
        }
        if (judgeFile(e, path, names)) changed |= WhatChanged::paths;
    }
    return changed;
}

bool TreeQueries::judgeFile(Entry& e, const QuickString& path, const QuickStringSet* names) {
    // Only tagged files are candidates, as on the command line.
    const bool wanted = names && fileMatches(e.expression, *names);
    const bool listed = e.node->paths().contains(path);
    if (wanted == listed) return false;
    if (wanted)
        e.node->insertPath(path, PathMetadata{});
    else
        e.node->erasePath(path);
    return true;
}

void TreeQueries::evaluate(const Tree& tree, Node& node, const TagExpression& expression) {
    const bool everyFile = matchesUntagged(expression);
    fillFrom(tree, node, expression, everyFile ? std::vector<const Node*>{} : candidateNodes(tree, expression),
             everyFile);
}

void TreeQueries::fillFrom(const Tree& tree, Node& node, const TagExpression& expression,
                           const std::vector<const Node*>& candidates, bool everyFile) {
    SetVerdicts matches(expression);
    Node::Paths found;
    if (everyFile) {
        for (const auto& [path, set] : tree.tags())
            if (matches(set)) found.try_emplace(path);
    } else {
        for (const Node* n : candidates)
            for (const auto& [path, _] : n->paths()) {
                if (found.contains(path)) continue;
                auto it = tree.tags().find(path);
                if (it != tree.tags().end() && matches(it->second)) found.try_emplace(path);
            }
    }
    node.replacePaths(std::move(found));
}

// ---- Evaluation elsewhere ----

void TreeQueries::setEvaluator(Evaluator evaluator, size_t syncLimit) {
    evaluator_ = std::move(evaluator);
    syncLimit_ = syncLimit;
}

void TreeQueries::fill(Tree& tree, Entry& e) {
    // The files a query reads: every tagged one, or those its names' nodes list.
    const bool everyFile = matchesUntagged(e.expression);
    const std::vector<const Node*> candidates =
        everyFile ? std::vector<const Node*>{} : candidateNodes(tree, e.expression);
    size_t files = everyFile ? tree.tags().size() : 0;
    for (const Node* n : candidates) files += n->paths().size();
    if (!evaluator_ || files <= syncLimit_) return fillFrom(tree, *e.node, e.expression, candidates, everyFile);
    e.pendingId = ++lastEvaluationId;
    e.cancelled.flag = std::make_shared<std::atomic<bool>>(false);
    evaluator_(Evaluation{e.pendingId, e.expression, tree.tagsSnapshot(), e.cancelled.flag});
}

Node::Paths TreeQueries::judge(const Evaluation& evaluation) {
    SetVerdicts matches(evaluation.expression);
    Node::Paths found;
    size_t seen = 0;
    for (const auto& [path, set] : *evaluation.tags) {
        // A query typed over is dropped soon: stop reading for it.
        if (++seen % 4096 == 0 && evaluation.cancelled && evaluation.cancelled->load(std::memory_order_relaxed))
            return {};
        if (matches(set)) found.try_emplace(path);
    }
    return found;
}

WhatChanged TreeQueries::deliver(const Tree& tree, uint64_t id, Node::Paths found) {
    if (id == 0) return WhatChanged::none;
    for (Entry& e : entries_) {
        if (e.pendingId != id) continue;
        e.node->replacePaths(std::move(found));
        const QuickStringSet changed = std::move(e.changedWhilePending);
        e.cancelled.flag.reset();
        e.pendingId = 0;
        e.changedWhilePending.clear();
        for (const QuickString& path : changed) {
            auto it = tree.tags().find(path);
            judgeFile(e, path, it == tree.tags().end() ? nullptr : it->second.get());
        }
        return WhatChanged::paths;
    }
    return WhatChanged::none;
}

bool TreeQueries::isPending(const Node& node) const {
    for (const Entry& e : entries_)
        if (e.node.get() == &node) return e.pendingId != 0;
    return false;
}

}  // namespace qm
