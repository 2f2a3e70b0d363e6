#include "class_table.h"

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
    return catchExceptions([&] { return create<T>()->query(riid, ppv); });
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

} // namespace

sky::ModuleCount& moduleReferences() {
    static sky::ModuleCount references{0};
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
    return sky::makeObject<sky::ClassFactory>(cls.create, &moduleReferences()).detach();
}

} // namespace qvcomsrv
