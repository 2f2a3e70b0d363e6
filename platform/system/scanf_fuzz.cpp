// Fuzz target: swscanf reading any text with the formats programs use, integers of every size,
// widths, sets and assignment suppression. (The format itself is the program's, never input.)
#include <cstdint>
#include <cstring>
#include <string>

#include "win/strings.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::u16string text(size / 2, u'\0');
    std::memcpy(text.data(), data, text.size() * 2);
    text = text.substr(0, text.find(u'\0'));
    const WCHAR* input = text.c_str();
    int i = 0, n = 0;
    unsigned u = 0;
    long long ll = 0;
    short h = 0;
    WCHAR word[16] = {};
    WCHAR set[8] = {};
    char narrow[64] = {}; // UTF-8: up to three bytes for each of 15 characters, and the NUL
    WCHAR c[2] = {};
    swscanf(input, u"%d %i %u %n", &i, &i, &u, &n);
    swscanf(input, u"%x-%X-%o", &u, &u, &u);
    swscanf(input, u"%lld %hd %*d %lli", &ll, &h, &ll);
    swscanf(input, u"%15s %7[a-z0-9-] %2c", word, set, c);
    swscanf(input, u"%15S %15hs", narrow, narrow);
    swscanf(input, u"%15[^,],%d%%", word, &i);
    swscanf(input, u"{%8x-%4hx-%4hx}", &u, &h, &h);
    return 0;
}
