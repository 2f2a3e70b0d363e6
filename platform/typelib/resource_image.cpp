#include "resource_image.h"

#include <cstring>
#include <string_view>

#include "win/errors.h"
#include "win/module.h"
#include "win/oleauto.h"

namespace sky::typelib {

namespace {

// The module file exactly as named. A library load adds ".dll" to a last name without an
// extension and drops one trailing point; a type library names its file as it is, so a point is
// added where the load would change the name ("...\qvcom" stays "...\qvcom").
std::u16string exactModuleName(const std::u16string& path) {
    const std::size_t slash = path.find_last_of(u"\\/");
    const std::u16string_view last =
        std::u16string_view(path).substr(slash == std::u16string::npos ? 0 : slash + 1);
    if (!last.empty() && (last.back() == u'.' || last.find(u'.') == std::u16string_view::npos))
        return path + u".";
    return path;
}

} // namespace

HRESULT readTypeLibResource(const std::u16string& modulePath, WORD id,
                            std::vector<unsigned char>& out) {
    // As data: the module's code is not run, so this works on programs and modules alike.
    HMODULE module =
        LoadLibraryExW(exactModuleName(modulePath).c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
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
