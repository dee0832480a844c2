#include "library/TagExpression.h"

#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <set>
#include <string>
#include <variant>
#include <vector>

using namespace qm;

namespace {

// The oracle: an expression tree built by the test, printed as text for the
// parser and evaluated directly by recursion over sets of tag strings.
struct Node {
    enum Kind { name, notOp, andOp, orOp } kind = name;
    std::string text;  // for names, as typed (a trailing "/" means the subtree)
    std::unique_ptr<Node> a, b;
};

bool holds(const Node& n, const std::set<std::string>& tags) {
    switch (n.kind) {
        case Node::name:
            if (n.text.back() != '/') return tags.contains(n.text);
            for (const auto& t : tags) {
                // Below the name or the name itself, by plain string tests.
                const std::string base = n.text.substr(0, n.text.size() - 1);
                if (t == base || t.rfind(n.text, 0) == 0) return true;
            }
            return false;
        case Node::notOp: return !holds(*n.a, tags);
        case Node::andOp: return holds(*n.a, tags) && holds(*n.b, tags);
        case Node::orOp: return holds(*n.a, tags) || holds(*n.b, tags);
    }
    return false;
}

int precedence(Node::Kind k) {
    return k == Node::orOp ? 1 : k == Node::andOp ? 2 : 3;
}

// Writes the tree with as few parentheses as the grammar allows (sometimes a
// few more), so that precedence and left grouping are what the parser must get right.
std::string print(const Node& n, std::mt19937& rng, int outer = 0, bool rightOperand = false) {
    std::string s;
    switch (n.kind) {
        case Node::name: {
            const bool quote = n.text.find(' ') != std::string::npos || n.text == "and" || n.text == "or" ||
                               n.text == "not" || rng() % 8 == 0;
            if (!quote) return n.text;
            std::string q = "\"";
            for (char c : n.text) {
                if (c == '"' || c == '\\') q += '\\';
                q += c;
            }
            return q + "\"";
        }
        case Node::notOp: s = "not " + print(*n.a, rng, 3); break;
        case Node::andOp:
        case Node::orOp:
            s = print(*n.a, rng, precedence(n.kind)) + (n.kind == Node::andOp ? " and " : " or ") +
                print(*n.b, rng, precedence(n.kind), true);
            break;
    }
    const int p = precedence(n.kind);
    const bool needed = p < outer || (rightOperand && p == outer && n.kind != Node::notOp);
    if (needed || rng() % 10 == 0) return "(" + s + ")";
    return s;
}

std::unique_ptr<Node> randomTree(std::mt19937& rng, const std::vector<std::string>& names, int depth) {
    auto n = std::make_unique<Node>();
    const unsigned pick = depth <= 0 ? 0 : rng() % 5;
    if (pick <= 1) {
        n->kind = Node::name;
        n->text = names[rng() % names.size()];
    } else if (pick == 2) {
        n->kind = Node::notOp;
        n->a = randomTree(rng, names, depth - 1);
    } else {
        n->kind = pick == 3 ? Node::andOp : Node::orOp;
        n->a = randomTree(rng, names, depth - 1);
        n->b = randomTree(rng, names, depth - 1);
    }
    return n;
}

TagExpression parseOk(const std::string& text) {
    auto r = TagExpression::parse(text);
    if (auto* e = std::get_if<TagExpression::Error>(&r)) {
        ADD_FAILURE() << text << ": position " << e->position << ": " << e->reason;
        return std::get<TagExpression>(TagExpression::parse("x"));
    }
    return std::get<TagExpression>(r);
}

TagExpression::Error parseError(const std::string& text) {
    auto r = TagExpression::parse(text);
    if (auto* e = std::get_if<TagExpression::Error>(&r)) return *e;
    ADD_FAILURE() << text << " parsed as " << std::get<TagExpression>(r).describe();
    return {};
}

}  // namespace

TEST(TagExpression, AgreesWithBruteForceOverARandomLibrary) {
    std::mt19937 rng(2025);
    // 50 tags in a hierarchy, with names that need care: blanks, keywords,
    // quotes, a prefix that is not a parent ("Work" and "Workshop").
    std::vector<std::string> tags = {"Work",       "Work/2024",   "Work/2024/Q1", "Work/2025", "Workshop",
                                     "Taxes",      "Taxes/2025",  "done",         "and",       "a \"quoted\" one",
                                     "with space", "back\\slash", "Ünïcode",      "★",         "Red"};
    while (tags.size() < 50)
        tags.push_back("t" + std::to_string(tags.size() % 9) + "/" + std::to_string(tags.size()));
    std::vector<std::string> names = tags;
    for (const char* subtree : {"Work/", "Work/2024/", "Taxes/", "t3/", "t5/", "nothing/", "Workshop/"})
        names.push_back(subtree);
    names.push_back("absent");

    std::vector<std::set<std::string>> library(2000);
    for (auto& files : library) {
        const unsigned n = rng() % 6;
        for (unsigned i = 0; i < n; ++i)
            files.insert(tags[rng() % tags.size()]);
    }

    for (int round = 0; round < 300; ++round) {
        auto tree = randomTree(rng, names, 1 + round % 6);
        const std::string text = print(*tree, rng);
        const TagExpression e = parseOk(text);
        for (const auto& files : library)
            ASSERT_EQ(e.matches(files), holds(*tree, files)) << text << "  parsed as " << e.describe();
    }
}

TEST(TagExpression, PrecedenceGroupingAndNames) {
    EXPECT_EQ(parseOk("a or b and c").describe(), "(a or (b and c))");
    EXPECT_EQ(parseOk("a and b or c").describe(), "((a and b) or c)");
    EXPECT_EQ(parseOk("not a and b").describe(), "((not a) and b)");
    EXPECT_EQ(parseOk("not not a").describe(), "(not (not a))");
    EXPECT_EQ(parseOk("a or b or c").describe(), "((a or b) or c)");
    EXPECT_EQ(parseOk("a and (b or c)").describe(), "(a and (b or c))");
    EXPECT_EQ(parseOk("(a)and(b)").describe(), "(a and b)");
    EXPECT_EQ(parseOk("\"and\" or \"x y\"").describe(), "(and or x y)");
    EXPECT_EQ(parseOk("AND").describe(), "AND");  // keywords are lower case only
    EXPECT_EQ(parseOk("\"say \\\"hi\\\"\"").describe(), "say \"hi\"");
    EXPECT_EQ(parseOk("Work/ and Work/").names().size(), 1u);

    const TagExpression work = parseOk("Work/");
    EXPECT_TRUE(work.matches(std::vector<std::string>{"Work"}));
    EXPECT_TRUE(work.matches(std::vector<std::string>{"Work/2024/Q1"}));
    EXPECT_FALSE(work.matches(std::vector<std::string>{"Workshop"}));
    EXPECT_FALSE(work.matches(std::vector<std::string>{"work"}));
    EXPECT_FALSE(parseOk("Work").matches(std::vector<std::string>{"Work/2024"}));
    EXPECT_TRUE(parseOk("not x").matches(std::vector<std::string>{}));
}

TEST(TagExpression, MalformedExpressionsSayWhereAndWhy) {
    struct Case {
        std::string text;
        size_t position;
        std::string reasonPart;
    };
    const std::vector<Case> cases = {
        {"", 1, "expected a tag name"},
        {"   ", 4, "found the end"},
        {"a and", 6, "found the end"},
        {"a b", 3, "expected \"and\", \"or\" or the end, found the name \"b\""},
        {"(a or b", 8, "close the \"(\" at position 1"},
        {"a or b)", 7, "without a matching \"(\""},
        {"a and or b", 7, "found \"or\""},
        {"not", 4, "found the end"},
        {"()", 2, "found \")\""},
        {"a and \"b", 7, "closing"},
        {"a or \"\"", 6, "empty tag name"},
        {"x,y", 1, "cannot contain \",\""},
        {"(a b)", 4, "expected \"and\", \"or\" or \")\""},
        {"a and /", 7, "empty tag name"},
    };
    for (const Case& c : cases) {
        const TagExpression::Error e = parseError(c.text);
        EXPECT_EQ(e.position, c.position) << c.text << ": " << e.reason;
        EXPECT_NE(e.reason.find(c.reasonPart), std::string::npos) << c.text << ": " << e.reason;
    }
    // Hostile nesting is refused, not a stack overflow.
    const TagExpression::Error deep = parseError(std::string(100000, '(') + "a");
    EXPECT_NE(deep.reason.find("nested too deeply"), std::string::npos);
    EXPECT_EQ(parseOk(std::string(300, '(') + "a" + std::string(300, ')')).describe(), "a");
}

// The window offers a query only for text that is more than a tag search's
// single name, and reports a malformed one only when it was meant as one.
TEST(TagExpression, WhatCountsAsAQuery) {
    for (const char* compound : {"a and b", "a or b", "not done", "(a)", "Work/", "\"a b\" or c", "a/b/"})
        EXPECT_TRUE(parseOk(compound).isCompound()) << compound;
    for (const char* plain : {"a", "Taxes/2025", "\"a b\"", "★", "Red", "notes", "android"})
        EXPECT_FALSE(parseOk(plain).isCompound()) << plain;
    for (const char* meant : {"a and", "not", "(a", "a)", "\"a", "x and ,y", "a or(b"})
        EXPECT_TRUE(TagExpression::looksLikeExpression(meant)) << meant;
    for (const char* plain : {"x,y", "//", "notes,", "band", "ornate or-not", ""})
        EXPECT_FALSE(TagExpression::looksLikeExpression(plain)) << plain;
    EXPECT_EQ(parseError("a and").message(), "malformed expression at position 6: expected a tag name, \"not\" or \"(\", found the end");
}
