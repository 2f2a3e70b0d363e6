#include "definitions/scratch_farm.h"

#include "SkyloomCOM.h"
#include "definitions/file_system.h"
#include "qvcomsrv/qvcomsrv.h"
#include "qvcomsrv/store/machine_farms.h"
#include "sky/com_error.h"
#include "sky/machine.h"
#include "sky/registry.h"
#include "sky/text.h"

namespace brask {

namespace {

constexpr std::u16string_view kInstallKey =
    u"SOFTWARE\\Vantor\\Install\\{C05CE041-63DB-4467-B777-9FCB30013CA2}";
constexpr std::u16string_view kModuleFile = u"qvcomsrv.dll";

// The classes the module serves.
const CLSID* const kModuleClasses[] = {
    &CLSID_SkyloomFarm, &CLSID_SkyloomServer,        &CLSID_SkyloomApplication,
    &CLSID_SkyloomUser, &CLSID_SkyloomGroup,         &CLSID_SkyloomFolder,
    &CLSID_SkyloomZone, &CLSID_SkyloomAppSrvBinding, &CLSID_SkyloomCredential,
};

[[noreturn]] void fail(HRESULT result, const std::string& description) {
    throw sky::ComError(result, sky::widen(description));
}

template <class Proc> Proc entry(HMODULE module, const char* name) {
    FARPROC found = GetProcAddress(module, name);
    if (!found) {
        fail(HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND),
             std::string("The object model module has no entry ") + name + ".");
    }
    return reinterpret_cast<Proc>(reinterpret_cast<void (*)()>(found));
}

} // namespace

std::u16string objectModelModulePath() {
    WCHAR clsid[40];
    StringFromGUID2(CLSID_SkyloomFarm, clsid, 40);
    if (auto registered = sky::registry::readString(
            HKEY_CLASSES_ROOT, u"CLSID\\" + std::u16string(clsid) + u"\\InprocServer32", u"");
        registered && !registered->empty()) {
        return *registered;
    }
    std::u16string windows =
        sky::registry::readString(HKEY_LOCAL_MACHINE, kInstallKey, u"WindowsFolder")
            .value_or(u"C:\\WINDOWS\\");
    if (!windows.empty() && windows.back() != u'\\') {
        windows += u'\\';
    }
    return windows + u"System32\\" + std::u16string(kModuleFile);
}

ScratchFarm::ScratchFarm() {
    auto served = sky::farm::machineFarmStore();
    if (!served) {
        fail(E_FAIL, served.status().message());
    }
    farm_ = *served;
    const std::optional<std::filesystem::path> temporary =
        sky::machine::toHostPath(temporaryFolder());
    if (!temporary) {
        fail(E_FAIL, "The temporary folder " + sky::narrow(temporaryFolder()) +
                         " is not on a drive of this machine.");
    }
    auto copy = sky::farm::ScratchStore::copy(farm_, *temporary);
    if (!copy) {
        fail(E_FAIL, copy.status().message());
    }
    copy_ = std::move(*copy);

    const std::u16string modulePath = objectModelModulePath();
    module_ = LoadLibraryW(modulePath.c_str());
    if (!module_) {
        fail(HRESULT_FROM_WIN32(GetLastError()),
             "The object model module " + sky::narrow(modulePath) + " cannot be loaded.");
    }
    const auto useStore = entry<QVComUseFarmStoreProc>(module_, "QVComUseFarmStore");
    const auto getClassObject = entry<LPFNGETCLASSOBJECT>(module_, "DllGetClassObject");
    const std::u16string type = sky::widen(copyLocation().type);
    const std::u16string path = sky::widen(copyLocation().path);
    sky::check(useStore(type.c_str(), path.c_str()));
    for (const CLSID* clsid : kModuleClasses) {
        IUnknown* factory = nullptr;
        sky::check(getClassObject(*clsid, IID_IUnknown, reinterpret_cast<void**>(&factory)));
        DWORD cookie = 0;
        // For this process only: a class object registered for CLSCTX_LOCAL_SERVER would be
        // published to the whole machine, in place of the QVCom service's, and other programs
        // would then change the scratch copy (and find no class at all once this run ends).
        const HRESULT registered = CoRegisterClassObject(*clsid, factory, CLSCTX_INPROC_SERVER,
                                                         REGCLS_MULTIPLEUSE, &cookie);
        factory->Release();
        sky::check(registered);
        registrations_.push_back(cookie);
    }
}

ScratchFarm::~ScratchFarm() {
    for (DWORD cookie : registrations_) {
        CoRevokeClassObject(cookie);
    }
    if (module_) {
        if (const FARPROC found = GetProcAddress(module_, "QVComUseFarmStore")) {
            reinterpret_cast<QVComUseFarmStoreProc>(reinterpret_cast<void (*)()>(found))(nullptr,
                                                                                         nullptr);
        }
        // The module stays loaded: objects of it may outlive the run (error information, the
        // connections it keeps), as an in-process server stays until the process ends.
    }
}

} // namespace brask
