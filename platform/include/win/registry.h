// Registry: keys, values, the predefined roots and recursive deletion.
//
// The machine's registry is one hive file in the machine directory, shared by every process that
// works on that machine. Names of keys and values are case-insensitive and case-preserving.
// HKEY_CLASSES_ROOT is a view of HKEY_LOCAL_MACHINE\Software\Classes and HKEY_CURRENT_USER of
// HKEY_USERS\<user name>. Like their Windows counterparts, the Reg* functions return an error code
// and leave the thread's last error alone.
#pragma once

#include "win/types.h"

// Predefined roots, with the values (sign-extended on 64-bit) that Windows gives them.
#define SKY_PREDEFINED_KEY(value)                                                                  \
    (reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(static_cast<LONG>(value))))
#define HKEY_CLASSES_ROOT SKY_PREDEFINED_KEY(0x80000000)
#define HKEY_CURRENT_USER SKY_PREDEFINED_KEY(0x80000001)
#define HKEY_LOCAL_MACHINE SKY_PREDEFINED_KEY(0x80000002)
#define HKEY_USERS SKY_PREDEFINED_KEY(0x80000003)
#define HKEY_PERFORMANCE_DATA SKY_PREDEFINED_KEY(0x80000004)
#define HKEY_CURRENT_CONFIG SKY_PREDEFINED_KEY(0x80000005)

// Value types.
#define REG_NONE (0ul)
#define REG_SZ (1ul)
#define REG_EXPAND_SZ (2ul)
#define REG_BINARY (3ul)
#define REG_DWORD (4ul)
#define REG_DWORD_LITTLE_ENDIAN (4ul)
#define REG_DWORD_BIG_ENDIAN (5ul)
#define REG_LINK (6ul)
#define REG_MULTI_SZ (7ul)
#define REG_RESOURCE_LIST (8ul)
#define REG_FULL_RESOURCE_DESCRIPTOR (9ul)
#define REG_RESOURCE_REQUIREMENTS_LIST (10ul)
#define REG_QWORD (11ul)
#define REG_QWORD_LITTLE_ENDIAN (11ul)

// Key access rights.
#define KEY_QUERY_VALUE (0x0001)
#define KEY_SET_VALUE (0x0002)
#define KEY_CREATE_SUB_KEY (0x0004)
#define KEY_ENUMERATE_SUB_KEYS (0x0008)
#define KEY_NOTIFY (0x0010)
#define KEY_CREATE_LINK (0x0020)
#define KEY_WOW64_32KEY (0x0200)
#define KEY_WOW64_64KEY (0x0100)
#define KEY_WOW64_RES (0x0300)
#define KEY_READ                                                                                   \
    ((STANDARD_RIGHTS_READ | KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS | KEY_NOTIFY) &              \
     (~SYNCHRONIZE))
#define KEY_WRITE ((STANDARD_RIGHTS_WRITE | KEY_SET_VALUE | KEY_CREATE_SUB_KEY) & (~SYNCHRONIZE))
#define KEY_EXECUTE ((KEY_READ) & (~SYNCHRONIZE))
#define KEY_ALL_ACCESS                                                                             \
    ((STANDARD_RIGHTS_ALL | KEY_QUERY_VALUE | KEY_SET_VALUE | KEY_CREATE_SUB_KEY |                 \
      KEY_ENUMERATE_SUB_KEYS | KEY_NOTIFY | KEY_CREATE_LINK) &                                     \
     (~SYNCHRONIZE))

// RegCreateKeyExW options and dispositions. Volatile keys are kept like the others.
#define REG_OPTION_RESERVED (0x00000000L)
#define REG_OPTION_NON_VOLATILE (0x00000000L)
#define REG_OPTION_VOLATILE (0x00000001L)
#define REG_OPTION_CREATE_LINK (0x00000002L)
#define REG_OPTION_BACKUP_RESTORE (0x00000004L)
#define REG_OPTION_OPEN_LINK (0x00000008L)
#define REG_CREATED_NEW_KEY (0x00000001L)
#define REG_OPENED_EXISTING_KEY (0x00000002L)

extern "C" {
SKY_API LSTATUS WINAPI RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD ulOptions,
                                     REGSAM samDesired, PHKEY phkResult);
SKY_API LSTATUS WINAPI RegCreateKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD Reserved, LPWSTR lpClass,
                                       DWORD dwOptions, REGSAM samDesired,
                                       const LPSECURITY_ATTRIBUTES lpSecurityAttributes,
                                       PHKEY phkResult, LPDWORD lpdwDisposition);
SKY_API LSTATUS WINAPI RegCloseKey(HKEY hKey);
SKY_API LSTATUS WINAPI RegDeleteKeyW(HKEY hKey, LPCWSTR lpSubKey);

SKY_API LSTATUS WINAPI RegSetValueExW(HKEY hKey, LPCWSTR lpValueName, DWORD Reserved, DWORD dwType,
                                      const BYTE* lpData, DWORD cbData);
SKY_API LSTATUS WINAPI RegQueryValueExW(HKEY hKey, LPCWSTR lpValueName, LPDWORD lpReserved,
                                        LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData);
SKY_API LSTATUS WINAPI RegDeleteValueW(HKEY hKey, LPCWSTR lpValueName);

SKY_API LSTATUS WINAPI RegEnumKeyExW(HKEY hKey, DWORD dwIndex, LPWSTR lpName, LPDWORD lpcchName,
                                     LPDWORD lpReserved, LPWSTR lpClass, LPDWORD lpcchClass,
                                     PFILETIME lpftLastWriteTime);
SKY_API LSTATUS WINAPI RegEnumValueW(HKEY hKey, DWORD dwIndex, LPWSTR lpValueName,
                                     LPDWORD lpcchValueName, LPDWORD lpReserved, LPDWORD lpType,
                                     LPBYTE lpData, LPDWORD lpcbData);
SKY_API LSTATUS WINAPI RegQueryInfoKeyW(HKEY hKey, LPWSTR lpClass, LPDWORD lpcchClass,
                                        LPDWORD lpReserved, LPDWORD lpcSubKeys,
                                        LPDWORD lpcbMaxSubKeyLen, LPDWORD lpcbMaxClassLen,
                                        LPDWORD lpcValues, LPDWORD lpcbMaxValueNameLen,
                                        LPDWORD lpcbMaxValueLen, LPDWORD lpcbSecurityDescriptor,
                                        PFILETIME lpftLastWriteTime);

// Deletes a key with all its subkeys and values (the shell's lightweight utility function).
SKY_API LSTATUS WINAPI SHDeleteKeyW(HKEY hkey, LPCWSTR pszSubKey);
}
