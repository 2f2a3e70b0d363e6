// The text a type library and its type descriptions hand out: names compared as automation
// compares them, and the out-parameters of GetDocumentation.
#pragma once

#include <string>

#include "sky/text.h"
#include "win/oleauto.h"

namespace sky::typelib {

inline BSTR bstr(const std::u16string& s) {
    return SysAllocStringLen(s.data(), static_cast<UINT>(s.size()));
}

inline bool sameName(const std::u16string& a, const OLECHAR* b) {
    return b && equalNoCase(a, std::u16string_view(b, sky::length(b)));
}

// The out-parameters of GetDocumentation; an empty help string or file is a null BSTR.
inline HRESULT document(const std::u16string& name, const std::u16string& doc, DWORD context,
                        const std::u16string& helpFile, BSTR* pBstrName, BSTR* pBstrDocString,
                        DWORD* pdwHelpContext, BSTR* pBstrHelpFile) {
    if (pBstrName)
        *pBstrName = bstr(name);
    if (pBstrDocString)
        *pBstrDocString = doc.empty() ? nullptr : bstr(doc);
    if (pdwHelpContext)
        *pdwHelpContext = context;
    if (pBstrHelpFile)
        *pBstrHelpFile = helpFile.empty() ? nullptr : bstr(helpFile);
    return S_OK;
}

} // namespace sky::typelib
