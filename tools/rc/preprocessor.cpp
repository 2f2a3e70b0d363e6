#include "preprocessor.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <iterator>

#include "sky/bounded_read.h"
#include "sky/hex.h"
#include "sky/text.h"
#include "symbols.h"

namespace fs = std::filesystem;

namespace sky::rc {

namespace {

constexpr int kMaxIncludeDepth = 32;
// A macro whose replacement names a macro, and so on: as deep as a script may go.
constexpr std::size_t kMaxMacroNesting = 256;

bool isIdentStart(char c) {
    return std::isalpha(static_cast<unsigned char>(c)) || c == '_';
}

bool isIdentChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
}

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\f' || c == '\v' || c == '\r';
}

// The word of identifier characters after any spaces at text[pos]; moves pos past it.
std::string readWord(const std::string& text, std::size_t& pos) {
    while (pos < text.size() && isSpace(text[pos]))
        ++pos;
    const std::size_t start = pos;
    while (pos < text.size() && isIdentChar(text[pos]))
        ++pos;
    return text.substr(start, pos - start);
}

bool isHeaderFile(const fs::path& file) {
    std::string ext = file.extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return ext == ".h" || ext == ".hh" || ext == ".hpp" || ext == ".hxx" || ext == ".c" ||
           ext == ".cc" || ext == ".cpp" || ext == ".cxx";
}

// The file as UTF-8, whatever byte-order mark it starts with.
std::string readSource(const fs::path& file, const Location& from) {
    std::ifstream in(file, std::ios::binary);
    if (!in)
        throw SourceError(from, "cannot read " + file.string());
    auto read = readAtMost(in, kMaxSourceFileBytes);
    if (!read)
        throw SourceError(from, file.string() + " is larger than " +
                                    sizeInWords(kMaxSourceFileBytes) +
                                    "; it is no resource script");
    std::string bytes = std::move(*read);
    const auto starts = [&bytes](std::string_view mark) { return bytes.starts_with(mark); };
    if (starts("\xEF\xBB\xBF"))
        return bytes.substr(3);
    if (starts("\xFF\xFE") || starts("\xFE\xFF")) {
        const bool little = bytes[0] == '\xFF';
        std::u16string wide;
        for (std::size_t i = 2; i + 1 < bytes.size(); i += 2) {
            const auto lo = static_cast<unsigned char>(bytes[little ? i : i + 1]);
            const auto hi = static_cast<unsigned char>(bytes[little ? i + 1 : i]);
            wide.push_back(static_cast<char16_t>(lo | (hi << 8)));
        }
        return narrow(wide);
    }
    return bytes;
}

// The text with every comment replaced by spaces; line breaks stay, so line numbers do too.
std::string stripComments(const std::string& text, const std::string& file) {
    enum class State { Code, String, LineComment, BlockComment } state = State::Code;
    std::string out;
    out.reserve(text.size());
    int line = 1, commentLine = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        const char next = i + 1 < text.size() ? text[i + 1] : '\0';
        if (c == '\n')
            ++line;
        switch (state) {
        case State::Code:
            if (c == '/' && next == '/') {
                state = State::LineComment;
                out += ' ';
                ++i;
            } else if (c == '/' && next == '*') {
                state = State::BlockComment;
                commentLine = line;
                out += ' ';
                ++i;
            } else {
                if (c == '"')
                    state = State::String;
                out += c;
            }
            break;
        case State::String:
            out += c;
            if (c == '\\' && next != '\n' && next != '\0') {
                out += next;
                ++i;
            } else if (c == '"' || c == '\n') {
                state = State::Code;
            }
            break;
        case State::LineComment:
            if (c == '\n') {
                out += c;
                state = State::Code;
            }
            break;
        case State::BlockComment:
            if (c == '*' && next == '/') {
                state = State::Code;
                ++i;
            } else if (c == '\n') {
                out += c;
            }
            break;
        }
    }
    if (state == State::BlockComment)
        throw SourceError({file, commentLine}, "comment not closed");
    return out;
}

// The logical lines of a text: physical lines with "\" line continuations joined, each with the
// number of its first physical line.
std::vector<std::pair<int, std::string>> logicalLines(const std::string& text) {
    std::vector<std::pair<int, std::string>> lines;
    std::string current;
    int number = 1, start = 1;
    bool continuing = false;
    std::size_t pos = 0;
    while (pos <= text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string::npos)
            end = text.size();
        std::string piece = text.substr(pos, end - pos);
        if (!piece.empty() && piece.back() == '\r')
            piece.pop_back();
        if (!continuing)
            start = number;
        continuing = !piece.empty() && piece.back() == '\\';
        if (continuing)
            piece.pop_back();
        current += piece;
        if (!continuing) {
            lines.emplace_back(start, std::move(current));
            current.clear();
        }
        ++number;
        pos = end + 1;
    }
    if (continuing)
        lines.emplace_back(start, std::move(current));
    return lines;
}

unsigned long parseNumber(const std::string& text, const Location& where) {
    std::string digits = text;
    while (!digits.empty() && std::string_view("uUlL").find(digits.back()) != std::string::npos)
        digits.pop_back();
    int base = 10;
    std::size_t at = 0;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
        base = 16;
        at = 2;
    } else if (digits.size() > 1 && digits[0] == '0') {
        base = 8;
        at = 1;
    }
    unsigned long value = 0;
    for (; at < digits.size(); ++at) {
        const char c = digits[at];
        const int d = sky::digitValue(static_cast<unsigned char>(c), base);
        if (d < 0)
            throw SourceError(where, "bad number " + text);
        if (value >
            (0xFFFFFFFFul - static_cast<unsigned long>(d)) / static_cast<unsigned long>(base))
            throw SourceError(where, "number too large: " + text);
        value = value * static_cast<unsigned long>(base) + static_cast<unsigned long>(d);
    }
    return value;
}

// Reads the string literal whose opening quote is at line[pos]; returns its value and moves pos
// past the closing quote. A doubled quote stands for one quote.
std::u16string parseString(const std::string& line, std::size_t& pos, const Location& where) {
    std::u16string value;
    std::string run; // plain text waiting to be converted
    const auto flush = [&] {
        value += widen(run);
        run.clear();
    };
    ++pos;
    while (true) {
        if (pos >= line.size())
            throw SourceError(where, "string not closed");
        const char c = line[pos];
        if (c == '"') {
            if (pos + 1 < line.size() && line[pos + 1] == '"') {
                run += '"';
                pos += 2;
                continue;
            }
            ++pos;
            flush();
            return value;
        }
        if (c != '\\') {
            run += c;
            ++pos;
            continue;
        }
        flush();
        if (++pos >= line.size())
            throw SourceError(where, "string not closed");
        const char e = line[pos++];
        switch (e) {
        case 'n':
            value += u'\n';
            break;
        case 't':
            value += u'\t';
            break;
        case 'r':
            value += u'\r';
            break;
        case 'a':
            value += u'\a';
            break;
        case 'b':
            value += u'\b';
            break;
        case 'f':
            value += u'\f';
            break;
        case 'v':
            value += u'\v';
            break;
        case '\\':
            value += u'\\';
            break;
        case '"':
            value += u'"';
            break;
        case '\'':
            value += u'\'';
            break;
        case '?':
            value += u'?';
            break;
        case 'x':
        case 'X': {
            unsigned code = 0;
            int count = 0;
            while (count < 4 && pos < line.size() &&
                   sky::digitValue(static_cast<unsigned char>(line[pos])) >= 0) {
                code = code * 16 + static_cast<unsigned>(
                                       sky::digitValue(static_cast<unsigned char>(line[pos++])));
                ++count;
            }
            if (count == 0)
                throw SourceError(where, "\\x without hexadecimal digits");
            value += static_cast<char16_t>(code);
            break;
        }
        default:
            if (e >= '0' && e <= '7') {
                unsigned code = static_cast<unsigned>(e - '0');
                for (int count = 1;
                     count < 3 && pos < line.size() && line[pos] >= '0' && line[pos] <= '7';
                     ++count)
                    code = code * 8 + static_cast<unsigned>(line[pos++] - '0');
                value += static_cast<char16_t>(code);
                break;
            }
            throw SourceError(where, std::string("unknown escape sequence \\") + e);
        }
    }
}

// Integer expressions with C's operators and precedence, from || down to unary operators.
class Evaluator {
public:
    Evaluator(const std::vector<Token>& tokens, std::size_t& pos, bool unknownIsZero)
        : t_(tokens), pos_(pos), unknownIsZero_(unknownIsZero) {}

    long parse() { return binary(0); }

private:
    const Token& peek() const { return t_[std::min(pos_, t_.size() - 1)]; }

    // Binary operators by precedence level, loosest first.
    static int level(const std::string& op) {
        static const std::vector<std::vector<std::string>> levels = {{"||"},
                                                                     {"&&"},
                                                                     {"|"},
                                                                     {"^"},
                                                                     {"&"},
                                                                     {"==", "!="},
                                                                     {"<", ">", "<=", ">="},
                                                                     {"<<", ">>"},
                                                                     {"+", "-"},
                                                                     {"*", "/", "%"}};
        for (std::size_t i = 0; i < levels.size(); ++i) {
            if (std::find(levels[i].begin(), levels[i].end(), op) != levels[i].end())
                return static_cast<int>(i);
        }
        return -1;
    }
    static constexpr int kLevels = 10;

    long binary(int minLevel) {
        if (minLevel == kLevels)
            return unary();
        long v = binary(minLevel + 1);
        while (peek().is(Token::Kind::Punct) && level(peek().text) == minLevel) {
            const Token& op = t_[pos_++];
            const long r = binary(minLevel + 1);
            v = apply(op, v, r);
        }
        return v;
    }

    // Arithmetic in two's complement, wrapping around as the compilers of resource scripts do,
    // never overflowing.
    static long wrap(unsigned long v) { return static_cast<long>(v); }

    static long apply(const Token& op, long a, long b) {
        const std::string& o = op.text;
        if ((o == "/" || o == "%") && b == 0)
            throw SourceError(op.where, "division by zero");
        if ((o == "/" || o == "%") && b == -1)
            return o == "/" ? wrap(0ul - static_cast<unsigned long>(a)) : 0;
        if (o == "||")
            return a || b;
        if (o == "&&")
            return a && b;
        if (o == "|")
            return a | b;
        if (o == "^")
            return a ^ b;
        if (o == "&")
            return a & b;
        if (o == "==")
            return a == b;
        if (o == "!=")
            return a != b;
        if (o == "<")
            return a < b;
        if (o == ">")
            return a > b;
        if (o == "<=")
            return a <= b;
        if (o == ">=")
            return a >= b;
        if (o == "<<")
            return static_cast<long>(static_cast<unsigned long>(a) << (b & 31));
        if (o == ">>")
            return a >> (b & 31);
        const auto ua = static_cast<unsigned long>(a);
        const auto ub = static_cast<unsigned long>(b);
        if (o == "+")
            return wrap(ua + ub);
        if (o == "-")
            return wrap(ua - ub);
        if (o == "*")
            return wrap(ua * ub);
        if (o == "/")
            return a / b;
        return a % b;
    }

    // One level deeper for a parenthesis or a unary operator at `t`; a script that nests too
    // deeply is refused rather than allowed to exhaust the stack.
    struct Nested {
        Nested(Evaluator& e, const Token& t) : e_(e) {
            if (++e_.depth_ > kMaxExpressionNesting)
                throw SourceError(t.where, "expression nested more than " +
                                               std::to_string(kMaxExpressionNesting) +
                                               " levels deep");
        }
        ~Nested() { --e_.depth_; }
        Nested(const Nested&) = delete;
        Nested& operator=(const Nested&) = delete;
        Evaluator& e_;
    };

    long unary() {
        const Token& t = peek();
        if (t.isPunct('-') || t.isPunct('~') || t.isPunct('+') || t.isPunct('!')) {
            Nested nested(*this, t);
            ++pos_;
            const long v = unary();
            return t.isPunct('-')   ? wrap(0ul - static_cast<unsigned long>(v))
                   : t.isPunct('~') ? ~v
                   : t.isPunct('!') ? !v
                                    : v;
        }
        return primary();
    }

    long primary() {
        const Token& t = peek();
        if (t.is(Token::Kind::Number)) {
            ++pos_;
            return static_cast<long>(t.value);
        }
        if (t.isPunct('(')) {
            Nested nested(*this, t);
            ++pos_;
            const long v = parse();
            if (!peek().isPunct(')'))
                throw SourceError(peek().where, "')' expected");
            ++pos_;
            return v;
        }
        if (t.is(Token::Kind::Identifier)) {
            if (const auto v = languageSymbol(t.text)) {
                ++pos_;
                return *v;
            }
            if (unknownIsZero_) {
                ++pos_;
                return 0;
            }
            throw SourceError(t.where, "unknown name " + t.text);
        }
        throw SourceError(t.where,
                          t.is(Token::Kind::End)
                              ? "a number is missing"
                              : "a number was expected, not " +
                                    (t.is(Token::Kind::String) ? std::string("a string") : t.text));
    }

    const std::vector<Token>& t_;
    std::size_t& pos_;
    bool unknownIsZero_;
    int depth_ = 0;
};

} // namespace

SourceError::SourceError(const Location& where, const std::string& message)
    : std::runtime_error(where.file + ":" + std::to_string(where.line) +
                         (where.column > 0 ? ":" + std::to_string(where.column) : std::string()) +
                         ": " + message) {}

bool Token::isKeyword(std::string_view word) const {
    return kind == Kind::Identifier && text.size() == word.size() &&
           std::equal(text.begin(), text.end(), word.begin(), [](char a, char b) {
               return std::toupper(static_cast<unsigned char>(a)) ==
                      std::toupper(static_cast<unsigned char>(b));
           });
}

long evaluate(const std::vector<Token>& tokens, std::size_t& pos, bool unknownIsZero) {
    return Evaluator(tokens, pos, unknownIsZero).parse();
}

Preprocessor::Preprocessor(std::vector<fs::path> includeDirs,
                           const std::map<std::string, std::string>& defines)
    : includeDirs_(std::move(includeDirs)) {
    for (const auto& [name, text] : defines)
        macros_[name].body = tokenize(text, {"<command line>", 0});
}

std::vector<Token> Preprocessor::run(const fs::path& script) {
    tokens_.clear();
    processFile(script, {"<command line>", 0}, 0);
    Token end;
    end.where = {script.string(), 0};
    if (!tokens_.empty())
        end.where = tokens_.back().where;
    tokens_.push_back(end);
    return std::move(tokens_);
}

fs::path Preprocessor::locate(const std::string& name, const Location& where) const {
    std::error_code ec;
    const fs::path asGiven(name);
    if (asGiven.is_absolute()) {
        if (fs::exists(asGiven, ec))
            return asGiven;
    } else {
        std::vector<fs::path> dirs{fs::path(where.file).parent_path()};
        dirs.insert(dirs.end(), includeDirs_.begin(), includeDirs_.end());
        for (const fs::path& dir : dirs) {
            if (fs::exists(dir / asGiven, ec))
                return dir / asGiven;
        }
    }
    throw SourceError(where, "cannot find " + name);
}

bool Preprocessor::active() const {
    return conditionals_.empty() || conditionals_.back().active;
}

void Preprocessor::processFile(const fs::path& file, const Location& from, int depth) {
    if (depth > kMaxIncludeDepth)
        throw SourceError(from, "#include nested too deeply");
    const std::string name = file.string();
    const std::string text = stripComments(readSource(file, from), name);
    files_.push_back(file);
    const bool outerDirectivesOnly = directivesOnly_;
    directivesOnly_ = depth > 0 && isHeaderFile(file);
    const std::size_t openConditionals = conditionals_.size();
    for (const auto& [number, line] : logicalLines(text)) {
        const Location where{name, number};
        const std::size_t first = line.find_first_not_of(" \t\f\v\r");
        if (first == std::string::npos)
            continue;
        if (line[first] == '#') {
            directive(line.substr(first + 1), where, depth, static_cast<int>(first) + 1);
        } else if (active() && !directivesOnly_) {
            std::set<std::string> expanding;
            expand(tokenize(line, where), tokens_, where, expanding);
        }
    }
    if (conditionals_.size() != openConditionals)
        throw SourceError({name, static_cast<int>(logicalLines(text).size())},
                          "#if without #endif");
    directivesOnly_ = outerDirectivesOnly;
}

void Preprocessor::directive(const std::string& line, const Location& where, int depth,
                             int column) {
    std::size_t pos = 0;
    const std::string name = readWord(line, pos);
    std::string rest = line.substr(pos);
    const auto trim = [](std::string s) {
        const std::size_t a = s.find_first_not_of(" \t\f\v\r");
        const std::size_t b = s.find_last_not_of(" \t\f\v\r");
        return a == std::string::npos ? std::string() : s.substr(a, b - a + 1);
    };
    const auto identifier = [&](const char* what) {
        const std::string word = trim(rest);
        if (word.empty() || !isIdentStart(word[0]) ||
            !std::all_of(word.begin(), word.end(), isIdentChar))
            throw SourceError(where, std::string("#") + what + " needs a name");
        return word;
    };
    const bool parentActive = active();

    if (name == "ifdef" || name == "ifndef") {
        const bool defined = macros_.count(identifier(name.c_str())) != 0;
        const bool taken = parentActive && (name == "ifdef" ? defined : !defined);
        conditionals_.push_back({taken, taken, parentActive, false});
        return;
    }
    if (name == "if") {
        const bool taken =
            parentActive && evaluateCondition(rest, where, column + static_cast<int>(pos)) != 0;
        conditionals_.push_back({taken, taken, parentActive, false});
        return;
    }
    if (name == "elif" || name == "else" || name == "endif") {
        if (conditionals_.empty())
            throw SourceError(where, "#" + name + " without #if");
        Conditional& c = conditionals_.back();
        if (name == "endif") {
            conditionals_.pop_back();
            return;
        }
        if (c.seenElse)
            throw SourceError(where, "#" + name + " after #else");
        if (name == "else") {
            c.seenElse = true;
            c.active = c.parentActive && !c.anyTaken;
        } else {
            c.active = c.parentActive && !c.anyTaken &&
                       evaluateCondition(rest, where, column + static_cast<int>(pos)) != 0;
        }
        c.anyTaken = c.anyTaken || c.active;
        return;
    }
    if (!parentActive)
        return;

    if (name == "define") {
        std::size_t at = 0;
        const std::string macro = readWord(rest, at);
        if (macro.empty() || !isIdentStart(macro[0]))
            throw SourceError(where, "#define needs a name");
        Macro& m = macros_[macro];
        m.functionLike = at < rest.size() && rest[at] == '(';
        // Macros with parameters serve code only; a script never uses them.
        m.body = m.functionLike ? std::vector<Token>() : tokenize(rest.substr(at), where);
    } else if (name == "undef") {
        macros_.erase(identifier("undef"));
    } else if (name == "include") {
        const std::string target = trim(rest);
        if (target.size() < 2 || !((target.front() == '"' && target.back() == '"') ||
                                   (target.front() == '<' && target.back() == '>')))
            throw SourceError(where, "#include needs a file name in quotes");
        processFile(locate(target.substr(1, target.size() - 2), where), where, depth + 1);
    } else if (name == "error") {
        throw SourceError(where, "#error" + rest);
    } else if (!name.empty() && name != "pragma" && name != "line") {
        throw SourceError(where, "unknown directive #" + name);
    }
}

std::vector<Token> Preprocessor::tokenize(const std::string& line, const Location& where,
                                          int column) const {
    std::vector<Token> out;
    std::size_t pos = 0;
    while (pos < line.size()) {
        const char c = line[pos];
        if (isSpace(c)) {
            ++pos;
            continue;
        }
        Token t;
        t.where = where;
        t.where.column = column + static_cast<int>(pos) + 1;
        if ((c == 'L' || c == 'l') && pos + 1 < line.size() && line[pos + 1] == '"') {
            ++pos;
            continue; // a wide string is a string: every string is UTF-16 in the end
        }
        if (c == '"') {
            t.kind = Token::Kind::String;
            t.string = parseString(line, pos, where);
        } else if (isIdentStart(c)) {
            const std::size_t start = pos;
            while (pos < line.size() && isIdentChar(line[pos]))
                ++pos;
            t.kind = Token::Kind::Identifier;
            t.text = line.substr(start, pos - start);
        } else if (std::isdigit(static_cast<unsigned char>(c))) {
            const std::size_t start = pos;
            while (pos < line.size() && isIdentChar(line[pos]))
                ++pos;
            t.kind = Token::Kind::Number;
            t.text = line.substr(start, pos - start);
            t.value = parseNumber(t.text, where);
        } else if (std::string_view(",{}()+-|&~*/%!^<>=").find(c) != std::string_view::npos) {
            t.kind = Token::Kind::Punct;
            t.text = std::string(1, c);
            const std::string two = line.substr(pos, 2);
            for (const char* op : {"&&", "||", "==", "!=", "<=", ">=", "<<", ">>"}) {
                if (two == op)
                    t.text = two;
            }
            pos += t.text.size();
        } else {
            throw SourceError(where, std::string("unexpected character '") + c + "'");
        }
        out.push_back(std::move(t));
    }
    return out;
}

void Preprocessor::expand(const std::vector<Token>& in, std::vector<Token>& out,
                          const Location& where, std::set<std::string>& expanding) const {
    for (const Token& t : in) {
        // A token of the line keeps its place; a macro's tokens take the place of its use.
        const Location& at = expanding.empty() ? t.where : where;
        const auto macro = t.is(Token::Kind::Identifier) ? macros_.find(t.text) : macros_.end();
        if (macro == macros_.end() || macro->second.functionLike || expanding.count(t.text)) {
            out.push_back(t);
            out.back().where = at;
            continue;
        }
        if (expanding.size() >= kMaxMacroNesting)
            throw SourceError(at, "macros nested more than " + std::to_string(kMaxMacroNesting) +
                                      " levels deep");
        expanding.insert(t.text);
        expand(macro->second.body, out, at, expanding);
        expanding.erase(t.text);
    }
}

long Preprocessor::evaluateCondition(const std::string& text, const Location& where,
                                     int column) const {
    const std::vector<Token> raw = tokenize(text, where, column);
    std::vector<Token> resolved;
    for (std::size_t i = 0; i < raw.size(); ++i) {
        if (!raw[i].is(Token::Kind::Identifier) || raw[i].text != "defined") {
            resolved.push_back(raw[i]);
            continue;
        }
        const bool parens = i + 1 < raw.size() && raw[i + 1].isPunct('(');
        const std::size_t at = i + (parens ? 2 : 1);
        if (at >= raw.size() || !raw[at].is(Token::Kind::Identifier) ||
            (parens && (at + 1 >= raw.size() || !raw[at + 1].isPunct(')'))))
            throw SourceError(where, "defined needs a name");
        Token value;
        value.kind = Token::Kind::Number;
        value.value = macros_.count(raw[at].text) ? 1 : 0;
        value.text = std::to_string(value.value);
        value.where = where;
        resolved.push_back(value);
        i = at + (parens ? 1 : 0);
    }
    std::vector<Token> tokens;
    std::set<std::string> expanding;
    expand(resolved, tokens, where, expanding);
    Token end;
    end.where = where;
    tokens.push_back(end);
    std::size_t pos = 0;
    const long value = evaluate(tokens, pos, true);
    if (!tokens[pos].is(Token::Kind::End))
        throw SourceError(where, "unexpected " + tokens[pos].text + " in #if");
    return value;
}

} // namespace sky::rc
