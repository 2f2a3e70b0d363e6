// FindResourceW, FindResourceExW, LoadResource, LockResource, SizeofResource, FreeResource and
// EnumResourceNamesW over the resource directory of a module, a data file or the program.
#include "resource_lookup.h"

#include <initializer_list>

#include "module_table.h"
#include "win/errors.h"
#include "win/lasterror.h"
#include "win/module.h"

using sky::module::ModulePtr;
using sky::module::Table;
using sky::resources::Directory;
using sky::resources::Entry;
using sky::resources::ResourceId;

namespace {

constexpr WORD langId(WORD primary, WORD sublanguage) {
    return static_cast<WORD>(MAKELANGID(primary, sublanguage));
}

constexpr WORD kNeutral = langId(LANG_NEUTRAL, SUBLANG_NEUTRAL);

const Entry* withLanguage(std::span<const Entry> entries, WORD language) {
    for (const Entry& e : entries) {
        if (e.language == language)
            return &e;
    }
    return nullptr;
}

const Entry* firstOf(std::span<const Entry> entries, std::initializer_list<WORD> languages) {
    for (const WORD language : languages) {
        if (const Entry* e = withLanguage(entries, language))
            return e;
    }
    return nullptr;
}

// Any language of the same primary language, the lowest first.
const Entry* withPrimary(std::span<const Entry> entries, WORD primary) {
    for (const Entry& e : entries) {
        if (PRIMARYLANGID(e.language) == primary)
            return &e;
    }
    return nullptr;
}

// The resources of the module behind `handle`, with the last error set when there are none.
const Directory* directoryOf(HMODULE handle, ModulePtr& module) {
    module = Table::instance().find(handle);
    if (!module) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    DWORD error = 0;
    const Directory* directory = module->resources(error);
    if (!directory)
        SetLastError(error);
    return directory;
}

// The entry behind a resource handle, when it belongs to `directory`.
const Entry* entryOf(const Directory& directory, HRSRC resource) {
    const auto* entry = reinterpret_cast<const Entry*>(resource);
    const std::vector<Entry>& entries = directory.entries();
    if (entries.empty() || entry < entries.data() || entry >= entries.data() + entries.size())
        return nullptr;
    return entry;
}

const Entry* resourceOf(HMODULE hModule, HRSRC hResInfo) {
    ModulePtr module;
    const Directory* directory = directoryOf(hModule, module);
    if (!directory)
        return nullptr;
    const Entry* entry = entryOf(*directory, hResInfo);
    if (!entry)
        SetLastError(ERROR_INVALID_HANDLE);
    return entry;
}

} // namespace

namespace sky::module {

const Entry* chooseLanguage(std::span<const Entry> entries, WORD language) {
    if (language != kNeutral) {
        const WORD primary = PRIMARYLANGID(language);
        if (const Entry* e = firstOf(entries, {language, langId(primary, SUBLANG_NEUTRAL),
                                               langId(primary, SUBLANG_DEFAULT)}))
            return e;
        if (const Entry* e = withPrimary(entries, primary))
            return e;
        return firstOf(entries, {kNeutral, langId(LANG_NEUTRAL, SUBLANG_DEFAULT),
                                 langId(LANG_NEUTRAL, SUBLANG_SYS_DEFAULT), LANG_INVARIANT});
    }
    if (const Entry* e = firstOf(entries, {kNeutral, langId(LANG_NEUTRAL, SUBLANG_DEFAULT),
                                           langId(LANG_NEUTRAL, SUBLANG_SYS_DEFAULT),
                                           langId(LANG_ENGLISH, SUBLANG_ENGLISH_US)}))
        return e;
    if (const Entry* e = withPrimary(entries, LANG_ENGLISH))
        return e;
    return entries.empty() ? nullptr : &entries.front();
}

const Entry* findResource(HMODULE hModule, const ResourceId& type, const ResourceId& name,
                          WORD language) {
    ModulePtr module;
    const Directory* directory = directoryOf(hModule, module);
    if (!directory)
        return nullptr;
    if (directory->entries().empty()) {
        SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
        return nullptr;
    }
    if (!directory->hasType(type)) {
        SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
        return nullptr;
    }
    const std::span<const Entry> named = directory->find(type, name);
    if (named.empty()) {
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return nullptr;
    }
    const Entry* entry = chooseLanguage(named, language);
    if (!entry)
        SetLastError(ERROR_RESOURCE_LANG_NOT_FOUND);
    return entry;
}

} // namespace sky::module

extern "C" HRSRC WINAPI FindResourceW(HMODULE hModule, LPCWSTR lpName, LPCWSTR lpType) {
    return FindResourceExW(hModule, lpType, lpName, kNeutral);
}

extern "C" HRSRC WINAPI FindResourceExW(HMODULE hModule, LPCWSTR lpType, LPCWSTR lpName,
                                        WORD wLanguage) {
    const Entry* entry = sky::module::findResource(hModule, ResourceId::fromWin(lpType),
                                                   ResourceId::fromWin(lpName), wLanguage);
    return reinterpret_cast<HRSRC>(const_cast<Entry*>(entry));
}

extern "C" HGLOBAL WINAPI LoadResource(HMODULE hModule, HRSRC hResInfo) {
    const Entry* entry = resourceOf(hModule, hResInfo);
    return entry ? const_cast<BYTE*>(entry->data.data()) : nullptr;
}

extern "C" LPVOID WINAPI LockResource(HGLOBAL hResData) {
    return hResData; // resources stay where they were read, for as long as the module is loaded
}

extern "C" DWORD WINAPI SizeofResource(HMODULE hModule, HRSRC hResInfo) {
    const Entry* entry = resourceOf(hModule, hResInfo);
    return entry ? static_cast<DWORD>(entry->data.size()) : 0;
}

extern "C" BOOL WINAPI FreeResource(HGLOBAL) {
    return FALSE; // nothing to free: the data belongs to the module
}

extern "C" BOOL WINAPI EnumResourceNamesW(HMODULE hModule, LPCWSTR lpType,
                                          ENUMRESNAMEPROCW lpEnumFunc, LONG_PTR lParam) {
    ModulePtr module;
    const Directory* directory = directoryOf(hModule, module);
    if (!directory)
        return FALSE;
    if (!lpEnumFunc) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const ResourceId type = ResourceId::fromWin(lpType);
    if (!directory->hasType(type)) {
        SetLastError(directory->entries().empty() ? ERROR_RESOURCE_DATA_NOT_FOUND
                                                  : ERROR_RESOURCE_TYPE_NOT_FOUND);
        return FALSE;
    }
    const ResourceId* previous = nullptr;
    for (const Entry& e : directory->entries()) {
        if (e.type != type || (previous && *previous == e.name))
            continue;
        previous = &e.name;
        LPWSTR name = e.name.isId() ? MAKEINTRESOURCEW(e.name.id())
                                    : const_cast<LPWSTR>(e.name.name().c_str());
        if (!lpEnumFunc(module->handle(), lpType, name, lParam)) {
            SetLastError(ERROR_RESOURCE_ENUM_USER_STOP);
            return FALSE;
        }
    }
    return TRUE;
}
