#include "lexer.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>

#include "diagnostics.h"

namespace idlc {

namespace {

bool isIdentStart(char c) {
    return std::isalpha(static_cast<unsigned char>(c)) || c == '_';
}
bool isIdentChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
}

} // namespace

Lexer::Lexer(std::string fileName, std::string_view source)
    : file_(std::move(fileName)), src_(source) {
    current_ = scan();
}

Token Lexer::next() {
    Token token = std::move(current_);
    current_ = scan();
    return token;
}

void Lexer::advance(std::size_t count) {
    for (std::size_t i = 0; i < count && pos_ < src_.size(); ++i) {
        char c = src_[pos_++];
        if (c == '\n') {
            ++line_;
            column_ = 1;
            atLineStart_ = true;
        } else {
            ++column_;
            if (c != ' ' && c != '\t' && c != '\r')
                atLineStart_ = false;
        }
    }
}

void Lexer::skipSpaceAndComments() {
    for (;;) {
        char c = at();
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v') {
            advance();
        } else if (c == '/' && at(1) == '/') {
            while (at() != '\n' && at() != '\0')
                advance();
        } else if (c == '/' && at(1) == '*') {
            Location start = here();
            advance(2);
            while (!(at() == '*' && at(1) == '/')) {
                if (at() == '\0')
                    throw CompileError(start, "unterminated comment");
                advance();
            }
            advance(2);
        } else if (c == '#' && atLineStart_) {
            // Preprocessor line (#include, #pragma, #define): not ours to interpret. A
            // backslash at the end continues it.
            while (at() != '\0') {
                if (at() == '\\' && at(1) == '\n') {
                    advance(2);
                    continue;
                }
                if (at() == '\n')
                    break;
                advance();
            }
        } else {
            return;
        }
    }
}

Token Lexer::scan() {
    skipSpaceAndComments();
    Token token;
    token.where = here();
    token.offset = pos_;
    char c = at();
    if (c == '\0') {
        token.kind = TokenKind::End;
        return token;
    }
    if (isIdentStart(c)) {
        std::size_t start = pos_;
        while (isIdentChar(at()))
            advance();
        token.kind = TokenKind::Identifier;
        token.text = std::string(src_.substr(start, pos_ - start));
        return token;
    }
    if (std::isdigit(static_cast<unsigned char>(c))) {
        std::size_t start = pos_;
        bool real = false;
        if (c == '0' && (at(1) == 'x' || at(1) == 'X')) {
            advance(2);
            if (!std::isxdigit(static_cast<unsigned char>(at())))
                throw CompileError(token.where, "malformed hexadecimal number");
            while (std::isxdigit(static_cast<unsigned char>(at())))
                advance();
        } else {
            while (std::isdigit(static_cast<unsigned char>(at())))
                advance();
            if (at() == '.' && std::isdigit(static_cast<unsigned char>(at(1)))) {
                real = true;
                advance();
                while (std::isdigit(static_cast<unsigned char>(at())))
                    advance();
            }
            if ((at() == 'e' || at() == 'E') &&
                (std::isdigit(static_cast<unsigned char>(at(1))) ||
                 ((at(1) == '+' || at(1) == '-') &&
                  std::isdigit(static_cast<unsigned char>(at(2)))))) {
                real = true;
                advance(2);
                while (std::isdigit(static_cast<unsigned char>(at())))
                    advance();
            }
        }
        std::string digits(src_.substr(start, pos_ - start));
        // Integer suffixes (L, U, UL) as C allows them.
        while (!real && (at() == 'L' || at() == 'l' || at() == 'U' || at() == 'u'))
            advance();
        if (isIdentChar(at()))
            throw CompileError(token.where, "malformed number '" + digits + at() + "'");
        token.text = digits;
        if (real) {
            token.kind = TokenKind::Real;
            token.real = std::strtod(digits.c_str(), nullptr);
        } else {
            token.kind = TokenKind::Integer;
            errno = 0;
            token.integer = std::strtoull(digits.c_str(), nullptr, 0);
            if (errno == ERANGE)
                throw CompileError(token.where, "number '" + digits + "' is too large");
        }
        return token;
    }
    if (c == '"') {
        advance();
        token.kind = TokenKind::String;
        for (;;) {
            char d = at();
            if (d == '\0' || d == '\n')
                throw CompileError(token.where, "unterminated string");
            if (d == '"') {
                advance();
                break;
            }
            if (d == '\\') {
                char e = at(1);
                advance(2);
                switch (e) {
                case 'n':
                    token.text += '\n';
                    break;
                case 't':
                    token.text += '\t';
                    break;
                case 'r':
                    token.text += '\r';
                    break;
                case '0':
                    token.text += '\0';
                    break;
                case '\\':
                    token.text += '\\';
                    break;
                case '"':
                    token.text += '"';
                    break;
                case '\'':
                    token.text += '\'';
                    break;
                default:
                    throw CompileError(token.where,
                                       std::string("unknown escape '\\") + e + "' in string");
                }
                continue;
            }
            token.text += d;
            advance();
        }
        return token;
    }
    if ((c == '<' && at(1) == '<') || (c == '>' && at(1) == '>')) {
        token.kind = TokenKind::Punct;
        token.text = std::string(2, c);
        advance(2);
        return token;
    }
    static constexpr std::string_view punct = "[](){};,:*=-+|&^~<>.";
    if (punct.find(c) != std::string_view::npos) {
        token.kind = TokenKind::Punct;
        token.text = std::string(1, c);
        advance();
        return token;
    }
    throw CompileError(token.where, std::string("unexpected character '") + c + "'");
}

std::string Lexer::rawParenthesized() {
    // current_ is the '(' (already scanned, nothing after it yet): read on from just past it.
    if (current_.kind != TokenKind::Punct || current_.text != "(")
        throw CompileError(current_.where, "expected '('");
    Location start = current_.where;
    pos_ = current_.offset;
    line_ = start.line;
    column_ = start.column;
    advance();
    std::string raw;
    while (at() != ')') {
        if (at() == '\0' || at() == '\n')
            throw CompileError(start, "missing ')'");
        raw += at();
        advance();
    }
    advance();
    current_ = scan();
    std::size_t b = raw.find_first_not_of(" \t");
    std::size_t e = raw.find_last_not_of(" \t");
    return b == std::string::npos ? std::string() : raw.substr(b, e - b + 1);
}

} // namespace idlc
