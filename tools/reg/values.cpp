#include "values.h"

#include "sky/registry.h"

#include <cstdio>
#include <cstring>

#include "sky/hex.h"
#include "sky/text.h"
#include "win/errors.h"

namespace reg {

namespace {

constexpr DWORD kMaxValueName = 16383;

const struct {
    DWORD type;
    const char16_t* name;
} kTypes[] = {
    {REG_NONE, u"REG_NONE"},
    {REG_SZ, u"REG_SZ"},
    {REG_EXPAND_SZ, u"REG_EXPAND_SZ"},
    {REG_BINARY, u"REG_BINARY"},
    {REG_DWORD, u"REG_DWORD"},
    {REG_DWORD_BIG_ENDIAN, u"REG_DWORD_BIG_ENDIAN"},
    {REG_LINK, u"REG_LINK"},
    {REG_MULTI_SZ, u"REG_MULTI_SZ"},
    {REG_RESOURCE_LIST, u"REG_RESOURCE_LIST"},
    {REG_FULL_RESOURCE_DESCRIPTOR, u"REG_FULL_RESOURCE_DESCRIPTOR"},
    {REG_RESOURCE_REQUIREMENTS_LIST, u"REG_RESOURCE_REQUIREMENTS_LIST"},
    {REG_QWORD, u"REG_QWORD"},
};

std::u16string textOf(const std::vector<BYTE>& data) {
    std::u16string text(data.size() / sizeof(WCHAR), u'\0');
    if (!text.empty()) // empty data may have no buffer at all
        std::memcpy(text.data(), data.data(), text.size() * sizeof(WCHAR));
    return text;
}

std::vector<BYTE> bytesOf(std::u16string_view text) {
    const auto* bytes = reinterpret_cast<const BYTE*>(text.data());
    return std::vector<BYTE>(bytes, bytes + text.size() * sizeof(WCHAR));
}

std::u16string format(const char* pattern, unsigned long long number) {
    char text[32];
    std::snprintf(text, sizeof text, pattern, number);
    return sky::widen(text);
}

// A number as reg takes it: decimal, or hex after 0x.
std::optional<unsigned long long> parseNumber(std::u16string_view text, unsigned long long max) {
    int base = 10;
    if (text.size() > 2 && text[0] == u'0' && (text[1] == u'x' || text[1] == u'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    if (text.empty())
        return std::nullopt;
    unsigned long long value = 0;
    for (const WCHAR c : text) {
        const int digit = sky::digitValue(c, base);
        if (digit < 0 || value > (max - static_cast<unsigned>(digit)) / static_cast<unsigned>(base))
            return std::nullopt;
        value = value * static_cast<unsigned>(base) + static_cast<unsigned>(digit);
    }
    return value;
}

} // namespace

LONG readValue(HKEY key, const std::u16string& name, ScriptValue& value) {
    value.name = name;
    for (;;) {
        DWORD size = 0;
        if (LONG status = RegQueryValueExW(key, name.c_str(), nullptr, &value.type, nullptr, &size))
            return status;
        value.data.resize(size);
        const LONG status =
            RegQueryValueExW(key, name.c_str(), nullptr, &value.type, value.data.data(), &size);
        if (status == ERROR_MORE_DATA)
            continue; // it grew in between
        value.data.resize(size);
        return status;
    }
}

LONG readValues(HKEY key, std::vector<ScriptValue>& values) {
    values.clear();
    std::u16string name(kMaxValueName + 1, u'\0');
    for (DWORD index = 0;; ++index) {
        DWORD count = kMaxValueName + 1;
        const LONG status =
            RegEnumValueW(key, index, name.data(), &count, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_NO_MORE_ITEMS)
            return ERROR_SUCCESS;
        if (status != ERROR_SUCCESS)
            return status;
        ScriptValue value;
        if (LONG read = readValue(key, name.substr(0, count), value))
            return read;
        values.push_back(std::move(value));
    }
}

LONG readStoredValue(HKEY key, const std::u16string& name, ScriptValue& value) {
    std::vector<ScriptValue> values;
    if (LONG status = readValues(key, values))
        return status;
    for (auto& candidate : values) {
        if (sky::equalNoCase(candidate.name, name)) {
            value = std::move(candidate);
            return ERROR_SUCCESS;
        }
    }
    return ERROR_FILE_NOT_FOUND;
}

LONG readSubKeys(HKEY key, std::vector<std::u16string>& names) {
    names.clear();
    WCHAR name[256];
    for (DWORD index = 0;; ++index) {
        DWORD count = 256;
        const LONG status =
            RegEnumKeyExW(key, index, name, &count, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_NO_MORE_ITEMS)
            return ERROR_SUCCESS;
        if (status != ERROR_SUCCESS)
            return status;
        names.emplace_back(name, count);
    }
}

LONG writeValue(HKEY key, const ScriptValue& value) {
    if (value.exact)
        return sky::registry::setValueBytes(key, value.name, value.type, value.data.data(),
                                            static_cast<DWORD>(value.data.size()));
    return RegSetValueExW(key, value.name.c_str(), 0, value.type, value.data.data(),
                          static_cast<DWORD>(value.data.size()));
}

std::u16string typeName(DWORD type) {
    for (const auto& known : kTypes) {
        if (known.type == type)
            return known.name;
    }
    return format("REG_UNKNOWN(%llu)", type);
}

std::optional<DWORD> typeFromName(std::u16string_view name) {
    for (const auto& known : kTypes) {
        if (sky::equalNoCase(name, known.name))
            return known.type;
    }
    return std::nullopt;
}

std::u16string displayData(const ScriptValue& value, std::u16string_view separator) {
    switch (value.type) {
    case REG_SZ:
    case REG_EXPAND_SZ: {
        const std::u16string text = textOf(value.data);
        return text.substr(0, text.find(u'\0'));
    }
    case REG_MULTI_SZ: {
        std::u16string text = textOf(value.data);
        while (!text.empty() && text.back() == u'\0')
            text.pop_back();
        std::u16string shown;
        for (const WCHAR c : text) {
            if (c == u'\0')
                shown += separator;
            else
                shown += c;
        }
        return shown;
    }
    case REG_DWORD:
    case REG_DWORD_BIG_ENDIAN:
        if (value.data.size() == 4) {
            DWORD number = 0;
            std::memcpy(&number, value.data.data(), 4);
            if (value.type == REG_DWORD_BIG_ENDIAN)
                number = __builtin_bswap32(number);
            return format("0x%llx", number);
        }
        break;
    case REG_QWORD:
        if (value.data.size() == 8) {
            ULONGLONG number = 0;
            std::memcpy(&number, value.data.data(), 8);
            return format("0x%llx", number);
        }
        break;
    default:
        break;
    }
    std::u16string hex;
    for (const BYTE byte : value.data)
        hex += format("%02llX", byte);
    return hex;
}

std::optional<std::vector<BYTE>> parseData(DWORD type, std::u16string_view text,
                                           std::u16string_view separator) {
    switch (type) {
    case REG_SZ:
    case REG_EXPAND_SZ:
        return bytesOf(std::u16string(text) + u'\0');
    case REG_MULTI_SZ: {
        std::u16string list;
        while (!text.empty()) {
            const std::size_t cut = text.find(separator);
            list += text.substr(0, cut);
            list += u'\0';
            if (cut == std::u16string_view::npos)
                break;
            text.remove_prefix(cut + separator.size());
        }
        list += u'\0';
        return bytesOf(list);
    }
    case REG_DWORD:
    case REG_DWORD_BIG_ENDIAN: {
        const auto number = text.empty() ? 0ull : parseNumber(text, 0xFFFFFFFFull);
        if (!number)
            return std::nullopt;
        DWORD value = static_cast<DWORD>(*number);
        if (type == REG_DWORD_BIG_ENDIAN)
            value = __builtin_bswap32(value);
        std::vector<BYTE> data(4);
        std::memcpy(data.data(), &value, 4);
        return data;
    }
    case REG_QWORD: {
        const auto number = text.empty() ? 0ull : parseNumber(text, ~0ull);
        if (!number)
            return std::nullopt;
        std::vector<BYTE> data(8);
        std::memcpy(data.data(), &*number, 8);
        return data;
    }
    default: {
        if (text.size() % 2 != 0)
            return std::nullopt;
        std::vector<BYTE> data;
        for (std::size_t i = 0; i < text.size(); i += 2) {
            const auto byte = parseNumber(u"0x" + std::u16string(text.substr(i, 2)), 0xFF);
            if (!byte)
                return std::nullopt;
            data.push_back(static_cast<BYTE>(*byte));
        }
        return data;
    }
    }
}

} // namespace reg
