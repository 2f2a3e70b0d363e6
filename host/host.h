// qvcom, the host of the farm's object model: process-wide state and the operations of its files.
//
//   startup.cpp         the main routine: message module, command line, version check, dispatch
//   message_module.cpp  finding and loading the language's message module
//   install_paths.cpp   the install key, the system path, PATH, loading the module list
//   service.cpp         the service main routine and its control handler
//   registration.cpp    /RegServer and /UnRegServer
//
// Plain Win32: it builds against the platform here and against the Windows headers there.
#pragma once

#include <windows.h>

// --- Process-wide state (startup.cpp) ---

// The program's instance handle, as the start-up code passed it.
extern HINSTANCE g_hInstance;
// The message module (qvcomUI.dll), loaded as a data file; NULL when not loaded.
extern HMODULE g_hMessageModule;
// Filled by CheckVersion; handed to the object model module at service start.
extern OSVERSIONINFOW g_osVersion;

// The main routine; returns the process exit code.
int WINAPI wWinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPWSTR lpCmdLine, int nShowCmd);
// 1 when the system is acceptable, else 0 after showing the reason (unless silent). Fills
// g_osVersion either way.
BOOL CheckVersion(BOOL silent);

// --- Message module (message_module.cpp) ---

// Loads the message module unless one is loaded: resource\<lang>-<country>, resource\<lang>,
// then resource\<QV_DefaultLanguage or "en"> below the program's directory. FALSE when none loads.
BOOL LoadMessageModule();
void UnloadMessageModule();

// --- Install paths and modules (install_paths.cpp) ---

// One record of a module list: a module path pattern (may begin with INSTALLPATH or SYSPATH), an
// export, and the slot its address goes into. A list ends with a record whose path is empty.
struct MODULE_ENTRY {
    LPCWSTR pszPath;
    LPCSTR pszExport;
    FARPROC* pSlot;
};

// The process-wide copies of the install key's Windows folder and of the system directory,
// filled on the first load of a module list.
extern WCHAR g_szWindowsFolder[MAX_PATH];
extern WCHAR g_szSystemDirectory[MAX_PATH];

// The install key's Windows folder followed by "System32". Returns its length, the length needed
// with the terminator when capacity is too small (nothing written), or 0 on failure.
DWORD GetSystemPath(LPWSTR pszBuffer, DWORD cchCapacity);
// Expands INSTALLPATH or SYSPATH at the start of a pattern and loads the module.
HMODULE ExpandAndLoad(LPCWSTR pszPattern);
// Adds the Vantor and System32 folders to this process's PATH. Nonzero on success.
BOOL UpdatePath();
// Loads every module of the list and resolves every export into its slot. 1 on success; 0 with the
// last error set, the loaded-module set then empty again.
BOOL LoadModuleList(const MODULE_ENTRY* pList);
// Frees the loaded-module set.
void UnloadAllModules();
// How many modules the loaded-module set holds.
DWORD LoadedModuleCount();

// --- Service (service.cpp) ---

void WINAPI ServiceMain(DWORD dwArgc, LPWSTR* lpszArgv);
void WINAPI ServiceControlHandler(DWORD dwControl);

// --- Registration (registration.cpp) ---

// Both return 0 or the code of the failure; they become the process exit code.
LONG RegisterServer(LPCWSTR pszDisplayName);
LONG UnregisterServer();
