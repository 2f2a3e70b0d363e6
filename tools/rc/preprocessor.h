// Reading a resource script: comments, #define and the other directives, macro expansion, and
// the script's tokens.
//
// Scripts are UTF-8 (a UTF-8 or UTF-16 byte-order mark is honoured). Included files whose
// extension is that of a C header or source (.h, .hpp, .c, ...) contribute their directives only,
// so that a program's "resource.h" can be shared with its code.
#pragma once

#include <filesystem>
#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace sky::rc {

struct Location {
    std::string file;
    int line = 0;
    int column = 0; // 1 for the first character of the (logical) line; 0 when not known
};

// A fault in a script, reported as "file:line:column: message" ("file:line: message" where the
// column is not known).
class SourceError : public std::runtime_error {
public:
    SourceError(const Location& where, const std::string& message);
};

struct Token {
    enum class Kind { End, Identifier, Number, String, Punct };
    Kind kind = Kind::End;
    std::string text;        // identifier, punctuation, or the number as written
    unsigned long value = 0; // number
    std::u16string string;   // string literal, escapes resolved
    Location where;

    bool is(Kind k) const { return kind == k; }
    bool isPunct(char c) const { return kind == Kind::Punct && text.size() == 1 && text[0] == c; }
    // An identifier equal to `word` ignoring case (script keywords are case-insensitive).
    bool isKeyword(std::string_view word) const;
};

class Preprocessor {
public:
    // `includeDirs` are searched after the including file's own directory; `defines` are
    // NAME -> replacement text, as -D gives them.
    Preprocessor(std::vector<std::filesystem::path> includeDirs,
                 const std::map<std::string, std::string>& defines);

    // The tokens of the script, macros expanded, ending with an End token.
    std::vector<Token> run(const std::filesystem::path& script);

    // Every file read so far, the script first.
    const std::vector<std::filesystem::path>& files() const { return files_; }

    // Where a file named in the script (an include or a resource file) is found: beside the
    // script that names it, then in the include directories. Throws SourceError if nowhere.
    std::filesystem::path locate(const std::string& name, const Location& where) const;

private:
    struct Macro {
        std::vector<Token> body;
        bool functionLike = false;
    };
    struct Conditional {
        bool active;   // the current branch is taken
        bool anyTaken; // some branch was taken already
        bool parentActive;
        bool seenElse;
    };

    void processFile(const std::filesystem::path& file, const Location& from, int depth);
    // `line` is the directive after its "#", which stands in column `column` - 1 of the line.
    void directive(const std::string& line, const Location& where, int depth, int column);
    // The tokens of `line`, which starts after `column` characters of the logical line.
    std::vector<Token> tokenize(const std::string& line, const Location& where,
                                int column = 0) const;
    void expand(const std::vector<Token>& in, std::vector<Token>& out, const Location& where,
                std::set<std::string>& active) const;
    long evaluateCondition(const std::string& text, const Location& where, int column) const;
    bool active() const;

    std::vector<std::filesystem::path> includeDirs_;
    std::map<std::string, Macro> macros_;
    std::vector<Conditional> conditionals_;
    std::vector<std::filesystem::path> files_;
    std::vector<std::filesystem::path> dirStack_;
    std::vector<Token> tokens_;
    bool directivesOnly_ = false;
};

// Evaluates the integer expression at tokens[pos] (C's operators, parentheses, numbers, LANG_ and
// SUBLANG_ names) and moves pos past it. Unknown names are an error, unless
// `unknownIsZero`, as in #if. Arithmetic wraps around as in two's complement; parentheses and
// unary operators nest at most kMaxExpressionNesting deep.
inline constexpr int kMaxExpressionNesting = 256;
long evaluate(const std::vector<Token>& tokens, std::size_t& pos, bool unknownIsZero = false);

} // namespace sky::rc
