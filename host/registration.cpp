// /RegServer and /UnRegServer.
#include "host.h"

LONG RegisterServer(LPCWSTR) {
    return E_NOTIMPL;
}

LONG UnregisterServer() {
    return E_NOTIMPL;
}
