// The message module: qvcomUI.dll in the language of the machine, loaded as a data file.
#include "host.h"

namespace {

const WCHAR kProgramName[] = TEXT("qvcom");
const WCHAR kMuiKey[] = TEXT("Software\\Vantor\\MUI");

// Loads one candidate path; an empty one fails.
BOOL TryLoad(LPCWSTR pszPath) {
    if (pszPath[0] == L'\0')
        return FALSE;
    g_hMessageModule = LoadLibraryExW(pszPath, NULL, LOAD_LIBRARY_AS_DATAFILE);
    return g_hMessageModule != NULL;
}

} // namespace

BOOL LoadMessageModule() {
    if (g_hMessageModule != NULL)
        return TRUE;

    // The program's directory: its own path up to the last backslash.
    WCHAR szDirectory[MAX_PATH] = TEXT("");
    GetModuleFileNameW(NULL, szDirectory, MAX_PATH);
    for (int i = lstrlenW(szDirectory) - 1; i >= 0; --i) {
        if (szDirectory[i] == TEXT('\\')) {
            szDirectory[i] = L'\0';
            break;
        }
    }

    const LCID lcid = GetSystemDefaultLCID();
    WCHAR szLanguage[16] = TEXT("");
    WCHAR szCountry[16] = TEXT("");
    WCHAR szPath[MAX_PATH] = TEXT("");

    // 1. language and country: resource\en-US\qvcomUI.dll
    if (GetLocaleInfoW(lcid, LOCALE_SISO639LANGNAME, szLanguage, 16) &&
        GetLocaleInfoW(lcid, LOCALE_SISO3166CTRYNAME, szCountry, 16))
        swprintf_s(szPath, MAX_PATH, TEXT("%s\\resource\\%s-%s\\%sUI.dll"), szDirectory, szLanguage,
                   szCountry, kProgramName);
    if (TryLoad(szPath))
        return TRUE;

    // 2. the language alone: resource\en\qvcomUI.dll
    szPath[0] = L'\0';
    if (GetLocaleInfoW(lcid, LOCALE_SISO639LANGNAME, szLanguage, 16))
        swprintf_s(szPath, MAX_PATH, TEXT("%s\\resource\\%s\\%sUI.dll"), szDirectory, szLanguage,
                   kProgramName);
    if (TryLoad(szPath))
        return TRUE;

    // 3. the machine's default language, else English. 16 bytes hold seven characters and the
    // terminator: a longer value does not fit and is not used.
    WCHAR szDefault[8] = TEXT("");
    HKEY hKey = NULL;
    BOOL bRead = FALSE;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kMuiKey, 0, KEY_READ, &hKey) == ERROR_SUCCESS) {
        DWORD cbData = sizeof(szDefault);
        bRead = RegQueryValueExW(hKey, TEXT("QV_DefaultLanguage"), NULL, NULL,
                                 reinterpret_cast<LPBYTE>(szDefault), &cbData) == ERROR_SUCCESS;
        RegCloseKey(hKey);
    }
    szDefault[7] = L'\0';
    if (!bRead)
        lstrcpyW(szDefault, TEXT("en"));
    swprintf_s(szPath, MAX_PATH, TEXT("%s\\resource\\%s\\%sUI.dll"), szDirectory, szDefault,
               kProgramName);
    return TryLoad(szPath);
}

void UnloadMessageModule() {
    if (g_hMessageModule != NULL) {
        FreeLibrary(g_hMessageModule);
        g_hMessageModule = NULL;
    }
}
