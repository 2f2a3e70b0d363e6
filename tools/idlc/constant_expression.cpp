// Constant expressions, as attributes and enumeration values write them: integers, reals and
// strings, the C operators on integers, and the names of constants defined before.
#include "parser_state.h"

namespace idlc::grammar {

std::int64_t Parser::integerOf(const Constant& c, const Location& where) {
    if (c.kind != Constant::Kind::Integer)
        throw CompileError(where, "an integer is needed here");
    return c.integer;
}

Constant Parser::expression() {
    return orExpr();
}

namespace {
Constant integer(std::int64_t v) {
    Constant c;
    c.integer = v;
    return c;
}
} // namespace

Constant Parser::orExpr() {
    Constant left = xorExpr();
    while (isPunct("|")) {
        Location at = lex_.next().where;
        Constant right = xorExpr();
        left = integer(integerOf(left, at) | integerOf(right, at));
    }
    return left;
}

Constant Parser::xorExpr() {
    Constant left = andExpr();
    while (isPunct("^")) {
        Location at = lex_.next().where;
        Constant right = andExpr();
        left = integer(integerOf(left, at) ^ integerOf(right, at));
    }
    return left;
}

Constant Parser::andExpr() {
    Constant left = shiftExpr();
    while (isPunct("&")) {
        Location at = lex_.next().where;
        Constant right = shiftExpr();
        left = integer(integerOf(left, at) & integerOf(right, at));
    }
    return left;
}

Constant Parser::shiftExpr() {
    Constant left = addExpr();
    while (isPunct("<<") || isPunct(">>")) {
        Token op = lex_.next();
        Constant right = addExpr();
        std::int64_t r = integerOf(right, op.where);
        if (r < 0 || r > 62)
            throw CompileError(op.where, "shift count out of range");
        std::int64_t l = integerOf(left, op.where);
        left =
            integer(op.text == "<<" ? static_cast<std::int64_t>(static_cast<std::uint64_t>(l) << r)
                                    : l >> r);
    }
    return left;
}

Constant Parser::addExpr() {
    Constant left = mulExpr();
    while (isPunct("+") || isPunct("-")) {
        Token op = lex_.next();
        Constant right = mulExpr();
        const auto l = static_cast<std::uint64_t>(integerOf(left, op.where));
        const auto r = static_cast<std::uint64_t>(integerOf(right, op.where));
        left = integer(static_cast<std::int64_t>(op.text == "+" ? l + r : l - r));
    }
    return left;
}

Constant Parser::mulExpr() {
    Constant left = unary();
    while (isPunct("*")) {
        Location at = lex_.next().where;
        Constant right = unary();
        left = integer(static_cast<std::int64_t>(static_cast<std::uint64_t>(integerOf(left, at)) *
                                                 static_cast<std::uint64_t>(integerOf(right, at))));
    }
    return left;
}

Constant Parser::unary() {
    if (isPunct("-")) {
        Location at = lex_.next().where;
        Nested nested(*this, at);
        Constant v = unary();
        if (v.kind == Constant::Kind::Real) {
            v.real = -v.real;
            return v;
        }
        // Wraps around, as in two's complement.
        return integer(static_cast<std::int64_t>(0 - static_cast<std::uint64_t>(integerOf(v, at))));
    }
    if (isPunct("+")) {
        Nested nested(*this, lex_.next().where);
        return unary();
    }
    if (isPunct("~")) {
        Location at = lex_.next().where;
        Nested nested(*this, at);
        Constant v = unary();
        return integer(~integerOf(v, at));
    }
    return primary();
}

Constant Parser::primary() {
    const Token& t = peek();
    Constant c;
    switch (t.kind) {
    case TokenKind::Integer:
        if (t.integer > static_cast<std::uint64_t>(INT64_MAX))
            throwSyntaxError("number too large");
        c.integer = static_cast<std::int64_t>(t.integer);
        lex_.next();
        return c;
    case TokenKind::Real:
        c.kind = Constant::Kind::Real;
        c.real = t.real;
        lex_.next();
        return c;
    case TokenKind::String:
        c.kind = Constant::Kind::String;
        c.text = t.text;
        lex_.next();
        return c;
    case TokenKind::Identifier: {
        auto it = constants_.find(t.text);
        if (it == constants_.end())
            throwSyntaxError("unknown constant '" + t.text + "'");
        c.integer = it->second;
        lex_.next();
        return c;
    }
    case TokenKind::Punct:
        if (t.text == "(") {
            Nested nested(*this, lex_.next().where);
            c = expression();
            expectPunct(")");
            return c;
        }
        break;
    case TokenKind::End:
        break;
    }
    unexpected("a constant");
}

} // namespace idlc::grammar
