#include "desktop/SettingsUserDefaults.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "library/SettingsSchema.h"
#include "support/TempDir.h"

namespace qm {
namespace {

namespace fs = std::filesystem;

TEST(SettingsUserDefaultsTest, NativeStoreLivesUnderXdgConfigHome) {
    SettingsUserDefaults defaults;
    fs::path expected = fs::path(getenv("XDG_CONFIG_HOME")) / "quillomere" / "quillomere.conf";
    EXPECT_EQ(expected.string(), defaults.fileName());
    defaults.setValue("hasBeenLaunched", true);
    EXPECT_TRUE(fs::exists(expected));  // written when set, not at quit
    EXPECT_EQ(SettingsUserDefaults().value("hasBeenLaunched"), DefaultsValue(true));
}

TEST(SettingsUserDefaultsTest, ValuesKeepTheirTypesAcrossInstances) {
    test::TempDir dir;
    std::string file = (dir / "d.conf").string();
    DefaultsValue pins = DefaultsValue::array({"Holidays", "★", "a/b", "with, comma", "x=y;z", "\"quoted\""});
    std::string rawBytes = "caf\xe9";
    {
        SettingsUserDefaults d(file);
        EXPECT_FALSE(d.value("pins"));
        d.setValue("pins", pins);
        d.setValue("theme", 2);
        d.setValue("hasBeenLaunched", true);
        d.setValue("text", "true");  // text that looks like a Boolean stays text
        d.setValue("raw", DefaultsValue::array({rawBytes}));
        d.setValue("map", DefaultsValue{{"k", 1.5}, {"n", nullptr}});
        d.setValue("gone", 1);
        d.removeValue("gone");
        d.removeValue("never-set");
    }
    SettingsUserDefaults d(file);
    EXPECT_EQ(pins, d.value("pins"));
    EXPECT_EQ(DefaultsValue(2), d.value("theme"));
    EXPECT_EQ(d.value("hasBeenLaunched"), DefaultsValue(true));
    EXPECT_EQ(DefaultsValue("true"), d.value("text"));
    EXPECT_EQ(DefaultsValue::array({rawBytes}), d.value("raw"));
    EXPECT_EQ((DefaultsValue{{"k", 1.5}, {"n", nullptr}}), d.value("map"));
    EXPECT_FALSE(d.value("gone"));
}

TEST(SettingsUserDefaultsTest, HandWrittenAndDamagedFilesReadWithoutHarm) {
    test::TempDir dir;
    fs::path file = dir / "d.conf";
    std::ofstream(file) << "[General]\ntheme=not json {\npins=a, b\nhasBeenLaunched=true\n\x01\xff garbage\n";
    SettingsUserDefaults d(file.string());
    EXPECT_EQ(DefaultsValue("not json {"), d.value("theme"));
    auto pins = d.value("pins");
    ASSERT_TRUE(pins);
    EXPECT_EQ(DefaultsValue::array({"a", "b"}), *pins);
    EXPECT_EQ(d.value("hasBeenLaunched"), DefaultsValue(true));
}

TEST(SettingsUserDefaultsTest, TheSchemaKeepsTheKeysAndFormatsOfExistingFiles) {
    test::TempDir dir;
    // Unset, every setting reads as its default; reading writes nothing.
    {
        SettingsUserDefaults d((dir / "fresh.conf").string());
        EXPECT_FALSE(d.get(settings::hasBeenLaunched));
        EXPECT_TRUE(d.get(settings::pins).empty());
        EXPECT_EQ(d.get(settings::theme), "auto");
        EXPECT_TRUE(d.get(settings::mapTilesEnabled));
        EXPECT_EQ(d.get(settings::mapTileURLTemplate), "https://tile.openstreetmap.org/{z}/{x}/{y}.png");
    }
    EXPECT_FALSE(fs::exists(dir / "fresh.conf"));

    // Written through the schema, the file holds what settings files have
    // always held: each value as JSON text under its key.
    const fs::path file = dir / "q.conf";
    {
        SettingsUserDefaults d(file.string());
        d.set(settings::hasBeenLaunched, true);
        d.set(settings::pins, {"Tags/A", "Tags/b c"});
        d.set(settings::theme, "dark");
        d.set(settings::mapTilesEnabled, false);
        d.set(settings::mapTileURLTemplate, "https://tiles.example.org/{z}/{x}/{y}.png");
    }
    EXPECT_EQ(test::readFile(file), R"([General]
hasBeenLaunched=true
mapTileURLTemplate=\"https://tiles.example.org/{z}/{x}/{y}.png\"
mapTilesEnabled=false
pins="[\"Tags/A\",\"Tags/b c\"]"
theme=\"dark\"
)");
    {
        SettingsUserDefaults d(file.string());
        EXPECT_TRUE(d.get(settings::hasBeenLaunched));
        EXPECT_EQ(d.get(settings::pins), (std::vector<std::string>{"Tags/A", "Tags/b c"}));
        EXPECT_EQ(d.get(settings::theme), "dark");
        EXPECT_FALSE(d.get(settings::mapTilesEnabled));
        EXPECT_EQ(d.get(settings::mapTileURLTemplate), "https://tiles.example.org/{z}/{x}/{y}.png");
    }

    // Values of another type, left by hand or by another program, read as
    // the defaults; text elements of a list are kept, the others skipped.
    std::ofstream(file) << R"([General]
hasBeenLaunched=1
mapTilesEnabled=\"no\"
mapTileURLTemplate=\"\"
theme=2
pins="[3, \"Tags/A\", null]"
)";
    SettingsUserDefaults d(file.string());
    EXPECT_FALSE(d.get(settings::hasBeenLaunched));
    EXPECT_TRUE(d.get(settings::mapTilesEnabled));
    EXPECT_EQ(d.get(settings::mapTileURLTemplate), settings::mapTileURLTemplate.fallback);
    EXPECT_EQ(d.get(settings::theme), "auto");
    EXPECT_EQ(d.get(settings::pins), std::vector<std::string>{"Tags/A"});
}

TEST(SettingsUserDefaultsTest, UsableFromSeveralThreads) {
    test::TempDir dir;
    SettingsUserDefaults d((dir / "d.conf").string());
    std::thread writer([&] {
        for (int i = 0; i < 200; ++i)
            d.setValue("pins", DefaultsValue::array({std::to_string(i)}));
    });
    for (int i = 0; i < 200; ++i) {
        auto v = d.value("pins");
        if (v) {
            EXPECT_TRUE(v->is_array());
        }
    }
    writer.join();
    EXPECT_EQ(DefaultsValue::array({"199"}), d.value("pins"));
}

}  // namespace
}  // namespace qm

namespace qm {
namespace {

TEST(SettingsUserDefaultsTest, TheTileCacheSizeIsAWholeNumberInItsRange) {
    test::TempDir dir;
    const fs::path file = dir / "n.conf";
    auto read = [&](const std::string& line) {
        std::ofstream(file) << "[General]\n" << line << "\n";
        return SettingsUserDefaults(file.string()).get(settings::mapTileCacheMegabytes);
    };
    EXPECT_EQ(read(""), 256);
    EXPECT_EQ(read("mapTileCacheMegabytes=512"), 512);
    EXPECT_EQ(read("mapTileCacheMegabytes=1024.0"), 1024);
    // Too small, too large, fractional, negative or not a number: the default.
    for (const char* bad : {"8", "1e30", "99999999999999999999", "300.5", "-512", "\\\"512\\\"", "[512]", "nan"})
        EXPECT_EQ(read(std::string("mapTileCacheMegabytes=") + bad), 256) << bad;
    {
        SettingsUserDefaults d(file.string());
        d.set(settings::mapTileCacheMegabytes, 64);
    }
    EXPECT_EQ(SettingsUserDefaults(file.string()).get(settings::mapTileCacheMegabytes), 64);
}

}  // namespace
}  // namespace qm
