// sky::createObject: creation by programmatic identifier, as automation clients do it.
#include <string>

#include "sky/dispatch.h"

namespace sky {

ComPtr<IUnknown> createObject(std::u16string_view progId) {
    const std::u16string name(progId);
    CLSID clsid;
    if (HRESULT hr = CLSIDFromProgID(name.c_str(), &clsid); FAILED(hr))
        throw ComError(hr, resultText(hr));
    ComPtr<IUnknown> object;
    check(CoCreateInstance(clsid, nullptr, CLSCTX_SERVER, IID_IUnknown, object.putVoid()));
    return object;
}

} // namespace sky
