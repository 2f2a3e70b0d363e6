// Calls across a process boundary: what the IDL compiler's generated proxies build on.
//
// A library's interfaces cross the boundary by their dispatch tables (sky/dispatch_table.h): the
// members in table order after IDispatch's seven, with the variant type of every parameter. The
// compiler writes, per library, one InterfaceMarshal per interface and, per interface that no
// other derives from, a proxy class whose table slots each hand the addresses of their arguments
// to callMember(). Everything else (the wire format, the shared-memory transport, the stubs that
// call the real object) is table-driven here, so the generated code stays small.
//
// A library registers its entries when the program or module holding them is loaded and removes
// them when it is unloaded (RegisterInterfaces below does both).
#pragma once

#include <chrono>

#include "sky/export.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "sky/dispatch_table.h"
#include "sky/export.h"
#include "win/oleauto.h"

namespace sky::remote {

// One interface of one remote object, as a proxy sees it.
class ProxyCore;

// The base of every interface proxy: the manager of the remote object deletes it.
class ProxyBase {
public:
    virtual ~ProxyBase() = default;
    // The proxy as the interface it stands for.
    virtual IUnknown* face() = 0;
};

struct InterfaceMarshal {
    const IID* iid;
    const dispatch::Table* table;
    // Per member of the table: the interface a member hands back, nullptr for other results.
    const IID* const* resultIids;
    // A proxy for this interface (the class of an interface derived from it may serve).
    ProxyBase* (*makeProxy)(ProxyCore* core);
};

SKY_API void registerInterfaces(const InterfaceMarshal* entries, std::size_t count);
SKY_API void unregisterInterfaces(const InterfaceMarshal* entries);
// The marshalling of an interface; nullptr when no loaded library describes it.
SKY_API const InterfaceMarshal* findInterface(REFIID iid);
// The interface of the loaded libraries at which `object` answers with `pointer` (a face of the
// object's handed out as a plain IDispatch or IUnknown), found by asking the object for each;
// false when it is none of them.
SKY_API bool findFace(IUnknown* object, IUnknown* pointer, IID& face);

// Whether the table of `derived` holds every member of the table of `base` in the same place,
// and more: the table of an interface derived from base's (each table lists the members of the
// bases first), so that member `i` of `base` is member `i` of `derived`. A table without members
// is extended by none.
SKY_API bool extendsInterface(const InterfaceMarshal& derived, const InterfaceMarshal& base);
// The interfaces of the loaded libraries whose tables extend that of `base`, the widest first.
SKY_API std::vector<const InterfaceMarshal*> derivedInterfaces(const InterfaceMarshal& base);

// Registers a library's entries for as long as the object lives.
class RegisterInterfaces {
public:
    RegisterInterfaces(const InterfaceMarshal* entries, std::size_t count) : entries_(entries) {
        registerInterfaces(entries, count);
    }
    ~RegisterInterfaces() { unregisterInterfaces(entries_); }
    RegisterInterfaces(const RegisterInterfaces&) = delete;
    RegisterInterfaces& operator=(const RegisterInterfaces&) = delete;

private:
    const InterfaceMarshal* entries_;
};

// The calls a proxy forwards. `args` holds the address of each C++ parameter in declaration
// order, the [out, retval] pointer last.
SKY_API HRESULT callMember(ProxyCore* core, unsigned index, void** args);
SKY_API HRESULT proxyQueryInterface(ProxyCore* core, REFIID riid, void** ppv);
SKY_API ULONG proxyAddRef(ProxyCore* core);
SKY_API ULONG proxyRelease(ProxyCore* core);
SKY_API HRESULT proxyGetTypeInfo(ProxyCore* core, UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo);
SKY_API HRESULT proxyGetIDsOfNames(ProxyCore* core, REFIID riid, LPOLESTR* rgszNames, UINT cNames,
                                   LCID lcid, DISPID* rgDispId);
SKY_API HRESULT proxyInvoke(ProxyCore* core, DISPID dispIdMember, REFIID riid, LCID lcid,
                            WORD wFlags, DISPPARAMS* pDispParams, VARIANT* pVarResult,
                            EXCEPINFO* pExcepInfo, UINT* puArgErr);

SKY_API HRESULT proxyGetTypeInfoCount(ProxyCore* core, UINT* pctinfo);

// IUnknown of a proxy for `Interface`: one identity and one count for all faces of the object.
template <class Interface> class ProxyUnknown : public Interface, public ProxyBase {
public:
    explicit ProxyUnknown(ProxyCore* core) : core_(core) {}

    IUnknown* face() override { return static_cast<Interface*>(this); }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        return proxyQueryInterface(core_, riid, ppv);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return proxyAddRef(core_); }
    ULONG STDMETHODCALLTYPE Release() override { return proxyRelease(core_); }

protected:
    ProxyCore* core() const { return core_; }

private:
    ProxyCore* core_;
};

// IUnknown and IDispatch of a proxy for `Interface`; the generated class adds the members.
template <class Interface> class ProxyOf : public ProxyUnknown<Interface> {
public:
    using ProxyUnknown<Interface>::ProxyUnknown;

    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* pctinfo) override {
        return proxyGetTypeInfoCount(this->core(), pctinfo);
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo) override {
        return proxyGetTypeInfo(this->core(), iTInfo, lcid, ppTInfo);
    }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames,
                                            LCID lcid, DISPID* rgDispId) override {
        return proxyGetIDsOfNames(this->core(), riid, rgszNames, cNames, lcid, rgDispId);
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags,
                                     DISPPARAMS* pDispParams, VARIANT* pVarResult,
                                     EXCEPINFO* pExcepInfo, UINT* puArgErr) override {
        return proxyInvoke(this->core(), dispIdMember, riid, lcid, wFlags, pDispParams, pVarResult,
                           pExcepInfo, puArgErr);
    }

protected:
    HRESULT call(unsigned index, void** args) { return callMember(this->core(), index, args); }
};

// Hands the references this process let go of back to the servers now, instead of with the
// next call (a program about to wait idle, a test that looks at the server).
SKY_API void deliverReleases();

// How long this process's endpoint keeps a connection that holds no objects and has made no
// call (60 seconds unless set); a connection that holds objects stays while its client lives.
SKY_API void setIdleConnectionTime(std::chrono::milliseconds time);

// How many requests this process has sent to object servers, each a round trip (for diagnostics
// and tests).
SKY_API std::uint64_t requestsSent();

// How many objects this process serves to other processes now (for diagnostics and tests).
SKY_API std::size_t exportedObjects();

// How often the threads serving this process's connections woke its endpoint's listener (when
// a connection ends; for diagnostics and tests: a call that hands files over wakes it not).
SKY_API std::uint64_t listenerWakeUps();

// The class object of `clsid` as another process reaches it: through the endpoint where a
// server published it, as a proxy, even when this process registered it itself.
// REGDB_E_CLASSNOTREG when no server has published the class.
SKY_API HRESULT getRemoteClassObject(REFCLSID clsid, REFIID riid, void** ppv);

// The user name of the caller whose call the current thread serves, as CoImpersonateClient
// gives it; empty outside a call from another process or after CoRevertToSelf.
SKY_API const char16_t* impersonatedUser();

// A place to keep what a server works out about the caller of the call from another process
// that the current thread serves (his account's name), so that it is worked out once for the
// call however often the call asks (a snapshot asks the member gate for each member): empty at
// the start of every call served, null outside one. The platform keeps it, in thread storage
// every thread has from its start, so that a module loaded at run time needs no thread-local
// storage of its own (the sanitizers' leak check crashes walking a loaded module's).
SKY_API std::string* servingCallMemo();
// The number of the call from another process that the current thread serves: every call served
// in this process has a number of its own, never given again; 0 outside one. A server may keep
// what holds for one call (a decision about its caller) beside the number, and trust it only
// while the number is the same.
SKY_API std::uint64_t servingCallNumber();

// Files that members open for their callers (parameters marked with dispatch::FileUse). Only
// regular files are read or written: a file is opened without blocking (a pipe or a device
// never holds the opener up) and kept only when it is a regular file.
struct MemberFile {
    int fd = -1;                // the open regular file; whoever holds the MemberFile closes it
    int error = 0;              // when fd < 0: the system's error number (errno) of the open,
    unsigned kind = 0;          // or, with error 0, the type (S_IFMT bits) of what the name
                                // names that is no regular file
    bool folderMissing = false; // error is ENOENT because the file's folder does not exist
    bool notHanded = false;     // a call from another process whose caller handed over no file
                                // of this name for this use
};

// Whether a Windows path may name a file: no < > : " | ? * or control character (':' only after
// a drive letter). A member refuses other names before anything is opened.
SKY_API bool isValidWindowsPath(std::u16string_view path);

// Opens the file of the Windows path `name` for `use` with this process's own rights: for
// writing it is created when it does not exist (mode 0644 less the umask) but not emptied, so
// that the writer empties it only when it writes; `created` says whether this open made it.
SKY_API MemberFile openMemberFile(std::u16string_view name, dispatch::FileUse use,
                                  bool* created = nullptr);

// The file of a member's file argument `name` for `use`. While the thread serves a call from
// another process: the file that the caller's side opened with the caller's own rights and
// handed over with the call (each handed file is given out once); a file it did not hand over is
// never opened here (notHanded). Otherwise: openMemberFile, with this process's own rights.
SKY_API MemberFile callerFile(std::u16string_view name, dispatch::FileUse use);

} // namespace sky::remote
