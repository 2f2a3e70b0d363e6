// Helpers for code that implements automation objects: a reference-counted base that answers
// QueryInterface for the interfaces it lists, a class factory, the variant enumerator that
// collections hand out as _NewEnum, and error information for a failing member.
#pragma once

#include <atomic>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "sky/com_ptr.h"
#include "sky/variant.h"
#include "win/oleauto.h"

namespace sky {

// The interface a versioned interface derives from (ISkyloomFarm2 -> ISkyloomFarm), so that an
// object listing the newest version also answers for the older ones. Declared next to the
// interfaces with SKY_INTERFACE_PARENT; void where there is none to name.
template <class Interface> struct InterfaceParent { using type = void; };

#define SKY_INTERFACE_PARENT(Interface, Parent)                                                    \
    template <> struct sky::InterfaceParent<Interface> { using type = Parent; }

// Base of an object implementing `Interfaces...` (at least one). QueryInterface answers for
// IUnknown, each listed interface, the parents named with SKY_INTERFACE_PARENT and IDispatch
// when an interface derives from it; queryOther() may add more. The count starts at 1: create
// objects with makeObject(), which adopts that first reference.
template <class First, class... Rest> class ComObject : public First, public Rest... {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        if (IsEqualIID(riid, IID_IUnknown))
            *ppv = static_cast<IUnknown*>(static_cast<First*>(this));
        else
            *ppv = findListed<First, Rest...>(riid);
        if (!*ppv)
            *ppv = queryOther(riid);
        if (!*ppv)
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

protected:
    ComObject() = default;
    virtual ~ComObject() = default;
    ComObject(const ComObject&) = delete;
    ComObject& operator=(const ComObject&) = delete;

    // Interfaces beyond those listed (a tear-off, an inner object); nullptr if none. The base
    // AddRefs what this returns.
    virtual void* queryOther(REFIID) { return nullptr; }

private:
    // `Interface` itself, then its parents, as the one pointer that serves them all.
    template <class Interface> void* findInChain(REFIID riid) {
        void* self = static_cast<Interface*>(this);
        bool match = false;
        matchChain<Interface>(riid, match);
        if (!match && std::is_base_of_v<IDispatch, Interface> && IsEqualIID(riid, IID_IDispatch))
            match = true;
        return match ? self : nullptr;
    }
    template <class Interface> static void matchChain(REFIID riid, bool& match) {
        if (IsEqualIID(riid, uuidOf<Interface>()))
            match = true;
        using Parent = typename InterfaceParent<Interface>::type;
        if constexpr (!std::is_void_v<Parent>) {
            static_assert(std::is_base_of_v<Parent, Interface>, "parent must be a base");
            matchChain<Parent>(riid, match);
        }
    }
    template <class Interface, class... More> void* findListed(REFIID riid) {
        if (void* found = findInChain<Interface>(riid))
            return found;
        if constexpr (sizeof...(More) > 0)
            return findListed<More...>(riid);
        else
            return nullptr;
    }

    std::atomic<ULONG> references_{1};
};

// Creates an object derived from ComObject and adopts its first reference.
template <class T, class... Args> ComPtr<T> makeObject(Args&&... args) {
    return ComPtr<T>::adopt(new T(std::forward<Args>(args)...));
}

// A class factory for T (default-constructible, derived from ComObject).
template <class T> class ClassFactory final : public ComObject<IClassFactory> {
public:
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        if (outer)
            return CLASS_E_NOAGGREGATION;
        try {
            return makeObject<T>()->QueryInterface(riid, ppv);
        } catch (...) {
            return E_OUTOFMEMORY;
        }
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

// The variant enumerator over a fixed list of items, as a collection's _NewEnum returns it.
// Clones share the items and start at the clone's position.
ComPtr<IEnumVARIANT> makeVariantEnumerator(std::vector<Variant> items);

template <class T> ComPtr<IEnumVARIANT> makeVariantEnumerator(const std::vector<ComPtr<T>>& items) {
    std::vector<Variant> variants;
    variants.reserve(items.size());
    for (const auto& item : items)
        variants.emplace_back(item);
    return makeVariantEnumerator(std::move(variants));
}

// Sets the thread's error information (description, source, interface) and returns `result`,
// so that a failing member can end with `return sky::setError(E_FAIL, u"...")`.
HRESULT setError(HRESULT result, std::u16string_view description, std::u16string_view source = {},
                 REFIID iid = IID_NULL);

} // namespace sky
