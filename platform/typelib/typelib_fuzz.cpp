// Fuzz target: a type library image as LoadTypeLib reads it from a file or a module resource,
// then every type of it walked as a client walks it.
#include <cstdint>

#include "sky/typelib_image.h"
#include "win/oleauto.h"
#include "win/typelib.h"

namespace {

void walk(ITypeInfo* info) {
    TYPEATTR* attr = nullptr;
    if (FAILED(info->GetTypeAttr(&attr)))
        return;
    for (UINT f = 0; f < attr->cFuncs; ++f) {
        FUNCDESC* func = nullptr;
        if (FAILED(info->GetFuncDesc(f, &func)))
            continue;
        BSTR names[8] = {};
        UINT count = 0;
        if (SUCCEEDED(info->GetNames(func->memid, names, 8, &count))) {
            for (UINT n = 0; n < count; ++n)
                SysFreeString(names[n]);
        }
        info->ReleaseFuncDesc(func);
    }
    for (UINT v = 0; v < attr->cVars; ++v) {
        VARDESC* var = nullptr;
        if (SUCCEEDED(info->GetVarDesc(v, &var)))
            info->ReleaseVarDesc(var);
    }
    for (UINT i = 0; i < attr->cImplTypes; ++i) {
        HREFTYPE ref = 0;
        ITypeInfo* other = nullptr;
        if (SUCCEEDED(info->GetRefTypeOfImplType(i, &ref)) &&
            SUCCEEDED(info->GetRefTypeInfo(ref, &other)))
            other->Release();
    }
    info->ReleaseTypeAttr(attr);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    ITypeLib* library = nullptr;
    if (FAILED(sky::typelib::loadTypeLibFromMemory(data, size, &library)))
        return 0;
    for (UINT i = 0; i < library->GetTypeInfoCount(); ++i) {
        ITypeInfo* info = nullptr;
        if (SUCCEEDED(library->GetTypeInfo(i, &info))) {
            walk(info);
            info->Release();
        }
    }
    library->Release();
    return 0;
}
