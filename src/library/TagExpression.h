#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace qm {

// A query over a file's tag names, as typed on the command line:
//
//   expression := term { "or" term }
//   term       := factor { "and" factor }
//   factor     := "not" factor | "(" expression ")" | name
//   name       := word | quoted
//
// "not" binds tighter than "and", which binds tighter than "or"; "and" and
// "or" group from the left. The keywords are lower case and stand alone
// (separated by blanks or parentheses). A word is a run of bytes other than
// blanks (space, tab, newline), "(", ")" and '"'. A quoted name is written
// between double quotes, where \" and \\ stand for " and \; it can hold any
// byte, including blanks, parentheses and the keywords. A name ending in "/"
// matches the tag without it and every tag below it ("Work/" matches Work,
// Work/2024 and Work/2024/Q1); any other name matches that exact tag.
class TagExpression {
public:
    struct Error {
        size_t position = 0;  // 1-based byte offset into the text
        std::string reason;
        // "malformed expression at position N: reason", as the command line
        // and the window both report it.
        std::string message() const;
    };
    // One tag test: the exact name, or (subtree) the name and all below it.
    struct Name {
        std::string tag;  // without the trailing "/"
        bool subtree = false;
        bool matches(std::string_view candidate) const;
    };

    // Parses `text`; on failure the error says where and why.
    static std::variant<TagExpression, Error> parse(std::string_view text);

    // True when a file with these tags satisfies the expression.
    template <typename Tags>
    bool matches(const Tags& tags) const {
        std::vector<bool> hits(names_.size(), false);
        for (size_t i = 0; i < names_.size(); ++i)
            for (const auto& tag : tags)
                if (names_[i].matches(tag)) {
                    hits[i] = true;
                    break;
                }
        return evaluate(hits);
    }
    // The expression's value when name i has the truth value hits[i].
    bool evaluate(const std::vector<bool>& hits) const;

    // The distinct names the expression tests, indexed as `evaluate` expects.
    const std::vector<Name>& names() const { return names_; }
    // The expression written back fully parenthesised (for messages and tests).
    std::string describe() const;

    // Whether it is more than one plain name: it has an operator, parentheses
    // or a name ending in "/". A lone name is what a tag search looks for.
    bool isCompound() const;
    // Whether a text that does not parse was meant as an expression: it has
    // a keyword of its own, a parenthesis or a double quote.
    static bool looksLikeExpression(std::string_view text);

private:
    // Postfix program: name references and operators, evaluated on a stack.
    enum class Op : uint8_t { name, notOp, andOp, orOp };
    struct Step {
        Op op;
        uint32_t name = 0;
    };
    friend class TagExpressionParser;

    std::vector<Name> names_;
    std::vector<Step> program_;
    bool grouped_ = false;  // parentheses were written
};

}  // namespace qm
