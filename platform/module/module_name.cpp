// GetModuleHandleW, GetModuleHandleExW and GetModuleFileNameW: from a name or an address to a
// module, and from a module to the Windows form of its path.
#include <dlfcn.h>
#include <link.h>

#include <algorithm>

#include "library_search.h"
#include "module_table.h"
#include "sky/machine.h"
#include "sky/text.h"
#include "win/errors.h"
#include "win/lasterror.h"
#include "win/module.h"

namespace fs = std::filesystem;
using sky::module::Kind;
using sky::module::ModulePtr;
using sky::module::Table;

namespace {

// Whether the program answers to `name`: its file name, or that name plus ".exe" when the file
// has no extension of its own (programs here carry none, on Windows they end in ".exe").
bool isProgramName(std::u16string_view name) {
    const fs::path file = sky::module::programFile();
    std::u16string own = sky::widen(file.filename().string());
    if (sky::equalNoCase(own, name))
        return true;
    return !file.has_extension() && sky::equalNoCase(own + u".exe", name);
}

// A module that the dynamic loader brought into the process on its own (a dependency of the
// program or of a module), adopted into the table so that it has a handle. It stays loaded.
ModulePtr adopt(const fs::path& file) {
    void* library = dlopen(file.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (!library)
        return nullptr;
    return Table::instance().addImage(library, file, true);
}

ModulePtr findLoadedObject(std::u16string_view name, bool byPath, const fs::path& file) {
    struct Search {
        std::u16string_view name;
        bool byPath;
        const fs::path& file;
        fs::path found;
    } search{name, byPath, file, {}};
    dl_iterate_phdr(
        [](dl_phdr_info* info, std::size_t, void* data) {
            auto* s = static_cast<Search*>(data);
            if (!info->dlpi_name || !*info->dlpi_name)
                return 0;
            const fs::path candidate(info->dlpi_name);
            const bool match =
                s->byPath ? sky::module::sameFile(candidate, s->file)
                          : sky::equalNoCase(sky::widen(candidate.filename().string()), s->name);
            if (match)
                s->found = candidate;
            return match ? 1 : 0;
        },
        &search);
    return search.found.empty() ? nullptr : adopt(search.found);
}

// The module a name refers to, without changing its reference count.
ModulePtr moduleByName(LPCWSTR moduleName) {
    Table& table = Table::instance();
    if (!moduleName)
        return table.program();
    const std::u16string name =
        sky::module::withDefaultExtension({moduleName, sky::length(moduleName)});
    if (sky::module::hasPath(name)) {
        const std::optional<fs::path> file = sky::machine::toHostPath(name);
        if (!file)
            return nullptr;
        if (sky::module::sameFile(*file, sky::module::programFile()))
            return table.program();
        if (ModulePtr module = table.findImageByFile(*file))
            return module;
        return findLoadedObject(name, true, *file);
    }
    if (isProgramName(name))
        return table.program();
    if (ModulePtr module = table.findImageByName(name))
        return module;
    return findLoadedObject(name, false, {});
}

ModulePtr moduleByAddress(const void* address) {
    Dl_info info{};
    void* extra = nullptr;
    if (!dladdr1(address, &info, &extra, RTLD_DL_LINKMAP))
        return nullptr;
    const auto* map = static_cast<const link_map*>(extra);
    Table& table = Table::instance();
    const ModulePtr program = table.program();
    link_map* programMap = nullptr;
    if (dlinfo(program->library(), RTLD_DI_LINKMAP, &programMap) == 0 && programMap == map)
        return program;
    if (!map->l_name || !*map->l_name)
        return nullptr;
    if (ModulePtr module = table.findImageByFile(map->l_name))
        return module;
    return adopt(map->l_name);
}

} // namespace

extern "C" HMODULE WINAPI GetModuleHandleW(LPCWSTR lpModuleName) {
    const ModulePtr module = moduleByName(lpModuleName);
    if (!module) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    return module->handle();
}

extern "C" BOOL WINAPI GetModuleHandleExW(DWORD dwFlags, LPCWSTR lpModuleName, HMODULE* phModule) {
    constexpr DWORD known = GET_MODULE_HANDLE_EX_FLAG_PIN |
                            GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT |
                            GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS;
    if (phModule)
        *phModule = nullptr;
    if (!phModule || (dwFlags & ~known) ||
        ((dwFlags & GET_MODULE_HANDLE_EX_FLAG_PIN) &&
         (dwFlags & GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT))) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const ModulePtr module = (dwFlags & GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS)
                                 ? moduleByAddress(lpModuleName)
                                 : moduleByName(lpModuleName);
    if (!module) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return FALSE;
    }
    if (dwFlags & GET_MODULE_HANDLE_EX_FLAG_PIN) {
        Table::instance().pin(module);
    } else if (!(dwFlags & GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT) &&
               module->kind() == Kind::Image) {
        // One more reference, to be dropped by FreeLibrary as for LoadLibraryW.
        if (void* library = dlopen(module->file().c_str(), RTLD_NOW | RTLD_NOLOAD))
            Table::instance().addImage(library, module->file());
    }
    *phModule = module->handle();
    return TRUE;
}

extern "C" DWORD WINAPI GetModuleFileNameW(HMODULE hModule, LPWSTR lpFilename, DWORD nSize) {
    const ModulePtr module = Table::instance().find(hModule);
    if (!module || !module->runsCode()) {
        SetLastError(ERROR_MOD_NOT_FOUND); // a data-file mapping is no loaded module
        return 0;
    }
    if (!lpFilename && nSize > 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const std::u16string path = sky::machine::toWindowsPath(module->file());
    if (nSize == 0) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    if (path.size() < nSize) {
        std::copy(path.begin(), path.end(), lpFilename);
        lpFilename[path.size()] = 0;
        return static_cast<DWORD>(path.size());
    }
    // Too short: as much as fits, still terminated, and the buffer's size as the result.
    std::copy_n(path.begin(), nSize - 1, lpFilename);
    lpFilename[nSize - 1] = 0;
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return nSize;
}
