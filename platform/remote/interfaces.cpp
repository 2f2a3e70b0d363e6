// The marshalling of interfaces that the loaded libraries describe (sky/remote.h).
#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "sky/remote.h"

namespace sky::remote {

namespace {

struct IidHash {
    std::size_t operator()(const IID& iid) const noexcept {
        std::uint64_t half[2];
        std::memcpy(half, &iid, sizeof half);
        return std::hash<std::uint64_t>()(half[0] ^ (half[1] * 0x9E3779B97F4A7C15ull));
    }
};
struct IidEqual {
    bool operator()(const IID& a, const IID& b) const noexcept { return IsEqualIID(a, b); }
};

struct Entries {
    std::mutex mutex;
    // Later registrations first: a module loaded after the program serves its own copy.
    std::vector<std::pair<const InterfaceMarshal*, std::size_t>> libraries;
    // Each interface's first entry in that order. Every new proxy and every object handed out
    // looks its interface up, a few hundred entries a time when searched in turn.
    std::unordered_map<IID, const InterfaceMarshal*, IidHash, IidEqual> byIid;
    // extendsInterface's answers by the pair of entries, found once: comparing two tables
    // member by member costs more than the snapshot it decides about.
    std::map<std::pair<const InterfaceMarshal*, const InterfaceMarshal*>, bool> extends;

    void index() {
        byIid.clear();
        extends.clear();
        for (const auto& [list, count] : libraries)
            for (std::size_t i = 0; i < count; ++i)
                byIid.try_emplace(*list[i].iid, &list[i]);
    }
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
    e.index();
}

void unregisterInterfaces(const InterfaceMarshal* list) {
    Entries& e = entries();
    std::lock_guard lock(e.mutex);
    std::erase_if(e.libraries, [&](const auto& l) { return l.first == list; });
    e.index();
}

const InterfaceMarshal* findInterface(REFIID iid) {
    Entries& e = entries();
    std::lock_guard lock(e.mutex);
    const auto found = e.byIid.find(iid);
    return found == e.byIid.end() ? nullptr : found->second;
}

namespace {

bool compareTables(const InterfaceMarshal& derived, const InterfaceMarshal& base) {
    const dispatch::Table& wide = *derived.table;
    const dispatch::Table& narrow = *base.table;
    // A table without members would be extended by every other: it is by none.
    if (narrow.memberCount == 0 || wide.memberCount <= narrow.memberCount)
        return false;
    for (WORD i = 0; i < narrow.memberCount; ++i) {
        const dispatch::Member& a = wide.members[i];
        const dispatch::Member& b = narrow.members[i];
        if (a.dispid != b.dispid || a.invkind != b.invkind || a.paramCount != b.paramCount ||
            a.resultVt != b.resultVt || a.snapshot != b.snapshot || !a.name || !b.name ||
            std::u16string_view(a.name) != std::u16string_view(b.name))
            return false;
    }
    return true;
}

// extendsInterface with the entries' lock held.
bool extendsLocked(Entries& e, const InterfaceMarshal& derived, const InterfaceMarshal& base) {
    const auto [at, added] = e.extends.try_emplace({&derived, &base}, false);
    if (added)
        at->second = compareTables(derived, base);
    return at->second;
}

} // namespace

bool extendsInterface(const InterfaceMarshal& derived, const InterfaceMarshal& base) {
    Entries& e = entries();
    std::lock_guard lock(e.mutex);
    return extendsLocked(e, derived, base);
}

std::vector<const InterfaceMarshal*> derivedInterfaces(const InterfaceMarshal& base) {
    std::vector<const InterfaceMarshal*> found;
    {
        Entries& e = entries();
        std::lock_guard lock(e.mutex);
        for (const auto& [iid, marshal] : e.byIid)
            if (marshal != &base && extendsLocked(e, *marshal, base))
                found.push_back(marshal);
    }
    std::sort(found.begin(), found.end(), [](const auto* a, const auto* b) {
        if (a->table->memberCount != b->table->memberCount)
            return a->table->memberCount > b->table->memberCount;
        return std::memcmp(a->iid, b->iid, sizeof(IID)) < 0;
    });
    return found;
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
