// Programmatic identifiers: CLSIDFromProgID and ProgIDFromCLSID, through HKEY_CLASSES_ROOT.
// The registry matches key names without regard to case, so "SkyloomCom.SkyloomServer" finds
// the key "SkyloomCOM.SkyloomServer".
#include <optional>
#include <string>

#include "class_registry.h"
#include "guid_text.h"
#include "sky/text.h"
#include "win/com.h"

namespace {

using namespace sky::automation;

// How many CurVer links a lookup follows (a ProgID naming itself, or a loop, ends there).
constexpr int maxVersionLinks = 8;

// The class of a ProgID: the class of its current version (CurVer) when it names one that
// resolves, otherwise its own CLSID value.
std::optional<CLSID> resolveProgId(const std::u16string& progId, int links) {
    if (links < maxVersionLinks) {
        if (auto current = readClassesString(progId + u"\\CurVer");
            current && !current->empty() && !sky::equalNoCase(*current, progId) &&
            current->find(u'\\') == std::u16string::npos) {
            if (auto clsid = resolveProgId(*current, links + 1))
                return clsid;
        }
    }
    if (auto text = readClassesString(progId + u"\\CLSID")) {
        CLSID clsid;
        if (parseGuid(text->c_str(), clsid))
            return clsid;
    }
    return std::nullopt;
}

} // namespace

extern "C" {

HRESULT WINAPI CLSIDFromProgID(LPCOLESTR lpszProgID, LPCLSID lpclsid) {
    if (!lpszProgID || !lpclsid)
        return E_INVALIDARG;
    *lpclsid = CLSID_NULL;
    const std::u16string progId(lpszProgID);
    // An empty name or a path would open some other key than a ProgID's.
    if (progId.empty() || progId.find(u'\\') != std::u16string::npos)
        return CO_E_CLASSSTRING;
    const auto clsid = resolveProgId(progId, 0);
    if (!clsid)
        return CO_E_CLASSSTRING;
    *lpclsid = *clsid;
    return S_OK;
}

HRESULT WINAPI ProgIDFromCLSID(REFCLSID clsid, LPOLESTR* lplpszProgID) {
    if (!lplpszProgID)
        return E_INVALIDARG;
    *lplpszProgID = nullptr;
    const auto progId = readClassesString(classKey(clsid) + u"\\ProgID");
    if (!progId || progId->empty())
        return REGDB_E_CLASSNOTREG;
    const std::size_t bytes = (progId->size() + 1) * sizeof(OLECHAR);
    auto* out = static_cast<LPOLESTR>(CoTaskMemAlloc(bytes));
    if (!out)
        return E_OUTOFMEMORY;
    progId->copy(out, progId->size());
    out[progId->size()] = u'\0';
    *lplpszProgID = out;
    return S_OK;
}

} // extern "C"
