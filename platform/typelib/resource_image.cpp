#include "resource_image.h"

#include <cstring>

#include "win/errors.h"
#include "win/module.h"
#include "win/oleauto.h"

namespace sky::typelib {

HRESULT readTypeLibResource(const std::u16string& modulePath, WORD id,
                            std::vector<unsigned char>& out) {
    // As data: the module's code is not run, so this works on programs and modules alike.
    HMODULE module = LoadLibraryExW(modulePath.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (!module)
        return TYPE_E_CANTLOADLIBRARY;
    HRESULT hr = TYPE_E_CANTLOADLIBRARY;
    if (HRSRC info = FindResourceW(module, MAKEINTRESOURCEW(id), u"TYPELIB")) {
        DWORD size = SizeofResource(module, info);
        HGLOBAL data = LoadResource(module, info);
        const void* bytes = data ? LockResource(data) : nullptr;
        if (bytes && size) {
            out.resize(size);
            std::memcpy(out.data(), bytes, size);
            hr = S_OK;
        }
    }
    FreeLibrary(module);
    return hr;
}

} // namespace sky::typelib
