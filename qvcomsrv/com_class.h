// The base of every object the module hands out: one reference count for all of the object's
// interfaces, QueryInterface over the faces the object lists, ISupportErrorInfo, and the count of
// live objects that DllCanUnloadNow reads.
//
// An object derives from ComClass with the generated not-implemented base of the newest version
// of each interface family it serves (ISkyloomApplication5NotImpl, ISkyloomWinApp5NotImpl, ...),
// which gives it IDispatch from the generated tables and E_NOTIMPL for every member it does not
// override. A member that two families share (SaveData on the application and on its Windows
// settings) is one override serving both. The object says which identifiers each face answers
// in face():
//
//   void* face(REFIID riid) override {
//       if (answersFor<ISkyloomApplication5, ISkyloomApplication4, ...>(riid))
//           return static_cast<ISkyloomApplication5*>(this);
//       ...
//   }
#pragma once

#include <atomic>
#include <type_traits>

#include "results.h"
#include "sky/com_ptr.h"
#include "win/oleauto.h"

namespace qvcomsrv {

// Objects and class-factory locks alive in this module.
std::atomic<long>& moduleReferences();

// True when `riid` names `Newest` or one of the earlier versions it derives from. The list is
// checked against the interfaces' derivation, so a face cannot claim what it does not implement.
template <class Newest, class... Older> bool answersFor(REFIID riid) {
    static_assert((std::is_base_of_v<Older, Newest> && ...),
                  "every earlier version must be a base of the newest");
    return IsEqualIID(riid, sky::uuidOf<Newest>()) ||
           (IsEqualIID(riid, sky::uuidOf<Older>()) || ...);
}

// `Default` is the object's default interface: its identity (IUnknown) and its IDispatch.
template <class Default, class... Faces>
class ComClass : public Faces..., public ISupportErrorInfo {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv)
            return E_POINTER;
        void* found = nullptr;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch))
            found = face(sky::uuidOf<Default>());
        else if (IsEqualIID(riid, IID_ISupportErrorInfo))
            found = static_cast<ISupportErrorInfo*>(this);
        else
            found = face(riid);
        *ppv = found;
        if (!found)
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --references_;
        if (left == 0)
            delete this;
        return left;
    }

    // Every interface of the object reports its failures through error information.
    HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID riid) override {
        return face(riid) ? S_OK : S_FALSE;
    }

    // One of the object's interfaces, with a reference of its own (empty if it has none).
    template <class Interface> sky::ComPtr<Interface> self() {
        sky::ComPtr<Interface> result;
        QueryInterface(sky::uuidOf<Interface>(), result.putVoid());
        return result;
    }

protected:
    ComClass() { ++moduleReferences(); }
    virtual ~ComClass() { --moduleReferences(); }
    ComClass(const ComClass&) = delete;
    ComClass& operator=(const ComClass&) = delete;

    // The face that answers `riid` (already cast to that interface), or nullptr.
    virtual void* face(REFIID riid) = 0;

    // Ok when the object stands for something (initialized, loaded); otherwise a failure that
    // says what the caller has to do first.
    virtual HRESULT ready() { return S_OK; }

    // Runs a member's body on a ready object; no exception leaves it.
    template <typename Body> HRESULT whenReady(Body&& body) {
        return guarded([&]() -> HRESULT {
            if (HRESULT hr = ready(); FAILED(hr))
                return hr;
            return body();
        });
    }

private:
    std::atomic<ULONG> references_{1};
};

// Creates an object whose first reference the caller adopts.
template <class T, class... Args> sky::ComPtr<T> create(Args&&... args) {
    return sky::ComPtr<T>::adopt(new T(std::forward<Args>(args)...));
}

} // namespace qvcomsrv
