#include "script.h"

#include <array>
#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>

#include "preprocessor.h"
#include "sky/bounded_read.h"
#include "sky/text.h"
#include "symbols.h"

namespace fs = std::filesystem;
using sky::resources::Resource;
using sky::resources::ResourceId;

namespace sky::rc {

namespace {

constexpr WORD kStringType = 6;

bool isMemoryFlag(const Token& t) {
    for (const char* flag : {"PRELOAD", "LOADONCALL", "FIXED", "MOVEABLE", "DISCARDABLE", "PURE",
                             "IMPURE", "SHARED", "NONSHARED"}) {
        if (t.isKeyword(flag))
            return true;
    }
    return false;
}

// The strings of one language, by identifier, each with where it was defined.
struct StringSlot {
    std::u16string text;
    Location where;
};
using StringTable = std::map<unsigned, StringSlot>;

class Compiler {
public:
    Compiler(std::vector<Token> tokens, const Preprocessor& files, WORD language)
        : t_(std::move(tokens)), files_(files), language_(language) {}

    std::vector<Resource> run() {
        while (!peek().is(Token::Kind::End))
            statement();
        std::vector<Resource> out = std::move(resources_);
        for (auto& [language, table] : strings_)
            addBlocks(language, table, out);
        return out;
    }

    // The files that resources were read from.
    const std::vector<fs::path>& dependencies() const { return dependencies_; }

private:
    const Token& peek(std::size_t ahead = 0) const {
        return t_[std::min(pos_ + ahead, t_.size() - 1)];
    }
    const Token& next() { return t_[std::min(pos_++, t_.size() - 1)]; }
    [[noreturn]] void throwSyntaxError(const Token& at, const std::string& message) const {
        throw SourceError(at.where, message);
    }
    bool startsNumber(const Token& t) const {
        return t.is(Token::Kind::Number) || t.isPunct('(') || t.isPunct('-') || t.isPunct('~') ||
               t.isPunct('+');
    }
    long number() { return evaluate(t_, pos_); }

    WORD languagePair() {
        const long primary = number();
        if (!peek().isPunct(','))
            throwSyntaxError(peek(), "LANGUAGE needs a language and a sublanguage: LANGUAGE p, s");
        ++pos_;
        const Token& at = peek();
        const long sub = number();
        if (primary < 0 || primary > 0x3FF || sub < 0 || sub > 0x3F)
            throwSyntaxError(at, "language out of range");
        return static_cast<WORD>((sub << 10) | primary);
    }

    void expectOpen(const char* what) {
        const Token& t = next();
        if (!t.isKeyword("BEGIN") && !t.isPunct('{'))
            throwSyntaxError(t, std::string("BEGIN or { expected after ") + what);
    }
    bool atClose() const { return peek().isKeyword("END") || peek().isPunct('}'); }

    void statement() {
        const Token& first = peek();
        if (first.isKeyword("LANGUAGE")) {
            ++pos_;
            language_ = languagePair();
        } else if (first.isKeyword("STRINGTABLE")) {
            ++pos_;
            stringTable();
        } else if (first.is(Token::Kind::Identifier) || startsNumber(first)) {
            fileResource();
        } else {
            throwSyntaxError(first, "a resource statement was expected");
        }
    }

    void stringTable() {
        WORD language = language_;
        while (true) {
            const Token& t = peek();
            if (isMemoryFlag(t)) {
                ++pos_;
            } else if (t.isKeyword("LANGUAGE")) {
                ++pos_;
                language = languagePair();
            } else if (t.isKeyword("CHARACTERISTICS") || t.isKeyword("VERSION")) {
                ++pos_;
                number();
            } else {
                break;
            }
        }
        expectOpen("STRINGTABLE");
        StringTable& table = strings_[language];
        while (!atClose()) {
            const Token& idToken = peek();
            if (idToken.is(Token::Kind::End))
                throwSyntaxError(idToken, "END missing at the end of the STRINGTABLE");
            if (!startsNumber(idToken))
                throwSyntaxError(idToken, idToken.is(Token::Kind::Identifier)
                                              ? "unknown string identifier " + idToken.text
                                              : std::string("a string identifier was expected"));
            const long id = number();
            if (id < 0 || id > 0xFFFF)
                throwSyntaxError(idToken,
                                 "string identifier " + std::to_string(id) + " out of range");
            if (peek().isPunct(','))
                ++pos_;
            if (!peek().is(Token::Kind::String))
                throwSyntaxError(peek(),
                                 "the text of string " + std::to_string(id) + " is missing");
            std::u16string text;
            while (peek().is(Token::Kind::String))
                text += next().string;
            if (text.size() > 0xFFFF)
                throwSyntaxError(idToken, "string " + std::to_string(id) +
                                              " is longer than 65535 characters");
            const auto [slot, added] = table.emplace(static_cast<unsigned>(id),
                                                     StringSlot{std::move(text), idToken.where});
            if (!added)
                throwSyntaxError(idToken, "string " + std::to_string(id) +
                                              " is defined twice (first at " +
                                              slot->second.where.file + ":" +
                                              std::to_string(slot->second.where.line) + ")");
        }
        ++pos_;
    }

    ResourceId nameOrNumber(const char* what) {
        const Token& t = peek();
        if (t.is(Token::Kind::Identifier)) {
            ++pos_;
            return ResourceId::named(widen(t.text));
        }
        const long value = number();
        if (value < 1 || value > 0xFFFF)
            throwSyntaxError(t, std::string("resource ") + what + " " + std::to_string(value) +
                                    " out of range (1 to 65535)");
        return ResourceId(static_cast<WORD>(value));
    }

    void fileResource() {
        const Token& start = peek();
        const ResourceId name = nameOrNumber("name");
        ResourceId type;
        const Token& typeToken = peek();
        if (typeToken.is(Token::Kind::Identifier)) {
            ++pos_;
            if (const auto known = resourceType(typeToken.text, true))
                type = ResourceId(*known);
            else if (resourceType("RT_" + typeToken.text) || typeToken.isKeyword("DIALOGEX") ||
                     typeToken.isKeyword("ACCELERATORS") || typeToken.isKeyword("VERSIONINFO"))
                throwSyntaxError(typeToken, typeToken.text + " resources are not supported");
            else
                type = ResourceId::named(widen(typeToken.text));
        } else if (startsNumber(typeToken)) {
            type = nameOrNumber("type");
        } else {
            throwSyntaxError(typeToken, "a resource type was expected after " + name.toString());
        }
        while (isMemoryFlag(peek()))
            ++pos_;
        const Token& file = peek();
        if (!file.is(Token::Kind::String))
            throwSyntaxError(file, "resources are taken from files only: name TYPE \"file\"");
        ++pos_;
        const fs::path path = files_.locate(narrow(file.string), file.where);
        std::ifstream in(path, std::ios::binary);
        if (!in)
            throwSyntaxError(file, "cannot read " + path.string());
        auto bytes = sky::readAtMost(in, sky::kMaxDataFileBytes);
        if (!bytes)
            throwSyntaxError(file, path.string() + " is larger than " +
                                       sky::sizeInWords(sky::kMaxDataFileBytes));
        Resource r{type, name, language_, {bytes->begin(), bytes->end()}};
        for (const Resource& other : resources_) {
            if (other.type == r.type && other.name == r.name && other.language == r.language)
                throwSyntaxError(start, "resource " + type.toString() + " " + name.toString() +
                                            " is defined twice");
        }
        dependencies_.push_back(path);
        resources_.push_back(std::move(r));
    }

    static void addBlocks(WORD language, const StringTable& table, std::vector<Resource>& out) {
        auto it = table.begin();
        while (it != table.end()) {
            const unsigned block = it->first / 16;
            std::u16string strings[16];
            for (; it != table.end() && it->first / 16 == block; ++it)
                strings[it->first % 16] = it->second.text;
            out.push_back({ResourceId(kStringType), ResourceId(static_cast<WORD>(block + 1)),
                           language, stringBlock(strings)});
        }
    }

    std::vector<Token> t_;
    std::size_t pos_ = 0;
    const Preprocessor& files_;
    WORD language_;
    std::map<WORD, StringTable> strings_;
    std::vector<Resource> resources_;
    std::vector<fs::path> dependencies_;
};

} // namespace

std::vector<BYTE> stringBlock(const std::u16string (&strings)[16]) {
    std::vector<BYTE> out;
    for (const std::u16string& s : strings) {
        const auto length = static_cast<std::uint16_t>(s.size());
        const std::size_t at = out.size();
        out.resize(at + 2 + 2 * s.size());
        std::memcpy(out.data() + at, &length, 2);
        if (!s.empty())
            std::memcpy(out.data() + at + 2, s.data(), 2 * s.size());
    }
    return out;
}

CompiledScript compileScript(const fs::path& script, const ScriptOptions& options) {
    Preprocessor preprocessor(options.includeDirs, options.defines);
    std::vector<Token> tokens = preprocessor.run(script);
    Compiler compiler(std::move(tokens), preprocessor, options.language);
    CompiledScript out;
    out.resources = compiler.run();
    out.files = preprocessor.files();
    out.files.insert(out.files.end(), compiler.dependencies().begin(),
                     compiler.dependencies().end());
    return out;
}

} // namespace sky::rc
