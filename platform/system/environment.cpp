// Environment variables: the host environment (so that children inherit every change) with
// Windows' case-insensitive names.
#include "win/environment.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "buffer_rules.h"
#include "environment_block.h"
#include "sky/text.h"
#include "win/errors.h"
#include "win/lasterror.h"

extern char** environ;

namespace sky {

namespace {

// Longest value a variable may hold, in UTF-16 code units.
constexpr std::size_t maximumValue = 32767;

std::mutex& environmentMutex() {
    static auto* instance = new std::mutex;
    return *instance;
}

std::string_view nameOf(std::string_view entry) {
    return entry.substr(0, entry.find('='));
}

// Whether two host names are one Windows name. ASCII names, the usual case, need no conversion.
bool sameName(std::string_view a, std::string_view b) {
    const auto isAscii = [](std::string_view s) {
        return std::all_of(s.begin(), s.end(), [](char c) { return (c & 0x80) == 0; });
    };
    if (!isAscii(a) || !isAscii(b))
        return equalNoCase(widen(a), widen(b));
    const auto upper = [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; };
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [&](char x, char y) { return upper(x) == upper(y); });
}

// The host entry of a Windows name: the exact spelling if present, else the first entry whose
// name matches ignoring case. Call with the environment lock held.
const char* findHostEntry(std::string_view name) {
    const char* match = nullptr;
    for (char** entry = environ; entry && *entry; ++entry) {
        const std::string_view hostName = nameOf(*entry);
        if (hostName == name)
            return *entry;
        if (!match && sameName(hostName, name))
            match = *entry;
    }
    return match;
}

// Every host spelling of a Windows name. Call with the environment lock held.
std::vector<std::string> hostSpellings(std::string_view name) {
    std::vector<std::string> spellings;
    for (char** entry = environ; entry && *entry; ++entry)
        if (sameName(nameOf(*entry), name))
            spellings.emplace_back(nameOf(*entry));
    return spellings;
}

std::optional<std::u16string> readVariable(std::string_view name) {
    std::lock_guard lock(environmentMutex());
    const char* entry = findHostEntry(name);
    if (!entry)
        return std::nullopt;
    return widen(std::strchr(entry, '=') + 1);
}

} // namespace

std::vector<std::string> environmentEntries() {
    std::lock_guard lock(environmentMutex());
    std::vector<std::string> entries;
    for (char** entry = environ; entry && *entry; ++entry)
        entries.emplace_back(*entry);
    return entries;
}

const std::string* findEntry(const std::vector<std::string>& entries, const std::string& name) {
    const std::string* match = nullptr;
    for (const std::string& entry : entries) {
        const std::string_view entryName = nameOf(entry);
        if (entryName == name)
            return &entry;
        if (!match && sameName(entryName, name))
            match = &entry;
    }
    return match;
}

void setEntry(std::vector<std::string>& entries, const std::string& name,
              const std::string& value) {
    bool placed = false;
    for (auto it = entries.begin(); it != entries.end();) {
        const std::string_view entryName = nameOf(*it);
        if (!sameName(entryName, name)) {
            ++it;
        } else if (!placed) {
            *it = std::string(entryName) + "=" + value;
            placed = true;
            ++it;
        } else {
            it = entries.erase(it);
        }
    }
    if (!placed)
        entries.push_back(name + "=" + value);
}

} // namespace sky

extern "C" DWORD WINAPI GetEnvironmentVariableW(LPCWSTR lpName, LPWSTR lpBuffer, DWORD nSize) {
    if (!lpName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const auto value = sky::readVariable(sky::narrow(lpName));
    if (!value) {
        SetLastError(ERROR_ENVVAR_NOT_FOUND);
        return 0;
    }
    const DWORD result = sky::copyToBuffer(*value, lpBuffer, nSize);
    if (result == 0)
        SetLastError(ERROR_SUCCESS);
    return result;
}

extern "C" BOOL WINAPI SetEnvironmentVariableW(LPCWSTR lpName, LPCWSTR lpValue) {
    if (!lpName || !*lpName || sky::length(lpValue) > sky::maximumValue) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const std::string name = sky::narrow(lpName);
    if (name.find('=') != std::string::npos) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::lock_guard lock(sky::environmentMutex());
    const std::vector<std::string> spellings = sky::hostSpellings(name);
    if (!lpValue) {
        for (const std::string& spelling : spellings)
            unsetenv(spelling.c_str());
        return TRUE;
    }
    // The variable keeps its host spelling (a Windows program setting "Path" changes the PATH
    // that host programs read); other spellings of the same name go, so that it stays one.
    std::string hostName = name;
    if (const char* entry = sky::findHostEntry(name))
        hostName = std::string(sky::nameOf(entry));
    for (const std::string& spelling : spellings)
        if (spelling != hostName)
            unsetenv(spelling.c_str());
    if (setenv(hostName.c_str(), sky::narrow(lpValue).c_str(), 1) != 0) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    return TRUE;
}

extern "C" DWORD WINAPI ExpandEnvironmentStringsW(LPCWSTR lpSrc, LPWSTR lpDst, DWORD nSize) {
    if (!lpSrc) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const std::u16string_view source(lpSrc, sky::length(lpSrc));
    std::u16string out;
    std::size_t i = 0;
    while (i < source.size()) {
        const std::size_t open = source.find(u'%', i);
        if (open == std::u16string_view::npos) {
            out.append(source.substr(i));
            break;
        }
        out.append(source.substr(i, open - i));
        const std::size_t close = source.find(u'%', open + 1);
        if (close == std::u16string_view::npos) {
            out.append(source.substr(open));
            break;
        }
        const std::u16string_view name = source.substr(open + 1, close - open - 1);
        const auto value = name.empty() ? std::nullopt : sky::readVariable(sky::narrow(name));
        if (value) {
            out.append(*value);
            i = close + 1;
        } else {
            // Not a variable: keep "%name" and let the second '%' start the next reference.
            out.append(source.substr(open, close - open));
            i = close;
        }
    }
    const DWORD needed = static_cast<DWORD>(out.size() + 1);
    if (lpDst && nSize >= needed)
        std::memcpy(lpDst, out.c_str(), needed * sizeof(WCHAR));
    return needed;
}
