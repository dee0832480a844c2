// Typed tag names: the whole-path form of the grid's "Add Tag…" prompt and
// the single-level checks the sidebar's editors share with it.
#include <gtest/gtest.h>

#include "commands/TagNameInput.h"

namespace qm {
namespace {

using Path = TagNameInput::Path;

TEST(TagNameInput, PathsAreTrimmedPerLevelWithEmptyLevelsDropped) {
    EXPECT_EQ(TagNameInput::parsePath("Work/2024"), (Path{"Work/2024", ""}));
    EXPECT_EQ(TagNameInput::parsePath("  Work / 2024 \n"), (Path{"Work/2024", ""}));
    EXPECT_EQ(TagNameInput::parsePath("/Work//2024/"), (Path{"Work/2024", ""}));
    EXPECT_EQ(TagNameInput::parsePath("a / \t / b"), (Path{"a/b", ""}));
    // Spaces inside a level are part of the name.
    EXPECT_EQ(TagNameInput::parsePath(" Summer  trip / Day 1"), (Path{"Summer  trip/Day 1", ""}));
    // Names outside ASCII pass unchanged, the star and colour labels too.
    EXPECT_EQ(TagNameInput::parsePath(" Café/Noël "), (Path{"Café/Noël", ""}));
    EXPECT_EQ(TagNameInput::parsePath("★"), (Path{"★", ""}));
    EXPECT_EQ(TagNameInput::parsePath("Red"), (Path{"Red", ""}));

    // Nothing typed, or nothing but separators and blanks: no tag, no refusal.
    for (const char* empty : {"", "   ", "/", " / / ", "\t\n"})
        EXPECT_EQ(TagNameInput::parsePath(empty), (Path{"", ""})) << empty;
}

TEST(TagNameInput, ACommaInAnyLevelIsRefusedWithTheSidebarsWords) {
    const std::string comma = "The tag name cannot contain a \",\" character";
    for (const char* text : {"a,b", "Work/20,24", ",", " x , y / z", "a/b/c,"})
        EXPECT_EQ(TagNameInput::parsePath(text), (Path{"", comma})) << text;
    // A comma only in a level that is otherwise empty still refuses.
    EXPECT_EQ(TagNameInput::parsePath("a/ , /b").refusal, comma);

    EXPECT_EQ(TagNameInput::refusalForLevel("a,b"), comma);
    EXPECT_EQ(TagNameInput::refusalForLevel("a/b"), "The tag name cannot contain a \"/\" character");
    EXPECT_EQ(TagNameInput::refusalForLevel("plain name"), "");
    EXPECT_EQ(TagNameInput::trimmed(" \t a b \r\n"), "a b");
}

TEST(TagNameInput, ControlCharactersAreRefusedAndTheExactFormRefusesEmptyLevels) {
    const std::string control = TagNameInput::controlMessage;
    // Blanks at the ends of a level are trimmed; inside, a control character refuses.
    for (const char* text : {"a\tb", "Work/line\nbreak", "bell\a", "del\x7f", "c1 \xc2\x85 next line"}) {
        EXPECT_EQ(TagNameInput::parsePath(text), (Path{"", control})) << text;
        EXPECT_EQ(TagNameInput::parseExactPath(text), (Path{"", control})) << text;
    }
    EXPECT_EQ(TagNameInput::refusalForLevel("a\tb"), control);
    EXPECT_EQ(TagNameInput::parsePath("\tWork\n/ 2024\r\n"), (Path{"Work/2024", ""}));
    // U+00A0 and letters built on 0xC2 are no controls.
    EXPECT_EQ(TagNameInput::parsePath("a\xc2\xa0" "b"), (Path{"a\xc2\xa0" "b", ""}));

    const std::string emptyLevel = TagNameInput::emptyLevelMessage;
    for (const char* text : {"Work/", "/Work", "a//b", "a/ /b", " / Work"})
        EXPECT_EQ(TagNameInput::parseExactPath(text), (Path{"", emptyLevel})) << text;
    EXPECT_EQ(TagNameInput::parseExactPath(" Work / 2024 "), (Path{"Work/2024", ""}));
    EXPECT_EQ(TagNameInput::parseExactPath("a,b/"), (Path{"", TagNameInput::commaMessage}));
    for (const char* empty : {"", "  ", "/"})
        EXPECT_EQ(TagNameInput::parseExactPath(empty), (Path{"", ""})) << empty;
}

}  // namespace
}  // namespace qm
