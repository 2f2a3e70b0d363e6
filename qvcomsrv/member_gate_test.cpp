// The member gate as a call from another process meets it, served by this process through its own
// endpoint (the same socket and serving thread another process would reach): what the gate works
// out about the caller, it works out once for each call, however many members the call reads.
#include <dlfcn.h>

#include <atomic>

#include "results.h"
#include "sky/remote.h"
#include "testing/module_test_support.h"

// The user names asked for by this process (the module included: the program exports the name,
// so the module's call comes here). Each goes on to the platform's own.
namespace {
std::atomic<int> userNamesAsked{0};
} // namespace

extern "C" BOOL WINAPI GetUserNameW(LPWSTR buffer, LPDWORD size) {
    using Real = BOOL(WINAPI*)(LPWSTR, LPDWORD);
    static const Real real = reinterpret_cast<Real>(dlsym(RTLD_NEXT, "GetUserNameW"));
    userNamesAsked.fetch_add(1, std::memory_order_relaxed);
    return real ? real(buffer, size) : FALSE;
}

namespace qvcomsrv::testing {
namespace {

class MemberGateTest : public ObjectModelTest {
protected:
    void SetUp() override {
        ObjectModelTest::SetUp();
        sky::ComPtr<IClassFactory> local;
        ASSERT_EQ(CoGetClassObject(CLSID_SkyloomApplication, CLSCTX_INPROC_SERVER, nullptr,
                                   IID_IClassFactory, local.putVoid()),
                  S_OK);
        ASSERT_EQ(CoRegisterClassObject(CLSID_SkyloomApplication, local.get(), CLSCTX_LOCAL_SERVER,
                                        REGCLS_MULTIPLEUSE, &cookie_),
                  S_OK);
    }
    void TearDown() override {
        if (cookie_)
            CoRevokeClassObject(cookie_);
        ObjectModelTest::TearDown();
    }

    DWORD cookie_ = 0;
};

// The answer to a QueryInterface for the application's Windows settings carries their snapshot:
// the gate is asked for each of its 25 or so members within that one call, and the caller's name
// is asked once. The next call asks it again.
TEST_F(MemberGateTest, TheCallersNameIsAskedOnceForEachCallServed) {
    sky::ComPtr<IClassFactory> remote;
    ASSERT_EQ(sky::remote::getRemoteClassObject(CLSID_SkyloomApplication, IID_IClassFactory,
                                                remote.putVoid()),
              S_OK);
    sky::ComPtr<ISkyloomApplication5> app;
    ASSERT_EQ(remote->CreateInstance(nullptr, IID_ISkyloomApplication5, app.putVoid()), S_OK);
    ASSERT_EQ(app->Initialize(SkyloomWinAppObject, bstr("Applications/Notepad").get()), S_OK)
        << failureText();
    ASSERT_EQ(app->LoadData(-1), S_OK) << failureText();

    const std::uint64_t sent = sky::remote::requestsSent();
    userNamesAsked = 0;
    sky::ComPtr<ISkyloomWinApp4> settings;
    ASSERT_EQ(app->QueryInterface(IID_ISkyloomWinApp4, settings.putVoid()), S_OK);
    EXPECT_EQ(sky::remote::requestsSent() - sent, 1u);
    EXPECT_EQ(userNamesAsked.load(), 1);
    // Read from the snapshot: no call, no name.
    LONG hidden = -1;
    ASSERT_EQ(settings->get_HideDisabledApp(&hidden), S_OK) << failureText();
    EXPECT_EQ(userNamesAsked.load(), 1);
    EXPECT_EQ(sky::remote::requestsSent() - sent, 1u);
    // A call that is no get of a snapshot's member asks again.
    ASSERT_EQ(app->LoadData(-1), S_OK) << failureText();
    EXPECT_EQ(userNamesAsked.load(), 2);
}

} // namespace
} // namespace qvcomsrv::testing
