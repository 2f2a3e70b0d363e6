// /RegServer and /UnRegServer: the application identifier, the 47 creatable classes, the service,
// the type library this program carries, and the service's settings; and their removal.
#include "host.h"
#include "resource.h"

namespace {

// The application identifier and the type library's identifier: one GUID.
const GUID kLibId = {0xED62F4E0, 0x63C2, 0x11D4, {0x94, 0xD8, 0x00, 0xC0, 0x4F, 0xB0, 0xF3, 0x26}};
const WCHAR kAppIdText[] = TEXT("{ED62F4E0-63C2-11D4-94D8-00C04FB0F326}");
const WCHAR kServiceName[] = TEXT("QVCom");
const WCHAR kServiceParameters[] = TEXT("-Service");
const WCHAR kTerminalServerClsid[] =
    TEXT("Software\\Microsoft\\Windows NT\\CurrentVersion\\Terminal Server\\Compatibility\\CLSID");

struct CLASS_ENTRY {
    DWORD dwClsidFirst; // the CLSID's first group; the rest is that of the library's GUID
    UINT uDescription;  // string of the message module
    LPCWSTR pszProgId;  // version-independent
    int nMajor;
    int nMinor;
};

const CLASS_ENTRY g_classes[] = {
    {0xED62F4E2, 200, TEXT("SkyloomCOM.SkyloomFarm"), 6, 0},
    {0xED62F4E3, 201, TEXT("SkyloomCOM.SkyloomServer"), 5, 0},
    {0xED62F4E4, 202, TEXT("SkyloomCOM.SkyloomApplication"), 5, 0},
    {0xED62F4E6, 204, TEXT("SkyloomCOM.SkyloomSession"), 5, 0},
    {0xED62F4EC, 205, TEXT("SkyloomCOM.SkyloomProcess"), 2, 0},
    {0xED62F4ED, 206, TEXT("SkyloomCOM.SkyloomVirtualChannel"), 2, 0},
    {0xED62F4EE, 208, TEXT("SkyloomCOM.SkyloomUser"), 5, 0},
    {0xED62F4EF, 209, TEXT("SkyloomCOM.SkyloomGroup"), 5, 0},
    {0xED62F51F, 210, TEXT("SkyloomCOM.SkyloomFolder"), 4, 0},
    {0xED62F4E5, 211, TEXT("SkyloomCOM.SkyloomAccountAuthority"), 3, 0},
    {0xED62F4EA, 207, TEXT("SkyloomCOM.SkyloomZone"), 2, 0},
    {0xED62F525, 212, TEXT("SkyloomCOM.SkyloomAppSrvBinding"), 2, 0},
    {0xED62F54C, 215, TEXT("SkyloomCOM.SkyloomPrinter"), 1, 0},
    {0xED62F54D, 216, TEXT("SkyloomCOM.SkyloomPrinterDriver"), 1, 0},
    {0xED62F55C, 217, TEXT("SkyloomCOM.SkyloomPrinterDriverMapping"), 1, 0},
    {0xED62F537, 218, TEXT("SkyloomCOM.SkyloomPolicy"), 4, 0},
    {0xED62F55B, 219, TEXT("SkyloomCOM.SkyloomClientPrinter"), 1, 0},
    {0xED62F55A, 220, TEXT("SkyloomCOM.SkyloomCredential"), 1, 0},
    {0xED62F565, 221, TEXT("SkyloomCOM.SkyloomMultiString"), 2, 0},
    {0xED62F56A, 222, TEXT("SkyloomCOM.SkyloomSmartCardSetting"), 1, 0},
    {0xED62F569, 223, TEXT("SkyloomCOM.SkyloomMyServer"), 2, 0},
    {0xED62F579, 224, TEXT("SkyloomCOM.SkyloomVCPolicy"), 1, 0},
    {0xED62F57C, 225, TEXT("SkyloomCOM.SkyloomMyAccount"), 1, 0},
    {0xED62F583, 226, TEXT("SkyloomCOM.SkyloomFleetview"), 1, 0},
    {0xED62F588, 227, TEXT("SkyloomCOM.SkyloomPrivileges"), 3, 0},
    {0xED62F587, 228, TEXT("SkyloomCOM.SkyloomID"), 1, 0},
    {0xED62F596, 229, TEXT("SkyloomCOM.SkyloomAppSrvBindings"), 1, 0},
    {0xED62F5A6, 230, TEXT("SkyloomCOM.SkyloomLMRule"), 1, 0},
    {0xED62F5A7, 231, TEXT("SkyloomCOM.SkyloomLoadEvaluator"), 1, 0},
    {0xED62F5AD, 232, TEXT("SkyloomCOM.SkyloomAppliedPolicy"), 1, 0},
    {0xED62F5B2, 233, TEXT("SkyloomCOM.SkyloomMe"), 2, 0},
    {0xED62F5B4, 234, TEXT("SkyloomCOM.SkyloomLMRules"), 1, 0},
    {0xED62F5B6, 235, TEXT("SkyloomCOM.SkyloomFolders"), 2, 0},
    {0xED62F5B7, 236, TEXT("SkyloomCOM.SkyloomMyAccounts"), 1, 0},
    {0xED62F5B8, 237, TEXT("SkyloomCOM.SkyloomPolicyFilter"), 1, 0},
    {0xED62F5C5, 238, TEXT("SkyloomCOM.SkyloomFile"), 1, 0},
    {0xED62F5C6, 239, TEXT("SkyloomCOM.SkyloomIcon"), 1, 0},
    {0xED62F5A8, 240, TEXT("SkyloomCOM.SkyloomAdministrator"), 1, 0},
    {0xED62F5D5, 241, TEXT("SkyloomCOM.SkyloomVIPRange"), 1, 0},
    {0xED62F5E6, 242, TEXT("SkyloomCOM.SkyloomIPRange"), 1, 0},
    {0xED62F5F1, 243, TEXT("SkyloomCOM.SkyloomAIE"), 1, 0},
    {0xED62F604, 244, TEXT("SkyloomCOM.SkyloomAIERule"), 1, 0},
    {0xED62F602, 245, TEXT("SkyloomCOM.SkyloomAIERoot"), 1, 0},
    {0xED62F603, 246, TEXT("SkyloomCOM.SkyloomAIESrvBinding"), 1, 0},
    {0xED62F606, 247, TEXT("SkyloomCOM.SkyloomAIERules"), 1, 0},
    {0xED62F607, 248, TEXT("SkyloomCOM.SkyloomPrinterDrivers"), 1, 0},
    {0xED62F608, 249, TEXT("SkyloomCOM.SkyloomPrinters"), 1, 0},
};
const int g_cClasses = 47;
static_assert(sizeof(g_classes) / sizeof(g_classes[0]) == 47, "the class table has 47 rows");

// Withdrawn classes whose programmatic identifiers unregistration still removes.
const LPCWSTR g_withdrawnProgIds[] = {
    TEXT("SkyloomCOM.SkyloomDriver"), TEXT("SkyloomCOM.SkyloomDriver.1"),
    TEXT("SkyloomCOM.SkyloomDriverMapping"), TEXT("SkyloomCOM.SkyloomDriverMapping.1")};

GUID ClsidOf(const CLASS_ENTRY& entry) {
    GUID clsid = kLibId;
    clsid.Data1 = entry.dwClsidFirst;
    return clsid;
}

LONG SetString(HKEY hKey, LPCWSTR pszName, LPCWSTR pszValue) {
    return RegSetValueExW(hKey, pszName, 0, REG_SZ, reinterpret_cast<const BYTE*>(pszValue),
                          static_cast<DWORD>((lstrlenW(pszValue) + 1) * sizeof(WCHAR)));
}

LONG SetDword(HKEY hKey, LPCWSTR pszName, DWORD dwValue) {
    return RegSetValueExW(hKey, pszName, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dwValue),
                          sizeof(dwValue));
}

LONG CreateKey(HKEY hParent, LPCWSTR pszName, HKEY* phKey) {
    return RegCreateKeyExW(hParent, pszName, 0, NULL, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, NULL,
                           phKey, NULL);
}

// Creates a key below a parent, sets its default value and closes it.
LONG CreateKeyWithDefault(HKEY hParent, LPCWSTR pszName, LPCWSTR pszValue) {
    HKEY hKey = NULL;
    LONG lResult = CreateKey(hParent, pszName, &hKey);
    if (lResult != ERROR_SUCCESS)
        return lResult;
    lResult = SetString(hKey, NULL, pszValue);
    RegCloseKey(hKey);
    return lResult;
}

void CloseKey(HKEY* phKey) {
    if (*phKey != NULL && *phKey != HKEY_CLASSES_ROOT) {
        RegCloseKey(*phKey);
        *phKey = NULL;
    }
}

BOOL IsOldSystem() {
    OSVERSIONINFOW version;
    ZeroMemory(&version, sizeof(version));
    version.dwOSVersionInfoSize = sizeof(version);
    GetVersionExW(&version);
    return version.dwMajorVersion < 5;
}

// The classes root the system selects: HKLM\Software\Classes on Windows 2000 and later, the
// merged view on older systems. The returned key is closed with CloseKey.
LONG OpenClassesRoot(BOOL bOldSystem, LPCWSTR pszSubKey, HKEY* phKey) {
    WCHAR szPath[64];
    if (bOldSystem && pszSubKey[0] == TEXT('\0')) {
        *phKey = HKEY_CLASSES_ROOT;
        return ERROR_SUCCESS;
    }
    if (bOldSystem)
        return RegOpenKeyExW(HKEY_CLASSES_ROOT, pszSubKey, 0, KEY_ALL_ACCESS, phKey);
    lstrcpyW(szPath, TEXT("Software\\Classes"));
    if (pszSubKey[0] != TEXT('\0')) {
        lstrcatW(szPath, TEXT("\\"));
        lstrcatW(szPath, pszSubKey);
    }
    return RegOpenKeyExW(HKEY_LOCAL_MACHINE, szPath, 0, KEY_ALL_ACCESS, phKey);
}

LONG RegisterClass(const CLASS_ENTRY& entry, LPCWSTR pszProgramPath, LPCWSTR pszLibId) {
    const BOOL bOldSystem = IsOldSystem();
    LPOLESTR pszClsid = NULL;
    const GUID clsid = ClsidOf(entry);
    HRESULT hr = StringFromCLSID(clsid, &pszClsid);
    if (FAILED(hr))
        return hr;

    HKEY hRoot = NULL, hProgId = NULL, hVersioned = NULL, hClsid = NULL;
    LONG lResult = ERROR_SUCCESS;
    WCHAR szDescription[256] = TEXT("");
    WCHAR szDefault[300];
    WCHAR szVersioned[128];
    do {
        lResult = OpenClassesRoot(bOldSystem, TEXT(""), &hRoot);
        if (lResult != ERROR_SUCCESS)
            break;
        lResult = CreateKey(hRoot, entry.pszProgId, &hProgId);
        if (lResult != ERROR_SUCCESS)
            break;
        LoadStringW(g_hMessageModule, entry.uDescription, szDescription, 256);
        swprintf_s(szDefault, 300, TEXT("%s %d.%d"), szDescription, entry.nMajor, entry.nMinor);
        if ((lResult = SetString(hProgId, NULL, szDefault)) != ERROR_SUCCESS)
            break;
        if ((lResult = CreateKeyWithDefault(hProgId, TEXT("CLSID"), pszClsid)) != ERROR_SUCCESS)
            break;
        swprintf_s(szVersioned, 128, TEXT("%s.%d"), entry.pszProgId, entry.nMajor);
        if ((lResult = CreateKeyWithDefault(hProgId, TEXT("CurVer"), szVersioned)) != ERROR_SUCCESS)
            break;
        CloseKey(&hProgId);
        if ((lResult = CreateKey(hRoot, szVersioned, &hVersioned)) != ERROR_SUCCESS)
            break;
        if ((lResult = CreateKeyWithDefault(hVersioned, TEXT("CLSID"), pszClsid)) != ERROR_SUCCESS)
            break;
        CloseKey(&hVersioned);
        CloseKey(&hRoot);

        if ((lResult = OpenClassesRoot(bOldSystem, TEXT("CLSID"), &hRoot)) != ERROR_SUCCESS)
            break;
        if ((lResult = CreateKey(hRoot, pszClsid, &hClsid)) != ERROR_SUCCESS)
            break;
        if ((lResult = SetString(hClsid, NULL, szDefault)) != ERROR_SUCCESS)
            break;
        if ((lResult = SetString(hClsid, TEXT("AppID"), kAppIdText)) != ERROR_SUCCESS)
            break;
        if ((lResult = CreateKeyWithDefault(hClsid, TEXT("LocalServer32"), pszProgramPath)) !=
                ERROR_SUCCESS ||
            (lResult = CreateKeyWithDefault(hClsid, TEXT("ProgID"), szVersioned)) !=
                ERROR_SUCCESS ||
            (lResult = CreateKeyWithDefault(hClsid, TEXT("VersionIndependentProgID"),
                                            entry.pszProgId)) != ERROR_SUCCESS ||
            (lResult = CreateKeyWithDefault(hClsid, TEXT("TypeLib"), pszLibId)) != ERROR_SUCCESS)
            break;

        if (bOldSystem) {
            HKEY hCompatibility = NULL;
            WCHAR szKey[200];
            swprintf_s(szKey, 200, TEXT("%s\\%s"), kTerminalServerClsid, pszClsid);
            lResult = CreateKey(HKEY_LOCAL_MACHINE, szKey, &hCompatibility);
            if (lResult != ERROR_SUCCESS)
                break;
            lResult = SetDword(hCompatibility, TEXT("fSystemGlobalClass"), 1);
            RegCloseKey(hCompatibility);
        }
    } while (FALSE);

    CoTaskMemFree(pszClsid);
    CloseKey(&hClsid);
    CloseKey(&hVersioned);
    CloseKey(&hProgId);
    CloseKey(&hRoot);
    return lResult;
}

// Deletes a subkey without subkeys; one that is not there is passed over.
void DeleteKeyIfThere(HKEY hParent, LPCWSTR pszName) {
    RegDeleteKeyW(hParent, pszName);
}

// Removes P (or P.V): its CLSID and CurVer subkeys, then the key.
void DeleteProgId(HKEY hRoot, LPCWSTR pszProgId) {
    HKEY hKey = NULL;
    if (RegOpenKeyExW(hRoot, pszProgId, 0, KEY_ALL_ACCESS, &hKey) == ERROR_SUCCESS) {
        DeleteKeyIfThere(hKey, TEXT("CLSID"));
        DeleteKeyIfThere(hKey, TEXT("CurVer"));
        RegCloseKey(hKey);
    }
    DeleteKeyIfThere(hRoot, pszProgId);
}

void UnregisterClass(const CLASS_ENTRY& entry, BOOL bOldSystem) {
    LPOLESTR pszClsid = NULL;
    if (FAILED(StringFromCLSID(ClsidOf(entry), &pszClsid)))
        return;
    for (int nVersion = 1; nVersion <= entry.nMajor; ++nVersion) {
        HKEY hRoot = NULL;
        if (OpenClassesRoot(bOldSystem, TEXT(""), &hRoot) == ERROR_SUCCESS) {
            WCHAR szVersioned[128];
            swprintf_s(szVersioned, 128, TEXT("%s.%d"), entry.pszProgId, nVersion);
            DeleteProgId(hRoot, entry.pszProgId);
            DeleteProgId(hRoot, szVersioned);
            CloseKey(&hRoot);
        }
        if (OpenClassesRoot(bOldSystem, TEXT("CLSID"), &hRoot) == ERROR_SUCCESS) {
            HKEY hClsid = NULL;
            if (RegOpenKeyExW(hRoot, pszClsid, 0, KEY_ALL_ACCESS, &hClsid) == ERROR_SUCCESS) {
                DeleteKeyIfThere(hClsid, TEXT("ProgID"));
                DeleteKeyIfThere(hClsid, TEXT("LocalServer32"));
                DeleteKeyIfThere(hClsid, TEXT("TypeLib"));
                DeleteKeyIfThere(hClsid, TEXT("VersionIndependentProgID"));
                RegCloseKey(hClsid);
            }
            DeleteKeyIfThere(hRoot, pszClsid);
            CloseKey(&hRoot);
        }
        if (bOldSystem) {
            HKEY hCompatibility = NULL;
            if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kTerminalServerClsid, 0, KEY_ALL_ACCESS,
                              &hCompatibility) == ERROR_SUCCESS) {
                DeleteKeyIfThere(hCompatibility, pszClsid);
                RegCloseKey(hCompatibility);
            }
        }
    }
    CoTaskMemFree(pszClsid);
}

// Removes the interface keys of every dual and dispatch interface of the library this program
// carries.
void UnregisterInterfaces() {
    WCHAR szProgram[MAX_PATH] = TEXT("");
    GetModuleFileNameW(g_hInstance, szProgram, MAX_PATH);
    ITypeLib* pLib = NULL;
    if (FAILED(LoadTypeLibEx(szProgram, REGKIND_NONE, &pLib)))
        return;
    HKEY hInterface = NULL;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, TEXT("Software\\Classes\\Interface"), 0, KEY_ALL_ACCESS,
                      &hInterface) == ERROR_SUCCESS) {
        const UINT cInfos = pLib->GetTypeInfoCount();
        for (UINT i = 0; i < cInfos; ++i) {
            TYPEKIND kind;
            if (FAILED(pLib->GetTypeInfoType(i, &kind)) || kind != TKIND_DISPATCH)
                continue;
            ITypeInfo* pInfo = NULL;
            if (FAILED(pLib->GetTypeInfo(i, &pInfo)))
                continue;
            TYPEATTR* pAttr = NULL;
            if (SUCCEEDED(pInfo->GetTypeAttr(&pAttr))) {
                LPOLESTR pszIid = NULL;
                if (SUCCEEDED(StringFromIID(pAttr->guid, &pszIid))) {
                    SHDeleteKeyW(hInterface, pszIid);
                    CoTaskMemFree(pszIid);
                }
                pInfo->ReleaseTypeAttr(pAttr);
            }
            pInfo->Release();
        }
        RegCloseKey(hInterface);
    }
    pLib->Release();
}

} // namespace

LONG RegisterServer(LPCWSTR pszDisplayName) {
    // The installed program path comes from the install key: without it nothing is written.
    WCHAR szProgramPath[MAX_PATH + 16];
    const DWORD cchSystem = GetSystemPath(szProgramPath, MAX_PATH);
    if (cchSystem == 0 || cchSystem >= MAX_PATH)
        return ERROR_FILE_NOT_FOUND;

    HKEY hAppIdRoot = NULL, hAppId = NULL;
    LONG lResult = RegOpenKeyExW(HKEY_LOCAL_MACHINE, TEXT("Software\\Classes\\APPID"), 0,
                                 KEY_ALL_ACCESS, &hAppIdRoot);
    if (lResult == ERROR_SUCCESS)
        lResult = CreateKey(hAppIdRoot, kAppIdText, &hAppId);
    if (lResult == ERROR_SUCCESS)
        lResult = SetString(hAppId, TEXT("LocalService"), kServiceName);
    if (lResult == ERROR_SUCCESS)
        lResult = SetString(hAppId, TEXT("ServiceParameters"), kServiceParameters);
    CloseKey(&hAppId);
    CloseKey(&hAppIdRoot);
    if (lResult != ERROR_SUCCESS)
        return lResult;

    lstrcatW(szProgramPath, TEXT("\\qvcom.exe"));

    LPOLESTR pszLibId = NULL;
    HRESULT hr = StringFromCLSID(kLibId, &pszLibId);
    if (FAILED(hr))
        return hr;

    ITypeLib* pLib = NULL;
    do {
        for (int i = 0; i < g_cClasses; ++i) {
            if ((lResult = RegisterClass(g_classes[i], szProgramPath, pszLibId)) != ERROR_SUCCESS)
                break;
        }
        if (lResult != ERROR_SUCCESS)
            break;

        SC_HANDLE hManager = OpenSCManagerW(NULL, NULL, SC_MANAGER_CREATE_SERVICE);
        if (hManager == NULL) {
            lResult = static_cast<LONG>(GetLastError());
            break;
        }
        const WCHAR szDependencies[] = TEXT("RPCSS\0WMI\0");
        SC_HANDLE hService =
            CreateServiceW(hManager, kServiceName, pszDisplayName, GENERIC_EXECUTE,
                           SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_IGNORE,
                           szProgramPath, NULL, NULL, szDependencies, NULL, NULL);
        const DWORD dwCreateError = hService == NULL ? GetLastError() : ERROR_SUCCESS;
        if (hService != NULL)
            CloseServiceHandle(hService);
        CloseServiceHandle(hManager);
        if (dwCreateError != ERROR_SUCCESS && dwCreateError != ERROR_SERVICE_EXISTS) {
            lResult = static_cast<LONG>(dwCreateError);
            break;
        }

        if (FAILED(hr = LoadTypeLib(szProgramPath, &pLib)) ||
            FAILED(hr = RegisterTypeLib(pLib, szProgramPath, NULL))) {
            lResult = hr;
            break;
        }

        HKEY hService2 = NULL;
        lResult =
            RegOpenKeyExW(HKEY_LOCAL_MACHINE, TEXT("System\\CurrentControlSet\\Services\\QVCom"), 0,
                          KEY_ALL_ACCESS, &hService2);
        if (lResult != ERROR_SUCCESS)
            break;
        WCHAR szDescription[256] = TEXT("");
        LoadStringW(g_hMessageModule, IDS_DESCRIPTION, szDescription, 256);
        SetString(hService2, TEXT("Description"), szDescription);
        SetDword(hService2, TEXT("TarnWaitTimeout"), 600000);
        SetDword(hService2, TEXT("TarnWaitPause"), 30000);
        RegCloseKey(hService2);

        HKEY hOle = NULL;
        lResult = RegOpenKeyExW(HKEY_LOCAL_MACHINE, TEXT("Software\\Microsoft\\OLE"), 0,
                                KEY_ALL_ACCESS, &hOle);
        if (lResult != ERROR_SUCCESS)
            break;
        lResult = SetDword(hOle, TEXT("LegacyImpersonationLevel"), 3);
        RegCloseKey(hOle);
    } while (FALSE);

    if (pLib != NULL)
        pLib->Release();
    CoTaskMemFree(pszLibId);
    return lResult;
}

LONG UnregisterServer() {
    SC_HANDLE hManager = OpenSCManagerW(NULL, NULL, SC_MANAGER_ALL_ACCESS);
    if (hManager == NULL)
        return static_cast<LONG>(GetLastError());
    SC_HANDLE hService = OpenServiceW(hManager, kServiceName, SERVICE_ALL_ACCESS);
    if (hService != NULL) {
        SERVICE_STATUS status;
        ControlService(hService, SERVICE_CONTROL_STOP, &status);
        DeleteService(hService);
    }

    HKEY hKey = NULL;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, TEXT("Software\\Classes\\APPID"), 0, KEY_ALL_ACCESS,
                      &hKey) == ERROR_SUCCESS) {
        RegDeleteKeyW(hKey, kAppIdText);
        CloseKey(&hKey);
    }

    UnRegisterTypeLib(kLibId, 4, 0, 0, SYS_WIN32);

    LPOLESTR pszLibId = NULL;
    StringFromCLSID(kLibId, &pszLibId);
    const LONG lResult = RegOpenKeyExW(HKEY_LOCAL_MACHINE, TEXT("Software\\Classes\\Typelib"), 0,
                                       KEY_ALL_ACCESS, &hKey);
    if (lResult == ERROR_SUCCESS) {
        if (pszLibId != NULL)
            SHDeleteKeyW(hKey, pszLibId);
        CloseKey(&hKey);
    }
    CoTaskMemFree(pszLibId);

    UnregisterInterfaces();

    const BOOL bOldSystem = IsOldSystem();
    for (int i = 0; i < g_cClasses; ++i)
        UnregisterClass(g_classes[i], bOldSystem);

    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, TEXT("Software\\Classes"), 0, KEY_ALL_ACCESS, &hKey) ==
        ERROR_SUCCESS) {
        for (LPCWSTR pszProgId : g_withdrawnProgIds)
            SHDeleteKeyW(hKey, pszProgId);
        CloseKey(&hKey);
    }

    if (hService != NULL)
        CloseServiceHandle(hService);
    CloseServiceHandle(hManager);
    return lResult;
}
