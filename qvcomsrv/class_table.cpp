#include "class_table.h"

#include <atomic>
#include <string>

#include "SkyloomCOM.h"
#include "account_objects.h"
#include "application_object.h"
#include "com_class.h"
#include "farm_object.h"
#include "folder_object.h"
#include "results.h"
#include "server_objects.h"

namespace qvcomsrv {

namespace {

template <class T> HRESULT createObject(REFIID riid, void** ppv) {
    return guarded([&] { return create<T>()->QueryInterface(riid, ppv); });
}

const CreatableClass kClasses[] = {
    {u"SkyloomFarm", &CLSID_SkyloomFarm, 6, u"Skyloom farm", &createObject<FarmObject>},
    {u"SkyloomServer", &CLSID_SkyloomServer, 5, u"Skyloom server", &createObject<ServerObject>},
    {u"SkyloomApplication", &CLSID_SkyloomApplication, 5, u"Skyloom published application",
     &createObject<ApplicationObject>},
    {u"SkyloomUser", &CLSID_SkyloomUser, 5, u"Skyloom user account", &createObject<UserObject>},
    {u"SkyloomGroup", &CLSID_SkyloomGroup, 5, u"Skyloom group account", &createObject<GroupObject>},
    {u"SkyloomFolder", &CLSID_SkyloomFolder, 4, u"Skyloom folder", &createObject<FolderObject>},
    {u"SkyloomZone", &CLSID_SkyloomZone, 2, u"Skyloom zone", &createObject<ZoneObject>},
    {u"SkyloomAppSrvBinding", &CLSID_SkyloomAppSrvBinding, 2, u"Skyloom application-server binding",
     &createObject<BindingObject>},
    {u"SkyloomCredential", &CLSID_SkyloomCredential, 1, u"Skyloom credential",
     &createObject<CredentialObject>},
};

class ClassFactory final : public IClassFactory {
public:
    explicit ClassFactory(const CreatableClass& cls) : class_(cls) { ++moduleReferences(); }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv)
            return E_POINTER;
        if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IClassFactory)) {
            *ppv = nullptr;
            return E_NOINTERFACE;
        }
        *ppv = static_cast<IClassFactory*>(this);
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

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        if (outer)
            return CLASS_E_NOAGGREGATION;
        return class_.create(riid, ppv);
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
        if (lock)
            ++moduleReferences();
        else
            --moduleReferences();
        return S_OK;
    }

private:
    ~ClassFactory() { --moduleReferences(); }

    const CreatableClass& class_;
    std::atomic<ULONG> references_{1};
};

} // namespace

std::atomic<long>& moduleReferences() {
    static std::atomic<long> references{0};
    return references;
}

std::span<const CreatableClass> creatableClasses() {
    return kClasses;
}

const CreatableClass* findCreatableClass(REFCLSID clsid) {
    for (const CreatableClass& cls : kClasses) {
        if (IsEqualCLSID(*cls.clsid, clsid))
            return &cls;
    }
    return nullptr;
}

std::u16string progIdOf(const CreatableClass& cls) {
    return u"SkyloomCOM." + std::u16string(cls.name);
}

IClassFactory* newClassFactory(const CreatableClass& cls) {
    return new ClassFactory(cls);
}

} // namespace qvcomsrv
