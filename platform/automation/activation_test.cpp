#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <thread>

#include "sky/automation.h"
#include "sky/machine.h"
#include "sky/temp_machine.h"
#include "testdata/error_of.h"
#include "testdata/sample_object.h"
#include "win/registry.h"

namespace {

using sky::testclass::errorOf;

using sky::ComPtr;
using sky::testclass::CLSID_SampleObject;
using sky::testclass::SAMPLE_E_REFUSED;

constexpr char16_t sampleClsid[] = u"{5E7A1C01-3B2D-4C8E-9F10-A1B2C3D4E5F6}";
constexpr CLSID localClass{
    0x5E7A1C10, 0x3B2D, 0x4C8E, {0x9F, 0x10, 0xA1, 0xB2, 0xC3, 0xD4, 0xE5, 0xF6}};
constexpr char16_t localClsid[] = u"{5E7A1C10-3B2D-4C8E-9F10-A1B2C3D4E5F6}";
constexpr CLSID serviceClass{
    0x5E7A1C11, 0x3B2D, 0x4C8E, {0x9F, 0x10, 0xA1, 0xB2, 0xC3, 0xD4, 0xE5, 0xF6}};
constexpr char16_t serviceClsid[] = u"{5E7A1C11-3B2D-4C8E-9F10-A1B2C3D4E5F6}";
constexpr CLSID strayClass{
    0x5E7A1C12, 0x3B2D, 0x4C8E, {0x9F, 0x10, 0xA1, 0xB2, 0xC3, 0xD4, 0xE5, 0xF6}};
constexpr char16_t strayClsid[] = u"{5E7A1C12-3B2D-4C8E-9F10-A1B2C3D4E5F6}";
constexpr CLSID unregisteredClass{0x5E7A1CFF, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};

// Writes a string value under HKEY_LOCAL_MACHINE\Software\Classes, which HKEY_CLASSES_ROOT shows.
void setClassesValue(const std::u16string& subkey, const WCHAR* name, const std::u16string& value) {
    const std::u16string path = u"Software\\Classes\\" + subkey;
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &key, nullptr),
              ERROR_SUCCESS)
        << sky::narrow(path);
    EXPECT_EQ(RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                             static_cast<DWORD>((value.size() + 1) * sizeof(WCHAR))),
              ERROR_SUCCESS);
    RegCloseKey(key);
}

std::u16string modulePath(const char* fileName) {
    return sky::machine::toWindowsPath(sky::testing::buildBin() / fileName);
}

class Activation : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
        // The sample class as an installer registers an in-process server.
        setClassesValue(u"SkyTest.Sample", nullptr, u"Sample object");
        setClassesValue(u"SkyTest.Sample\\CLSID", nullptr, sampleClsid);
        setClassesValue(u"SkyTest.Sample\\CurVer", nullptr, u"SkyTest.Sample.1");
        setClassesValue(u"SkyTest.Sample.1\\CLSID", nullptr, sampleClsid);
        setClassesValue(u"CLSID\\" + std::u16string(sampleClsid), nullptr, u"Sample object");
        setClassesValue(u"CLSID\\" + std::u16string(sampleClsid) + u"\\InprocServer32", nullptr,
                        modulePath("testmodules/skytestclass.dll"));
        setClassesValue(u"CLSID\\" + std::u16string(sampleClsid) + u"\\ProgID", nullptr,
                        u"SkyTest.Sample.1");
    }
    void TearDown() override { CoUninitialize(); }
};

TEST_F(Activation, CreatesByProgIdInAnyLetterCase) {
    for (const char16_t* progId :
         {u"SkyTest.Sample", u"skytest.sample", u"SKYTEST.SAMPLE", u"sKyTeSt.SaMpLe"}) {
        CLSID clsid{};
        ASSERT_EQ(CLSIDFromProgID(progId, &clsid), S_OK) << sky::narrow(progId);
        EXPECT_TRUE(IsEqualCLSID(clsid, CLSID_SampleObject));
        auto sample = sky::createObject<ISampleObject>(progId);
        LONG sum = 0;
        ASSERT_EQ(sample->Add(40, 2, &sum), S_OK);
        EXPECT_EQ(sum, 42);
        EXPECT_EQ(sky::getProperty(sample.get(), u"Name").toString(), u"sample");
    }
    CLSID clsid{};
    EXPECT_EQ(CLSIDFromString(u"skytest.SAMPLE", &clsid), S_OK);
    EXPECT_TRUE(IsEqualCLSID(clsid, CLSID_SampleObject));
}

TEST_F(Activation, ProgIdsOfEveryScriptMatchInAnyLetterCase) {
    setClassesValue(u"SkyTest.\u03a9mega\u0414\u043e\u043c\\CLSID", nullptr, sampleClsid);
    for (const char16_t* progId :
         {u"SkyTest.\u03a9mega\u0414\u043e\u043c", u"SKYTEST.\u03a9MEGA\u0414\u041e\u041c",
          u"skytest.\u03c9mega\u0434\u043e\u043c"}) {
        CLSID clsid{};
        EXPECT_EQ(CLSIDFromProgID(progId, &clsid), S_OK) << sky::narrow(progId);
        EXPECT_TRUE(IsEqualCLSID(clsid, CLSID_SampleObject)) << sky::narrow(progId);
    }
    CLSID clsid{};
    EXPECT_EQ(CLSIDFromProgID(u"SkyTest.\u03a9m\u00e9ga\u0414\u043e\u043c", &clsid),
              CO_E_CLASSSTRING)
        << "an accent makes another identifier";
}

TEST_F(Activation, ErrorInformationCrossesTheModule) {
    auto sample = sky::createObject<ISampleObject>(u"SkyTest.Sample");
    {
        const auto e =
            errorOf([&] { sky::callMethod(sample.get(), u"Fail", u"Refused by the module."); });
        ASSERT_TRUE(e);
        EXPECT_EQ(e->result(), SAMPLE_E_REFUSED);
        EXPECT_EQ(e->description(), u"Refused by the module.");
    }
    ComPtr<IErrorInfo> left;
    EXPECT_EQ(GetErrorInfo(0, left.put()), S_FALSE);
}

TEST_F(Activation, UnknownProgIdsAreInvalidClassStrings) {
    CLSID clsid = CLSID_SampleObject;
    EXPECT_EQ(CLSIDFromProgID(u"SkyTest.Missing", &clsid), CO_E_CLASSSTRING);
    EXPECT_TRUE(IsEqualCLSID(clsid, CLSID_NULL));
    EXPECT_EQ(CLSIDFromProgID(u"", &clsid), CO_E_CLASSSTRING);
    EXPECT_EQ(CLSIDFromProgID(u"CLSID", &clsid), CO_E_CLASSSTRING);
    EXPECT_EQ(CLSIDFromProgID(u"SkyTest.Sample\\CLSID", &clsid), CO_E_CLASSSTRING);
    EXPECT_EQ(CLSIDFromProgID(nullptr, &clsid), E_INVALIDARG);
    EXPECT_EQ(CLSIDFromString(u"SkyTest.Missing", &clsid), CO_E_CLASSSTRING);
    setClassesValue(u"SkyTest.Broken\\CLSID", nullptr, u"not a class");
    EXPECT_EQ(CLSIDFromProgID(u"SkyTest.Broken", &clsid), CO_E_CLASSSTRING);
    {
        const auto e = errorOf([&] { sky::createObject(u"SkyTest.Missing"); });
        ASSERT_TRUE(e);
        EXPECT_EQ(e->result(), CO_E_CLASSSTRING);
        EXPECT_EQ(e->description(), u"Invalid class string");
    }
}

TEST_F(Activation, CurrentVersionIsFollowed) {
    // Only CurVer names the class.
    setClassesValue(u"SkyTest.Versioned\\CurVer", nullptr, u"SkyTest.Versioned.2");
    setClassesValue(u"SkyTest.Versioned.2\\CLSID", nullptr, sampleClsid);
    CLSID clsid{};
    ASSERT_EQ(CLSIDFromProgID(u"skytest.versioned", &clsid), S_OK);
    EXPECT_TRUE(IsEqualCLSID(clsid, CLSID_SampleObject));

    // Both: the current version wins over the ProgID's own CLSID.
    setClassesValue(u"SkyTest.Versioned\\CLSID", nullptr, localClsid);
    ASSERT_EQ(CLSIDFromProgID(u"SkyTest.Versioned", &clsid), S_OK);
    EXPECT_TRUE(IsEqualCLSID(clsid, CLSID_SampleObject));

    // A CurVer that leads nowhere, or round in a circle, falls back on the CLSID.
    setClassesValue(u"SkyTest.Loop\\CurVer", nullptr, u"SkyTest.Loop.2");
    setClassesValue(u"SkyTest.Loop.2\\CurVer", nullptr, u"SKYTEST.LOOP");
    setClassesValue(u"SkyTest.Loop\\CLSID", nullptr, localClsid);
    ASSERT_EQ(CLSIDFromProgID(u"SkyTest.Loop", &clsid), S_OK);
    EXPECT_TRUE(IsEqualCLSID(clsid, localClass));
    setClassesValue(u"SkyTest.Dangling\\CurVer", nullptr, u"SkyTest.Dangling.9");
    EXPECT_EQ(CLSIDFromProgID(u"SkyTest.Dangling", &clsid), CO_E_CLASSSTRING);
}

// Activation keeps what it has read of the registrations only while the registry stays as it
// was: a registration changed since, by this process or by another, is what the next look-up finds.
TEST_F(Activation, ChangedRegistrationsAreSeenAtOnce) {
    CLSID clsid{};
    ASSERT_EQ(CLSIDFromProgID(u"SkyTest.Sample.1", &clsid), S_OK);
    EXPECT_TRUE(IsEqualCLSID(clsid, CLSID_SampleObject));

    setClassesValue(u"SkyTest.Sample.1\\CLSID", nullptr, localClsid);
    ASSERT_EQ(CLSIDFromProgID(u"SkyTest.Sample.1", &clsid), S_OK);
    EXPECT_TRUE(IsEqualCLSID(clsid, localClass));

    const std::string reg = (sky::testing::buildBin() / "reg").string() +
                            " add 'HKLM\\Software\\Classes\\SkyTest.Sample.1\\CLSID' /ve /d '" +
                            sky::narrow(serviceClsid) + "' /f >/dev/null";
    ASSERT_EQ(std::system(reg.c_str()), 0);
    ASSERT_EQ(CLSIDFromProgID(u"SkyTest.Sample.1", &clsid), S_OK);
    EXPECT_TRUE(IsEqualCLSID(clsid, serviceClass));

    // The class's module moved away: activation fails instead of loading the old path.
    setClassesValue(u"CLSID\\" + std::u16string(sampleClsid) + u"\\InprocServer32", nullptr,
                    modulePath("testmodules/missing.dll"));
    IUnknown* object = nullptr;
    EXPECT_TRUE(FAILED(CoCreateInstance(CLSID_SampleObject, nullptr, CLSCTX_INPROC_SERVER,
                                        IID_IUnknown, reinterpret_cast<void**>(&object))));
    EXPECT_EQ(object, nullptr);
}

// A class unregistered by another process is not activated from what was read before, and one
// registered again by another process is activated at once.
TEST_F(Activation, ClassesUnregisteredAndRegisteredByAnotherProcessAreSeenAtOnce) {
    const std::string reg = (sky::testing::buildBin() / "reg").string();
    const std::string classKey =
        "'HKLM\\Software\\Classes\\CLSID\\" + sky::narrow(sampleClsid) + "'";
    for (int round = 0; round < 3; ++round) {
        ComPtr<IUnknown> object;
        ASSERT_EQ(CoCreateInstance(CLSID_SampleObject, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                   object.putVoid()),
                  S_OK)
            << "round " << round;
        object = nullptr;

        ASSERT_EQ(std::system((reg + " delete " + classKey + " /f >/dev/null").c_str()), 0);
        EXPECT_EQ(CoCreateInstance(CLSID_SampleObject, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                   object.putVoid()),
                  REGDB_E_CLASSNOTREG)
            << "round " << round;
        EXPECT_FALSE(object);

        const std::string module = sky::narrow(modulePath("testmodules/skytestclass.dll"));
        const std::string inproc = classKey.substr(0, classKey.size() - 1) + "\\InprocServer32'";
        ASSERT_EQ(std::system(
                      (reg + " add " + inproc + " /ve /d '" + module + "' /f >/dev/null").c_str()),
                  0);
    }
}

TEST_F(Activation, ProgIdFromClsid) {
    LPOLESTR progId = nullptr;
    ASSERT_EQ(ProgIDFromCLSID(CLSID_SampleObject, &progId), S_OK);
    EXPECT_EQ(std::u16string(progId), u"SkyTest.Sample.1");
    CoTaskMemFree(progId);
    EXPECT_EQ(ProgIDFromCLSID(unregisteredClass, &progId), REGDB_E_CLASSNOTREG);
    EXPECT_EQ(progId, nullptr);
}

TEST_F(Activation, ContextsThatTheRegistrationDoesNotServe) {
    ComPtr<IUnknown> object;
    EXPECT_EQ(CoCreateInstance(CLSID_SampleObject, nullptr, CLSCTX_LOCAL_SERVER, IID_IUnknown,
                               object.putVoid()),
              REGDB_E_CLASSNOTREG);
    EXPECT_EQ(
        CoCreateInstance(unregisteredClass, nullptr, CLSCTX_ALL, IID_IUnknown, object.putVoid()),
        REGDB_E_CLASSNOTREG);
    EXPECT_EQ(CoCreateInstance(CLSID_SampleObject, nullptr, CLSCTX_INPROC_SERVER, IID_IEnumVARIANT,
                               object.putVoid()),
              E_NOINTERFACE);
    EXPECT_FALSE(object);
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(CoGetClassObject(CLSID_SampleObject, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                               factory.putVoid()),
              S_OK);
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IDispatch, object.putVoid()), S_OK);
}

TEST_F(Activation, ClassesServedOutOfProcessCannotBeReachedYet) {
    // A local server, and a class whose AppID names a service.
    setClassesValue(u"SkyTest.Local\\CLSID", nullptr, localClsid);
    setClassesValue(u"CLSID\\" + std::u16string(localClsid) + u"\\LocalServer32", nullptr,
                    u"C:\\WINDOWS\\System32\\skytest.exe");
    setClassesValue(u"CLSID\\" + std::u16string(serviceClsid), u"AppID", localClsid);
    setClassesValue(u"AppID\\" + std::u16string(localClsid), u"LocalService", u"SkyTest");
    // An AppID without a service is no server at all.
    setClassesValue(u"CLSID\\" + std::u16string(strayClsid), u"AppID", serviceClsid);
    setClassesValue(u"AppID\\" + std::u16string(serviceClsid), u"RunAs", u"nobody");

    ComPtr<IUnknown> object;
    for (const CLSID& clsid : {localClass, serviceClass}) {
        EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_ALL, IID_IUnknown, object.putVoid()),
                  CO_E_SERVER_EXEC_FAILURE);
        EXPECT_EQ(
            CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, object.putVoid()),
            REGDB_E_CLASSNOTREG);
    }
    EXPECT_EQ(CoCreateInstance(strayClass, nullptr, CLSCTX_ALL, IID_IUnknown, object.putVoid()),
              REGDB_E_CLASSNOTREG);
    {
        const auto e = errorOf([&] { sky::createObject(u"skytest.local"); });
        ASSERT_TRUE(e);
        EXPECT_EQ(e->result(), CO_E_SERVER_EXEC_FAILURE);
        EXPECT_EQ(e->description(), u"Server execution failed");
    }
}

TEST_F(Activation, ModulesThatCannotServe) {
    const std::u16string key = u"CLSID\\" + std::u16string(strayClsid) + u"\\InprocServer32";
    ComPtr<IUnknown> object;
    setClassesValue(key, nullptr, u"C:\\Program Files\\Nowhere\\missing.dll");
    EXPECT_EQ(CoCreateInstance(strayClass, nullptr, CLSCTX_ALL, IID_IUnknown, object.putVoid()),
              HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND));
    // A module without DllGetClassObject.
    setClassesValue(key, nullptr, modulePath("libskyplatform.so"));
    EXPECT_EQ(CoCreateInstance(strayClass, nullptr, CLSCTX_ALL, IID_IUnknown, object.putVoid()),
              CO_E_ERRORINDLL);
    // A module that does not serve this class.
    setClassesValue(key, nullptr, modulePath("testmodules/skytestclass.dll"));
    EXPECT_EQ(CoCreateInstance(strayClass, nullptr, CLSCTX_ALL, IID_IUnknown, object.putVoid()),
              CLASS_E_CLASSNOTAVAILABLE);
}

TEST_F(Activation, ModulePathIsAWindowsPathInAnyCase) {
    std::u16string path = modulePath("testmodules/skytestclass.dll");
    const auto name = path.rfind(u'\\');
    path = path.substr(0, name) + u"\\SkyTestClass.DLL";
    setClassesValue(u"CLSID\\" + std::u16string(sampleClsid) + u"\\InprocServer32", nullptr, path);
    EXPECT_TRUE(sky::createObject<ISampleObject>(u"SkyTest.Sample"));
}

TEST(ActivationWithoutApartment, IsRefused) {
    std::thread([] {
        ComPtr<IUnknown> object;
        EXPECT_EQ(CoCreateInstance(CLSID_SampleObject, nullptr, CLSCTX_ALL, IID_IUnknown,
                                   object.putVoid()),
                  CO_E_NOTINITIALIZED);
        ComPtr<IClassFactory> factory;
        EXPECT_EQ(CoGetClassObject(CLSID_SampleObject, CLSCTX_ALL, nullptr, IID_IClassFactory,
                                   factory.putVoid()),
                  CO_E_NOTINITIALIZED);
        EXPECT_THROW(sky::createObject(u"SkyTest.Sample"), sky::ComError);
    }).join();
}

// A class factory that counts what it creates, standing in for a server's registered class.
class CountingFactory final : public sky::ComObject<IClassFactory> {
public:
    int created = 0;
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        ++created;
        return samples_->CreateInstance(outer, riid, ppv);
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

private:
    ComPtr<IClassFactory> samples_ = sky::makeClassFactory<sky::testclass::SampleObject>();
};

HRESULT create(REFCLSID clsid, DWORD context) {
    ComPtr<IUnknown> object;
    return CoCreateInstance(clsid, nullptr, context, IID_IUnknown, object.putVoid());
}

TEST_F(Activation, RegisteredClassObjectsComeFirstUntilRevoked) {
    auto factory = sky::makeObject<CountingFactory>();
    DWORD cookie = 0;
    ASSERT_EQ(CoRegisterClassObject(CLSID_SampleObject, factory.get(), CLSCTX_LOCAL_SERVER,
                                    REGCLS_MULTIPLEUSE, &cookie),
              S_OK);
    EXPECT_EQ(create(CLSID_SampleObject, CLSCTX_LOCAL_SERVER), S_OK);
    EXPECT_EQ(create(CLSID_SampleObject, CLSCTX_ALL), S_OK);
    // A multiple-use local registration serves in-process requests too.
    EXPECT_EQ(create(CLSID_SampleObject, CLSCTX_INPROC_SERVER), S_OK);
    EXPECT_EQ(factory->created, 3);
    EXPECT_EQ(CoRevokeClassObject(cookie), S_OK);
    EXPECT_EQ(CoRevokeClassObject(cookie), E_INVALIDARG);
    EXPECT_EQ(create(CLSID_SampleObject, CLSCTX_ALL), S_OK); // from the module now
    EXPECT_EQ(create(CLSID_SampleObject, CLSCTX_LOCAL_SERVER), REGDB_E_CLASSNOTREG);
    EXPECT_EQ(factory->created, 3);
}

TEST_F(Activation, RegistrationFlags) {
    auto factory = sky::makeObject<CountingFactory>();
    DWORD separate = 0, single = 0, suspended = 0;
    // A separate registration serves only the context it names.
    ASSERT_EQ(CoRegisterClassObject(CLSID_SampleObject, factory.get(), CLSCTX_LOCAL_SERVER,
                                    REGCLS_MULTI_SEPARATE, &separate),
              S_OK);
    EXPECT_EQ(create(CLSID_SampleObject, CLSCTX_INPROC_SERVER), S_OK);
    EXPECT_EQ(factory->created, 0);
    EXPECT_EQ(create(CLSID_SampleObject, CLSCTX_LOCAL_SERVER), S_OK);
    EXPECT_EQ(factory->created, 1);
    CoRevokeClassObject(separate);

    // A single-use registration serves one activation.
    ASSERT_EQ(CoRegisterClassObject(unregisteredClass, factory.get(), CLSCTX_LOCAL_SERVER,
                                    REGCLS_SINGLEUSE, &single),
              S_OK);
    EXPECT_EQ(create(unregisteredClass, CLSCTX_LOCAL_SERVER), S_OK);
    EXPECT_EQ(create(unregisteredClass, CLSCTX_LOCAL_SERVER), REGDB_E_CLASSNOTREG);
    EXPECT_EQ(factory->created, 2);
    CoRevokeClassObject(single);

    // A suspended one waits for CoResumeClassObjects.
    ASSERT_EQ(CoRegisterClassObject(unregisteredClass, factory.get(), CLSCTX_LOCAL_SERVER,
                                    REGCLS_MULTIPLEUSE | REGCLS_SUSPENDED, &suspended),
              S_OK);
    EXPECT_EQ(create(unregisteredClass, CLSCTX_LOCAL_SERVER), REGDB_E_CLASSNOTREG);
    EXPECT_EQ(CoResumeClassObjects(), S_OK);
    EXPECT_EQ(create(unregisteredClass, CLSCTX_LOCAL_SERVER), S_OK);
    EXPECT_EQ(factory->created, 3);
    CoRevokeClassObject(suspended);
}

} // namespace
