// The module's exported entries (see qvcomsrv.h).
#include <windows.h>

#include <mutex>
#include <vector>

#include "class_table.h"
#include "com_class.h"
#include "farm_connection.h"
#include "qvcomsrv.h"
#include "registration.h"
#include "results.h"
#include "sky/text.h"

#define QVCOMSRV_EXPORT extern "C" __attribute__((visibility("default")))

namespace qvcomsrv {

namespace {

// What QVComInitialize set up and QVComUninitialize takes down again.
struct ServiceState {
    std::mutex mutex;
    bool running = false;
    bool apartment = false; // this module entered the thread's apartment
    std::vector<DWORD> cookies;
    HANDLE stopEvent = nullptr;
};

ServiceState& service() {
    static ServiceState* state = new ServiceState; // lives as long as the process
    return *state;
}

void takeDown(ServiceState& state) {
    for (DWORD cookie : state.cookies)
        CoRevokeClassObject(cookie);
    state.cookies.clear();
    if (state.stopEvent) {
        CloseHandle(state.stopEvent);
        state.stopEvent = nullptr;
    }
    if (state.apartment) {
        CoUninitialize();
        state.apartment = false;
    }
    state.running = false;
    forgetUnusedConnections();
}

HRESULT moduleFileName(std::u16string& path) {
    HMODULE self = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCWSTR>(&moduleFileName), &self))
        return withErrorInfo(HRESULT_FROM_WIN32(GetLastError()),
                             "The module cannot find its own file.");
    WCHAR buffer[MAX_PATH];
    const DWORD length = GetModuleFileNameW(self, buffer, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return withErrorInfo(HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE),
                             "The module's path is longer than a Windows path may be.");
    path.assign(buffer, length);
    return S_OK;
}

} // namespace

} // namespace qvcomsrv

using namespace qvcomsrv;

QVCOMSRV_EXPORT HRESULT WINAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) {
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    const CreatableClass* cls = findCreatableClass(rclsid);
    if (!cls)
        return CLASS_E_CLASSNOTAVAILABLE;
    IClassFactory* factory = newClassFactory(*cls);
    const HRESULT hr = factory->QueryInterface(riid, ppv);
    factory->Release();
    return hr;
}

QVCOMSRV_EXPORT HRESULT WINAPI DllCanUnloadNow() {
    return moduleReferences() == 0 ? S_OK : S_FALSE;
}

QVCOMSRV_EXPORT HRESULT WINAPI DllRegisterServer() {
    return catchExceptions([] {
        std::u16string path;
        if (HRESULT hr = moduleFileName(path); FAILED(hr))
            return hr;
        return registerInProcess(path);
    });
}

QVCOMSRV_EXPORT HRESULT WINAPI DllUnregisterServer() {
    return catchExceptions([] { return unregisterInProcess(); });
}

QVCOMSRV_EXPORT HRESULT WINAPI QVComInitialize(OSVERSIONINFOW*, HINSTANCE, HANDLE* stopEvent) {
    if (!stopEvent)
        return E_POINTER;
    ServiceState& state = service();
    std::lock_guard<std::mutex> hold(state.mutex);
    if (state.running)
        return withErrorInfo(E_UNEXPECTED, "The object model is initialized already.");

    const HRESULT entered = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (FAILED(entered) && entered != RPC_E_CHANGED_MODE)
        return entered;
    state.apartment = SUCCEEDED(entered);
    state.running = true;

    for (const CreatableClass& cls : creatableClasses()) {
        IClassFactory* factory = newClassFactory(cls);
        DWORD cookie = 0;
        const HRESULT hr = CoRegisterClassObject(*cls.clsid, factory, CLSCTX_LOCAL_SERVER,
                                                 REGCLS_MULTIPLEUSE, &cookie);
        factory->Release();
        if (FAILED(hr)) {
            takeDown(state);
            return hr;
        }
        state.cookies.push_back(cookie);
    }

    state.stopEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!state.stopEvent) {
        const HRESULT hr = HRESULT_FROM_WIN32(GetLastError());
        takeDown(state);
        return hr;
    }
    *stopEvent = state.stopEvent;
    return S_OK;
}

QVCOMSRV_EXPORT HRESULT WINAPI QVComUninitialize(int) {
    ServiceState& state = service();
    std::lock_guard<std::mutex> hold(state.mutex);
    takeDown(state);
    return S_OK;
}

QVCOMSRV_EXPORT HRESULT WINAPI QVComUseFarmStore(LPCWSTR type, LPCWSTR path) {
    return catchExceptions([&] {
        if (!path || !*path) {
            serveStoreInThisProcess(std::nullopt);
            return S_OK;
        }
        if (!type || !*type)
            return withErrorInfo(E_INVALIDARG, "A store to serve needs its type.");
        serveStoreInThisProcess(sky::farm::StoreLocation{sky::narrow(type), sky::narrow(path)});
        return S_OK;
    });
}
