#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "sky/handles.h"
#include "win/errors.h"
#include "win/lasterror.h"
#include "win/synch.h"

namespace {

DWORD lastError() {
    return GetLastError();
}

} // namespace

TEST(Events, AutoResetReleasesOneWaitAtATime) {
    HANDLE event = CreateEventW(nullptr, FALSE, TRUE, nullptr);
    ASSERT_NE(event, nullptr);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(event, 0), static_cast<DWORD>(WAIT_TIMEOUT))
        << "the satisfied wait reset the event";
    ASSERT_TRUE(SetEvent(event));
    EXPECT_EQ(WaitForSingleObject(event, INFINITE), WAIT_OBJECT_0);
    EXPECT_TRUE(CloseHandle(event));
}

TEST(Events, ManualResetStaysSignalledUntilReset) {
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    EXPECT_EQ(WaitForSingleObject(event, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    ASSERT_TRUE(SetEvent(event));
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    ASSERT_TRUE(ResetEvent(event));
    EXPECT_EQ(WaitForSingleObject(event, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    CloseHandle(event);
}

TEST(Events, TimeoutWaitsAtLeastThatLong) {
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(WaitForSingleObject(event, 60), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(60));
    CloseHandle(event);
}

TEST(Events, WakeWaitersOnOtherThreads) {
    // A manual-reset event releases every waiter.
    HANDLE gate = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::atomic<int> released{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 4; ++i)
        waiters.emplace_back([&] {
            if (WaitForSingleObject(gate, INFINITE) == WAIT_OBJECT_0)
                ++released;
        });
    SetEvent(gate);
    for (auto& waiter : waiters)
        waiter.join();
    EXPECT_EQ(released.load(), 4);

    // An auto-reset event set once releases exactly one of two waiters.
    HANDLE single = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    std::atomic<int> woken{0};
    std::atomic<int> timedOut{0};
    std::vector<std::thread> pair;
    for (int i = 0; i < 2; ++i)
        pair.emplace_back([&] {
            const DWORD result = WaitForSingleObject(single, 500);
            ++(result == WAIT_OBJECT_0 ? woken : timedOut);
        });
    SetEvent(single);
    for (auto& thread : pair)
        thread.join();
    EXPECT_EQ(woken.load(), 1);
    EXPECT_EQ(timedOut.load(), 1);
    CloseHandle(gate);
    CloseHandle(single);
}

TEST(Events, WaitForSeveral) {
    HANDLE a = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE b = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    const HANDLE both[] = {a, b};
    EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    SetEvent(b);
    EXPECT_EQ(WaitForMultipleObjects(2, both, TRUE, 0), static_cast<DWORD>(WAIT_TIMEOUT))
        << "not all signalled";
    EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, 0), WAIT_OBJECT_0 + 1);
    EXPECT_EQ(WaitForSingleObject(b, 0), static_cast<DWORD>(WAIT_TIMEOUT)) << "b was consumed";

    std::thread setter([&] {
        SetEvent(a);
        SetEvent(b);
    });
    EXPECT_EQ(WaitForMultipleObjects(2, both, TRUE, 5000), WAIT_OBJECT_0);
    setter.join();
    EXPECT_EQ(WaitForSingleObject(a, 0), WAIT_OBJECT_0) << "manual reset stays set";
    EXPECT_EQ(WaitForSingleObject(b, 0), static_cast<DWORD>(WAIT_TIMEOUT));

    const HANDLE twice[] = {a, a};
    EXPECT_EQ(WaitForMultipleObjects(2, twice, TRUE, 0), WAIT_FAILED);
    EXPECT_EQ(lastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(WaitForMultipleObjects(0, both, FALSE, 0), WAIT_FAILED);
    CloseHandle(a);
    CloseHandle(b);
}

TEST(Events, NamedWithinTheProcess) {
    HANDLE first = CreateEventW(nullptr, TRUE, FALSE, u"SkyTestStop");
    EXPECT_EQ(lastError(), static_cast<DWORD>(ERROR_SUCCESS));
    HANDLE second = CreateEventW(nullptr, FALSE, TRUE, u"SkyTestStop");
    EXPECT_EQ(lastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    ASSERT_NE(second, nullptr);
    EXPECT_NE(second, first);
    EXPECT_EQ(WaitForSingleObject(first, 0), static_cast<DWORD>(WAIT_TIMEOUT))
        << "the existing event keeps its state";
    SetEvent(second);
    EXPECT_EQ(WaitForSingleObject(first, 0), WAIT_OBJECT_0);

    HANDLE other = CreateEventW(nullptr, TRUE, FALSE, u"skyteststop");
    EXPECT_EQ(lastError(), static_cast<DWORD>(ERROR_SUCCESS)) << "names compare with case";
    HANDLE opened = OpenEventW(EVENT_ALL_ACCESS, FALSE, u"SkyTestStop");
    ASSERT_NE(opened, nullptr);
    ResetEvent(opened);
    EXPECT_EQ(WaitForSingleObject(second, 0), static_cast<DWORD>(WAIT_TIMEOUT));

    for (HANDLE h : {first, second, opened, other})
        CloseHandle(h);
    EXPECT_EQ(OpenEventW(EVENT_ALL_ACCESS, FALSE, u"SkyTestStop"), nullptr)
        << "the name goes with the last handle";
    EXPECT_EQ(lastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST(Handles, InvalidHandlesFail) {
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_TRUE(CloseHandle(event));
    for (HANDLE bad : {static_cast<HANDLE>(nullptr), INVALID_HANDLE_VALUE, event}) {
        SetLastError(0);
        EXPECT_FALSE(CloseHandle(bad));
        EXPECT_EQ(lastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
        SetLastError(0);
        EXPECT_EQ(WaitForSingleObject(bad, 0), WAIT_FAILED);
        EXPECT_EQ(lastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
        EXPECT_FALSE(SetEvent(bad));
        EXPECT_FALSE(ResetEvent(bad));
    }
}

TEST(Handles, OtherObjectsShareTheTable) {
    // A kernel object of another kind (a service handle, say) lives in the same table: the event
    // functions refuse it, CloseHandle closes it.
    struct Other final : sky::KernelObject {
        explicit Other(std::atomic<bool>& gone) : gone_(gone) {}
        ~Other() override { gone_ = true; }
        std::atomic<bool>& gone_;
    };
    std::atomic<bool> gone{false};
    HANDLE handle = sky::handles::insert(std::make_shared<Other>(gone));
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(handle) % 4, 0u);
    EXPECT_NE(sky::handles::find<Other>(handle), nullptr);
    EXPECT_FALSE(SetEvent(handle));
    EXPECT_EQ(lastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(WaitForSingleObject(handle, 0), WAIT_FAILED) << "not a waitable object";
    EXPECT_FALSE(gone);
    EXPECT_TRUE(CloseHandle(handle));
    EXPECT_TRUE(gone) << "the last reference went with the handle";
}
