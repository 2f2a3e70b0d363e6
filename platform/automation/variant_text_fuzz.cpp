// Fuzz target: VariantChangeType from text to every scalar type, in the machine's locale and in
// a few others.
#include <cstdint>
#include <cstring>
#include <string>

#include "sky/fuzz_machine.h"
#include "win/oleauto.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    sky::testing::useFuzzMachine();
    if (size < 1)
        return 0;
    std::u16string text((size - 1) / 2, u'\0');
    std::memcpy(text.data(), data + 1, text.size() * 2);
    VARIANT source;
    VariantInit(&source);
    source.vt = VT_BSTR;
    source.bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    static constexpr VARTYPE kTypes[] = {VT_I1, VT_UI1,  VT_I2,   VT_UI2,     VT_I4,  VT_UI4,
                                         VT_I8, VT_UI8,  VT_INT,  VT_UINT,    VT_R4,  VT_R8,
                                         VT_CY, VT_DATE, VT_BOOL, VT_DECIMAL, VT_BSTR};
    static constexpr LCID kLocales[] = {0x0409, 0x0407, 0x040C, 0x0411};
    const LCID lcid = kLocales[data[0] % 4];
    const USHORT flags = (data[0] & 0x10) ? VARIANT_NOUSEROVERRIDE : 0;
    for (const VARTYPE type : kTypes) {
        VARIANT result;
        VariantInit(&result);
        (void)VariantChangeTypeEx(&result, &source, lcid, flags, type);
        VariantClear(&result);
    }
    VariantClear(&source);
    return 0;
}
