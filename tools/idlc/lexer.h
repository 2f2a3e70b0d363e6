// Splits IDL text into tokens. Comments, preprocessor lines (#include, #pragma, ...) and
// whitespace are skipped; every token carries its line and column for error messages.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "model.h"

namespace idlc {

enum class TokenKind { Identifier, Integer, Real, String, Punct, End };

struct Token {
    TokenKind kind = TokenKind::End;
    std::string text; // identifier, punctuation, or the string's contents (escapes resolved)
    std::uint64_t integer = 0;
    double real = 0;
    Location where;
    std::size_t offset = 0; // into the source
};

class Lexer {
public:
    Lexer(std::string fileName, std::string_view source);

    const Token& peek() { return current_; }
    Token next();

    // For attribute arguments that are not made of ordinary tokens, such as uuid(...) and
    // version(...): the current token must be '('; returns the text up to the matching ')'
    // on the same line, trimmed, and moves past the ')'.
    std::string rawParenthesized();

private:
    Token scan();
    void skipSpaceAndComments();
    char at(std::size_t offset = 0) const {
        return pos_ + offset < src_.size() ? src_[pos_ + offset] : '\0';
    }
    void advance(std::size_t count = 1);
    Location here() const { return {file_, line_, column_}; }

    std::string file_;
    std::string_view src_;
    std::size_t pos_ = 0;
    int line_ = 1, column_ = 1;
    bool atLineStart_ = true;
    Token current_;
};

} // namespace idlc
