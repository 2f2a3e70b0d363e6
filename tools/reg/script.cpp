#include "script.h"

#include <cstdio>
#include <cstring>

#include "sky/codepage.h"
#include "sky/hex.h"
#include "sky/text.h"
#include "win/registry.h"

namespace reg {

namespace {

constexpr std::u16string_view kHeader = u"Windows Registry Editor Version 5.00";
constexpr std::u16string_view kAnsiHeader = u"REGEDIT4";
constexpr std::size_t kColumns = 80;
constexpr std::size_t kMaxValueName = 16383;

std::u16string quoted(std::u16string_view text) {
    std::u16string out = u"\"";
    for (const WCHAR c : text) {
        if (c == u'\\' || c == u'"')
            out += u'\\';
        out += c;
    }
    return out + u"\"";
}

std::u16string hexByte(BYTE byte) {
    static constexpr char16_t digits[] = u"0123456789abcdef";
    return {digits[byte >> 4], digits[byte & 0xF]};
}

// A REG_SZ that can be written as a quoted string: one terminator at the end, nothing that
// would break the line.
std::optional<std::u16string> plainString(const std::vector<BYTE>& data) {
    if (data.size() < 2 || data.size() % 2 != 0)
        return std::nullopt;
    std::u16string text(data.size() / 2, u'\0');
    std::memcpy(text.data(), data.data(), data.size());
    if (text.back() != u'\0')
        return std::nullopt;
    text.pop_back();
    if (text.find_first_of(std::u16string_view(u"\0\r\n", 3)) != std::u16string::npos)
        return std::nullopt;
    return text;
}

// Bytes as "xx,xx,..." after `prefix`, folded as the registry editor folds them: a line takes
// another "xx," while it keeps within 80 columns with a continuation backslash after it.
std::u16string foldedHex(std::u16string prefix, const std::vector<BYTE>& data) {
    std::u16string out;
    std::u16string line = std::move(prefix);
    for (std::size_t i = 0; i < data.size(); ++i) {
        if (line.size() + 4 > kColumns) {
            out += line + u"\\\r\n";
            line = u"  ";
        }
        line += hexByte(data[i]);
        if (i + 1 < data.size())
            line += u',';
    }
    return out + line;
}

} // namespace

ScriptWriter::ScriptWriter() {
    text_ = std::u16string(kHeader) + u"\r\n\r\n";
}

void ScriptWriter::key(std::u16string_view fullName) {
    if (open_)
        text_ += u"\r\n";
    text_ += u"[" + std::u16string(fullName) + u"]\r\n";
    open_ = true;
}

void ScriptWriter::value(const ScriptValue& value) {
    const std::u16string name = value.name.empty() ? u"@" : quoted(value.name);
    std::u16string line;
    if (value.type == REG_SZ && plainString(value.data)) {
        line = name + u"=" + quoted(*plainString(value.data));
    } else if (value.type == REG_DWORD && value.data.size() == 4) {
        DWORD number = 0;
        std::memcpy(&number, value.data.data(), 4);
        char digits[9];
        std::snprintf(digits, sizeof digits, "%08x", number);
        line = name + u"=dword:" + sky::widen(digits);
    } else {
        char type[16];
        std::snprintf(type, sizeof type, "hex(%x):", static_cast<unsigned>(value.type));
        line = foldedHex(name + u"=" + (value.type == REG_BINARY ? u"hex:" : sky::widen(type)),
                         value.data);
    }
    text_ += line + u"\r\n";
}

std::string encodeScript(std::u16string_view text) {
    std::string bytes = "\xFF\xFE";
    for (const WCHAR c : text) {
        bytes += static_cast<char>(c & 0xFF);
        bytes += static_cast<char>(c >> 8);
    }
    return bytes;
}

std::u16string decodeScript(std::string_view bytes) {
    if (bytes.size() >= 2 && static_cast<BYTE>(bytes[0]) == 0xFF &&
        static_cast<BYTE>(bytes[1]) == 0xFE) {
        std::u16string text((bytes.size() - 2) / 2, u'\0');
        for (std::size_t i = 0; i < text.size(); ++i)
            text[i] = static_cast<WCHAR>(static_cast<BYTE>(bytes[2 + 2 * i]) |
                                         static_cast<BYTE>(bytes[3 + 2 * i]) << 8);
        return text;
    }
    if (bytes.substr(0, 3) == "\xEF\xBB\xBF")
        return sky::widen(bytes.substr(3));
    const std::u16string utf8 = sky::widen(bytes);
    if (utf8.find(u'\uFFFD') == std::u16string::npos || bytes.find("\xEF\xBF\xBD") != bytes.npos)
        return utf8;
    return sky::fromAnsi(bytes, CP_ACP);
}

namespace {

// Reads a quoted string at the start of `rest`, unescaping \\ and \", and moves past it.
bool readQuoted(std::u16string_view& rest, std::u16string& text) {
    if (rest.empty() || rest.front() != u'"')
        return false;
    text.clear();
    for (std::size_t i = 1; i < rest.size(); ++i) {
        if (rest[i] == u'\\' && i + 1 < rest.size()) {
            text += rest[++i];
        } else if (rest[i] == u'"') {
            rest.remove_prefix(i + 1);
            return true;
        } else {
            text += rest[i];
        }
    }
    return false;
}

std::u16string_view trim(std::u16string_view text) {
    while (!text.empty() && (text.front() == u' ' || text.front() == u'\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == u' ' || text.back() == u'\t' || text.back() == u'\r'))
        text.remove_suffix(1);
    return text;
}

// "01,02, 0a" -> bytes.
bool readHexBytes(std::u16string_view text, std::vector<BYTE>& data) {
    data.clear();
    text = trim(text);
    if (text.empty())
        return true;
    for (;;) {
        const std::size_t comma = text.find(u',');
        const std::u16string_view item = trim(text.substr(0, comma));
        if (item.empty() || item.size() > 2)
            return false;
        int value = 0;
        for (const WCHAR c : item) {
            const int digit = sky::digitValue(c);
            if (digit < 0)
                return false;
            value = value * 16 + digit;
        }
        data.push_back(static_cast<BYTE>(value));
        if (comma == std::u16string_view::npos)
            return true;
        text.remove_prefix(comma + 1);
    }
}

bool readHexNumber(std::u16string_view text, std::size_t maxDigits, DWORD& value) {
    if (text.empty() || text.size() > maxDigits)
        return false;
    value = 0;
    for (const WCHAR c : text) {
        const int digit = sky::digitValue(c);
        if (digit < 0)
            return false;
        value = value * 16 + static_cast<DWORD>(digit);
    }
    return true;
}

// A value line with hex data, which may go on over several lines.
bool isHexValue(std::u16string_view line) {
    if (line.front() == u'[' || line.front() == u';')
        return false;
    const std::u16string upper = sky::upper(line);
    return upper.find(u"=HEX") != std::u16string::npos;
}

bool isStringType(DWORD type) {
    return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

// The data after "=": a string, dword:, hex: or hex(n):.
bool readData(std::u16string_view data, bool ansi, ScriptValue& value, std::string& error) {
    if (!data.empty() && data.front() == u'"') {
        std::u16string text;
        if (!readQuoted(data, text) || !trim(data).empty()) {
            error = "a string value is not closed by a quote";
            return false;
        }
        value.type = REG_SZ;
        text.push_back(u'\0');
        value.data.resize(text.size() * sizeof(WCHAR));
        std::memcpy(value.data.data(), text.data(), value.data.size());
        return true;
    }
    if (sky::equalNoCase(data.substr(0, 6), u"dword:")) {
        DWORD number = 0;
        if (!readHexNumber(trim(data.substr(6)), 8, number)) {
            error = "a dword value needs up to eight hex digits";
            return false;
        }
        value.type = REG_DWORD;
        value.data.resize(4);
        std::memcpy(value.data.data(), &number, 4);
        return true;
    }
    if (sky::equalNoCase(data.substr(0, 3), u"hex")) {
        std::u16string_view rest = data.substr(3);
        value.type = REG_BINARY;
        if (!rest.empty() && rest.front() == u'(') {
            const std::size_t close = rest.find(u')');
            if (close == std::u16string_view::npos ||
                !readHexNumber(rest.substr(1, close - 1), 8, value.type)) {
                error = "the type of a hex value is not a hex number in parentheses";
                return false;
            }
            rest.remove_prefix(close + 1);
        }
        if (rest.empty() || rest.front() != u':' || !readHexBytes(rest.substr(1), value.data)) {
            error = "hex data must be comma-separated pairs of hex digits";
            return false;
        }
        if ((value.type == REG_DWORD && value.data.size() != 4) ||
            (value.type == REG_QWORD && value.data.size() != 8)) {
            error = value.type == REG_DWORD ? "hex(4) data must be four bytes"
                                            : "hex(b) data must be eight bytes";
            return false;
        }
        value.exact = true;
        if (ansi && isStringType(value.type)) {
            // REGEDIT4 keeps string data in the ANSI code page.
            const std::u16string text = sky::fromAnsi(std::string_view(
                reinterpret_cast<const char*>(value.data.data()), value.data.size()));
            const auto* bytes = reinterpret_cast<const BYTE*>(text.data());
            value.data.assign(bytes, bytes + text.size() * sizeof(WCHAR));
            value.exact = false;
        }
        return true;
    }
    error = "the data is neither a string, dword: nor hex:";
    return false;
}

} // namespace

std::optional<std::vector<ScriptEntry>> parseScript(std::u16string_view text, int& errorLine,
                                                    std::string& error) {
    std::vector<ScriptEntry> entries;
    bool ansi = false;
    bool headerSeen = false;
    std::u16string key;
    int number = 0;
    std::size_t position = 0;
    while (position < text.size()) {
        // One logical line: the lines of folded hex data are joined.
        const int first = ++number;
        std::u16string line;
        for (;;) {
            std::size_t end = text.find(u'\n', position);
            if (end == std::u16string_view::npos)
                end = text.size();
            line += trim(text.substr(position, end - position));
            position = end + 1;
            if (line.empty() || line.back() != u'\\' || !isHexValue(line) ||
                position >= text.size())
                break;
            line.pop_back();
            ++number;
        }
        errorLine = first;
        if (line.empty() || line.front() == u';')
            continue;
        if (!headerSeen) {
            headerSeen = true;
            ansi = line == kAnsiHeader;
            if (line != kHeader && !ansi) {
                error = "the first line is not \"Windows Registry Editor Version 5.00\"";
                return std::nullopt;
            }
            continue;
        }
        ScriptEntry entry;
        entry.line = first;
        if (line.front() == u'[') {
            if (line.back() != u']' || line.size() < 3) {
                error = "a key name is not closed by \"]\"";
                return std::nullopt;
            }
            const bool remove = line[1] == u'-';
            key = line.substr(remove ? 2 : 1, line.size() - (remove ? 3 : 2));
            if (key.find(u'\0') != std::u16string::npos) {
                error = "a key name holds a NUL character";
                return std::nullopt;
            }
            entry.kind = remove ? ScriptEntry::Kind::DeleteKey : ScriptEntry::Kind::Key;
            entry.key = key;
            if (remove)
                key.clear();
            entries.push_back(std::move(entry));
            continue;
        }
        if (key.empty()) {
            error = "a value comes before any key";
            return std::nullopt;
        }
        std::u16string_view rest(line);
        if (rest.front() == u'@') {
            rest.remove_prefix(1);
        } else if (!readQuoted(rest, entry.value.name)) {
            error = "a value name is not a quoted string or @";
            return std::nullopt;
        }
        if (entry.value.name.find(u'\0') != std::u16string::npos) {
            error = "a value name holds a NUL character";
            return std::nullopt;
        }
        if (entry.value.name.size() > kMaxValueName) {
            error = "a value name is longer than 16383 characters";
            return std::nullopt;
        }
        rest = trim(rest);
        if (rest.empty() || rest.front() != u'=') {
            error = "a value name is not followed by \"=\"";
            return std::nullopt;
        }
        rest = trim(rest.substr(1));
        entry.key = key;
        if (rest == u"-") {
            entry.kind = ScriptEntry::Kind::DeleteValue;
        } else {
            entry.kind = ScriptEntry::Kind::Value;
            if (!readData(rest, ansi, entry.value, error))
                return std::nullopt;
        }
        entries.push_back(std::move(entry));
    }
    if (!headerSeen) {
        errorLine = 1;
        error = "the file is empty";
        return std::nullopt;
    }
    return entries;
}

} // namespace reg
