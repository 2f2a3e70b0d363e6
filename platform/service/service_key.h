// The service database: a service's key under HKLM\System\CurrentControlSet\Services, read and
// written as Windows lays it out, and the two built-in services every machine runs.
//
// Header-only, so that the manager program and the library each compile what they use.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "sky/text.h"
#include "win/errors.h"
#include "win/registry.h"
#include "win/service.h"

namespace sky::services {

inline constexpr char16_t servicesKey[] = u"System\\CurrentControlSet\\Services";

struct ServiceConfig {
    std::u16string name; // as the key is written
    DWORD type = SERVICE_WIN32_OWN_PROCESS;
    DWORD start = SERVICE_DEMAND_START;
    DWORD errorControl = SERVICE_ERROR_NORMAL;
    std::u16string imagePath;
    std::u16string group;
    std::u16string displayName;
    std::u16string objectName;
    std::vector<std::u16string> dependencies;
    bool builtIn = false;
    bool markedForDelete = false;
};

// RPCSS and WMI run on every machine; they have no program here and cannot be stopped, changed or
// deleted. They are not written into the registry, so the database holds only what programs
// created.
inline std::optional<ServiceConfig> builtInService(std::u16string_view name) {
    ServiceConfig config;
    config.builtIn = true;
    config.type = SERVICE_WIN32_SHARE_PROCESS;
    config.start = SERVICE_AUTO_START;
    config.errorControl = SERVICE_ERROR_NORMAL;
    config.objectName = u"LocalSystem";
    if (equalNoCase(name, u"RPCSS")) {
        config.name = u"RpcSs";
        config.imagePath = u"C:\\WINDOWS\\system32\\svchost.exe -k rpcss";
        config.displayName = u"Remote Procedure Call (RPC)";
        return config;
    }
    if (equalNoCase(name, u"WMI")) {
        config.name = u"WMI";
        config.imagePath = u"C:\\WINDOWS\\system32\\svchost.exe -k netsvcs";
        config.displayName = u"Windows Management Instrumentation";
        return config;
    }
    return std::nullopt;
}

inline std::u16string serviceKeyPath(std::u16string_view name) {
    return std::u16string(servicesKey) + u"\\" + std::u16string(name);
}

namespace detail {
inline std::optional<DWORD> readNumber(HKEY key, const WCHAR* value) {
    DWORD data = 0, size = sizeof data, type = 0;
    if (RegQueryValueExW(key, value, nullptr, &type, reinterpret_cast<BYTE*>(&data), &size) !=
            ERROR_SUCCESS ||
        type != REG_DWORD)
        return std::nullopt;
    return data;
}
// REG_SZ, REG_EXPAND_SZ or REG_MULTI_SZ data as code units, terminators included.
inline std::u16string readText(HKEY key, const WCHAR* value) {
    DWORD size = 0, type = 0;
    if (RegQueryValueExW(key, value, nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ && type != REG_MULTI_SZ))
        return {};
    std::u16string data(size / 2 + 1, u'\0');
    if (RegQueryValueExW(key, value, nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &size) !=
        ERROR_SUCCESS)
        return {};
    data.resize(size / 2);
    return data;
}
inline std::u16string firstString(const std::u16string& data) {
    return data.substr(0, data.find(u'\0'));
}
} // namespace detail

// The strings of a double-terminated list.
inline std::vector<std::u16string> splitMultiString(std::u16string_view data) {
    std::vector<std::u16string> strings;
    std::size_t start = 0;
    while (start < data.size()) {
        const std::size_t end = data.find(u'\0', start);
        const std::size_t stop = end == std::u16string_view::npos ? data.size() : end;
        if (stop == start)
            break;
        strings.emplace_back(data.substr(start, stop - start));
        start = stop + 1;
    }
    return strings;
}

// The service's configuration, or the registry's error (ERROR_FILE_NOT_FOUND: no such service).
inline DWORD readServiceConfig(std::u16string_view name, ServiceConfig& config) {
    if (auto builtIn = builtInService(name)) {
        config = *builtIn;
        return ERROR_SUCCESS;
    }
    if (name.empty() || name.find_first_of(u"\\/") != std::u16string_view::npos)
        return ERROR_FILE_NOT_FOUND;
    HKEY key = nullptr;
    const LSTATUS opened =
        RegOpenKeyExW(HKEY_LOCAL_MACHINE, serviceKeyPath(name).c_str(), 0, KEY_READ, &key);
    if (opened != ERROR_SUCCESS)
        return static_cast<DWORD>(opened);
    config = ServiceConfig{};
    // The key's name as it was created.
    WCHAR keyName[256];
    DWORD keyNameLength = 256;
    config.name = std::u16string(name);
    HKEY parent = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, servicesKey, 0, KEY_READ, &parent) == ERROR_SUCCESS) {
        for (DWORD i = 0;
             keyNameLength = 256, RegEnumKeyExW(parent, i, keyName, &keyNameLength, nullptr,
                                                nullptr, nullptr, nullptr) == ERROR_SUCCESS;
             ++i) {
            if (equalNoCase(std::u16string_view(keyName, keyNameLength), name)) {
                config.name.assign(keyName, keyNameLength);
                break;
            }
        }
        RegCloseKey(parent);
    }
    config.type = detail::readNumber(key, u"Type").value_or(SERVICE_WIN32_OWN_PROCESS);
    config.start = detail::readNumber(key, u"Start").value_or(SERVICE_DEMAND_START);
    config.errorControl = detail::readNumber(key, u"ErrorControl").value_or(SERVICE_ERROR_NORMAL);
    config.imagePath = detail::firstString(detail::readText(key, u"ImagePath"));
    config.group = detail::firstString(detail::readText(key, u"Group"));
    config.displayName = detail::firstString(detail::readText(key, u"DisplayName"));
    config.objectName = detail::firstString(detail::readText(key, u"ObjectName"));
    config.dependencies = splitMultiString(detail::readText(key, u"DependOnService"));
    config.markedForDelete = detail::readNumber(key, u"DeleteFlag").value_or(0) != 0;
    RegCloseKey(key);
    return ERROR_SUCCESS;
}

// The same as a service call reports it: a missing key is ERROR_SERVICE_DOES_NOT_EXIST.
inline DWORD findService(std::u16string_view name, ServiceConfig& config) {
    const DWORD error = readServiceConfig(name, config);
    return error == ERROR_FILE_NOT_FOUND ? ERROR_SERVICE_DOES_NOT_EXIST : error;
}

inline DWORD markForDelete(std::u16string_view name) {
    HKEY key = nullptr;
    LSTATUS result =
        RegOpenKeyExW(HKEY_LOCAL_MACHINE, serviceKeyPath(name).c_str(), 0, KEY_SET_VALUE, &key);
    if (result != ERROR_SUCCESS)
        return static_cast<DWORD>(result);
    const DWORD one = 1;
    result = RegSetValueExW(key, u"DeleteFlag", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one),
                            sizeof one);
    RegCloseKey(key);
    return static_cast<DWORD>(result);
}

inline DWORD removeServiceKey(std::u16string_view name) {
    HKEY parent = nullptr;
    LSTATUS result = RegOpenKeyExW(HKEY_LOCAL_MACHINE, servicesKey, 0, KEY_ALL_ACCESS, &parent);
    if (result != ERROR_SUCCESS)
        return static_cast<DWORD>(result);
    result = SHDeleteKeyW(parent, std::u16string(name).c_str());
    RegCloseKey(parent);
    return static_cast<DWORD>(result);
}

} // namespace sky::services
