// The classes the module lets callers create: their identifiers, the version their programmatic
// identifier carries ("SkyloomCOM.SkyloomFarm.6"), and how a new object is made.
#pragma once

#include <span>
#include <string_view>

#include "win/com.h"

namespace qvcomsrv {

struct CreatableClass {
    std::u16string_view name; // the class name: "SkyloomFarm"
    const CLSID* clsid;
    int version;                     // the major version; every minor version is 0
    std::u16string_view description; // "Skyloom farm"
    // A new object, uninitialized, at interface `riid`.
    HRESULT (*create)(REFIID riid, void** ppv);
};

std::span<const CreatableClass> creatableClasses();
const CreatableClass* findCreatableClass(REFCLSID clsid);

// "SkyloomCOM." and the class name.
std::u16string progIdOf(const CreatableClass& cls);

// A class factory for `cls` (AddRef'd), as DllGetClassObject and CoRegisterClassObject hand
// out.
IClassFactory* newClassFactory(const CreatableClass& cls);

} // namespace qvcomsrv
