// The parser's state and grammar, shared by the files that implement it: parser.cpp (the
// declarations of a library) and constant_expression.cpp (the constant expressions of
// attributes and enumerations).
#pragma once

#include <cstdint>
#include <initializer_list>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "diagnostics.h"
#include "lexer.h"
#include "model.h"
#include "parser.h"

namespace idlc::grammar {

struct Attribute {
    std::string name;
    Location where;
    std::optional<Constant> value; // the argument, for attributes that take one
    std::string raw;               // uuid, version
};

// Attributes the parser knows. Those with an argument say how it is read.
enum class ArgKind { None, Constant, Raw, Any };
const std::map<std::string, ArgKind>& knownAttributes();

using Attributes = std::vector<Attribute>;

const Attribute* find(const Attributes& attrs, std::string_view name);

class Parser {
public:
    Parser(const std::string& file, std::string_view source) : lex_(file, source) {}

    Library run();

private:
    // Tokens.
    const Token& peek() { return lex_.peek(); }
    bool isPunct(std::string_view p) { return peek().kind == TokenKind::Punct && peek().text == p; }
    bool isWord(std::string_view w) {
        return peek().kind == TokenKind::Identifier && peek().text == w;
    }
    [[noreturn]] void throwSyntaxError(const std::string& message) {
        throw CompileError(peek().where, message);
    }
    [[noreturn]] void unexpected(const std::string& expected) {
        const Token& t = peek();
        std::string got = t.kind == TokenKind::End      ? "end of file"
                          : t.kind == TokenKind::String ? "string \"" + t.text + "\""
                                                        : "'" + t.text + "'";
        throwSyntaxError("expected " + expected + ", found " + got);
    }
    void expectPunct(std::string_view p) {
        if (!isPunct(p))
            unexpected("'" + std::string(p) + "'");
        lex_.next();
    }
    bool acceptPunct(std::string_view p) {
        if (!isPunct(p))
            return false;
        lex_.next();
        return true;
    }
    Token expectIdentifier(const std::string& what) {
        if (peek().kind != TokenKind::Identifier)
            unexpected(what);
        return lex_.next();
    }
    std::string expectString(const std::string& what) {
        if (peek().kind != TokenKind::String)
            unexpected(what);
        return lex_.next().text;
    }

    // Grammar.
    void topLevel(bool insideLibrary);
    Attributes attributes();
    void library(const Attributes& attrs, const Location& where);
    void interfaceDecl(const Attributes& attrs, const Location& where);
    Member member(const Attributes& attrs);
    Param param();
    Param::File fileArgument(const Attribute& custom);
    SnapshotUse snapshotAttribute(const Attribute& custom);
    TypeRef type();
    void coclass(const Attributes& attrs, const Location& where);
    void typedefDecl();
    void enumBody(Enum& e);
    Constant expression();
    Constant orExpr();
    Constant xorExpr();
    Constant andExpr();
    Constant shiftExpr();
    Constant addExpr();
    Constant mulExpr();
    Constant unary();
    Constant primary();
    std::int64_t integerOf(const Constant& c, const Location& where);

    // Attribute helpers.
    void checkAllowed(const Attributes& attrs, std::initializer_list<std::string_view> allowed,
                      const std::string& what);
    GUID requireUuid(const Attributes& attrs, const Location& where, const std::string& what);
    std::string helpString(const Attributes& attrs);
    std::uint32_t helpContext(const Attributes& attrs);

    void addConstant(const std::string& name, std::int64_t value, const Location& where);

    Lexer lex_;
    Library lib_;
    bool haveLibrary_ = false;
    std::map<std::string, std::int64_t> constants_{
        {"DISPID_UNKNOWN", -1}, {"DISPID_VALUE", 0},     {"DISPID_PROPERTYPUT", -3},
        {"DISPID_NEWENUM", -4}, {"DISPID_EVALUATE", -5}, {"TRUE", 1},
        {"FALSE", 0},           {"VARIANT_TRUE", -1},    {"VARIANT_FALSE", 0}};
    std::set<std::string> libraryConstants_;
    std::map<std::string, Location> interfaceForwards_;
    int nesting_ = 0; // parentheses and unary operators open in the current expression

    // One level deeper in an expression; a file that nests too deeply is refused rather than
    // allowed to exhaust the stack.
    class Nested {
    public:
        Nested(Parser& parser, const Location& at) : parser_(parser) {
            if (++parser_.nesting_ > kMaxExpressionNesting)
                throw CompileError(at, "expression nested more than " +
                                           std::to_string(kMaxExpressionNesting) + " levels deep");
        }
        ~Nested() { --parser_.nesting_; }
        Nested(const Nested&) = delete;
        Nested& operator=(const Nested&) = delete;

    private:
        Parser& parser_;
    };
};

} // namespace idlc::grammar
