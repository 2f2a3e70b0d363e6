// The start-up code: what a Windows program's runtime does before its main routine, here.
#include "host.h"

int main() {
    return wWinMain(GetModuleHandleW(NULL), NULL, GetCommandLineW(), SW_SHOWDEFAULT);
}
