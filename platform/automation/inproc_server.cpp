// In-process activation: CLSID\{...}\InprocServer32 names a module (a Windows path) that exports
// DllGetClassObject. Modules stay loaded for the life of the process, so that objects and class
// objects they handed out never outlive their code.
#include <map>
#include <mutex>

#include "class_registry.h"
#include "servers.h"
#include "sky/text.h"
#include "win/lasterror.h"
#include "win/module.h"

namespace sky::automation {

namespace {

struct LoadedModules {
    std::mutex mutex;
    // By upper-cased path: the same module named in two letter cases is loaded once.
    std::map<std::u16string, LPFNGETCLASSOBJECT> entries;
};

LoadedModules& loadedModules() {
    static LoadedModules* modules = new LoadedModules; // outlives every object it served
    return *modules;
}

// The DllGetClassObject of the module at `path`, loading the module the first time.
HRESULT classObjectEntry(const std::u16string& path, LPFNGETCLASSOBJECT& entry) {
    LoadedModules& modules = loadedModules();
    std::lock_guard lock(modules.mutex);
    const std::u16string name = sky::upper(path);
    if (auto found = modules.entries.find(name); found != modules.entries.end()) {
        entry = found->second;
        return S_OK;
    }
    HMODULE module = LoadLibraryW(path.c_str());
    if (!module) {
        const DWORD error = GetLastError();
        return error ? HRESULT_FROM_WIN32(error) : CO_E_DLLNOTFOUND;
    }
    FARPROC export_ = GetProcAddress(module, "DllGetClassObject");
    if (!export_) {
        FreeLibrary(module);
        return CO_E_ERRORINDLL;
    }
    // Through void (*)(): the generic function pointer type, as exports are cast on Windows.
    entry = reinterpret_cast<LPFNGETCLASSOBJECT>(reinterpret_cast<void (*)()>(export_));
    modules.entries.emplace(name, entry);
    return S_OK;
}

} // namespace

HRESULT getInprocClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
    const auto path = readClassesString(classKey(clsid) + u"\\InprocServer32");
    if (!path || path->empty())
        return REGDB_E_CLASSNOTREG;
    LPFNGETCLASSOBJECT entry = nullptr;
    if (HRESULT hr = classObjectEntry(*path, entry); FAILED(hr))
        return hr;
    return entry(clsid, riid, ppv);
}

} // namespace sky::automation
