// Events: manual-reset and auto-reset, optionally named within the process.
#include <map>
#include <mutex>
#include <string>

#include "sky/handles.h"
#include "sky/text.h"
#include "win/lasterror.h"
#include "win/synch.h"

namespace {

class Event final : public sky::Waitable {
public:
    Event(bool manualReset, bool initialState) : manualReset_(manualReset) {
        signaled_ = initialState;
    }

private:
    void acquired() override {
        if (!manualReset_)
            signaled_ = false;
    }

    const bool manualReset_;
};

// Named events of this process. An entry lasts while some handle still names the event.
struct EventNames {
    std::mutex mutex;
    std::map<std::u16string, std::weak_ptr<Event>> events;
};

EventNames& names() {
    static auto* instance = new EventNames;
    return *instance;
}

std::shared_ptr<Event> findNamed(EventNames& n, const std::u16string& name) {
    const auto it = n.events.find(name);
    if (it == n.events.end())
        return nullptr;
    auto event = it->second.lock();
    if (!event)
        n.events.erase(it);
    return event;
}

} // namespace

extern "C" HANDLE WINAPI CreateEventW(LPSECURITY_ATTRIBUTES, BOOL bManualReset, BOOL bInitialState,
                                      LPCWSTR lpName) {
    if (!lpName || !*lpName) {
        SetLastError(ERROR_SUCCESS);
        return sky::handles::insert(std::make_shared<Event>(bManualReset, bInitialState));
    }
    if (sky::length(lpName) > MAX_PATH) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return nullptr;
    }
    EventNames& n = names();
    std::lock_guard lock(n.mutex);
    const std::u16string name(lpName);
    if (auto existing = findNamed(n, name)) {
        HANDLE handle = sky::handles::insert(std::move(existing));
        SetLastError(ERROR_ALREADY_EXISTS);
        return handle;
    }
    auto event = std::make_shared<Event>(bManualReset, bInitialState);
    n.events[name] = event;
    SetLastError(ERROR_SUCCESS);
    return sky::handles::insert(std::move(event));
}

extern "C" HANDLE WINAPI OpenEventW(DWORD, BOOL, LPCWSTR lpName) {
    if (!lpName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    EventNames& n = names();
    std::lock_guard lock(n.mutex);
    auto event = findNamed(n, std::u16string(lpName));
    if (!event) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return nullptr;
    }
    return sky::handles::insert(std::move(event));
}

namespace {

template <class Change> BOOL changeEvent(HANDLE handle, Change change) {
    const auto event = sky::handles::find<Event>(handle);
    if (!event) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    change(*event);
    return TRUE;
}

} // namespace

extern "C" BOOL WINAPI SetEvent(HANDLE hEvent) {
    return changeEvent(hEvent, [](Event& event) { event.signal(); });
}

extern "C" BOOL WINAPI ResetEvent(HANDLE hEvent) {
    return changeEvent(hEvent, [](Event& event) { event.reset(); });
}
