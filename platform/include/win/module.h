// Modules and resources: loading, exports, string tables and binary resources.
//
// Module files keep their Windows names (qvcomsrv.dll, qvcomUI.dll) and are ELF shared objects.
// Their resources live in a section of their own and are read from the file, never by running the
// module's code, so a data-file load (LOAD_LIBRARY_AS_DATAFILE) works on any module or program.
#pragma once

#include "win/types.h"

// LoadLibraryExW flags.
#define DONT_RESOLVE_DLL_REFERENCES 0x00000001u
#define LOAD_LIBRARY_AS_DATAFILE 0x00000002u
#define LOAD_WITH_ALTERED_SEARCH_PATH 0x00000008u
#define LOAD_LIBRARY_AS_DATAFILE_EXCLUSIVE 0x00000040u
#define LOAD_LIBRARY_AS_IMAGE_RESOURCE 0x00000020u

// GetModuleHandleExW flags.
#define GET_MODULE_HANDLE_EX_FLAG_PIN 0x00000001u
#define GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT 0x00000002u
#define GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS 0x00000004u

// Handles of modules mapped only for their resources carry a tag in their low bits.
#define LDR_IS_DATAFILE(h) ((reinterpret_cast<ULONG_PTR>(h) & 1) != 0)
#define LDR_IS_IMAGEMAPPING(h) ((reinterpret_cast<ULONG_PTR>(h) & 2) != 0)
#define LDR_IS_RESOURCE(h) (LDR_IS_DATAFILE(h) || LDR_IS_IMAGEMAPPING(h))

// Predefined resource types.
#define RT_CURSOR MAKEINTRESOURCEW(1)
#define RT_BITMAP MAKEINTRESOURCEW(2)
#define RT_ICON MAKEINTRESOURCEW(3)
#define RT_MENU MAKEINTRESOURCEW(4)
#define RT_DIALOG MAKEINTRESOURCEW(5)
#define RT_STRING MAKEINTRESOURCEW(6)
#define RT_FONTDIR MAKEINTRESOURCEW(7)
#define RT_FONT MAKEINTRESOURCEW(8)
#define RT_ACCELERATOR MAKEINTRESOURCEW(9)
#define RT_RCDATA MAKEINTRESOURCEW(10)
#define RT_MESSAGETABLE MAKEINTRESOURCEW(11)
#define RT_GROUP_CURSOR MAKEINTRESOURCEW(12)
#define RT_GROUP_ICON MAKEINTRESOURCEW(14)
#define RT_VERSION MAKEINTRESOURCEW(16)
#define RT_MANIFEST MAKEINTRESOURCEW(24)

// Language identifiers (the few the programs and their resources use).
#ifndef LANG_NEUTRAL
#define LANG_NEUTRAL 0x00
#define LANG_INVARIANT 0x7f
#define LANG_ENGLISH 0x09
#define LANG_FRENCH 0x0c
#define LANG_GERMAN 0x07
#define SUBLANG_NEUTRAL 0x00
#define SUBLANG_DEFAULT 0x01
#define SUBLANG_SYS_DEFAULT 0x02
#define SUBLANG_ENGLISH_US 0x01
#define SUBLANG_ENGLISH_UK 0x02
#define SUBLANG_FRENCH 0x01
#define SUBLANG_GERMAN 0x01
#endif
#ifndef PRIMARYLANGID
#define PRIMARYLANGID(lgid) (static_cast<WORD>(lgid) & 0x3ff)
#define SUBLANGID(lgid) (static_cast<WORD>(lgid) >> 10)
#endif

#ifndef ERROR_RESOURCE_ENUM_USER_STOP
#define ERROR_RESOURCE_ENUM_USER_STOP 15106L
#endif

using ENUMRESNAMEPROCW = BOOL(CALLBACK*)(HMODULE hModule, LPCWSTR lpType, LPWSTR lpName,
                                         LONG_PTR lParam);

extern "C" {

SKY_API HMODULE WINAPI LoadLibraryW(LPCWSTR lpLibFileName);
SKY_API HMODULE WINAPI LoadLibraryExW(LPCWSTR lpLibFileName, HANDLE hFile, DWORD dwFlags);
SKY_API BOOL WINAPI FreeLibrary(HMODULE hLibModule);
SKY_API FARPROC WINAPI GetProcAddress(HMODULE hModule, LPCSTR lpProcName);
SKY_API HMODULE WINAPI GetModuleHandleW(LPCWSTR lpModuleName);
SKY_API BOOL WINAPI GetModuleHandleExW(DWORD dwFlags, LPCWSTR lpModuleName, HMODULE* phModule);
SKY_API DWORD WINAPI GetModuleFileNameW(HMODULE hModule, LPWSTR lpFilename, DWORD nSize);

SKY_API HRSRC WINAPI FindResourceW(HMODULE hModule, LPCWSTR lpName, LPCWSTR lpType);
SKY_API HRSRC WINAPI FindResourceExW(HMODULE hModule, LPCWSTR lpType, LPCWSTR lpName,
                                     WORD wLanguage);
SKY_API HGLOBAL WINAPI LoadResource(HMODULE hModule, HRSRC hResInfo);
SKY_API LPVOID WINAPI LockResource(HGLOBAL hResData);
SKY_API DWORD WINAPI SizeofResource(HMODULE hModule, HRSRC hResInfo);
SKY_API BOOL WINAPI FreeResource(HGLOBAL hResData);
SKY_API BOOL WINAPI EnumResourceNamesW(HMODULE hModule, LPCWSTR lpType, ENUMRESNAMEPROCW lpEnumFunc,
                                       LONG_PTR lParam);
SKY_API int WINAPI LoadStringW(HINSTANCE hInstance, UINT uID, LPWSTR lpBuffer, int cchBufferMax);
}
