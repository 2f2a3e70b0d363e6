// RegisterTypeLib and UnRegisterTypeLib: the type library's entries under HKEY_CLASSES_ROOT
// (HKLM\Software\Classes), as Windows writes them:
//
//   TypeLib\{LIBID}\M.m                default: the library's help string (else its name)
//   TypeLib\{LIBID}\M.m\LCID\win32     default: the library's path    (LCID and M.m in hex)
//   TypeLib\{LIBID}\M.m\FLAGS          default: the library flags, decimal
//   TypeLib\{LIBID}\M.m\HELPDIR        default: the help directory (else the path's directory)
//   Interface\{IID}                    default: the interface's name    (each dual, dispatch
//   Interface\{IID}\ProxyStubClsid     default: the automation marshaler  or oleautomation
//   Interface\{IID}\ProxyStubClsid32   default: the same                  interface)
//   Interface\{IID}\TypeLib            default: {LIBID}; "Version": "M.m"
#include <cstdio>
#include <string>
#include <vector>

#include "sky/text.h"
#include "win/registry.h"
#include "win/typelib.h"

namespace {

constexpr const char16_t* kClasses = u"Software\\Classes";
// The marshalers of dual/oleautomation interfaces and of pure dispatch interfaces.
constexpr const char16_t* kOleAutomationMarshaler = u"{00020424-0000-0000-C000-000000000046}";
constexpr const char16_t* kDispatchMarshaler = u"{00020420-0000-0000-C000-000000000046}";

std::u16string guidText(const GUID& g) {
    OLECHAR text[40];
    StringFromGUID2(g, text, 40);
    return text;
}

std::u16string hex(unsigned value) {
    char text[16];
    std::snprintf(text, sizeof text, "%x", value);
    return sky::widen(text);
}

std::u16string versionText(WORD major, WORD minor) {
    return hex(major) + u"." + hex(minor);
}

const char16_t* sysKindName(SYSKIND kind) {
    switch (kind) {
    case SYS_WIN16:
        return u"win16";
    case SYS_WIN32:
        return u"win32";
    case SYS_MAC:
        return u"mac";
    case SYS_WIN64:
        return u"win64";
    }
    return u"win32";
}

class Key {
public:
    Key() = default;
    ~Key() {
        if (key_)
            RegCloseKey(key_);
    }
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;

    LSTATUS create(HKEY parent, const std::u16string& path) {
        return RegCreateKeyExW(parent, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key_,
                               nullptr);
    }
    LSTATUS open(HKEY parent, const std::u16string& path, REGSAM access = KEY_ALL_ACCESS) {
        return RegOpenKeyExW(parent, path.c_str(), 0, access, &key_);
    }
    LSTATUS set(const char16_t* name, const std::u16string& value) {
        return RegSetValueExW(key_, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                              static_cast<DWORD>((value.size() + 1) * sizeof(char16_t)));
    }
    // The key's string value, or false.
    bool get(const char16_t* name, std::u16string& out) const {
        DWORD type = 0, size = 0;
        if (RegQueryValueExW(key_, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
            (type != REG_SZ && type != REG_EXPAND_SZ))
            return false;
        std::u16string buffer(size / sizeof(char16_t) + 1, u'\0');
        if (RegQueryValueExW(key_, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()),
                             &size) != ERROR_SUCCESS)
            return false;
        buffer.resize(size / sizeof(char16_t));
        while (!buffer.empty() && buffer.back() == u'\0')
            buffer.pop_back();
        out = buffer;
        return true;
    }
    std::vector<std::u16string> subkeys() const {
        std::vector<std::u16string> names;
        for (DWORD i = 0;; ++i) {
            OLECHAR name[256];
            DWORD length = 256;
            if (RegEnumKeyExW(key_, i, name, &length, nullptr, nullptr, nullptr, nullptr) !=
                ERROR_SUCCESS)
                break;
            names.emplace_back(name, length);
        }
        return names;
    }
    HKEY get() const { return key_; }

private:
    HKEY key_ = nullptr;
};

// Writes one value, creating the key (under HKLM\Software\Classes) on the way.
LSTATUS write(const std::u16string& path, const char16_t* name, const std::u16string& value) {
    Key key;
    LSTATUS status = key.create(HKEY_LOCAL_MACHINE, std::u16string(kClasses) + u"\\" + path);
    return status == ERROR_SUCCESS ? key.set(name, value) : status;
}

// The interfaces of a library that get Interface keys, with their marshaler.
struct RegisteredInterface {
    GUID iid;
    std::u16string name;
    const char16_t* marshaler;
};

HRESULT interfacesOf(ITypeLib* lib, std::vector<RegisteredInterface>& out) {
    for (UINT i = 0; i < lib->GetTypeInfoCount(); ++i) {
        ITypeInfo* info = nullptr;
        HRESULT hr = lib->GetTypeInfo(i, &info);
        if (FAILED(hr))
            return hr;
        TYPEATTR* attr = nullptr;
        hr = info->GetTypeAttr(&attr);
        if (SUCCEEDED(hr)) {
            bool automation = attr->wTypeFlags & (TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION);
            if (attr->typekind == TKIND_DISPATCH ||
                (attr->typekind == TKIND_INTERFACE && automation)) {
                BSTR name = nullptr;
                info->GetDocumentation(MEMBERID_NIL, &name, nullptr, nullptr, nullptr);
                out.push_back({attr->guid, name ? std::u16string(name) : std::u16string(),
                               automation ? kOleAutomationMarshaler : kDispatchMarshaler});
                SysFreeString(name);
            }
            info->ReleaseTypeAttr(attr);
        }
        info->Release();
        if (FAILED(hr))
            return hr;
    }
    return S_OK;
}

bool hasSubkeys(HKEY parent, const std::u16string& path) {
    Key key;
    if (key.open(parent, path, KEY_READ) != ERROR_SUCCESS)
        return false;
    return !key.subkeys().empty();
}

} // namespace

extern "C" HRESULT WINAPI RegisterTypeLib(ITypeLib* ptlib, LPCOLESTR szFullPath,
                                          LPCOLESTR szHelpDir) {
    if (!ptlib || !szFullPath)
        return E_INVALIDARG;
    TLIBATTR* attr = nullptr;
    HRESULT hr = ptlib->GetLibAttr(&attr);
    if (FAILED(hr))
        return hr;
    TLIBATTR lib = *attr;
    ptlib->ReleaseTLibAttr(attr);
    BSTR name = nullptr, doc = nullptr;
    ptlib->GetDocumentation(-1, &name, &doc, nullptr, nullptr);
    std::u16string description = doc ? doc : (name ? name : u"");
    SysFreeString(name);
    SysFreeString(doc);

    std::u16string path(szFullPath);
    std::u16string helpDir;
    if (szHelpDir) {
        helpDir = szHelpDir;
    } else {
        std::size_t slash = path.find_last_of(u"\\/");
        helpDir = slash == std::u16string::npos ? std::u16string() : path.substr(0, slash);
    }
    std::u16string libid = guidText(lib.guid);
    std::u16string version = versionText(lib.wMajorVerNum, lib.wMinorVerNum);
    std::u16string versionKey = u"TypeLib\\" + libid + u"\\" + version;
    WORD flags = lib.wLibFlags & (LIBFLAG_FRESTRICTED | LIBFLAG_FCONTROL | LIBFLAG_FHIDDEN);

    bool ok = write(versionKey, nullptr, description) == ERROR_SUCCESS &&
              write(versionKey + u"\\" + hex(lib.lcid) + u"\\" + sysKindName(lib.syskind), nullptr,
                    path) == ERROR_SUCCESS &&
              write(versionKey + u"\\FLAGS", nullptr, sky::widen(std::to_string(flags))) ==
                  ERROR_SUCCESS &&
              write(versionKey + u"\\HELPDIR", nullptr, helpDir) == ERROR_SUCCESS;
    if (!ok)
        return TYPE_E_REGISTRYACCESS;

    std::vector<RegisteredInterface> interfaces;
    if (FAILED(hr = interfacesOf(ptlib, interfaces)))
        return hr;
    for (const auto& itf : interfaces) {
        std::u16string key = u"Interface\\" + guidText(itf.iid);
        ok = write(key, nullptr, itf.name) == ERROR_SUCCESS &&
             write(key + u"\\ProxyStubClsid", nullptr, itf.marshaler) == ERROR_SUCCESS &&
             write(key + u"\\ProxyStubClsid32", nullptr, itf.marshaler) == ERROR_SUCCESS &&
             write(key + u"\\TypeLib", nullptr, libid) == ERROR_SUCCESS &&
             write(key + u"\\TypeLib", u"Version", version) == ERROR_SUCCESS;
        if (!ok)
            return TYPE_E_REGISTRYACCESS;
    }
    return S_OK;
}

extern "C" HRESULT WINAPI UnRegisterTypeLib(REFGUID libID, WORD wVerMajor, WORD wVerMinor,
                                            LCID lcid, SYSKIND syskind) {
    std::u16string libid = guidText(libID);
    std::u16string libKey = std::u16string(kClasses) + u"\\TypeLib\\" + libid;
    std::u16string versionKey = libKey + u"\\" + versionText(wVerMajor, wVerMinor);
    std::u16string lcidKey = versionKey + u"\\" + hex(lcid);
    std::u16string platformKey = lcidKey + u"\\" + sysKindName(syskind);

    std::u16string path;
    {
        Key key;
        if (key.open(HKEY_LOCAL_MACHINE, platformKey, KEY_READ) != ERROR_SUCCESS ||
            !key.get(nullptr, path))
            return TYPE_E_REGISTRYACCESS;
    }
    // The interface entries that point at this library, found through the library itself.
    ITypeLib* lib = nullptr;
    if (SUCCEEDED(LoadTypeLibEx(path.c_str(), REGKIND_NONE, &lib))) {
        std::vector<RegisteredInterface> interfaces;
        interfacesOf(lib, interfaces);
        lib->Release();
        for (const auto& itf : interfaces) {
            std::u16string key = std::u16string(kClasses) + u"\\Interface\\" + guidText(itf.iid);
            std::u16string owner;
            Key typeLib;
            if (typeLib.open(HKEY_LOCAL_MACHINE, key + u"\\TypeLib", KEY_READ) != ERROR_SUCCESS ||
                !typeLib.get(nullptr, owner) || !sky::equalNoCase(owner, libid))
                continue; // registered by another library: not ours to remove
            SHDeleteKeyW(HKEY_LOCAL_MACHINE, key.c_str());
        }
    }
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, platformKey.c_str());
    if (!hasSubkeys(HKEY_LOCAL_MACHINE, lcidKey))
        RegDeleteKeyW(HKEY_LOCAL_MACHINE, lcidKey.c_str());
    // The version goes when no locale is registered for it any more.
    bool localeLeft = false;
    {
        Key key;
        if (key.open(HKEY_LOCAL_MACHINE, versionKey, KEY_READ) == ERROR_SUCCESS)
            for (const auto& name : key.subkeys())
                localeLeft = localeLeft || !(sky::equalNoCase(name, u"FLAGS") ||
                                             sky::equalNoCase(name, u"HELPDIR"));
    }
    if (!localeLeft) {
        RegDeleteKeyW(HKEY_LOCAL_MACHINE, (versionKey + u"\\FLAGS").c_str());
        RegDeleteKeyW(HKEY_LOCAL_MACHINE, (versionKey + u"\\HELPDIR").c_str());
        RegDeleteKeyW(HKEY_LOCAL_MACHINE, versionKey.c_str());
    }
    if (!hasSubkeys(HKEY_LOCAL_MACHINE, libKey))
        RegDeleteKeyW(HKEY_LOCAL_MACHINE, libKey.c_str());
    return S_OK;
}
