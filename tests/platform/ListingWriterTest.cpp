#include "platform/ListingWriter.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <random>
#include <string>
#include <vector>

using namespace qm;

namespace {

std::string written(ListingWriter::Mode mode, const std::function<void(ListingWriter&)>& fill) {
    std::string out;
    {
        ListingWriter w(mode, [&](std::string_view s) { out.append(s); });
        fill(w);
    }
    return out;
}

std::string fromHex(const std::string& hex) {
    std::string bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes += char(std::stoi(hex.substr(i, 2), nullptr, 16));
    return bytes;
}

}  // namespace

// Every byte sequence survives: JSON that a strict parser accepts, with the
// exact bytes in pathHex wherever the text had to be replaced.
TEST(ListingWriter, JsonIsValidAndKeepsEveryPathExactly) {
    std::mt19937 rng(3);
    std::vector<std::string> paths = {"/plain", "/new\nline", "/tab\there", "/quote\"back\\slash", "/ctl\x01\x1f",
                                      "/bad\xff", "/cut\xc3", "/surrogate\xed\xa0\x80", "/Ünï ★ 日本", ""};
    for (int i = 0; i < 300; ++i) {
        std::string p = "/";
        for (int k = 0; k < 12; ++k)
            p += char(rng() % 256);
        paths.push_back(p);
    }
    const std::string out = written(ListingWriter::Mode::json, [&](ListingWriter& w) {
        for (const auto& p : paths)
            w.pathWithTags(p, {"Tag", "ta\"g\n"});
    });
    const nlohmann::json j = nlohmann::json::parse(out);  // throws on invalid UTF-8 or syntax
    ASSERT_EQ(j.size(), paths.size());
    for (size_t i = 0; i < paths.size(); ++i) {
        const std::string exact =
            j[i].contains("pathHex") ? fromHex(j[i]["pathHex"].get<std::string>()) : j[i]["path"].get<std::string>();
        EXPECT_EQ(exact, paths[i]) << i;
        EXPECT_EQ(j[i]["tags"][1], "ta\"g\n");
    }
    EXPECT_EQ(written(ListingWriter::Mode::json, [](ListingWriter&) {}), "[]\n");
}

TEST(ListingWriter, TextEscapesAndNulKeepsRawBytes) {
    auto fill = [](ListingWriter& w) {
        w.path("/a\nb\xff");
        w.tagCount("Work\t1", 3);
        w.located("/p", 1066.16, -16.5, 179.99);
    };
    EXPECT_EQ(written(ListingWriter::Mode::text, fill),
              "/a\\nb\\xff\nWork\\t1\t3\n/p\t1066.2\t-16.5000000\t179.9900000\n");
    EXPECT_EQ(written(ListingWriter::Mode::nul, fill), std::string("/a\nb\xff\0Work\t1\0/p\0", 16));
    // Large outputs reach the sink in pieces, in order, and completely.
    std::string out;
    size_t pieces = 0;
    {
        ListingWriter w(ListingWriter::Mode::nul, [&](std::string_view s) {
            out.append(s);
            ++pieces;
        });
        for (int i = 0; i < 20000; ++i)
            w.path("/file " + std::to_string(i));
    }
    EXPECT_GT(pieces, 1u);
    EXPECT_EQ(out.substr(0, 9), std::string("/file 0\0/", 9));
    EXPECT_EQ(std::count(out.begin(), out.end(), '\0'), 20000);
}
