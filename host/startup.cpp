// qvcom's main routine: message module, command line, version check, and the hand-over to
// registration, unregistration or the service dispatcher.
#include "host.h"
#include "resource.h"

HINSTANCE g_hInstance = NULL;
HMODULE g_hMessageModule = NULL;
OSVERSIONINFOW g_osVersion;

namespace {

enum Action { ACTION_NONE, ACTION_REGISTER, ACTION_UNREGISTER };

const WCHAR kServiceName[] = TEXT("QVCom");

} // namespace

BOOL CheckVersion(BOOL silent) {
    WCHAR szCaption[80] = TEXT("");
    LoadStringW(g_hMessageModule, IDS_DISPLAYNAME, szCaption, 80);

    UINT uMessage = 0;
    ZeroMemory(&g_osVersion, sizeof(g_osVersion));
    g_osVersion.dwOSVersionInfoSize = sizeof(OSVERSIONINFOW);
    if (!GetVersionExW(&g_osVersion)) {
        uMessage = IDS_VERSION_UNKNOWN;
    } else if (g_osVersion.dwMajorVersion >= 5) {
        return TRUE;
    } else if (g_osVersion.dwMajorVersion < 4) {
        uMessage = IDS_VERSION_TOO_OLD;
    } else if (g_osVersion.dwBuildNumber != 1381) {
        uMessage = IDS_VERSION_BAD_BUILD;
    } else {
        int nServicePack = 0;
        if (swscanf(g_osVersion.szCSDVersion, TEXT("Service Pack %d"), &nServicePack) == 1 &&
            nServicePack >= 6)
            return TRUE;
        uMessage = IDS_VERSION_NO_SP6;
    }

    WCHAR szMessage[256] = TEXT("");
    LoadStringW(g_hMessageModule, uMessage, szMessage, 256);
    if (!silent)
        MessageBoxW(NULL, szMessage, szCaption, MB_OK);
    return FALSE;
}

int WINAPI wWinMain(HINSTANCE hInstance, HINSTANCE, LPWSTR, int) {
    g_hInstance = hInstance;

    if (!LoadMessageModule())
        return 2;

    Action action = ACTION_NONE;
    BOOL bSilent = FALSE;
    int nArgs = 0;
    LPWSTR* ppszArgs = CommandLineToArgvW(GetCommandLineW(), &nArgs);
    for (int i = 1; ppszArgs != NULL && i < nArgs; ++i) {
        const LPCWSTR pszArg = ppszArgs[i];
        if (pszArg[0] != TEXT('/') && pszArg[0] != TEXT('-'))
            continue;
        const LPCWSTR pszSwitch = pszArg + 1;
        if (lstrcmpiW(pszSwitch, TEXT("RegServer")) == 0) {
            action = ACTION_REGISTER;
        } else if (lstrcmpiW(pszSwitch, TEXT("UnRegServer")) == 0) {
            action = ACTION_UNREGISTER;
        } else if (lstrcmpiW(pszSwitch, TEXT("Embedding")) == 0) {
            // started by automation activation: nothing to do here
        } else if (lstrcmpiW(pszSwitch, TEXT("Silent")) == 0) {
            bSilent = TRUE;
        } else if (lstrcmpiW(pszSwitch, TEXT("Help")) == 0 || pszSwitch[0] == TEXT('?')) {
            WCHAR szCaption[MAX_PATH] = TEXT("");
            WCHAR szText[MAX_PATH] = TEXT("");
            LoadStringW(g_hMessageModule, IDS_HELP_CAPTION, szCaption, MAX_PATH);
            LoadStringW(g_hMessageModule, IDS_HELP_TEXT, szText, MAX_PATH);
            MessageBoxW(NULL, szText, szCaption, MB_OK);
            LocalFree(ppszArgs);
            UnloadMessageModule();
            return 0;
        }
    }
    if (ppszArgs != NULL)
        LocalFree(ppszArgs);

    if (!CheckVersion(bSilent)) {
        UnloadMessageModule();
        return ERROR_OLD_WIN_VERSION;
    }

    WCHAR szDisplayName[256] = TEXT("");
    LoadStringW(g_hMessageModule, IDS_DISPLAYNAME, szDisplayName, 256);

    LONG lResult;
    switch (action) {
    case ACTION_REGISTER:
        lResult = RegisterServer(szDisplayName);
        UnloadMessageModule();
        return lResult;
    case ACTION_UNREGISTER:
        lResult = UnregisterServer();
        UnloadMessageModule();
        return lResult;
    default: {
        WCHAR szName[sizeof(kServiceName) / sizeof(WCHAR)];
        lstrcpyW(szName, kServiceName);
        const SERVICE_TABLE_ENTRYW table[] = {{szName, ServiceMain}, {NULL, NULL}};
        StartServiceCtrlDispatcherW(table);
        return static_cast<int>(GetLastError());
    }
    }
}
