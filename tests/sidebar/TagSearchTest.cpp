// Tag search: query parsing, matching, scoring, order and span fitting, with
// a brute-force scan of a random tree of hostile names as the oracle.
#include <gtest/gtest.h>

#include <QString>

#include <chrono>
#include <random>

#include "library/Tree.h"
#include "sidebar/SearchSpanFitting.h"
#include "sidebar/TagSearch.h"
#include "sidebar/TagSearchIndex.h"
#include "sidebar/TagSearchQuery.h"

using namespace qm;

namespace {

using Tokens = std::vector<std::string>;

QuickString Q(const std::string& s) {
    return QuickString::bytes(s);
}

// "foo|bar*" style: plain spans as is, match spans between brackets.
std::string spell(const SearchResult& r) {
    std::string out;
    for (const SearchSpan& s : r.spans) out += s.isMatch ? "[" + std::string(s.text) + "]" : std::string(s.text);
    return out;
}

std::vector<std::string> names(const std::vector<SearchResult>& results) {
    std::vector<std::string> out;
    for (const auto& r : results) out.emplace_back(r.node->fullName.utf8());
    return out;
}

struct Library {
    Tree tree;
    int files = 0;
    void tag(const std::string& name) { tree.addTag(Q(name), Q("/f" + std::to_string(files++))); }
};

}  // namespace

TEST(TagSearchQuery, Tokens) {
    EXPECT_EQ(TagSearchQuery::tokens("a/b"), (Tokens{"a", "/", "b"}));
    EXPECT_EQ(TagSearchQuery::tokens("a//b"), (Tokens{"a", "/", "b"}));
    EXPECT_EQ(TagSearchQuery::tokens("/a"), (Tokens{"a"}));
    EXPECT_EQ(TagSearchQuery::tokens("a/"), (Tokens{"a", "/"}));
    EXPECT_EQ(TagSearchQuery::tokens("  \n\t "), Tokens{});
    EXPECT_EQ(TagSearchQuery::tokens("/"), Tokens{});
    EXPECT_EQ(TagSearchQuery::tokens("//"), Tokens{});
    EXPECT_EQ(TagSearchQuery::tokens(" Work / 2024 \n"), (Tokens{"work ", "/", " 2024"}));
    EXPECT_EQ(TagSearchQuery::tokens("ÉTÉ"), (Tokens{"été"}));
}

TEST(TagSearch, ScoresSpansAndOrder) {
    Library lib;
    for (const char* t : {"Tags/a/b", "Tags/foobar", "Tags/foo", "Tags/foo/bar", "Tags/a2", "Tags/a10", "Colors/Red",
                          "★", "Tags/x y/z"})
        lib.tag(t);
    lib.tree.addPin(Q("Tags/a2"));
    auto search = [&](const char* q) {
        return TagSearch::search(*lib.tree.rootNode(), TagSearchQuery::tokens(q));
    };

    auto ab = search("a/b");
    ASSERT_EQ(ab.size(), 1u);
    EXPECT_EQ(ab[0].score, 5);
    EXPECT_EQ(spell(ab[0]), "[a][/][b]");

    auto bar = search("bar");
    ASSERT_EQ(names(bar), (std::vector<std::string>{"Tags/foo/bar", "Tags/foobar"}));
    EXPECT_EQ(bar[0].score, 2);
    EXPECT_EQ(bar[1].score, 0);  // not at a word start
    EXPECT_EQ(spell(bar[1]), "foo[bar]");
    EXPECT_EQ(spell(bar[0]), "foo/[bar]");

    // A matching tag hides its subtags; a longer query reaches them.
    EXPECT_EQ(names(search("foo")), (std::vector<std::string>{"Tags/foo", "Tags/foobar"}));
    EXPECT_EQ(names(search("foo/bar")), std::vector<std::string>{"Tags/foo/bar"});

    // Equal scores in natural order; the pin is listed with the tag, first.
    auto a = search("A");
    EXPECT_EQ(names(a), (std::vector<std::string>{"Tags/a", "Pinned/a2", "Tags/a2", "Tags/a10", "Tags/foo/bar",
                                                  "Tags/foobar"}));
    EXPECT_EQ(a[0].score, 2);
    EXPECT_EQ(a[1].score, 1);
    EXPECT_EQ(spell(a[1]), "[a]2");
    EXPECT_EQ(spell(a[1]), spell(a[2]));
    EXPECT_EQ(a[1].score, a[2].score);
    EXPECT_EQ(a[5].score, 0);

    // Colours by label; the stars and folders never.
    EXPECT_EQ(names(search("red")), std::vector<std::string>{"Colors/Red"});
    EXPECT_TRUE(search("★").empty());
    EXPECT_TRUE(search("tags").empty());  // the section prefix is never matched
    EXPECT_TRUE(search("nothing").empty());

    // A space ends and starts words; "/" tokens score like words.
    auto xy = search("y/z");
    ASSERT_EQ(xy.size(), 1u);
    EXPECT_EQ(spell(xy[0]), "x [y][/][z]");
    EXPECT_EQ(xy[0].score, 2 + 1 + 2);
    auto slash = search("a/");
    ASSERT_FALSE(slash.empty());
    EXPECT_EQ(slash[0].node->fullName.utf8(), "Tags/a/b");  // Tags/a has no "/" after its a
    EXPECT_EQ(slash[0].score, 3);
}

namespace {

// The oracle: every tag node, matched on lower-cased decoded text with a
// plain left-to-right scan, kept when no tag above it matched.
struct Brute {
    NodePtr node;
    int score = 0;
    std::string spelled;  // as spell() writes it
};

std::optional<Brute> bruteMatch(const NodePtr& node, const Tokens& tokens) {
    std::string_view d = node->fullName.string();
    QString text = QString::fromUtf8(d.data(), qsizetype(d.size()));
    QString lower = text.toLower();
    qsizetype pos = text.indexOf('/') + 1;
    Brute r{node, 0, {}};
    for (const auto& t : tokens) {
        QString token = QString::fromStdString(t);
        qsizetype at = -1;
        for (qsizetype i = pos; i + token.size() <= lower.size(); ++i)
            if (lower.mid(i, token.size()) == token) {
                at = i;
                break;
            }
        if (at < 0) return std::nullopt;
        if (at > pos) r.spelled += text.mid(pos, at - pos).toStdString();
        bool start = at == pos || text[at - 1] == '/' || text[at - 1] == ' ';
        qsizetype end = at + token.size();
        if (start) r.score += (end == text.size() || text[end] == '/' || text[end] == ' ') ? 2 : 1;
        r.spelled += "[" + text.mid(at, token.size()).toStdString() + "]";
        pos = end;
    }
    if (pos < text.size()) r.spelled += text.mid(pos).toStdString();
    return r;
}

void collect(const Node& node, const Tokens& tokens, bool hiddenAbove, std::vector<Brute>& out) {
    for (const NodePtr& c : node.sortedChildren()) {
        if (c->isHidden() || has(c->kind, NodeKind::directory)) continue;
        bool matched = false;
        if (has(c->kind, NodeKind::tag) && !hiddenAbove)
            if (auto r = bruteMatch(c, tokens)) {
                out.push_back(*r);
                matched = true;
            }
        collect(*c, tokens, hiddenAbove || matched, out);
    }
}

}  // namespace

TEST(TagSearch, AgreesWithBruteForceOverHostileNames) {
    std::mt19937 rng(2024);
    const std::vector<std::string> pieces = {"a", "b", "A", "B", " ", "é", "É", "ü", "%", "#", "ab", "Ab", "10", "2",
                                             "x y", "\xff", "", "-", "."};
    Library lib;
    std::vector<std::string> tags;
    for (int i = 0; i < 2000; ++i) {
        std::string name;
        int depth = 1 + int(rng() % 3);
        for (int d = 0; d < depth; ++d) {
            if (d) name += '/';
            int len = 1 + int(rng() % 3);
            for (int k = 0; k < len; ++k) name += pieces[rng() % pieces.size()];
        }
        lib.tag("Tags/" + name);
        tags.push_back(name);
        if (i % 50 == 0) lib.tree.addPin(Q("Tags/" + name));
    }
    for (const char* c : {"Red", "Blue"}) lib.tag(std::string("Colors/") + c);
    const std::vector<std::string> queries = {"a", "A/b", "é", "ÉA", "/", "b/", "a//b", "x y", " y", "10", "%",
                                              "ab/a", "\xff", "2/", "a b", "ü/é/a"};
    // Collected in the smallest slices, as after a library change.
    TagSearchIndex::Builder builder(*lib.tree.rootNode());
    int slices = 1;
    while (!builder.step(std::chrono::steady_clock::time_point::min())) ++slices;
    EXPECT_GT(slices, 1);
    const std::unique_ptr<TagSearchIndex> index = builder.take();
    size_t total = 0;
    for (const auto& q : queries) {
        Tokens tokens = TagSearchQuery::tokens(q);
        auto got = index->search(tokens);
        ASSERT_EQ(got, TagSearch::search(*lib.tree.rootNode(), tokens)) << q;
        std::vector<Brute> want;
        if (!tokens.empty()) collect(*lib.tree.rootNode(), tokens, false, want);
        std::sort(want.begin(), want.end(), [](const Brute& a, const Brute& b) {
            return a.score != b.score ? a.score > b.score : a.node->fullName < b.node->fullName;
        });
        ASSERT_EQ(got.size(), want.size()) << q;
        for (size_t i = 0; i < got.size(); ++i) {
            ASSERT_EQ(got[i].node, want[i].node) << q << " #" << i;
            ASSERT_EQ(got[i].score, want[i].score) << q << " " << got[i].node->fullName.utf8();
            ASSERT_EQ(spell(got[i]), want[i].spelled) << q;
        }
        for (size_t i = 1; i < got.size(); ++i) ASSERT_FALSE(got[i] < got[i - 1]);
        total += got.size();
    }
    EXPECT_GT(total, 1000u);  // the queries do find things
}

TEST(SearchSpanFitting, OtherRunsGiveWayBeforeMatches) {
    // A measure that truncates to whole 5-point steps of the room given.
    auto measure = [](size_t, double room) { return double(int(room / 5) * 5); };
    // Fits already: unchanged.
    EXPECT_EQ(SearchSpanFitting::fit({20, 30}, {false, true}, 60, measure), (std::vector<double>{20, 30}));
    // The first other run shrinks to what is left: 100 - 30 - 40 = 30.
    EXPECT_EQ(SearchSpanFitting::fit({50, 30, 40}, {false, true, false}, 100, measure),
              (std::vector<double>{30, 30, 40}));
    // Both other runs go, then the match is truncated.
    EXPECT_EQ(SearchSpanFitting::fit({50, 80, 40}, {false, true, false}, 60, measure),
              (std::vector<double>{0, 60, 0}));
    // A room below zero gives zero without measuring.
    int calls = 0;
    auto counting = [&](size_t, double room) {
        ++calls;
        return room;
    };
    EXPECT_EQ(SearchSpanFitting::fit({10, 90, 10}, {false, true, true}, 50, counting),
              (std::vector<double>{0, 40, 10}));
    EXPECT_EQ(calls, 1);
}
