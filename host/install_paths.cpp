// The install key, the system path, this process's PATH, and loading a module list.
#include "host.h"

WCHAR g_szWindowsFolder[MAX_PATH];
WCHAR g_szSystemDirectory[MAX_PATH];

namespace {

const WCHAR kInstallKey[] =
    TEXT("SOFTWARE\\Vantor\\Install\\{C05CE041-63DB-4467-B777-9FCB30013CA2}");
const WCHAR kWindowsFolderValue[] = TEXT("WindowsFolder");

// The longest environment value, in characters with its terminator: the size of the buffer
// PATH is built in.
const DWORD kMaxEnvironment = 32767;

// The loaded-module set: its handles (ended by the first empty slot) and its size.
HMODULE* g_phModules = NULL;
DWORD g_cModules = 0;

// Whether a text begins with a token, compared without regard to case.
BOOL StartsWithToken(LPCWSTR pszText, LPCWSTR pszToken) {
    const int cchToken = lstrlenW(pszToken);
    const int cchText = lstrlenW(pszText);
    return cchText >= cchToken &&
           CompareStringOrdinal(pszText, cchToken, pszToken, cchToken, TRUE) == CSTR_EQUAL;
}

// Adds one entry to a PATH value unless a piece of it equals the entry (ignoring case, nothing
// else normalised). FALSE when the value would grow beyond the longest environment value.
BOOL AddPathEntry(LPWSTR pszPath, LPCWSTR pszEntry) {
    const int cchEntry = lstrlenW(pszEntry);
    for (LPCWSTR pszPiece = pszPath; *pszPiece != TEXT('\0');) {
        int cchPiece = 0;
        while (pszPiece[cchPiece] != TEXT('\0') && pszPiece[cchPiece] != TEXT(';'))
            ++cchPiece;
        if (cchPiece > 0 && cchPiece == cchEntry &&
            CompareStringOrdinal(pszPiece, cchPiece, pszEntry, cchEntry, TRUE) == CSTR_EQUAL)
            return TRUE;
        pszPiece += cchPiece;
        if (*pszPiece == TEXT(';'))
            ++pszPiece;
    }
    const int cchPath = lstrlenW(pszPath);
    // An empty PATH gains the entry alone rather than an empty first piece.
    const int cchSeparator = cchPath > 0 ? 1 : 0;
    // The buffer and the environment's limit both count the terminator: 32,766 characters at most.
    if (cchPath + cchSeparator + cchEntry >= static_cast<int>(kMaxEnvironment)) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return FALSE;
    }
    if (cchSeparator)
        lstrcatW(pszPath, TEXT(";"));
    lstrcatW(pszPath, pszEntry);
    return TRUE;
}

} // namespace

DWORD GetSystemPath(LPWSTR pszBuffer, DWORD cchCapacity) {
    HKEY hKey = NULL;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kInstallKey, 0, KEY_READ, &hKey) != ERROR_SUCCESS)
        return 0;
    WCHAR szText[MAX_PATH + 1] = TEXT("");
    DWORD cbData = 522;
    DWORD dwType = 0;
    const LONG lResult = RegQueryValueExW(hKey, kWindowsFolderValue, NULL, &dwType,
                                          reinterpret_cast<LPBYTE>(szText), &cbData);
    RegCloseKey(hKey);
    if (lResult != ERROR_SUCCESS || dwType != REG_SZ)
        return 0;
    szText[MAX_PATH] = TEXT('\0');
    // An empty value names no folder: "System32" alone would be a relative path.
    if (szText[0] == TEXT('\0'))
        return 0;

    DWORD cch = static_cast<DWORD>(lstrlenW(szText));
    if (cch > 0 && szText[cch - 1] != TEXT('\\')) {
        if (cch + 1 > MAX_PATH)
            return 0;
        lstrcatW(szText, TEXT("\\"));
        ++cch;
    }
    const DWORD cchSystem32 = 8; // "System32"
    if (cch + cchSystem32 > MAX_PATH)
        return 0;
    WCHAR szPath[MAX_PATH + 1];
    lstrcpyW(szPath, szText);
    lstrcatW(szPath, TEXT("System32"));
    cch += cchSystem32;

    if (cchCapacity < cch + 1)
        return cch + 1;
    lstrcpyW(pszBuffer, szPath);
    return cch;
}

HMODULE ExpandAndLoad(LPCWSTR pszPattern) {
    WCHAR szPath[521] = TEXT("");
    if (StartsWithToken(pszPattern, TEXT("INSTALLPATH"))) {
        LPCWSTR pszRest = pszPattern + 11;
        const int cchFolder = lstrlenW(g_szWindowsFolder);
        if (cchFolder > 0 && g_szWindowsFolder[cchFolder - 1] == TEXT('\\') &&
            pszRest[0] == TEXT('\\'))
            ++pszRest;
        lstrcpynW(szPath, g_szWindowsFolder, 521);
        lstrcpynW(szPath + lstrlenW(szPath), pszRest, 521 - lstrlenW(szPath));
    } else if (StartsWithToken(pszPattern, TEXT("SYSPATH"))) {
        lstrcpynW(szPath, g_szSystemDirectory, 521);
        lstrcpynW(szPath + lstrlenW(szPath), pszPattern + 7, 521 - lstrlenW(szPath));
    } else {
        lstrcpynW(szPath, pszPattern, 521);
    }
    return LoadLibraryW(szPath);
}

BOOL UpdatePath() {
    LPWSTR pszPath = static_cast<LPWSTR>(LocalAlloc(LPTR, kMaxEnvironment * sizeof(WCHAR)));
    if (pszPath == NULL) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    // An absent PATH is taken as empty; one too long for the buffer fails the update.
    const DWORD cchRead = GetEnvironmentVariableW(TEXT("PATH"), pszPath, kMaxEnvironment);
    if (cchRead >= kMaxEnvironment) {
        LocalFree(pszPath);
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return FALSE;
    }
    if (cchRead == 0)
        pszPath[0] = TEXT('\0');

    WCHAR szEntry[2 * MAX_PATH];
    BOOL bOk = TRUE;
    swprintf_s(szEntry, 2 * MAX_PATH, TEXT("%sSystem32\\Vantor\\Tarn"), g_szWindowsFolder);
    bOk = bOk && AddPathEntry(pszPath, szEntry);
    swprintf_s(szEntry, 2 * MAX_PATH, TEXT("%sSystem32"), g_szWindowsFolder);
    bOk = bOk && AddPathEntry(pszPath, szEntry);
    swprintf_s(szEntry, 2 * MAX_PATH, TEXT("%s\\Vantor\\Tarn"), g_szSystemDirectory);
    bOk = bOk && AddPathEntry(pszPath, szEntry);
    if (bOk)
        bOk = SetEnvironmentVariableW(TEXT("PATH"), pszPath);
    LocalFree(pszPath);
    return bOk;
}

BOOL LoadModuleList(const MODULE_ENTRY* pList) {
    HKEY hKey = NULL;
    BOOL bOk = FALSE;
    DWORD dwError = ERROR_SUCCESS;

    do {
        if (g_szWindowsFolder[0] == TEXT('\0')) {
            LONG lResult = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kInstallKey, 0, KEY_READ, &hKey);
            if (lResult == ERROR_SUCCESS) {
                DWORD cbData = 260;
                lResult = RegQueryValueExW(hKey, kWindowsFolderValue, NULL, NULL,
                                           reinterpret_cast<LPBYTE>(g_szWindowsFolder), &cbData);
                // The value may be stored without its terminator: it ends where its data ends.
                if (lResult == ERROR_SUCCESS)
                    g_szWindowsFolder[cbData / sizeof(WCHAR)] = TEXT('\0');
                // An empty value names no folder, as a missing one does.
                if (lResult == ERROR_SUCCESS && g_szWindowsFolder[0] == TEXT('\0'))
                    lResult = ERROR_FILE_NOT_FOUND;
            }
            if (lResult != ERROR_SUCCESS) {
                // The registry reports its failure as a result; the caller reads the last error.
                g_szWindowsFolder[0] = TEXT('\0');
                dwError = static_cast<DWORD>(lResult);
                break;
            }
            g_szWindowsFolder[MAX_PATH - 1] = TEXT('\0');
        }
        if (g_szSystemDirectory[0] == TEXT('\0')) {
            const UINT cch = GetSystemDirectoryW(g_szSystemDirectory, MAX_PATH);
            if (cch == 0 || cch > MAX_PATH) {
                g_szSystemDirectory[0] = TEXT('\0');
                dwError = cch == 0 ? GetLastError() : ERROR_INSUFFICIENT_BUFFER;
                break;
            }
        }
        if (!UpdatePath()) {
            dwError = GetLastError();
            break;
        }

        // Records that name the same module stand together: each change of path is one module.
        DWORD cNew = 0;
        for (DWORD i = 0; pList[i].pszPath[0] != TEXT('\0'); ++i) {
            if (i == 0 || lstrcmpiW(pList[i].pszPath, pList[i - 1].pszPath) != 0)
                ++cNew;
        }
        HMODULE* phGrown =
            static_cast<HMODULE*>(LocalAlloc(LPTR, (g_cModules + cNew + 1) * sizeof(HMODULE)));
        if (phGrown == NULL) {
            dwError = ERROR_NOT_ENOUGH_MEMORY;
            break;
        }
        DWORD cLoaded = 0;
        if (g_phModules != NULL) {
            while (cLoaded < g_cModules && g_phModules[cLoaded] != NULL) {
                phGrown[cLoaded] = g_phModules[cLoaded];
                ++cLoaded;
            }
            LocalFree(g_phModules);
        }
        g_phModules = phGrown;
        g_cModules += cNew;

        LPCWSTR pszLoadedPath = NULL;
        HMODULE hCurrent = NULL;
        BOOL bFailed = FALSE;
        for (DWORD i = 0; pList[i].pszPath[0] != TEXT('\0'); ++i) {
            if (pszLoadedPath == NULL || lstrcmpiW(pList[i].pszPath, pszLoadedPath) != 0) {
                hCurrent = ExpandAndLoad(pList[i].pszPath);
                if (hCurrent == NULL) {
                    dwError = GetLastError();
                    bFailed = TRUE;
                    break;
                }
                g_phModules[cLoaded++] = hCurrent;
                pszLoadedPath = pList[i].pszPath;
            }
            const FARPROC pfn = GetProcAddress(hCurrent, pList[i].pszExport);
            if (pfn == NULL) {
                dwError = GetLastError();
                bFailed = TRUE;
                break;
            }
            *pList[i].pSlot = pfn;
        }
        bOk = !bFailed;
    } while (FALSE);

    if (hKey != NULL)
        RegCloseKey(hKey);
    if (!bOk) {
        UnloadAllModules();
        SetLastError(dwError);
    }
    return bOk;
}

void UnloadAllModules() {
    if (g_phModules != NULL) {
        for (DWORD i = 0; i < g_cModules && g_phModules[i] != NULL; ++i)
            FreeLibrary(g_phModules[i]);
        LocalFree(g_phModules);
    }
    g_phModules = NULL;
    g_cModules = 0;
}

DWORD LoadedModuleCount() {
    DWORD c = 0;
    while (g_phModules != NULL && c < g_cModules && g_phModules[c] != NULL)
        ++c;
    return c;
}
