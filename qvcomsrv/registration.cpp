#include "registration.h"

#include <windows.h>

#include <string>

#include "SkyloomCOM.h"
#include "class_table.h"
#include "results.h"
#include "sky/text.h"

namespace qvcomsrv {

namespace {

const std::u16string kClassesRoot = u"Software\\Classes\\";

std::u16string guidText(const GUID& guid) {
    WCHAR text[40] = {};
    StringFromGUID2(guid, text, 40);
    return text;
}

HRESULT registryFailure(LSTATUS status, const std::u16string& key) {
    return withErrorInfo(HRESULT_FROM_WIN32(status),
                         "The registry key HKEY_LOCAL_MACHINE\\" + sky::narrow(key) +
                             " cannot be written (error " + std::to_string(status) + ").");
}

// Creates HKLM\<key> and sets its value `name` (the default value when empty) to `text`.
HRESULT setText(const std::u16string& key, const char16_t* name, const std::u16string& text) {
    HKEY handle = nullptr;
    LSTATUS status = RegCreateKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                     nullptr, &handle, nullptr);
    if (status != ERROR_SUCCESS)
        return registryFailure(status, key);
    status = RegSetValueExW(handle, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                            static_cast<DWORD>((text.size() + 1) * sizeof(char16_t)));
    RegCloseKey(handle);
    return status == ERROR_SUCCESS ? S_OK : registryFailure(status, key);
}

bool keyExists(const std::u16string& key) {
    HKEY handle = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS)
        return false;
    RegCloseKey(handle);
    return true;
}

HRESULT removeKey(const std::u16string& key) {
    const LSTATUS status = SHDeleteKeyW(HKEY_LOCAL_MACHINE, key.c_str());
    if (status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND)
        return S_OK;
    return withErrorInfo(HRESULT_FROM_WIN32(status),
                         "The registry key HKEY_LOCAL_MACHINE\\" + sky::narrow(key) +
                             " cannot be removed (error " + std::to_string(status) + ").");
}

} // namespace

HRESULT registerInProcess(std::u16string_view modulePath) {
    const std::u16string library = guidText(LIBID_SkyloomCOM);
    for (const CreatableClass& cls : creatableClasses()) {
        const std::u16string progId = progIdOf(cls);
        const std::u16string version = u"." + sky::widen(std::to_string(cls.version));
        const std::u16string current = progId + version;
        const std::u16string title = std::u16string(cls.description) + u" " +
                                     sky::widen(std::to_string(cls.version)) + u".0";
        const std::u16string clsid = guidText(*cls.clsid);
        const std::u16string classKey = kClassesRoot + u"CLSID\\" + clsid;

        const std::pair<std::u16string, std::pair<const char16_t*, std::u16string>> values[] = {
            {kClassesRoot + progId, {u"", title}},
            {kClassesRoot + progId + u"\\CLSID", {u"", clsid}},
            {kClassesRoot + progId + u"\\CurVer", {u"", current}},
            {kClassesRoot + current + u"\\CLSID", {u"", clsid}},
            {classKey, {u"", title}},
            {classKey + u"\\InprocServer32", {u"", std::u16string(modulePath)}},
            {classKey + u"\\InprocServer32", {u"ThreadingModel", u"Both"}},
            {classKey + u"\\ProgID", {u"", current}},
            {classKey + u"\\VersionIndependentProgID", {u"", progId}},
            {classKey + u"\\TypeLib", {u"", library}},
        };
        for (const auto& [key, value] : values) {
            if (HRESULT hr = setText(key, value.first, value.second); FAILED(hr))
                return hr;
        }
    }
    return S_OK;
}

HRESULT unregisterInProcess() {
    for (const CreatableClass& cls : creatableClasses()) {
        const std::u16string classKey = kClassesRoot + u"CLSID\\" + guidText(*cls.clsid);
        if (HRESULT hr = removeKey(classKey + u"\\InprocServer32"); FAILED(hr))
            return hr;
        // What qvcom registered for its service stays.
        if (keyExists(classKey + u"\\LocalServer32"))
            continue;
        const std::u16string progId = progIdOf(cls);
        const std::u16string current = progId + u"." + sky::widen(std::to_string(cls.version));
        for (const std::u16string& key :
             {classKey, kClassesRoot + progId, kClassesRoot + current}) {
            if (HRESULT hr = removeKey(key); FAILED(hr))
                return hr;
        }
    }
    return S_OK;
}

} // namespace qvcomsrv
