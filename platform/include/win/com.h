// The component object core: IUnknown, class factories, activation and task memory.
//
// Interfaces declare no virtual destructor, so that every table slot sits where Windows puts it.
#pragma once

#include "win/errors.h"
#include "win/guid.h"
#include "win/types.h"

using OLECHAR = WCHAR;
using LPOLESTR = OLECHAR*;
using LPCOLESTR = const OLECHAR*;

inline constexpr IID IID_IUnknown{0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_IClassFactory{0x00000001, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

struct IUnknown {
    virtual HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppvObject) = 0;
    virtual ULONG STDMETHODCALLTYPE AddRef() = 0;
    virtual ULONG STDMETHODCALLTYPE Release() = 0;
};
using LPUNKNOWN = IUnknown*;
SKY_INTERFACE_ID(IUnknown, IID_IUnknown);

struct IClassFactory : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* pUnkOuter, REFIID riid,
                                                     void** ppvObject) = 0;
    virtual HRESULT STDMETHODCALLTYPE LockServer(BOOL fLock) = 0;
};
SKY_INTERFACE_ID(IClassFactory, IID_IClassFactory);

// Activation contexts and class-object registration flags.
#define CLSCTX_INPROC_SERVER 0x1
#define CLSCTX_INPROC_HANDLER 0x2
#define CLSCTX_LOCAL_SERVER 0x4
#define CLSCTX_REMOTE_SERVER 0x10
#define CLSCTX_INPROC (CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER)
#define CLSCTX_SERVER (CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER)
#define CLSCTX_ALL                                                                                 \
    (CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER)

#define REGCLS_SINGLEUSE 0
#define REGCLS_MULTIPLEUSE 1
#define REGCLS_MULTI_SEPARATE 2
#define REGCLS_SUSPENDED 4

#define COINIT_APARTMENTTHREADED 0x2
#define COINIT_MULTITHREADED 0x0
#define COINIT_DISABLE_OLE1DDE 0x4
#define COINIT_SPEED_OVER_MEMORY 0x8

// What an in-process module exports for activation.
using LPFNGETCLASSOBJECT = HRESULT (*)(REFCLSID, REFIID, LPVOID*);

extern "C" {
SKY_API HRESULT WINAPI CoInitialize(LPVOID pvReserved);
SKY_API HRESULT WINAPI CoInitializeEx(LPVOID pvReserved, DWORD dwCoInit);
SKY_API void WINAPI CoUninitialize();

SKY_API HRESULT WINAPI CoCreateInstance(REFCLSID rclsid, LPUNKNOWN pUnkOuter, DWORD dwClsContext,
                                        REFIID riid, LPVOID* ppv);
SKY_API HRESULT WINAPI CoGetClassObject(REFCLSID rclsid, DWORD dwClsContext, LPVOID pvReserved,
                                        REFIID riid, LPVOID* ppv);
SKY_API HRESULT WINAPI CoRegisterClassObject(REFCLSID rclsid, LPUNKNOWN pUnk, DWORD dwClsContext,
                                             DWORD flags, LPDWORD lpdwRegister);
SKY_API HRESULT WINAPI CoRevokeClassObject(DWORD dwRegister);
SKY_API HRESULT WINAPI CoResumeClassObjects();

SKY_API HRESULT WINAPI CLSIDFromProgID(LPCOLESTR lpszProgID, LPCLSID lpclsid);
SKY_API HRESULT WINAPI ProgIDFromCLSID(REFCLSID clsid, LPOLESTR* lplpszProgID);
SKY_API HRESULT WINAPI CLSIDFromString(LPCOLESTR lpsz, LPCLSID pclsid);
SKY_API HRESULT WINAPI IIDFromString(LPCOLESTR lpsz, LPIID lpiid);
SKY_API HRESULT WINAPI StringFromCLSID(REFCLSID rclsid, LPOLESTR* lplpsz);
SKY_API HRESULT WINAPI StringFromIID(REFIID rclsid, LPOLESTR* lplpsz);
SKY_API int WINAPI StringFromGUID2(REFGUID rguid, LPOLESTR lpsz, int cchMax);

SKY_API LPVOID WINAPI CoTaskMemAlloc(SIZE_T cb);
SKY_API LPVOID WINAPI CoTaskMemRealloc(LPVOID pv, SIZE_T cb);
SKY_API void WINAPI CoTaskMemFree(LPVOID pv);
}
