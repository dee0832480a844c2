#include "library/TagExpression.h"

#include <utility>

namespace qm {

namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

struct Token {
    enum class Kind { open, close, word, andOp, orOp, notOp, end } kind = Kind::end;
    size_t position = 0;  // 1-based
    std::string text;     // the name, for words
};

std::string quoteForMessage(const Token& t) {
    switch (t.kind) {
        case Token::Kind::open: return "\"(\"";
        case Token::Kind::close: return "\")\"";
        case Token::Kind::andOp: return "\"and\"";
        case Token::Kind::orOp: return "\"or\"";
        case Token::Kind::notOp: return "\"not\"";
        case Token::Kind::end: return "the end";
        case Token::Kind::word: return "the name \"" + t.text + "\"";
    }
    return {};
}

}  // namespace

// Recursive descent over the token list, writing the postfix program.
class TagExpressionParser {
public:
    explicit TagExpressionParser(std::string_view text) : text_(text) {}

    std::variant<TagExpression, TagExpression::Error> run() {
        if (!tokenize()) return error_;
        if (!expression()) return error_;
        if (peek().kind != Token::Kind::end) {
            const Token& t = peek();
            fail(t.position, t.kind == Token::Kind::close
                                 ? "\")\" without a matching \"(\""
                                 : "expected \"and\", \"or\" or the end, found " + quoteForMessage(t));
            return error_;
        }
        return std::move(result_);
    }

private:
    bool tokenize() {
        size_t i = 0;
        while (true) {
            while (i < text_.size() && isBlank(text_[i]))
                ++i;
            Token t;
            t.position = i + 1;
            if (i == text_.size()) {
                tokens_.push_back(t);
                return true;
            }
            const char c = text_[i];
            if (c == '(' || c == ')') {
                t.kind = c == '(' ? Token::Kind::open : Token::Kind::close;
                ++i;
            } else if (c == '"') {
                ++i;
                bool closed = false;
                while (i < text_.size()) {
                    char d = text_[i++];
                    if (d == '"') {
                        closed = true;
                        break;
                    }
                    if (d == '\\' && i < text_.size() && (text_[i] == '"' || text_[i] == '\\')) d = text_[i++];
                    t.text += d;
                }
                if (!closed) return fail(t.position, "quoted name without its closing '\"'");
                t.kind = Token::Kind::word;
                if (!checkName(t)) return false;
            } else {
                while (i < text_.size() && !isBlank(text_[i]) && text_[i] != '(' && text_[i] != ')' &&
                       text_[i] != '"')
                    t.text += text_[i++];
                t.kind = t.text == "and"   ? Token::Kind::andOp
                         : t.text == "or"  ? Token::Kind::orOp
                         : t.text == "not" ? Token::Kind::notOp
                                           : Token::Kind::word;
                if (t.kind == Token::Kind::word && !checkName(t)) return false;
            }
            tokens_.push_back(std::move(t));
        }
    }

    bool checkName(const Token& t) {
        if (t.text.empty() || t.text == "/") return fail(t.position, "empty tag name");
        if (t.text.find(',') != std::string::npos)
            return fail(t.position, "a tag name cannot contain \",\"");
        return true;
    }

    const Token& peek() const { return tokens_[next_]; }
    const Token& take() { return tokens_[next_++]; }

    bool fail(size_t position, std::string reason) {
        error_ = {position, std::move(reason)};
        return false;
    }

    bool expression() {
        if (!term()) return false;
        while (peek().kind == Token::Kind::orOp) {
            take();
            if (!term()) return false;
            result_.program_.push_back({TagExpression::Op::orOp});
        }
        return true;
    }

    bool term() {
        if (!factor()) return false;
        while (peek().kind == Token::Kind::andOp) {
            take();
            if (!factor()) return false;
            result_.program_.push_back({TagExpression::Op::andOp});
        }
        return true;
    }

    bool factor() {
        // Recursion depth follows the nesting; a hostile argument must not exhaust the stack.
        if (++depth_ > maxDepth) return fail(peek().position, "nested too deeply");
        struct Leave {
            int& depth;
            ~Leave() { --depth; }
        } leave{depth_};
        const Token& t = take();
        switch (t.kind) {
            case Token::Kind::notOp:
                if (!factor()) return false;
                result_.program_.push_back({TagExpression::Op::notOp});
                return true;
            case Token::Kind::open: {
                result_.grouped_ = true;
                const size_t openedAt = t.position;
                if (!expression()) return false;
                const Token& c = take();
                if (c.kind == Token::Kind::close) return true;
                if (c.kind == Token::Kind::end)
                    return fail(c.position, "expected \")\" to close the \"(\" at position " +
                                                std::to_string(openedAt));
                return fail(c.position, "expected \"and\", \"or\" or \")\", found " + quoteForMessage(c));
            }
            case Token::Kind::word:
                result_.program_.push_back({TagExpression::Op::name, nameIndex(t.text)});
                return true;
            default:
                return fail(t.position, "expected a tag name, \"not\" or \"(\", found " + quoteForMessage(t));
        }
    }

    uint32_t nameIndex(const std::string& text) {
        TagExpression::Name name;
        name.subtree = text.size() > 1 && text.back() == '/';
        name.tag = name.subtree ? text.substr(0, text.size() - 1) : text;
        auto& names = result_.names_;
        for (size_t i = 0; i < names.size(); ++i)
            if (names[i].tag == name.tag && names[i].subtree == name.subtree) return static_cast<uint32_t>(i);
        names.push_back(std::move(name));
        return static_cast<uint32_t>(names.size() - 1);
    }

    std::string_view text_;
    std::vector<Token> tokens_;
    size_t next_ = 0;
    static constexpr int maxDepth = 500;
    int depth_ = 0;
    TagExpression result_;
    TagExpression::Error error_;
};

std::string TagExpression::Error::message() const {
    return "malformed expression at position " + std::to_string(position) + ": " + reason;
}

bool TagExpression::isCompound() const {
    if (grouped_) return true;
    for (const Step& s : program_)
        if (s.op != Op::name) return true;
    for (const Name& n : names_)
        if (n.subtree) return true;
    return false;
}

bool TagExpression::looksLikeExpression(std::string_view text) {
    size_t i = 0;
    while (i < text.size()) {
        const char c = text[i];
        if (c == '(' || c == ')' || c == '"') return true;
        if (isBlank(c)) {
            ++i;
            continue;
        }
        size_t end = i;
        while (end < text.size() && !isBlank(text[end]) && text[end] != '(' && text[end] != ')' && text[end] != '"')
            ++end;
        std::string_view word = text.substr(i, end - i);
        if (word == "and" || word == "or" || word == "not") return true;
        i = end;
    }
    return false;
}

bool TagExpression::Name::matches(std::string_view candidate) const {
    if (!subtree) return candidate == tag;
    return candidate.size() >= tag.size() && candidate.compare(0, tag.size(), tag) == 0 &&
           (candidate.size() == tag.size() || candidate[tag.size()] == '/');
}

std::variant<TagExpression, TagExpression::Error> TagExpression::parse(std::string_view text) {
    return TagExpressionParser(text).run();
}

bool TagExpression::evaluate(const std::vector<bool>& hits) const {
    // The program is well formed by construction, so the stack never underflows.
    bool stack[64];
    std::vector<bool> deep;  // only for expressions nested deeper than the fixed stack
    size_t top = 0;
    auto push = [&](bool v) {
        if (top < 64)
            stack[top] = v;
        else
            deep.push_back(v);
        ++top;
    };
    auto pop = [&]() -> bool {
        --top;
        if (top < 64) return stack[top];
        bool v = deep.back();
        deep.pop_back();
        return v;
    };
    for (const Step& s : program_) {
        switch (s.op) {
            case Op::name: push(hits[s.name]); break;
            case Op::notOp: push(!pop()); break;
            case Op::andOp: {
                bool b = pop(), a = pop();
                push(a && b);
                break;
            }
            case Op::orOp: {
                bool b = pop(), a = pop();
                push(a || b);
                break;
            }
        }
    }
    return top == 1 ? pop() : false;
}

std::string TagExpression::describe() const {
    std::vector<std::string> stack;
    for (const Step& s : program_) {
        switch (s.op) {
            case Op::name: stack.push_back(names_[s.name].tag + (names_[s.name].subtree ? "/" : "")); break;
            case Op::notOp: stack.back() = "(not " + stack.back() + ")"; break;
            case Op::andOp:
            case Op::orOp: {
                std::string b = std::move(stack.back());
                stack.pop_back();
                stack.back() = "(" + stack.back() + (s.op == Op::andOp ? " and " : " or ") + b + ")";
                break;
            }
        }
    }
    return stack.empty() ? std::string() : stack.back();
}

}  // namespace qm
