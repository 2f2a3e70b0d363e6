#include "module_registration.h"

#include <windows.h>

#include <filesystem>
#include <ostream>

#include "sky/com_error.h"
#include "sky/machine.h"
#include "sky/text.h"

namespace fs = std::filesystem;

namespace sky::qvfarm {

namespace {

using EntryProc = HRESULT(WINAPI*)();

// The module's Windows path, as the registry will name it.
std::u16string modulePath(const std::optional<std::string>& module) {
    if (!module)
        return machine::toWindowsPath(fs::read_symlink("/proc/self/exe").parent_path() /
                                      "qvcomsrv.dll");
    if (!module->empty() && module->front() == '/')
        return machine::toWindowsPath(fs::path(*module));
    return widen(*module);
}

// Loads the module and calls its entry `name` (DllRegisterServer or DllUnregisterServer).
int callEntry(const std::optional<std::string>& module, const char* name, const char* done,
              Streams io) {
    const std::u16string path = modulePath(module);
    const std::string shown = narrow(path);
    const auto host = machine::toHostPath(path);
    std::error_code ec;
    if (!host || !fs::is_regular_file(*host, ec)) {
        io.err << "qvfarm: there is no module " << shown << ".\n";
        return 1;
    }
    const HMODULE loaded = LoadLibraryW(path.c_str());
    if (!loaded) {
        io.err << "qvfarm: " << shown << " cannot be loaded (error " << GetLastError() << ").\n";
        return 1;
    }
    const auto entry =
        reinterpret_cast<EntryProc>(reinterpret_cast<void (*)()>(GetProcAddress(loaded, name)));
    if (!entry) {
        io.err << "qvfarm: " << shown << " is not the object model module: it has no " << name
               << ".\n";
        FreeLibrary(loaded);
        return 1;
    }
    const HRESULT result = entry();
    if (FAILED(result)) {
        io.err << "qvfarm: " << ComError(result).what() << "\n";
        return 1;
    }
    io.out << done << " " << shown << ".\n";
    return 0;
}

} // namespace

int registerModule(const std::optional<std::string>& module, Streams io) {
    return callEntry(module, "DllRegisterServer",
                     "Programs on this machine now create the SkyloomCOM classes in-process from",
                     io);
}

int unregisterModule(const std::optional<std::string>& module, Streams io) {
    return callEntry(module, "DllUnregisterServer",
                     "The SkyloomCOM classes are no longer registered in-process from", io);
}

} // namespace sky::qvfarm
