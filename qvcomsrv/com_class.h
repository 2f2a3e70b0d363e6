// The base of every object the module hands out: sky::ComObject (one reference count for all of
// the object's interfaces, QueryInterface over its faces and their families) with
// ISupportErrorInfo and the module's count of live objects that DllCanUnloadNow reads.
//
// An object derives from ComClass with the generated not-implemented base of the newest version
// of each interface family it serves (ISkyloomApplication5NotImpl, ISkyloomWinApp5NotImpl, ...),
// the first being its default interface: its identity and its IDispatch. The generated base
// gives it IDispatch from the generated tables, the earlier versions of each family and
// E_NOTIMPL for every member it does not override. A member that two families share (SaveData
// on the application and on its Windows settings) is one override serving both.
#pragma once

#include <utility>

#include "member_access.h"
#include "results.h"
#include "sky/com_object.h"
#include "win/oleauto.h"

namespace qvcomsrv {

// Objects and class-factory locks alive in this module.
sky::ModuleCount& moduleReferences();

template <class... Faces>
class ComClass : public sky::ComObject<Faces..., ISupportErrorInfo, sky::IMemberGate> {
public:
    // Who may call a member: the one table of member_access.cpp decides for every object.
    HRESULT STDMETHODCALLTYPE MayCall(const sky::dispatch::Table* table, WORD member) override {
        if (!table)
            return E_INVALIDARG;
        return checkAccess(*table, member, accessFarm());
    }

    // Every interface of the object reports its failures through error information.
    HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID riid) override {
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) ||
            IsEqualIID(riid, IID_ISupportErrorInfo) || IsEqualIID(riid, sky::IID_IMemberGate))
            return S_FALSE;
        return this->faceFor(riid) ? S_OK : S_FALSE;
    }

    // One of the object's interfaces, with a reference of its own (empty if it has none).
    template <class Interface> sky::ComPtr<Interface> self() {
        sky::ComPtr<Interface> result;
        this->query(sky::uuidOf<Interface>(), result.putVoid());
        return result;
    }

protected:
    ComClass() { ++moduleReferences(); }
    ~ComClass() override { --moduleReferences(); }

    // The farm whose administrators the object serves, once it is bound to one.
    virtual FarmConnection* accessFarm() { return nullptr; }

    // Ok when the object stands for something (initialized, loaded); otherwise a failure that
    // says what the caller has to do first.
    virtual HRESULT ready() { return S_OK; }

    // Runs a member's body on a ready object; no exception leaves it.
    template <typename Body> HRESULT whenReady(Body&& body) {
        return catchExceptions([&]() -> HRESULT {
            if (HRESULT hr = ready(); FAILED(hr))
                return hr;
            return body();
        });
    }

    // Hands out the object itself at the interface `riid`, as the members that return one of
    // the object's other faces do (the farm's WinFarmObject).
    HRESULT selfAs(REFIID riid, void** out) {
        if (!out)
            return nullOut();
        return this->query(riid, out);
    }
};

// Creates an object whose first reference the caller adopts.
template <class T, class... Args> sky::ComPtr<T> create(Args&&... args) {
    return sky::makeObject<T>(std::forward<Args>(args)...);
}

} // namespace qvcomsrv
