// CoRegisterClassObject / CoRevokeClassObject: the process's table of class objects.
#include "class_objects.h"

#include <mutex>
#include <thread>
#include <vector>

#include "../remote/exporter.h"
#include "apartment.h"

namespace {

struct Registration {
    DWORD cookie;
    CLSID clsid;
    IUnknown* object;
    DWORD context;
    DWORD flags;
    std::thread::id owner;
    bool spent = false; // a single-use registration that has served its one activation
};

struct Table {
    std::mutex mutex;
    std::vector<Registration> entries;
    DWORD nextCookie = 1;
};

Table& table() {
    static Table* instance = new Table; // never destroyed: class objects may outlive main
    return *instance;
}

constexpr DWORD serverContexts =
    CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER;

// The contexts a registration serves: a multiple-use local server also serves in-process.
DWORD servedContexts(const Registration& r) {
    DWORD context = r.context;
    if ((r.flags & REGCLS_MULTIPLEUSE) && (context & CLSCTX_LOCAL_SERVER))
        context |= CLSCTX_INPROC_SERVER;
    return context;
}

void releaseAll(const std::vector<IUnknown*>& objects) {
    for (IUnknown* object : objects)
        object->Release();
}

// Class objects for a local server are published for other processes as well.
bool published(DWORD context) {
    return (context & CLSCTX_LOCAL_SERVER) != 0;
}

} // namespace

namespace sky::automation {

IUnknown* findClassObject(REFCLSID clsid, DWORD context) {
    Table& t = table();
    std::lock_guard lock(t.mutex);
    for (Registration& r : t.entries) {
        if (r.spent || (r.flags & REGCLS_SUSPENDED) || !IsEqualCLSID(r.clsid, clsid) ||
            !(servedContexts(r) & context))
            continue;
        if (!(r.flags & (REGCLS_MULTIPLEUSE | REGCLS_MULTI_SEPARATE)))
            r.spent = true;
        r.object->AddRef();
        return r.object;
    }
    return nullptr;
}

void revokeThreadClassObjects() {
    std::vector<IUnknown*> released;
    std::vector<CLSID> withdrawn;
    {
        Table& t = table();
        std::lock_guard lock(t.mutex);
        const auto self = std::this_thread::get_id();
        std::erase_if(t.entries, [&](const Registration& r) {
            if (r.owner != self)
                return false;
            released.push_back(r.object);
            if (published(r.context))
                withdrawn.push_back(r.clsid);
            return true;
        });
    }
    for (const CLSID& clsid : withdrawn)
        sky::remote::withdrawClass(clsid);
    releaseAll(released);
}

} // namespace sky::automation

extern "C" {

HRESULT WINAPI CoRegisterClassObject(REFCLSID rclsid, LPUNKNOWN pUnk, DWORD dwClsContext,
                                     DWORD flags, LPDWORD lpdwRegister) {
    if (!pUnk || !lpdwRegister || !(dwClsContext & serverContexts))
        return E_INVALIDARG;
    *lpdwRegister = 0;
    if (!sky::automation::apartmentReady())
        return CO_E_NOTINITIALIZED;
    Table& t = table();
    DWORD cookie = 0;
    {
        std::lock_guard lock(t.mutex);
        pUnk->AddRef();
        cookie = t.nextCookie++;
        t.entries.push_back(
            {cookie, rclsid, pUnk, dwClsContext, flags, std::this_thread::get_id()});
    }
    if (published(dwClsContext)) {
        if (const HRESULT hr = sky::remote::publishClass(rclsid); FAILED(hr)) {
            CoRevokeClassObject(cookie);
            return hr;
        }
    }
    *lpdwRegister = cookie;
    return S_OK;
}

HRESULT WINAPI CoRevokeClassObject(DWORD dwRegister) {
    IUnknown* released = nullptr;
    bool withdraw = false;
    CLSID clsid{};
    {
        Table& t = table();
        std::lock_guard lock(t.mutex);
        for (auto it = t.entries.begin(); it != t.entries.end(); ++it) {
            if (it->cookie == dwRegister) {
                released = it->object;
                withdraw = published(it->context);
                clsid = it->clsid;
                t.entries.erase(it);
                break;
            }
        }
    }
    if (!released)
        return E_INVALIDARG;
    if (withdraw)
        sky::remote::withdrawClass(clsid);
    released->Release();
    return S_OK;
}

HRESULT WINAPI CoResumeClassObjects() {
    Table& t = table();
    std::lock_guard lock(t.mutex);
    for (Registration& r : t.entries)
        r.flags &= ~static_cast<DWORD>(REGCLS_SUSPENDED);
    return S_OK;
}

} // extern "C"
