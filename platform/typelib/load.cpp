// LoadTypeLib and LoadTypeLibEx: a library from a .tlb file, from the "TYPELIB" resource of a
// module file, or the built-in standard library (stdole2.tlb).
#include <fstream>
#include <iterator>

#include "resource_image.h"
#include "sky/machine.h"
#include "sky/text.h"
#include "sky/typelib_image.h"
#include "typelib_object.h"

namespace sky::typelib {

namespace {

bool readFile(const std::filesystem::path& path, std::vector<unsigned char>& out) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

bool isStandardLibraryName(std::u16string_view path) {
    std::size_t slash = path.find_last_of(u"\\/");
    std::u16string_view name = slash == std::u16string_view::npos ? path : path.substr(slash + 1);
    return equalNoCase(name, u"stdole2.tlb") || equalNoCase(name, u"stdole32.tlb");
}

// "...\file.exe\3": the module file and the resource number, when the path ends that way.
bool splitResourceNumber(std::u16string_view path, std::u16string& file, WORD& id) {
    std::size_t slash = path.find_last_of(u'\\');
    if (slash == std::u16string_view::npos || slash + 1 >= path.size())
        return false;
    unsigned value = 0;
    for (char16_t c : path.substr(slash + 1)) {
        if (c < u'0' || c > u'9' || value > 0xFFFF)
            return false;
        value = value * 10 + static_cast<unsigned>(c - u'0');
    }
    if (value == 0 || value > 0xFFFF)
        return false;
    file.assign(path.substr(0, slash));
    id = static_cast<WORD>(value);
    return true;
}

HRESULT fromBytes(const std::vector<unsigned char>& bytes, ITypeLib** out) {
    return loadTypeLibFromMemory(bytes.data(), bytes.size(), out);
}

HRESULT load(std::u16string_view path, ITypeLib** out) {
    auto host = machine::toHostPath(path);
    std::error_code ec;
    if (host && std::filesystem::is_regular_file(*host, ec)) {
        std::vector<unsigned char> bytes;
        if (!readFile(*host, bytes))
            return TYPE_E_CANTLOADLIBRARY;
        if (looksLikeImage(bytes.data(), bytes.size()))
            return fromBytes(bytes, out);
        // Not a type library itself: a module carrying one as resource 1.
        HRESULT hr = readTypeLibResource(std::u16string(path), 1, bytes);
        return SUCCEEDED(hr) ? fromBytes(bytes, out) : hr;
    }
    std::u16string module;
    WORD id = 0;
    if (splitResourceNumber(path, module, id)) {
        auto moduleHost = machine::toHostPath(module);
        if (moduleHost && std::filesystem::is_regular_file(*moduleHost, ec)) {
            std::vector<unsigned char> bytes;
            HRESULT hr = readTypeLibResource(module, id, bytes);
            return SUCCEEDED(hr) ? fromBytes(bytes, out) : hr;
        }
    }
    if (isStandardLibraryName(path)) {
        TypeLibObject& stdole = standardLibrary();
        stdole.AddRef();
        *out = &stdole;
        return S_OK;
    }
    return TYPE_E_CANTLOADLIBRARY;
}

// A bare file name, without directory: the case in which LoadTypeLib registers the library.
bool isBareName(std::u16string_view path) {
    return path.find_first_of(u"\\/:") == std::u16string_view::npos;
}

} // namespace

} // namespace sky::typelib

extern "C" HRESULT WINAPI LoadTypeLibEx(LPCOLESTR szFile, REGKIND regkind, ITypeLib** pptlib) {
    if (!pptlib)
        return E_INVALIDARG;
    *pptlib = nullptr;
    if (!szFile)
        return E_INVALIDARG;
    if (regkind != REGKIND_DEFAULT && regkind != REGKIND_REGISTER && regkind != REGKIND_NONE)
        return E_INVALIDARG;
    std::u16string_view path(szFile, sky::length(szFile));
    HRESULT hr = sky::typelib::load(path, pptlib);
    if (FAILED(hr))
        return hr;
    bool registerIt = regkind == REGKIND_REGISTER ||
                      (regkind == REGKIND_DEFAULT && sky::typelib::isBareName(path));
    if (registerIt && !sky::typelib::isStandardLibraryName(path)) {
        auto host = sky::machine::toHostPath(path);
        std::u16string full = host ? sky::machine::toWindowsPath(std::filesystem::absolute(*host))
                                   : std::u16string(path);
        hr = RegisterTypeLib(*pptlib, full.c_str(), nullptr);
        if (FAILED(hr)) {
            (*pptlib)->Release();
            *pptlib = nullptr;
            return hr;
        }
    }
    return S_OK;
}

extern "C" HRESULT WINAPI LoadTypeLib(LPCOLESTR szFile, ITypeLib** pptlib) {
    return LoadTypeLibEx(szFile, REGKIND_DEFAULT, pptlib);
}
