#include "parser.h"

#include <cctype>
#include <cstdio>
#include <map>
#include <optional>
#include <set>

#include "parser_state.h"
#include "sky/hex.h"

namespace idlc {

bool parseGuid(std::string_view text, GUID& guid) {
    return sky::parseBracedGuid(text, guid) || sky::parseGuidDigits(text, guid);
}

namespace grammar {

const std::map<std::string, ArgKind>& knownAttributes() {
    static const std::map<std::string, ArgKind> known{
        {"uuid", ArgKind::Raw},
        {"version", ArgKind::Raw},
        {"helpstring", ArgKind::Constant},
        {"helpcontext", ArgKind::Constant},
        {"helpfile", ArgKind::Constant},
        {"lcid", ArgKind::Any},
        {"id", ArgKind::Constant},
        {"defaultvalue", ArgKind::Constant},
        {"custom", ArgKind::Raw},
        {"odl", ArgKind::None},
        {"dual", ArgKind::None},
        {"oleautomation", ArgKind::None},
        {"hidden", ArgKind::None},
        {"nonextensible", ArgKind::None},
        {"restricted", ArgKind::None},
        {"propget", ArgKind::None},
        {"propput", ArgKind::None},
        {"propputref", ArgKind::None},
        {"in", ArgKind::None},
        {"out", ArgKind::None},
        {"retval", ArgKind::None},
        {"optional", ArgKind::None},
        {"default", ArgKind::None},
        {"source", ArgKind::None},
        {"public", ArgKind::None},
        {"object", ArgKind::None},
        {"local", ArgKind::None},
        {"appobject", ArgKind::None},
        {"noncreatable", ArgKind::None},
        {"control", ArgKind::None},
        {"licensed", ArgKind::None},
        {"aggregatable", ArgKind::None},
        {"defaultcollelem", ArgKind::None},
        {"nonbrowsable", ArgKind::None},
        {"bindable", ArgKind::None},
        {"requestedit", ArgKind::None},
        {"displaybind", ArgKind::None},
        {"defaultbind", ArgKind::None},
        {"immediatebind", ArgKind::None},
        {"uidefault", ArgKind::None},
        {"vararg", ArgKind::None},
        {"string", ArgKind::None},
        {"unique", ArgKind::None},
        {"ref", ArgKind::None},
        {"ptr", ArgKind::None},
        {"pointer_default", ArgKind::Raw},
        {"helpstringcontext", ArgKind::Constant},
        {"replaceable", ArgKind::None},
        {"proxy", ArgKind::None},
        {"v1_enum", ArgKind::None},
        {"defaultvtable", ArgKind::None},
        {"predeclid", ArgKind::None},
    };
    return known;
}

const Attribute* find(const Attributes& attrs, std::string_view name) {
    for (const auto& a : attrs)
        if (a.name == name)
            return &a;
    return nullptr;
}

Library Parser::run() {
    while (peek().kind != TokenKind::End)
        topLevel(false);
    if (!haveLibrary_)
        throw CompileError(peek().where, "no library block in the file");
    return std::move(lib_);
}

void Parser::topLevel(bool insideLibrary) {
    if (acceptPunct(";"))
        return;
    if (isWord("import")) {
        lex_.next();
        expectString("file name after import");
        while (acceptPunct(","))
            expectString("file name after ','");
        expectPunct(";");
        return;
    }
    if (isWord("cpp_quote") || isWord("midl_pragma")) {
        lex_.next();
        expectPunct("(");
        int depth = 1;
        while (depth > 0) {
            if (peek().kind == TokenKind::End)
                unexpected("')'");
            if (isPunct("("))
                ++depth;
            if (isPunct(")"))
                --depth;
            lex_.next();
        }
        acceptPunct(";");
        return;
    }
    if (isWord("importlib")) {
        if (!insideLibrary)
            throwSyntaxError("importlib is allowed only inside the library block");
        lex_.next();
        expectPunct("(");
        lib_.importlibs.push_back(expectString("type library file name"));
        expectPunct(")");
        expectPunct(";");
        return;
    }
    if (isWord("typedef")) {
        typedefDecl();
        return;
    }
    Location where = peek().where;
    Attributes attrs;
    if (isPunct("["))
        attrs = attributes();
    if (isWord("library")) {
        if (insideLibrary)
            throwSyntaxError("a library cannot contain another library");
        library(attrs, where);
    } else if (isWord("interface")) {
        interfaceDecl(attrs, where);
    } else if (isWord("coclass")) {
        coclass(attrs, where);
    } else if (isWord("dispinterface")) {
        throwSyntaxError("dispinterface is not supported: declare a dual interface instead");
    } else if (isWord("module") || isWord("struct") || isWord("union")) {
        throwSyntaxError("'" + peek().text + "' declarations are not supported");
    } else if (attrs.empty()) {
        unexpected("a declaration (library, interface, coclass, typedef, import, cpp_quote)");
    } else {
        unexpected("library, interface or coclass after the attributes");
    }
}

Attributes Parser::attributes() {
    Attributes attrs;
    expectPunct("[");
    for (;;) {
        Token name = expectIdentifier("attribute name");
        auto known = knownAttributes().find(name.text);
        if (known == knownAttributes().end())
            throw CompileError(name.where, "unknown attribute '" + name.text + "'");
        Attribute a{name.text, name.where, std::nullopt, {}};
        for (const auto& other : attrs)
            if (other.name == a.name)
                throw CompileError(name.where, "attribute '" + a.name + "' given twice");
        ArgKind kind = known->second;
        if (isPunct("(")) {
            if (kind == ArgKind::None)
                throwSyntaxError("attribute '" + a.name + "' takes no argument");
            if (kind == ArgKind::Raw) {
                a.raw = lex_.rawParenthesized();
            } else {
                lex_.next();
                a.value = expression();
                expectPunct(")");
            }
        } else if (kind == ArgKind::Constant || kind == ArgKind::Raw) {
            throwSyntaxError("attribute '" + a.name + "' needs an argument in parentheses");
        }
        attrs.push_back(std::move(a));
        if (acceptPunct("]"))
            break;
        if (!acceptPunct(","))
            unexpected("',' or ']' in the attribute list");
    }
    return attrs;
}

void Parser::checkAllowed(const Attributes& attrs, std::initializer_list<std::string_view> allowed,
                          const std::string& what) {
    for (const auto& a : attrs) {
        bool ok = false;
        for (auto name : allowed)
            ok = ok || a.name == name;
        if (!ok)
            throw CompileError(a.where, "attribute '" + a.name + "' does not apply to " + what);
    }
}

GUID Parser::requireUuid(const Attributes& attrs, const Location& where, const std::string& what) {
    const Attribute* a = find(attrs, "uuid");
    if (!a)
        throw CompileError(where, what + " needs a uuid attribute");
    GUID guid{};
    std::string text = a->raw;
    if (text.size() >= 2 && text.front() == '"' && text.back() == '"')
        text = text.substr(1, text.size() - 2);
    if (!parseGuid(text, guid))
        throw CompileError(a->where, "malformed uuid '" + a->raw + "'");
    return guid;
}

std::string Parser::helpString(const Attributes& attrs) {
    const Attribute* a = find(attrs, "helpstring");
    if (!a)
        return {};
    if (a->value->kind != Constant::Kind::String)
        throw CompileError(a->where, "helpstring needs a string");
    return a->value->text;
}

std::uint32_t Parser::helpContext(const Attributes& attrs) {
    const Attribute* a = find(attrs, "helpcontext");
    return a ? static_cast<std::uint32_t>(integerOf(*a->value, a->where)) : 0;
}

void Parser::library(const Attributes& attrs, const Location& where) {
    if (haveLibrary_)
        throwSyntaxError("only one library block is allowed in a file");
    haveLibrary_ = true;
    lex_.next(); // library
    checkAllowed(attrs,
                 {"uuid", "version", "helpstring", "helpcontext", "helpfile", "lcid", "hidden",
                  "control", "restricted", "custom", "helpstringcontext"},
                 "a library");
    lib_.name = expectIdentifier("library name").text;
    lib_.where = where;
    lib_.libid = requireUuid(attrs, where, "library '" + lib_.name + "'");
    if (const Attribute* v = find(attrs, "version")) {
        int major = 0, minor = 0;
        char dot = 0, extra = 0;
        int n = std::sscanf(v->raw.c_str(), "%d%c%d%c", &major, &dot, &minor, &extra);
        if (!((n == 1) || (n == 3 && dot == '.')) || major < 0 || major > 0xFFFF || minor < 0 ||
            minor > 0xFFFF)
            throw CompileError(v->where, "malformed version '" + v->raw + "' (major.minor)");
        lib_.versionMajor = major;
        lib_.versionMinor = minor;
    }
    lib_.helpString = helpString(attrs);
    lib_.helpContext = helpContext(attrs);
    if (const Attribute* f = find(attrs, "helpfile")) {
        if (f->value->kind != Constant::Kind::String)
            throw CompileError(f->where, "helpfile needs a string");
        lib_.helpFile = f->value->text;
    }
    if (const Attribute* l = find(attrs, "lcid")) {
        if (!l->value)
            throw CompileError(l->where, "lcid on a library needs a value");
        lib_.lcid = static_cast<std::uint32_t>(integerOf(*l->value, l->where));
    }
    expectPunct("{");
    while (!isPunct("}")) {
        if (peek().kind == TokenKind::End)
            unexpected("'}' closing library '" + lib_.name + "'");
        topLevel(true);
    }
    expectPunct("}");
    acceptPunct(";");
}

void Parser::interfaceDecl(const Attributes& attrs, const Location& where) {
    lex_.next(); // interface
    Token name = expectIdentifier("interface name");
    if (acceptPunct(";")) {
        if (!attrs.empty())
            throw CompileError(where, "a forward declaration takes no attributes");
        interfaceForwards_.emplace(name.text, name.where);
        return;
    }
    checkAllowed(attrs,
                 {"uuid", "helpstring", "helpcontext", "odl", "dual", "oleautomation", "hidden",
                  "nonextensible", "restricted", "object", "pointer_default", "local", "custom",
                  "version", "helpstringcontext", "proxy"},
                 "an interface");
    Interface itf;
    itf.name = name.text;
    itf.where = name.where;
    if (lib_.findInterface(itf.name) >= 0)
        throw CompileError(name.where, "interface '" + itf.name + "' is defined twice");
    itf.iid = requireUuid(attrs, name.where, "interface '" + itf.name + "'");
    itf.helpString = helpString(attrs);
    itf.helpContext = helpContext(attrs);
    itf.dual = find(attrs, "dual") != nullptr;
    itf.oleautomation = find(attrs, "oleautomation") != nullptr;
    itf.hidden = find(attrs, "hidden") != nullptr;
    itf.nonextensible = find(attrs, "nonextensible") != nullptr;
    itf.restricted = find(attrs, "restricted") != nullptr;
    itf.odl = find(attrs, "odl") != nullptr;
    if (acceptPunct(":"))
        itf.baseName = expectIdentifier("base interface name").text;
    else if (itf.name != "IUnknown")
        throw CompileError(name.where, "interface '" + itf.name +
                                           "' must name its base interface (': IDispatch')");
    expectPunct("{");
    while (!acceptPunct("}")) {
        if (peek().kind == TokenKind::End)
            unexpected("'}' closing interface '" + itf.name + "'");
        Attributes memberAttrs;
        if (isPunct("["))
            memberAttrs = attributes();
        itf.members.push_back(member(memberAttrs));
    }
    acceptPunct(";");
    lib_.order.push_back({TypeEntry::Kind::Interface, static_cast<int>(lib_.interfaces.size())});
    lib_.interfaces.push_back(std::move(itf));
}

Member Parser::member(const Attributes& attrs) {
    checkAllowed(
        attrs, {"id",          "propget",     "propput",     "propputref",      "helpstring",
                "helpcontext", "hidden",      "restricted",  "defaultcollelem", "nonbrowsable",
                "bindable",    "requestedit", "displaybind", "defaultbind",     "immediatebind",
                "uidefault",   "vararg",      "source",      "custom",          "helpstringcontext",
                "local",       "replaceable"},
        "a member");
    Member m;
    m.where = peek().where;
    m.result = type();
    Token name = expectIdentifier("member name");
    m.name = name.text;
    m.where = name.where;
    int kinds = 0;
    if (find(attrs, "propget")) {
        m.kind = MemberKind::PropGet;
        ++kinds;
    }
    if (find(attrs, "propput")) {
        m.kind = MemberKind::PropPut;
        ++kinds;
    }
    if (find(attrs, "propputref")) {
        m.kind = MemberKind::PropPutRef;
        ++kinds;
    }
    if (kinds > 1)
        throw CompileError(name.where, "member '" + m.name +
                                           "' has more than one of propget, propput, propputref");
    m.helpString = helpString(attrs);
    m.helpContext = helpContext(attrs);
    m.hidden = find(attrs, "hidden") != nullptr;
    m.restricted = find(attrs, "restricted") != nullptr;
    m.defaultCollElem = find(attrs, "defaultcollelem") != nullptr;
    m.nonBrowsable = find(attrs, "nonbrowsable") != nullptr;
    if (const Attribute* custom = find(attrs, "custom")) {
        const SnapshotUse use = snapshotAttribute(*custom);
        m.snapshot = use == SnapshotUse::Value;
        m.readsOnly = use == SnapshotUse::Reads;
    }
    if (const Attribute* id = find(attrs, "id")) {
        std::int64_t v = integerOf(*id->value, id->where);
        if (v < INT32_MIN || v > static_cast<std::int64_t>(UINT32_MAX))
            throw CompileError(id->where, "id out of range");
        m.explicitId = static_cast<std::int32_t>(static_cast<std::uint32_t>(v));
    }
    expectPunct("(");
    if (isWord("void")) {
        // "(void)" declares no parameters; "void* p" would be a parameter.
        Token save = peek();
        lex_.next();
        if (!isPunct(")"))
            throw CompileError(save.where, "'void' parameters are not supported");
    }
    if (!isPunct(")")) {
        for (;;) {
            m.params.push_back(param());
            if (acceptPunct(")"))
                break;
            if (!acceptPunct(","))
                unexpected("',' or ')' in the parameter list of '" + m.name + "'");
        }
    } else {
        lex_.next();
    }
    expectPunct(";");
    return m;
}

namespace {

// custom(GUID, value): the GUID and the value as written (a string keeps its quotes).
std::pair<GUID, std::string> customOf(const Attribute& custom) {
    const std::string& raw = custom.raw;
    const std::size_t comma = raw.find(',');
    GUID guid{};
    auto trimmed = [](std::string text) {
        const std::size_t b = text.find_first_not_of(" \t");
        const std::size_t e = text.find_last_not_of(" \t");
        return b == std::string::npos ? std::string() : text.substr(b, e - b + 1);
    };
    if (comma == std::string::npos || !parseGuid(trimmed(raw.substr(0, comma)), guid))
        throw CompileError(custom.where, "custom needs a GUID and a value: custom(GUID, value)");
    return {guid, trimmed(raw.substr(comma + 1))};
}

} // namespace

// custom(GUID, value): the file use of the file-argument attribute, None for any other GUID.
Param::File Parser::fileArgument(const Attribute& custom) {
    const auto [guid, value] = customOf(custom);
    if (!IsEqualGUID(guid, fileArgumentGuid))
        return Param::File::None;
    if (value == "\"read\"")
        return Param::File::Read;
    if (value == "\"write\"")
        return Param::File::Write;
    throw CompileError(custom.where,
                       "the file-argument attribute takes \"read\" or \"write\", not " + value);
}

// custom(GUID, value) of a member: whether it is the snapshot attribute, and which.
SnapshotUse Parser::snapshotAttribute(const Attribute& custom) {
    const auto [guid, value] = customOf(custom);
    if (!IsEqualGUID(guid, snapshotGuid))
        return SnapshotUse::None;
    if (value == "\"snapshot\"")
        return SnapshotUse::Value;
    if (value == "\"reads\"")
        return SnapshotUse::Reads;
    throw CompileError(custom.where,
                       "the snapshot attribute takes \"snapshot\" or \"reads\", not " + value);
}

Param Parser::param() {
    Param p;
    p.where = peek().where;
    Attributes attrs;
    if (isPunct("["))
        attrs = attributes();
    checkAllowed(attrs,
                 {"in", "out", "retval", "optional", "defaultvalue", "lcid", "string", "unique",
                  "ref", "ptr", "custom"},
                 "a parameter");
    if (const Attribute* custom = find(attrs, "custom"))
        p.file = fileArgument(*custom);
    p.in = find(attrs, "in") != nullptr;
    p.out = find(attrs, "out") != nullptr;
    p.retval = find(attrs, "retval") != nullptr;
    p.optional = find(attrs, "optional") != nullptr;
    p.lcid = find(attrs, "lcid") != nullptr;
    if (const Attribute* d = find(attrs, "defaultvalue"))
        p.defaultValue = d->value;
    if (!p.in && !p.out)
        p.in = true; // MIDL's default direction
    p.type = type();
    if (peek().kind == TokenKind::Identifier) {
        p.name = lex_.next().text;
    }
    if (isPunct("["))
        throwSyntaxError("array parameters are not supported");
    return p;
}

TypeRef Parser::type() {
    TypeRef t;
    t.where = peek().where;
    if (isWord("const"))
        lex_.next();
    Token first = expectIdentifier("a type");
    const std::string& w = first.text;
    auto word = [&](std::string_view next) {
        if (isWord(next)) {
            lex_.next();
            return true;
        }
        return false;
    };
    if (w == "unsigned") {
        if (word("long"))
            t.base = BaseType::ULong;
        else if (word("short"))
            t.base = BaseType::UShort;
        else if (word("char"))
            t.base = BaseType::Byte;
        else
            unexpected("long, short or char after 'unsigned'");
        if (t.base != BaseType::Byte)
            word("int");
    } else if (w == "signed") {
        throwSyntaxError("'signed' types are not automation types");
    } else if (w == "long" || w == "LONG") {
        t.base = BaseType::Long;
        if (w == "long") {
            if (isWord("long"))
                throwSyntaxError("'long long' is not an automation type here");
            word("int");
        }
    } else if (w == "short" || w == "SHORT") {
        t.base = BaseType::Short;
        if (w == "short")
            word("int");
    } else if (w == "ULONG" || w == "DWORD") {
        t.base = BaseType::ULong;
    } else if (w == "USHORT" || w == "WORD") {
        t.base = BaseType::UShort;
    } else if (w == "BYTE" || w == "UCHAR") {
        t.base = BaseType::Byte;
    } else if (w == "int" || w == "INT") {
        t.base = BaseType::Int;
    } else if (w == "VARIANT_BOOL") {
        t.base = BaseType::Bool;
    } else if (w == "double" || w == "DOUBLE") {
        t.base = BaseType::Double;
    } else if (w == "float" || w == "FLOAT") {
        t.base = BaseType::Float;
    } else if (w == "DATE") {
        t.base = BaseType::Date;
    } else if (w == "BSTR") {
        t.base = BaseType::String;
    } else if (w == "VARIANT") {
        t.base = BaseType::Variant;
    } else if (w == "HRESULT") {
        t.base = BaseType::HResult;
    } else if (w == "void") {
        t.base = BaseType::Void;
    } else if (w == "IDispatch") {
        t.base = BaseType::Dispatch;
    } else if (w == "IUnknown") {
        t.base = BaseType::Unknown;
    } else if (w == "IEnumVARIANT") {
        t.base = BaseType::EnumVariant;
    } else if (w == "enum") {
        t.base = BaseType::Enum;
        t.name = expectIdentifier("enumeration name").text;
    } else if (w == "SAFEARRAY" || w == "struct" || w == "union" || w == "char" ||
               w == "CURRENCY" || w == "CY" || w == "DECIMAL" || w == "wchar_t" || w == "LPSTR" ||
               w == "LPWSTR" || w == "hyper" || w == "__int64") {
        throw CompileError(first.where, "type '" + w + "' is not supported");
    } else {
        t.base = BaseType::Alias; // a library type: resolved by the analyser
        t.name = w;
    }
    while (acceptPunct("*"))
        ++t.pointers;
    return t;
}

void Parser::coclass(const Attributes& attrs, const Location& where) {
    lex_.next(); // coclass
    checkAllowed(attrs,
                 {"uuid", "helpstring", "helpcontext", "hidden", "noncreatable", "appobject",
                  "control", "licensed", "aggregatable", "version", "custom", "helpstringcontext",
                  "predeclid", "restricted"},
                 "a coclass");
    (void)where;
    Coclass c;
    Token name = expectIdentifier("coclass name");
    c.name = name.text;
    c.where = name.where;
    c.clsid = requireUuid(attrs, name.where, "coclass '" + c.name + "'");
    c.helpString = helpString(attrs);
    c.helpContext = helpContext(attrs);
    c.hidden = find(attrs, "hidden") != nullptr;
    c.noncreatable = find(attrs, "noncreatable") != nullptr;
    c.appobject = find(attrs, "appobject") != nullptr;
    c.control = find(attrs, "control") != nullptr;
    c.licensed = find(attrs, "licensed") != nullptr;
    expectPunct("{");
    while (!acceptPunct("}")) {
        Attributes entryAttrs;
        if (isPunct("["))
            entryAttrs = attributes();
        checkAllowed(entryAttrs, {"default", "source", "restricted", "defaultvtable"},
                     "a coclass entry");
        if (isWord("dispinterface"))
            throwSyntaxError("dispinterface is not supported: declare a dual interface instead");
        if (!isWord("interface"))
            unexpected("'interface' or '}' in coclass '" + c.name + "'");
        lex_.next();
        CoclassEntry e;
        Token itf = expectIdentifier("interface name");
        e.name = itf.text;
        e.where = itf.where;
        e.isDefault = find(entryAttrs, "default") != nullptr;
        e.source = find(entryAttrs, "source") != nullptr;
        e.restricted = find(entryAttrs, "restricted") != nullptr;
        expectPunct(";");
        c.interfaces.push_back(std::move(e));
    }
    acceptPunct(";");
    lib_.order.push_back({TypeEntry::Kind::Coclass, static_cast<int>(lib_.coclasses.size())});
    lib_.coclasses.push_back(std::move(c));
}

void Parser::typedefDecl() {
    Location where = peek().where;
    lex_.next(); // typedef
    Attributes attrs;
    if (isPunct("["))
        attrs = attributes();
    checkAllowed(attrs,
                 {"uuid", "helpstring", "helpcontext", "public", "hidden", "v1_enum", "custom",
                  "restricted", "helpstringcontext"},
                 "a typedef");
    if (!isWord("enum"))
        throw CompileError(peek().where,
                           "only 'typedef enum' is supported (found '" + peek().text + "')");
    lex_.next();
    Enum e;
    e.where = where;
    if (peek().kind == TokenKind::Identifier) {
        Token tag = lex_.next();
        e.name = tag.text;
        e.where = tag.where;
    }
    e.helpString = helpString(attrs);
    e.helpContext = helpContext(attrs);
    e.hidden = find(attrs, "hidden") != nullptr;
    if (find(attrs, "uuid")) {
        e.uuid = requireUuid(attrs, where, "enumeration");
        e.hasUuid = true;
    }
    enumBody(e);
    Token alias = expectIdentifier("the typedef's name");
    if (e.name.empty()) {
        e.name = alias.text;
    } else if (alias.text != e.name) {
        e.alias = alias.text;
        e.aliasHelpString = e.helpString;
    }
    expectPunct(";");
    if (lib_.findEnum(e.name) >= 0 || (!e.alias.empty() && lib_.findEnum(e.alias) >= 0))
        throw CompileError(alias.where, "enumeration '" + alias.text + "' is defined twice");
    lib_.order.push_back({TypeEntry::Kind::Enum, static_cast<int>(lib_.enums.size())});
    lib_.enums.push_back(std::move(e));
}

void Parser::enumBody(Enum& e) {
    expectPunct("{");
    std::int64_t nextValue = 0;
    while (!acceptPunct("}")) {
        EnumConstant c;
        Attributes attrs;
        if (isPunct("["))
            attrs = attributes();
        checkAllowed(attrs, {"helpstring", "helpcontext", "hidden", "custom"},
                     "an enumeration constant");
        c.helpString = helpString(attrs);
        Token name = expectIdentifier("enumeration constant name");
        c.name = name.text;
        c.where = name.where;
        std::int64_t value = nextValue;
        if (acceptPunct("=")) {
            Location valueAt = peek().where;
            value = integerOf(expression(), valueAt);
        }
        if (value < INT32_MIN || value > static_cast<std::int64_t>(UINT32_MAX))
            throw CompileError(name.where, "value of '" + c.name + "' does not fit in 32 bits");
        c.value = static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
        nextValue = static_cast<std::int64_t>(c.value) + 1;
        addConstant(c.name, c.value, c.where);
        e.constants.push_back(std::move(c));
        if (!acceptPunct(",")) {
            expectPunct("}");
            break;
        }
    }
}

void Parser::addConstant(const std::string& name, std::int64_t value, const Location& where) {
    if (libraryConstants_.count(name))
        throw CompileError(where, "enumeration constant '" + name + "' is defined twice");
    libraryConstants_.insert(name);
    constants_[name] = value;
}

} // namespace grammar

Library parse(const std::string& fileName, std::string_view source) {
    grammar::Parser parser(fileName, source);
    return parser.run();
}

} // namespace idlc
