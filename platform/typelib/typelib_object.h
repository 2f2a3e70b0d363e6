// ITypeLib over a library held in memory (see sky/typelib_image.h), with a type info for each of
// its type descriptions (typeinfo_object.h).
//
// Type descriptions are immutable once the library is built, so every call may run on any
// thread.
#pragma once

#include <memory>
#include <vector>

#include "sky/com_object.h"
#include "sky/typelib_image.h"
#include "typeinfo_object.h"

namespace sky::typelib {

class TypeLibObject final : public ComObject<ITypeLib> {
public:
    explicit TypeLibObject(Library lib);

    // ITypeLib
    UINT STDMETHODCALLTYPE GetTypeInfoCount() override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, ITypeInfo** ppTInfo) override;
    HRESULT STDMETHODCALLTYPE GetTypeInfoType(UINT index, TYPEKIND* pTKind) override;
    HRESULT STDMETHODCALLTYPE GetTypeInfoOfGuid(REFGUID guid, ITypeInfo** ppTinfo) override;
    HRESULT STDMETHODCALLTYPE GetLibAttr(TLIBATTR** ppTLibAttr) override;
    HRESULT STDMETHODCALLTYPE GetTypeComp(ITypeComp** ppTComp) override;
    HRESULT STDMETHODCALLTYPE GetDocumentation(INT index, BSTR* pBstrName, BSTR* pBstrDocString,
                                               DWORD* pdwHelpContext, BSTR* pBstrHelpFile) override;
    HRESULT STDMETHODCALLTYPE IsName(LPOLESTR szNameBuf, ULONG lHashVal, BOOL* pfName) override;
    HRESULT STDMETHODCALLTYPE FindName(LPOLESTR szNameBuf, ULONG lHashVal, ITypeInfo** ppTInfo,
                                       MEMBERID* rgMemId, USHORT* pcFound) override;
    void STDMETHODCALLTYPE ReleaseTLibAttr(TLIBATTR* pTLibAttr) override;

    const Library& data() const { return lib_; }
    TypeInfoObject* face(std::size_t index, bool interfaceFace) const;
    // The type info a reference handle names, AddRef'ed.
    HRESULT resolve(HREFTYPE href, ITypeInfo** out);
    // The reference to IDispatch, the base of every dispatch face.
    HREFTYPE dispatchRef() const { return dispatchRef_; }

private:
    Library lib_;
    std::vector<std::unique_ptr<TypeInfoObject>> infos_;
    std::vector<std::unique_ptr<TypeInfoObject>> interfaceFaces_;
    HREFTYPE dispatchRef_ = 0;
};

// The standard automation library (stdole2.tlb): IUnknown, IDispatch and IEnumVARIANT.
TypeLibObject& standardLibrary();
inline constexpr GUID kStdOleLibid{
    0x00020430, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

} // namespace sky::typelib
