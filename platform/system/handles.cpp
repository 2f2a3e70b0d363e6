// The handle table, the dispatcher lock that every waitable object shares, and the Win32 calls
// that work on any handle: waits and CloseHandle.
#include "sky/handles.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

#include "win/lasterror.h"
#include "win/synch.h"

namespace sky {

namespace {

struct HandleTable {
    std::mutex mutex;
    std::unordered_map<std::uintptr_t, std::shared_ptr<KernelObject>> objects;
    std::uintptr_t next = 4;
};

// Both live for the whole process (never destroyed): a child's reaper thread may signal, and a
// handle may be closed, while static objects are being torn down at exit.
HandleTable& table() {
    static auto* instance = new HandleTable;
    return *instance;
}

struct Dispatcher {
    std::mutex mutex;
    std::condition_variable changed;
};

Dispatcher& dispatcher() {
    static auto* instance = new Dispatcher;
    return *instance;
}

bool isPseudoHandle(HANDLE handle) {
    return handle == nullptr || handle == INVALID_HANDLE_VALUE;
}

} // namespace

void Waitable::signal() {
    Dispatcher& d = dispatcher();
    {
        std::lock_guard lock(d.mutex);
        signaled_ = true;
    }
    d.changed.notify_all();
}

void Waitable::reset() {
    std::lock_guard lock(dispatcher().mutex);
    signaled_ = false;
}

DWORD waitForObjects(std::span<Waitable* const> objects, bool waitAll, DWORD milliseconds) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
    Dispatcher& d = dispatcher();
    std::unique_lock lock(d.mutex);
    for (;;) {
        if (waitAll) {
            bool all = true;
            for (Waitable* object : objects)
                all = all && object->signaled_;
            if (all) {
                for (Waitable* object : objects)
                    object->acquired();
                return WAIT_OBJECT_0;
            }
        } else {
            for (std::size_t i = 0; i < objects.size(); ++i) {
                if (objects[i]->signaled_) {
                    objects[i]->acquired();
                    return WAIT_OBJECT_0 + static_cast<DWORD>(i);
                }
            }
        }
        if (milliseconds == 0)
            return WAIT_TIMEOUT;
        if (milliseconds == INFINITE) {
            d.changed.wait(lock);
        } else if (d.changed.wait_until(lock, deadline) == std::cv_status::timeout) {
            // One last look: a change may have come together with the deadline.
            milliseconds = 0;
        }
    }
}

namespace handles {

HANDLE insert(std::shared_ptr<KernelObject> object) {
    if (!object)
        return nullptr;
    HandleTable& t = table();
    std::lock_guard lock(t.mutex);
    const std::uintptr_t value = t.next;
    t.next += 4;
    t.objects.emplace(value, std::move(object));
    return reinterpret_cast<HANDLE>(value);
}

std::shared_ptr<KernelObject> find(HANDLE handle) {
    if (isPseudoHandle(handle))
        return nullptr;
    HandleTable& t = table();
    std::lock_guard lock(t.mutex);
    const auto it = t.objects.find(reinterpret_cast<std::uintptr_t>(handle));
    return it == t.objects.end() ? nullptr : it->second;
}

std::shared_ptr<KernelObject> remove(HANDLE handle) {
    if (isPseudoHandle(handle))
        return nullptr;
    std::shared_ptr<KernelObject> object;
    HandleTable& t = table();
    {
        std::lock_guard lock(t.mutex);
        const auto it = t.objects.find(reinterpret_cast<std::uintptr_t>(handle));
        if (it == t.objects.end())
            return nullptr;
        object = std::move(it->second);
        t.objects.erase(it);
    }
    return object;
}

} // namespace handles
} // namespace sky

using sky::Waitable;

extern "C" DWORD WINAPI WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds) {
    const auto object = sky::handles::find<Waitable>(hHandle);
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return WAIT_FAILED;
    }
    Waitable* const objects[] = {object.get()};
    return sky::waitForObjects(objects, false, dwMilliseconds);
}

extern "C" DWORD WINAPI WaitForMultipleObjects(DWORD nCount, const HANDLE* lpHandles, BOOL bWaitAll,
                                               DWORD dwMilliseconds) {
    if (nCount == 0 || nCount > MAXIMUM_WAIT_OBJECTS || !lpHandles) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return WAIT_FAILED;
    }
    std::vector<std::shared_ptr<Waitable>> held;
    std::vector<Waitable*> objects;
    for (DWORD i = 0; i < nCount; ++i) {
        auto object = sky::handles::find<Waitable>(lpHandles[i]);
        if (!object) {
            SetLastError(ERROR_INVALID_HANDLE);
            return WAIT_FAILED;
        }
        objects.push_back(object.get());
        held.push_back(std::move(object));
    }
    if (bWaitAll) {
        // Windows refuses the same object twice in a wait for all.
        for (std::size_t i = 0; i < objects.size(); ++i)
            for (std::size_t k = i + 1; k < objects.size(); ++k)
                if (objects[i] == objects[k]) {
                    SetLastError(ERROR_INVALID_PARAMETER);
                    return WAIT_FAILED;
                }
    }
    return sky::waitForObjects(objects, bWaitAll != FALSE, dwMilliseconds);
}

extern "C" BOOL WINAPI CloseHandle(HANDLE hObject) {
    // The object itself goes when its last reference does, outside the table's lock.
    if (!sky::handles::remove(hObject)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

extern "C" void WINAPI Sleep(DWORD dwMilliseconds) {
    if (dwMilliseconds == INFINITE) {
        for (;;)
            std::this_thread::sleep_for(std::chrono::hours(24));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(dwMilliseconds));
}
