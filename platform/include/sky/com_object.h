// Helpers for code that implements automation objects: the reference-counted base of every
// object, a class factory, the variant enumerator that collections hand out as _NewEnum, and
// error information for a failing member.
#pragma once

#include <atomic>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "sky/com_ptr.h"
#include "sky/dispatch_table.h"
#include "sky/export.h"
#include "sky/variant.h"
#include "win/oleauto.h"

namespace sky {

// The interface a base of an object stands for: the interface itself, or, for an implementation
// base (DispatchImpl<I> and the generated INotImpl classes built on it), the interface I it
// implements, which it names as `Implements`.
template <class Base, class = void> struct ImplementedInterface { using type = Base; };
template <class Base> struct ImplementedInterface<Base, std::void_t<typename Base::Implements>> {
    using type = typename Base::Implements;
};

namespace detail {

// True when `riid` names `Interface` or one of the earlier versions of its family.
template <class Interface> bool inFamily(REFIID riid) {
    if (IsEqualIID(riid, uuidOf<Interface>()))
        return true;
    using Parent = typename InterfaceParent<Interface>::type;
    if constexpr (std::is_void_v<Parent>) {
        return false;
    } else {
        static_assert(std::is_base_of_v<Parent, Interface>, "a parent must be a base");
        return inFamily<Parent>(riid);
    }
}

// The face of `self` among `Faces` that answers `riid`, already cast to its interface.
template <class Face, class... More, class Self> void* findFace(Self* self, REFIID riid) {
    using Interface = typename ImplementedInterface<Face>::type;
    if (inFamily<Interface>(riid) ||
        (std::is_base_of_v<IDispatch, Interface> && IsEqualIID(riid, IID_IDispatch)))
        return static_cast<Interface*>(self);
    if constexpr (sizeof...(More) > 0)
        return findFace<More...>(self, riid);
    else
        return nullptr;
}

// True when the face `F` gets its IDispatch from the generated table of its interface.
template <class F>
inline constexpr bool servesTable =
    std::is_base_of_v<DispatchImpl<typename ImplementedInterface<F>::type>, F>;

// One face of an object: the base `F` (an interface or an implementation base) with a
// QueryInterface of its own, so that the object knows which face a client holds when it asks.
// Every question goes to the object (answer()), with this face's IDispatch when the face has one.
template <class F> class Face : public F {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) final {
        using Interface = typename ImplementedInterface<F>::type;
        if constexpr (std::is_base_of_v<IDispatch, Interface>)
            return answer(static_cast<IDispatch*>(static_cast<Interface*>(this)), riid, ppv);
        else
            return answer(nullptr, riid, ppv);
    }

protected:
    // `asked` is the IDispatch of the face asked, or null when it has none.
    virtual HRESULT answer(IDispatch* asked, REFIID riid, void** ppv) = 0;
};

} // namespace detail

// The base of every object that implements interfaces here: one reference count for all of the
// object's interfaces and one QueryInterface policy.
//
// The object derives from its faces `First, Rest...`: interfaces, or implementation bases such
// as the generated ISkyloomFarm6NotImpl. Each face answers for its interface and the earlier
// versions of its family (SKY_INTERFACE_PARENT); IUnknown, the object's identity, is the first
// face, whichever face is asked; queryOther() may add more. IDispatch is the face asked, when it
// derives from IDispatch: an object handed out as one of its other faces (the farm's Windows
// settings) and asked for IDispatch by a late-bound client answers with the members of that
// face, by name. Asked through a face without one, or through query(), IDispatch is the first
// face that derives from it. Each face has its own QueryInterface, so code holding the concrete
// class asks through query(). An object with several faces served by dispatch tables answers
// each name of any of them through any of them (sky::IObjectFaces): the farm handed out as its
// Windows settings still answers FarmName by name. The count starts at 1: create objects with
// makeObject(), which adopts that first reference.
//
// A part of a larger object (the type descriptions of a type library) is constructed with its
// owner: it has no count of its own, its references are the owner's, and it lives as long as
// the owner, which deletes it.
template <class First, class... Rest>
class ComObject : public detail::Face<First>, public detail::Face<Rest>... {
public:
    // QueryInterface as asked through the object's default face.
    HRESULT query(REFIID riid, void** ppv) { return answer(nullptr, riid, ppv); }
    ULONG STDMETHODCALLTYPE AddRef() override { return owner_ ? owner_->AddRef() : ++references_; }
    ULONG STDMETHODCALLTYPE Release() override {
        if (owner_)
            return owner_->Release();
        const ULONG left = --references_;
        if (left == 0)
            delete this;
        return left;
    }

protected:
    using DefaultInterface = typename ImplementedInterface<First>::type;

    ComObject() = default;
    explicit ComObject(IUnknown& owner) : owner_(&owner) {}
    virtual ~ComObject() = default;
    ComObject(const ComObject&) = delete;
    ComObject& operator=(const ComObject&) = delete;

    // The face that answers `riid` (IUnknown and IDispatch included), cast to that interface; or
    // nullptr when no face does.
    void* faceFor(REFIID riid) {
        if (IsEqualIID(riid, IID_IUnknown))
            return static_cast<IUnknown*>(static_cast<DefaultInterface*>(this));
        return detail::findFace<First, Rest...>(this, riid);
    }

    // Interfaces beyond the faces (a tear-off, an inner object); nullptr if none. The base
    // AddRefs what this returns.
    virtual void* queryOther(REFIID) { return nullptr; }

    HRESULT answer(IDispatch* asked, REFIID riid, void** ppv) final {
        if (!ppv)
            return E_POINTER;
        *ppv = asked && IsEqualIID(riid, IID_IDispatch) ? asked : faceFor(riid);
        if (!*ppv && kTableFaces > 1 && IsEqualIID(riid, IID_IObjectFaces))
            *ppv = static_cast<IObjectFaces*>(&faces_);
        if (!*ppv)
            *ppv = queryOther(riid);
        if (!*ppv)
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }

private:
    static constexpr UINT kTableFaces =
        (UINT{detail::servesTable<First>} + ... + UINT{detail::servesTable<Rest>});

    // Face `index` among those served by tables, counting down `index` on the way.
    template <class F> bool tableFace(UINT& index, const dispatch::Table** table, IUnknown** face) {
        if constexpr (detail::servesTable<F>) {
            using Interface = typename ImplementedInterface<F>::type;
            if (index-- == 0) {
                *table = &dispatch::TableOf<Interface>::get();
                *face = static_cast<IUnknown*>(static_cast<Interface*>(this));
                return true;
            }
        }
        return false;
    }

    // The faces served by tables, in the order of the object's bases.
    class Faces final : public IObjectFaces {
    public:
        explicit Faces(ComObject& object) : object_(object) {}
        HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
            return object_.query(riid, ppv);
        }
        ULONG STDMETHODCALLTYPE AddRef() override { return object_.AddRef(); }
        ULONG STDMETHODCALLTYPE Release() override { return object_.Release(); }
        UINT STDMETHODCALLTYPE FaceCount() override { return kTableFaces; }
        HRESULT STDMETHODCALLTYPE Face(UINT index, const dispatch::Table** table,
                                       IUnknown** face) override {
            if (!table || !face)
                return E_POINTER;
            *table = nullptr;
            *face = nullptr;
            const bool found = object_.template tableFace<First>(index, table, face) ||
                               (object_.template tableFace<Rest>(index, table, face) || ...);
            return found ? S_OK : E_INVALIDARG;
        }

    private:
        ComObject& object_;
    };

    IUnknown* owner_ = nullptr;
    std::atomic<ULONG> references_{1};
    Faces faces_{*this};
};

// Creates an object derived from ComObject and adopts its first reference.
template <class T, class... Args> ComPtr<T> makeObject(Args&&... args) {
    return ComPtr<T>::adopt(new T(std::forward<Args>(args)...));
}

// What keeps a module loaded: its live objects and the locks on its class factories. The
// module's DllCanUnloadNow answers S_OK when the count is zero.
using ModuleCount = std::atomic<long>;

// A class factory that makes its objects with `create`. With a module count, the factory
// itself and every LockServer(TRUE) not yet undone keep the module loaded.
class ClassFactory final : public ComObject<IClassFactory> {
public:
    using Create = HRESULT (*)(REFIID riid, void** ppv);

    explicit ClassFactory(Create create, ModuleCount* module = nullptr)
        : create_(create), module_(module) {
        if (module_)
            ++*module_;
    }

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        if (outer)
            return CLASS_E_NOAGGREGATION;
        return create_(riid, ppv);
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
        if (module_) {
            if (lock)
                ++*module_;
            else
                --*module_;
        }
        return S_OK;
    }

private:
    ~ClassFactory() override {
        if (module_)
            --*module_;
    }

    Create create_;
    ModuleCount* module_;
};

// A new T (default-constructible, derived from ComObject) at interface `riid`, as a class
// factory creates it.
template <class T> HRESULT createInstance(REFIID riid, void** ppv) noexcept {
    try {
        return makeObject<T>()->query(riid, ppv);
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

// A class factory for T.
template <class T> ComPtr<IClassFactory> makeClassFactory(ModuleCount* module = nullptr) {
    return makeObject<ClassFactory>(&createInstance<T>, module);
}

// The variant enumerator over a fixed list of items, as a collection's _NewEnum returns it.
// Clones share the items and start at the clone's position.
SKY_API ComPtr<IEnumVARIANT> makeVariantEnumerator(std::vector<Variant> items);

template <class T> ComPtr<IEnumVARIANT> makeVariantEnumerator(const std::vector<ComPtr<T>>& items) {
    std::vector<Variant> variants;
    variants.reserve(items.size());
    for (const auto& item : items)
        variants.emplace_back(item);
    return makeVariantEnumerator(std::move(variants));
}

// Sets the thread's error information (description, source, interface) and returns `result`,
// so that a failing member can end with `return sky::setError(E_FAIL, u"...")`.
SKY_API HRESULT setError(HRESULT result, std::u16string_view description,
                         std::u16string_view source = {}, REFIID iid = IID_NULL);

} // namespace sky
