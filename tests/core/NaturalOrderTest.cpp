#include "core/QuickString.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

namespace qm {
namespace {

// The order written out the slow way, step by step, as an oracle for the
// fast comparison: two full passes from the first byte.
bool referenceLess(std::string_view as, std::string_view bs) {
    auto a = [&](size_t i) { return static_cast<unsigned char>(as[i]); };
    auto b = [&](size_t i) { return static_cast<unsigned char>(bs[i]); };
    auto digit = [](unsigned c) { return c >= '0' && c <= '9'; };
    auto cls = [&](unsigned c) {
        return digit(c) ? 1 : ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) ? 2 : 0;
    };
    for (int pass = 0; pass < 2; ++pass) {
        size_t i = 0, j = 0;
        while (i < as.size() && j < bs.size()) {
            unsigned ca = a(i), cb = b(j);
            if (pass == 0) {
                if (ca >= 'A' && ca <= 'Z') ca += 32;
                if (cb >= 'A' && cb <= 'Z') cb += 32;
            }
            if (digit(ca) && digit(cb)) {
                size_t ei = i, ej = j;
                while (ei < as.size() && digit(a(ei)))
                    ++ei;
                while (ej < bs.size() && digit(b(ej)))
                    ++ej;
                size_t la = ei - i, lb = ej - j, width = std::max(la, lb);
                for (size_t k = 0; k < width; ++k) {
                    // Position k of the right-aligned runs; missing ones are "0".
                    unsigned da = k < width - la ? '0' : a(i + k - (width - la));
                    unsigned db = k < width - lb ? '0' : b(j + k - (width - lb));
                    if (da != db) return da < db;
                }
                if (la != lb) return la < lb;
                i = ei;
                j = ej;
                continue;
            }
            if (ca == cb) {
                ++i;
                ++j;
                continue;
            }
            if (cls(ca) != cls(cb)) return cls(ca) < cls(cb);
            return ca < cb;
        }
        size_t ra = as.size() - i, rb = bs.size() - j;
        if (ra != rb) return ra < rb;
    }
    return false;
}

bool less(const std::string& a, const std::string& b) {
    return naturalLess(a, b);
}

TEST(NaturalOrderTest, ExamplesOfTheOrder) {
    const std::vector<std::pair<std::string, std::string>> ordered = {
        {"a2", "a10"},
        {"file", "File2"},
        {"a", "B"},
        {"B", "c"},
        {"File", "file"},
        {"x.txt", "x1"},
        {"_a", "1"},
        {"1", "a"},
        {"a", "a0"},
        {"a0", "a00"},
        {"a00", "a1"},
        {"a1", "a01"},
        {"7", "07"},
        {"", "a"},
        {"a", "ab"},
        {"IMG_9.JPG", "IMG_10.JPG"},
        {"img_0010", "IMG_11"},
        {"a b", "a1"},
        {"/x/y", "/x1"},
        {"x\xE2\x98\x85", "x1"},
        {"\xE2\x98\x85", "Colors"},
        {"a1", "Z"},
        {"9", "10"},
        {"099", "100"},
        {"0", "00"},
        {"a1c", "a01b"},
        {"00000000000000000000000000009", "10"},
        {"123456789012345678901234567890", "123456789012345678901234567891"},
    };
    for (const auto& [a, b] : ordered) {
        EXPECT_TRUE(less(a, b)) << a << " < " << b;
        EXPECT_FALSE(less(b, a)) << b << " !< " << a;
        EXPECT_EQ(referenceLess(a, b), true) << a << " < " << b;
    }
    for (const char* s : {"", "a", "a01", "File", "\xFF"})
        EXPECT_FALSE(less(s, s));
    // Root sections by plain natural order: ★ before the letters.
    std::vector<std::string> sections = {"Tags", "Map", "Colors", "\xE2\x98\x85", "Folders", "Pinned"};
    std::sort(sections.begin(), sections.end(), less);
    EXPECT_EQ(sections,
              (std::vector<std::string>{"\xE2\x98\x85", "Colors", "Folders", "Map", "Pinned", "Tags"}));
}

// Byte strings built to hit the hard spots: shared prefixes, digit runs with
// leading zeros, case twins, "/" and bytes above 0x7F.
std::string randomText(std::mt19937_64& rng, size_t maxLen) {
    static const std::string alphabet = "0001239aAbBzZ_/. -\x7F\x80\xC3\xA9\xFF";
    std::uniform_int_distribution<size_t> len(0, maxLen);
    std::uniform_int_distribution<size_t> pick(0, alphabet.size() - 1);
    std::uniform_int_distribution<int> anyByte(0, 255);
    std::string s;
    size_t n = len(rng);
    for (size_t i = 0; i < n; ++i)
        s.push_back(rng() % 8 == 0 ? static_cast<char>(anyByte(rng)) : alphabet[pick(rng)]);
    return s;
}

TEST(NaturalOrderTest, FastComparisonMatchesTheStepByStepOrder) {
    std::mt19937_64 rng(12345);
    const std::vector<std::string> prefixes = {"", "/home/u/Pictures/2023/IMG_", "a1", "A0", "x/y/"};
    for (int n = 0; n < 200000; ++n) {
        std::string p = prefixes[rng() % prefixes.size()];
        std::string a = p + randomText(rng, 10), b = p + randomText(rng, 10);
        if (rng() % 4 == 0) {
            // Case twins and near twins.
            b = a;
            for (char& c : b)
                if (rng() % 3 == 0 && ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'))) c ^= 0x20;
            if (rng() % 2 == 0 && !b.empty()) b.insert(rng() % b.size(), "0");
        }
        ASSERT_EQ(naturalLess(a, b), referenceLess(a, b))
            << testing::PrintToString(a) << " vs " << testing::PrintToString(b);
        ASSERT_EQ(naturalLess(b, a), referenceLess(b, a));
    }
}

// Every string over a small alphabet up to length 4: the relation must be a
// strict total order consistent with byte equality. With trichotomy on every
// pair, counting the values below each string gives its rank; when the ranks
// are distinct and a < b exactly when rank(a) < rank(b), the relation is a
// strict total order (and so transitive) on the whole set.
TEST(NaturalOrderTest, IsAStrictTotalOrderOnAllShortStrings) {
    const std::string alphabet = "01aA-\xFF";
    std::vector<std::string> all{""};
    for (size_t begin = 0, len = 1; len <= 4; ++len) {
        size_t end = all.size();
        for (size_t i = begin; i < end; ++i)
            for (char c : alphabet)
                all.push_back(all[i] + c);
        begin = end;
    }
    const size_t n = all.size();
    std::vector<std::vector<bool>> lt(n, std::vector<bool>(n));
    for (size_t i = 0; i < n; ++i)
        for (size_t j = 0; j < n; ++j)
            lt[i][j] = naturalLess(all[i], all[j]);
    std::vector<size_t> rank(n, 0);
    for (size_t i = 0; i < n; ++i) {
        ASSERT_FALSE(lt[i][i]) << "irreflexive: " << testing::PrintToString(all[i]);
        for (size_t j = 0; j < n; ++j) {
            if (i != j) {
                ASSERT_NE(lt[i][j], lt[j][i])
                    << testing::PrintToString(all[i]) << " " << testing::PrintToString(all[j]);
            }
            if (lt[j][i]) ++rank[i];
        }
    }
    std::vector<bool> seen(n);
    for (size_t i = 0; i < n; ++i) {
        ASSERT_LT(rank[i], n);
        ASSERT_FALSE(seen[rank[i]]) << "two strings share a rank";
        seen[rank[i]] = true;
    }
    for (size_t i = 0; i < n; ++i)
        for (size_t j = 0; j < n; ++j)
            ASSERT_EQ(lt[i][j], rank[i] < rank[j]);
}

TEST(NaturalOrderTest, RandomTriplesAndSortedListsAreConsistent) {
    std::mt19937_64 rng(777);
    for (int n = 0; n < 100000; ++n) {
        std::string x = randomText(rng, 8), y = randomText(rng, 8), z = randomText(rng, 8);
        bool xy = less(x, y), yx = less(y, x), yz = less(y, z), xz = less(x, z);
        ASSERT_FALSE(less(x, x));
        ASSERT_EQ(!xy && !yx, x == y) << "incomparable exactly when equal";
        if (xy && yz) {
            ASSERT_TRUE(xz) << "transitive";
        }
    }
    std::vector<std::string> list;
    for (int n = 0; n < 20000; ++n)
        list.push_back("/home/u/" + randomText(rng, 12));
    std::sort(list.begin(), list.end(), less);
    for (size_t i = 1; i < list.size(); ++i) {
        ASSERT_FALSE(less(list[i], list[i - 1]));
        if (list[i] != list[i - 1]) {
            ASSERT_TRUE(less(list[i - 1], list[i]));
        }
    }
    // Sorting QuickStrings gives the same list.
    std::vector<QuickString> qs;
    for (const auto& s : list)
        qs.push_back(QuickString::bytes(s));
    std::shuffle(qs.begin(), qs.end(), rng);
    std::sort(qs.begin(), qs.end());
    for (size_t i = 0; i < list.size(); ++i)
        ASSERT_EQ(qs[i].utf8(), list[i]);
}

TEST(NaturalOrderTest, SortNaturalGivesTheSameListAsSortingByTheOrder) {
    std::mt19937_64 rng(4711);
    auto digits = [&](size_t n) {
        std::string s;
        for (size_t i = 0; i < n; ++i)
            s.push_back(static_cast<char>('0' + rng() % 10));
        return s;
    };
    for (int round = 0; round < 60; ++round) {
        // Lists that share a prefix ending inside a digit run, lists without
        // any shared prefix, runs long enough for the wide length field,
        // leading zeros, case twins and duplicates.
        std::string prefix = round % 3 == 0 ? "" : round % 3 == 1 ? "/home/u/IMG_12" : "/p/Photo";
        std::vector<QuickString> list;
        size_t n = 1 + rng() % 400;
        for (size_t i = 0; i < n; ++i) {
            std::string s = prefix;
            switch (rng() % 6) {
                case 0:
                    s += digits(rng() % 4);
                    break;
                case 1:
                    s += std::string(rng() % 3, '0') + digits(1 + rng() % 3);
                    break;
                case 2:
                    s += digits(240 + rng() % 30) + "x";
                    break;
                case 3:
                    s += (rng() % 2 ? "Img_" : "iMG_") + digits(rng() % 3);
                    break;
                default:
                    s += randomText(rng, 8);
                    break;
            }
            if (rng() % 4 == 0) s += randomText(rng, 4);
            list.push_back(QuickString::bytes(s));
            if (rng() % 10 == 0) list.push_back(list.back());
        }
        std::vector<QuickString> expected = list;
        std::sort(expected.begin(), expected.end());
        sortNatural(list);
        ASSERT_EQ(list.size(), expected.size());
        for (size_t i = 0; i < list.size(); ++i)
            ASSERT_EQ(list[i], expected[i]) << "round " << round << " at " << i << ": "
                                            << testing::PrintToString(std::string(list[i].utf8())) << " vs "
                                            << testing::PrintToString(std::string(expected[i].utf8()));
    }
}

}  // namespace
}  // namespace qm
