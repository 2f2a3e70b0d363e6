// The module's entries as the programs that load it call them: class factories for in-process
// activation, the in-process registration, and QVComInitialize / QVComUninitialize as the QVCom
// service calls them.
#include <stdexcept>
#include <string>

#include <windows.h>

#include "qvcomsrv.h"
#include "qvcomsrv/store/machine_farms.h"
#include "results.h"
#include "sky/dispatch.h"
#include "sky/text.h"
#include "testing/module_test_support.h"

namespace qvcomsrv::testing {
namespace {

using sky::ComPtr;

using GetClassObjectProc = HRESULT(WINAPI*)(REFCLSID, REFIID, LPVOID*);
using CanUnloadNowProc = HRESULT(WINAPI*)();

// An entry of the built module; a module or entry that is missing ends the test as a failure
// (the exception), not as a call through a null pointer.
template <typename Proc> Proc entry(const char* name) {
    const HMODULE module = LoadLibraryW(modulePath().c_str());
    if (!module)
        throw std::runtime_error("the object model module cannot be loaded: error " +
                                 std::to_string(GetLastError()));
    const FARPROC address = GetProcAddress(module, name);
    if (!address)
        throw std::runtime_error(std::string("the module has no entry ") + name);
    return reinterpret_cast<Proc>(reinterpret_cast<void (*)()>(address));
}

std::u16string registryText(const std::u16string& key, const char16_t* name = nullptr) {
    WCHAR buffer[512] = {};
    DWORD size = sizeof buffer;
    HKEY handle = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS)
        return u"(missing)";
    const LSTATUS status =
        RegQueryValueExW(handle, name, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &size);
    RegCloseKey(handle);
    return status == ERROR_SUCCESS ? std::u16string(buffer) : u"(no value)";
}

std::u16string clsidText(const CLSID& clsid) {
    WCHAR text[40] = {};
    StringFromGUID2(clsid, text, 40);
    return text;
}

class EntriesTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))); }
    void TearDown() override { CoUninitialize(); }
};

TEST_F(EntriesTest, ClassFactoriesServeTheCreatableClassesOnly) {
    const auto getClassObject = entry<GetClassObjectProc>("DllGetClassObject");
    ASSERT_NE(getClassObject, nullptr);
    const CLSID* classes[] = {
        &CLSID_SkyloomFarm,          &CLSID_SkyloomServer, &CLSID_SkyloomApplication,
        &CLSID_SkyloomAppSrvBinding, &CLSID_SkyloomFolder, &CLSID_SkyloomCredential,
        &CLSID_SkyloomUser,          &CLSID_SkyloomGroup,  &CLSID_SkyloomZone};
    for (const CLSID* clsid : classes) {
        ComPtr<IClassFactory> factory;
        ASSERT_EQ(getClassObject(*clsid, IID_IClassFactory, factory.putVoid()), S_OK);
        ComPtr<IDispatch> object;
        EXPECT_EQ(factory->CreateInstance(nullptr, IID_IDispatch, object.putVoid()), S_OK);
        ComPtr<IUnknown> outer, aggregated;
        ASSERT_EQ(factory->QueryInterface(IID_IUnknown, outer.putVoid()), S_OK);
        EXPECT_EQ(factory->CreateInstance(outer.get(), IID_IUnknown, aggregated.putVoid()),
                  CLASS_E_NOAGGREGATION);
    }
    ComPtr<IClassFactory> none;
    EXPECT_EQ(getClassObject(CLSID_SkyloomSession, IID_IClassFactory, none.putVoid()),
              CLASS_E_CLASSNOTAVAILABLE);
}

TEST_F(EntriesTest, CanUnloadOnlyWhenNoObjectIsAlive) {
    const auto canUnload = entry<CanUnloadNowProc>("DllCanUnloadNow");
    const auto getClassObject = entry<GetClassObjectProc>("DllGetClassObject");
    ASSERT_NE(canUnload, nullptr);
    EXPECT_EQ(canUnload(), S_OK);
    {
        ComPtr<IClassFactory> factory;
        ASSERT_EQ(getClassObject(CLSID_SkyloomCredential, IID_IClassFactory, factory.putVoid()),
                  S_OK);
        ComPtr<ISkyloomCredential> credential;
        ASSERT_EQ(factory->CreateInstance(nullptr, IID_ISkyloomCredential, credential.putVoid()),
                  S_OK);
        factory = nullptr;
        EXPECT_EQ(canUnload(), S_FALSE);
    }
    EXPECT_EQ(canUnload(), S_OK);
}

TEST_F(EntriesTest, RegistersAndUnregistersInProcess) {
    registerModule();
    const std::u16string clsid = clsidText(CLSID_SkyloomFarm);
    EXPECT_EQ(registryText(u"SkyloomCOM.SkyloomFarm\\CLSID"), clsid);
    EXPECT_EQ(registryText(u"SkyloomCOM.SkyloomFarm\\CurVer"), u"SkyloomCOM.SkyloomFarm.6");
    EXPECT_EQ(registryText(u"CLSID\\" + clsid + u"\\InprocServer32"), modulePath());
    EXPECT_EQ(registryText(u"CLSID\\" + clsid + u"\\ProgID"), u"SkyloomCOM.SkyloomFarm.6");
    EXPECT_EQ(registryText(u"CLSID\\" + clsid + u"\\VersionIndependentProgID"),
              u"SkyloomCOM.SkyloomFarm");
    EXPECT_EQ(registryText(u"CLSID\\" + clsidText(CLSID_SkyloomAppSrvBinding) + u"\\ProgID"),
              u"SkyloomCOM.SkyloomAppSrvBinding.2");

    // What qvcom registered for its service stays when the in-process registration goes.
    HKEY key = nullptr;
    const std::u16string serverKey =
        u"Software\\Classes\\CLSID\\" + clsidText(CLSID_SkyloomServer) + u"\\LocalServer32";
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, serverKey.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(key);
    const auto unregisterServer = entry<DllUnregisterServerProc>("DllUnregisterServer");
    ASSERT_EQ(unregisterServer(), S_OK) << failureText();
    EXPECT_EQ(registryText(u"SkyloomCOM.SkyloomFarm\\CLSID"), u"(missing)");
    EXPECT_EQ(registryText(u"CLSID\\" + clsid), u"(missing)");
    const std::u16string server = u"CLSID\\" + clsidText(CLSID_SkyloomServer);
    EXPECT_EQ(registryText(server + u"\\InprocServer32"), u"(missing)");
    EXPECT_EQ(registryText(server + u"\\ProgID"), u"SkyloomCOM.SkyloomServer.5");
}

TEST_F(EntriesTest, ServiceEntriesRegisterClassObjectsAndHandBackAStopEvent) {
    installFarm(sampleFarm());
    const auto initialize = entry<QVComInitializeProc>("QVComInitialize");
    const auto uninitialize = entry<QVComUninitializeProc>("QVComUninitialize");
    ASSERT_NE(initialize, nullptr);
    ASSERT_NE(uninitialize, nullptr);

    OSVERSIONINFOW version{};
    version.dwOSVersionInfoSize = sizeof version;
    HANDLE stop = nullptr;
    ASSERT_EQ(initialize(&version, nullptr, &stop), S_OK) << failureText();
    ASSERT_NE(stop, nullptr);
    EXPECT_EQ(WaitForSingleObject(stop, 0), DWORD(WAIT_TIMEOUT));

    // The classes are served to activation as a local server's are, without any registry entry.
    ComPtr<ISkyloomFarm6> farm;
    ASSERT_EQ(CoCreateInstance(CLSID_SkyloomFarm, nullptr, CLSCTX_LOCAL_SERVER, IID_ISkyloomFarm6,
                               farm.putVoid()),
              S_OK);
    ASSERT_EQ(farm->Initialize(SkyloomWinFarmObject), S_OK) << failureText();
    EXPECT_EQ(initialize(&version, nullptr, &stop), E_UNEXPECTED) << "only once";

    // The service's control handler signals the event.
    ASSERT_TRUE(SetEvent(stop));
    EXPECT_EQ(WaitForSingleObject(stop, INFINITE), DWORD(WAIT_OBJECT_0));
    EXPECT_EQ(uninitialize(1), S_OK);
    ComPtr<ISkyloomFarm6> after;
    EXPECT_NE(CoCreateInstance(CLSID_SkyloomFarm, nullptr, CLSCTX_LOCAL_SERVER, IID_ISkyloomFarm6,
                               after.putVoid()),
              S_OK);
    // Objects made before stay usable; a second start works again.
    sky::Bstr name;
    EXPECT_EQ(farm->get_FarmName(name.put()), S_OK);
    EXPECT_EQ(uninitialize(1), S_OK) << "a second uninitialize does nothing";
    ASSERT_EQ(initialize(&version, nullptr, &stop), S_OK);
    EXPECT_EQ(uninitialize(1), S_OK);
}

// A program that previews its work points the module at a copy of the farm for its own process:
// the module's objects there serve the copy, the machine's record is not touched, and clearing
// the choice serves the machine's farm again.
TEST_F(EntriesTest, UseFarmStoreServesAnotherStoreInThisProcessOnly) {
    installFarm(sampleFarm());
    const auto served = sky::farm::machineFarmStore();
    ASSERT_TRUE(served);
    const sky::farm::StoreLocation other = sky::farm::farmStoreOnMachine("Elsewhere");
    auto elsewhere = sky::farm::createFarmStore(other, sky::farm::FarmInfo{"Elsewhere"});
    ASSERT_TRUE(elsewhere);
    // The object model serves a farm only to its administrators.
    ASSERT_TRUE((*elsewhere)->addAdministrator(sky::farm::processActor().user));
    elsewhere->reset();
    registerModule();
    const auto useStore = entry<QVComUseFarmStoreProc>("QVComUseFarmStore");
    const auto farmName = [] {
        auto farm = sky::createObject<ISkyloomFarm>(u"SkyloomCOM.SkyloomFarm");
        EXPECT_EQ(farm->Initialize(SkyloomWinFarmObject), S_OK) << failureText();
        sky::Bstr name;
        EXPECT_EQ(farm->get_FarmName(name.put()), S_OK);
        return sky::narrow(name.str());
    };
    const std::string machineFarm = farmName();

    const std::u16string type = sky::widen(other.type);
    const std::u16string path = sky::widen(other.path);
    ASSERT_EQ(useStore(type.c_str(), path.c_str()), S_OK);
    EXPECT_EQ(farmName(), "Elsewhere");
    EXPECT_EQ(*sky::farm::machineFarmStore(), *served) << "the machine's record was changed";
    EXPECT_EQ(useStore(nullptr, path.c_str()), E_INVALIDARG);
    EXPECT_EQ(farmName(), "Elsewhere");

    ASSERT_EQ(useStore(nullptr, nullptr), S_OK);
    EXPECT_EQ(farmName(), machineFarm);
    EXPECT_NE(machineFarm, "Elsewhere");
}

} // namespace
} // namespace qvcomsrv::testing
