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

}  // namespace
}  // namespace qm
