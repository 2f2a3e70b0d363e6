// The process's handle table and the objects behind its handles.
//
// Every HANDLE the platform hands out (events, processes, threads, service handles, ...) names an
// entry of one table. An entry holds a shared reference, so an object stays alive while a call is
// using it even if another thread closes the handle meanwhile. Handle values are multiples of 4
// and never NULL or INVALID_HANDLE_VALUE.
//
// Objects that can be waited for derive from Waitable. All waitable objects share one lock and
// one condition (as a kernel's dispatcher lock), so that a wait on several objects sees their
// states together and a state change wakes every waiter.
#pragma once

#include <memory>
#include <span>

#include "sky/export.h"
#include "win/types.h"

namespace sky {

class SKY_API KernelObject {
public:
    KernelObject() = default;
    KernelObject(const KernelObject&) = delete;
    KernelObject& operator=(const KernelObject&) = delete;
    virtual ~KernelObject() = default;
};

class SKY_API Waitable : public KernelObject {
public:
    // Sets the object signalled and wakes every waiter.
    void signal();
    // Clears the signalled state.
    void reset();

protected:
    // Called with the dispatcher lock held when a wait has been satisfied by this object: an
    // auto-reset event clears signaled_ here.
    virtual void acquired() {}

    // Guarded by the dispatcher lock (derived classes may set it in their constructor).
    bool signaled_ = false;

private:
    friend DWORD waitForObjects(std::span<Waitable* const> objects, bool waitAll,
                                DWORD milliseconds);
};

// Waits until one (or, with waitAll, every) object is signalled, or the time is up. Returns
// WAIT_OBJECT_0 + index or WAIT_TIMEOUT. INFINITE waits without a limit.
SKY_API DWORD waitForObjects(std::span<Waitable* const> objects, bool waitAll, DWORD milliseconds);

namespace handles {

// Enters an object into the table and returns its new handle (NULL only if object is null).
SKY_API HANDLE insert(std::shared_ptr<KernelObject> object);

// The object behind a handle, or null for NULL, INVALID_HANDLE_VALUE and unknown handles.
SKY_API std::shared_ptr<KernelObject> find(HANDLE handle);
template <class Object> std::shared_ptr<Object> find(HANDLE handle) {
    return std::dynamic_pointer_cast<Object>(find(handle));
}

// Removes a handle; returns the object it named (null when the handle was not in the table).
SKY_API std::shared_ptr<KernelObject> remove(HANDLE handle);

} // namespace handles
} // namespace sky
