// The entries of the object model module qvcomsrv.dll, for the programs that load it:
//
//   DllGetClassObject   the class factory of a creatable class (in-process activation);
//   DllCanUnloadNow     S_OK when no object of the module is alive;
//   DllRegisterServer   registers the module in-process on this machine (for development);
//   DllUnregisterServer removes that registration again;
//   QVComInitialize     for the QVCom service: registers the class objects for activation from
//                       other processes and hands back the event the service waits on; the
//                       service signals it to stop;
//   QVComUninitialize   revokes the class objects and closes the event;
//   QVComUseFarmStore   for a program that loads the module in its own process: every object
//                       of the module in this process serves the store of that type and path
//                       (as the machine's record names stores: "sqlite" and a store file) from
//                       now on, instead of the store the machine's registry names; a null or
//                       empty path serves the machine's store again. Nothing is recorded
//                       anywhere, so no other process sees it. E_INVALIDARG without a type.
//
// A host resolves them with GetProcAddress and calls them through these types.
#pragma once

#include <windows.h>

using QVComInitializeProc = HRESULT(WINAPI*)(OSVERSIONINFOW* version, HINSTANCE instance,
                                             HANDLE* stopEvent);
using QVComUninitializeProc = HRESULT(WINAPI*)(int reason);
using QVComUseFarmStoreProc = HRESULT(WINAPI*)(LPCWSTR type, LPCWSTR path);
using DllRegisterServerProc = HRESULT(WINAPI*)();
using DllUnregisterServerProc = HRESULT(WINAPI*)();
