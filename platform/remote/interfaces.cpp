// The marshalling of interfaces that the loaded libraries describe (sky/remote.h).
#include <algorithm>
#include <mutex>
#include <vector>

#include "sky/remote.h"

namespace sky::remote {

namespace {

struct Entries {
    std::mutex mutex;
    // Later registrations first: a module loaded after the program serves its own copy.
    std::vector<std::pair<const InterfaceMarshal*, std::size_t>> libraries;
};

Entries& entries() {
    static auto* instance = new Entries; // outlives the modules that unregister at unload
    return *instance;
}

} // namespace

void registerInterfaces(const InterfaceMarshal* list, std::size_t count) {
    Entries& e = entries();
    std::lock_guard lock(e.mutex);
    e.libraries.insert(e.libraries.begin(), {list, count});
}

void unregisterInterfaces(const InterfaceMarshal* list) {
    Entries& e = entries();
    std::lock_guard lock(e.mutex);
    std::erase_if(e.libraries, [&](const auto& l) { return l.first == list; });
}

const InterfaceMarshal* findInterface(REFIID iid) {
    Entries& e = entries();
    std::lock_guard lock(e.mutex);
    for (const auto& [list, count] : e.libraries)
        for (std::size_t i = 0; i < count; ++i)
            if (IsEqualIID(*list[i].iid, iid))
                return &list[i];
    return nullptr;
}

bool findFace(IUnknown* object, IUnknown* pointer, IID& face) {
    std::vector<IID> known;
    {
        Entries& e = entries();
        std::lock_guard lock(e.mutex);
        for (const auto& [list, count] : e.libraries)
            for (std::size_t i = 0; i < count; ++i)
                known.push_back(*list[i].iid);
    }
    // The object is asked without the lock held: its QueryInterface may reach these tables.
    for (const IID& iid : known) {
        void* at = nullptr;
        if (FAILED(object->QueryInterface(iid, &at)) || !at)
            continue;
        static_cast<IUnknown*>(at)->Release();
        if (at == pointer) {
            face = iid;
            return true;
        }
    }
    return false;
}

} // namespace sky::remote
