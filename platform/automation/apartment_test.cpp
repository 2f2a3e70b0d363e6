#include <gtest/gtest.h>

#include <functional>
#include <thread>

#include "sky/com_object.h"
#include "win/com.h"

namespace {

// Apartment state belongs to a thread: each case runs on a thread of its own.
void onFreshThread(const std::function<void()>& body) {
    std::thread thread(body);
    thread.join();
}

class Factory final : public sky::ComObject<IClassFactory> {
public:
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown*, REFIID, void**) override { return E_FAIL; }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
    ULONG references() {
        AddRef();
        return Release();
    }
};

constexpr CLSID someClass{
    0x11111111, 0x2222, 0x3333, {0x44, 0x44, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55}};

TEST(Apartment, InitialisationIsCountedPerThread) {
    onFreshThread([] {
        EXPECT_EQ(CoInitialize(nullptr), S_OK);
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_FALSE);
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), RPC_E_CHANGED_MODE);
        onFreshThread([] {
            // Another thread is not affected by this one's mode.
            EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
            CoUninitialize();
        });
        CoUninitialize();
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), RPC_E_CHANGED_MODE);
        CoUninitialize();
        // Fully uninitialised: a new mode may be chosen.
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED | COINIT_DISABLE_OLE1DDE), S_OK);
        CoUninitialize();
        CoUninitialize(); // one too many is harmless
    });
}

TEST(Apartment, BadArgumentsAreRefused) {
    onFreshThread([] {
        int reserved = 0;
        EXPECT_EQ(CoInitialize(&reserved), E_INVALIDARG);
        EXPECT_EQ(CoInitializeEx(nullptr, 0x100), E_INVALIDARG);
        EXPECT_EQ(CoInitialize(nullptr), S_OK); // nothing was counted before
        CoUninitialize();
    });
}

TEST(Apartment, ClassRegistrationNeedsAnApartment) {
    onFreshThread([] {
        auto factory = sky::makeObject<Factory>();
        DWORD cookie = 99;
        EXPECT_EQ(CoRegisterClassObject(someClass, factory.get(), CLSCTX_LOCAL_SERVER,
                                        REGCLS_MULTIPLEUSE, &cookie),
                  CO_E_NOTINITIALIZED);
        EXPECT_EQ(cookie, 0u);
        EXPECT_EQ(factory->references(), 1u);
    });
}

TEST(Apartment, TheMultithreadedApartmentServesEveryThread) {
    onFreshThread([&] {
        ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
        onFreshThread([] {
            auto factory = sky::makeObject<Factory>();
            DWORD cookie = 0;
            EXPECT_EQ(CoRegisterClassObject(someClass, factory.get(), CLSCTX_LOCAL_SERVER,
                                            REGCLS_MULTIPLEUSE, &cookie),
                      S_OK);
            EXPECT_EQ(CoRevokeClassObject(cookie), S_OK);
        });
        CoUninitialize();
    });
    onFreshThread([] {
        auto factory = sky::makeObject<Factory>();
        DWORD cookie = 0;
        EXPECT_EQ(CoRegisterClassObject(someClass, factory.get(), CLSCTX_LOCAL_SERVER,
                                        REGCLS_MULTIPLEUSE, &cookie),
                  CO_E_NOTINITIALIZED);
    });
}

TEST(Apartment, EndingTheApartmentRevokesItsClassObjects) {
    onFreshThread([] {
        auto factory = sky::makeObject<Factory>();
        ASSERT_EQ(CoInitialize(nullptr), S_OK);
        DWORD cookie = 0;
        ASSERT_EQ(CoRegisterClassObject(someClass, factory.get(), CLSCTX_LOCAL_SERVER,
                                        REGCLS_MULTIPLEUSE, &cookie),
                  S_OK);
        EXPECT_EQ(factory->references(), 2u);
        CoUninitialize();
        EXPECT_EQ(factory->references(), 1u);
        EXPECT_EQ(CoRevokeClassObject(cookie), E_INVALIDARG);
    });
}

} // namespace
