// LoadLibraryW, LoadLibraryExW, FreeLibrary and GetProcAddress over the dynamic loader.
#include <dlfcn.h>
#include <link.h>

#include <string_view>

#include "library_search.h"
#include "module_table.h"
#include "sky/elf_file.h"
#include "sky/text.h"
#include "win/errors.h"
#include "win/lasterror.h"
#include "win/module.h"

namespace fs = std::filesystem;
using sky::module::Kind;
using sky::module::ModulePtr;
using sky::module::Table;

namespace {

// Loads that map a module for its resources only. DONT_RESOLVE_DLL_REFERENCES promises that none
// of the module's code runs; the dynamic loader cannot map code without running its
// constructors, so such a load serves the module's resources only, like an image mapping.
constexpr DWORD kResourceOnlyFlags = LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_DATAFILE_EXCLUSIVE |
                                     LOAD_LIBRARY_AS_IMAGE_RESOURCE | DONT_RESOLVE_DLL_REFERENCES;
// LOAD_WITH_ALTERED_SEARCH_PATH changes where Windows looks for the modules a module needs; here
// the dynamic loader finds those through the module's own run path, so it changes nothing.
constexpr DWORD kKnownFlags = kResourceOnlyFlags | LOAD_WITH_ALTERED_SEARCH_PATH;

// The Win32 error for a dynamic-loader failure on `file`, which exists and is an ELF object.
DWORD errorFromLoader(const char* message, const fs::path& file) {
    std::string_view text = message ? message : "";
    if (text.starts_with(file.native()))
        text.remove_prefix(file.native().size()); // the path may hold any word
    const auto says = [&text](std::string_view what) {
        return text.find(what) != std::string_view::npos;
    };
    if (says("cannot open shared object file"))
        return ERROR_MOD_NOT_FOUND; // a module it needs is missing
    if (says("cannot dynamically load") || says("ELF") || says("file too short") ||
        says("wrong ELF class"))
        return ERROR_BAD_EXE_FORMAT;
    return ERROR_DLL_INIT_FAILED; // unresolved symbols and everything else the loader refuses
}

// Sets the thread's last error and returns no module.
HMODULE nullWithLastError(DWORD error) {
    SetLastError(error);
    return nullptr;
}

HMODULE loadImage(const fs::path& file) {
    switch (sky::elf::checkFile(file)) {
    case sky::elf::Status::Ok:
        break;
    case sky::elf::Status::CannotOpen:
        return nullWithLastError(ERROR_MOD_NOT_FOUND);
    default:
        return nullWithLastError(ERROR_BAD_EXE_FORMAT);
    }
    dlerror();
    void* library = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!library)
        return nullWithLastError(errorFromLoader(dlerror(), file));
    const ModulePtr module = Table::instance().addImage(library, file);
    module->readResources(); // resources as of load time; FindResourceW reports a failure
    return module->handle();
}

HMODULE loadResourcesOnly(const fs::path& file, Kind kind) {
    const ModulePtr module = Table::instance().addResourceOnly(kind, file);
    const sky::resources::ReadStatus status = module->readResources();
    if (status == sky::resources::ReadStatus::Ok)
        return module->handle();
    // Not an ELF file, or a damaged section table or resource section: not a usable module.
    void* none = nullptr;
    Table::instance().release(module->handle(), none);
    return nullWithLastError(status == sky::resources::ReadStatus::CannotOpen
                                 ? ERROR_MOD_NOT_FOUND
                                 : ERROR_BAD_EXE_FORMAT);
}

// The module's own definition of `symbol`, not one it merely sees through its dependencies.
bool definedBy(const ModulePtr& module, void* address) {
    Dl_info info{};
    void* extra = nullptr;
    link_map* own = nullptr;
    if (dlinfo(module->library(), RTLD_DI_LINKMAP, &own) != 0 ||
        !dladdr1(address, &info, &extra, RTLD_DL_LINKMAP))
        return false;
    return static_cast<link_map*>(extra) == own;
}

} // namespace

extern "C" HMODULE WINAPI LoadLibraryW(LPCWSTR lpLibFileName) {
    return LoadLibraryExW(lpLibFileName, nullptr, 0);
}

extern "C" HMODULE WINAPI LoadLibraryExW(LPCWSTR lpLibFileName, HANDLE hFile, DWORD dwFlags) {
    if (!lpLibFileName || !*lpLibFileName || hFile || (dwFlags & ~kKnownFlags))
        return nullWithLastError(ERROR_INVALID_PARAMETER);
    const std::u16string name =
        sky::module::withDefaultExtension({lpLibFileName, sky::length(lpLibFileName)});
    Table& table = Table::instance();

    // A bare name that a loaded module already answers to is that module, wherever it lies.
    if (!sky::module::hasPath(name)) {
        if (const ModulePtr loaded = table.findImageByName(name))
            return loadImage(loaded->file());
    }
    DWORD error = 0;
    const std::optional<fs::path> file = sky::module::locateLibrary(name, error);
    if (!file)
        return nullWithLastError(error);
    if (dwFlags & kResourceOnlyFlags) {
        // A module whose code is loaded already serves its resources through its own handle.
        if (table.findImageByFile(*file))
            return loadImage(*file);
        const bool dataFile =
            dwFlags & (LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_DATAFILE_EXCLUSIVE);
        return loadResourcesOnly(*file, dataFile && !(dwFlags & LOAD_LIBRARY_AS_IMAGE_RESOURCE)
                                            ? Kind::DataFile
                                            : Kind::ImageResource);
    }
    return loadImage(*file);
}

extern "C" BOOL WINAPI FreeLibrary(HMODULE hLibModule) {
    void* toClose = nullptr;
    if (!Table::instance().release(hLibModule, toClose)) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return FALSE;
    }
    if (toClose)
        dlclose(toClose);
    return TRUE;
}

extern "C" FARPROC WINAPI GetProcAddress(HMODULE hModule, LPCSTR lpProcName) {
    const ModulePtr module = Table::instance().find(hModule);
    if (!module || !module->runsCode()) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    if (!lpProcName || IS_INTRESOURCE(lpProcName)) {
        SetLastError(ERROR_PROC_NOT_FOUND); // exports have names only, no ordinals
        return nullptr;
    }
    void* address = dlsym(module->library(), lpProcName);
    if (!address || !definedBy(module, address)) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    return reinterpret_cast<FARPROC>(address);
}
