// A program that reads its own resources through its instance handle and prints them: string 42
// and the size of RCDATA 7. Exits 1 when either is missing.
#include <cstdio>

#include "sky/text.h"
#include "windows.h"

int main() {
    const HMODULE self = GetModuleHandleW(nullptr);
    WCHAR text[64];
    const int length = LoadStringW(self, 42, text, 64);
    const HRSRC data = FindResourceW(nullptr, MAKEINTRESOURCEW(7), RT_RCDATA);
    if (length == 0 || !data)
        return 1;
    std::printf("%s|%u\n", sky::narrow(text).c_str(), SizeofResource(self, data));
    return 0;
}
