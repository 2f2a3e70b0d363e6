// ITypeLib and ITypeInfo over a library held in memory (see sky/typelib_image.h).
//
// Type descriptions are immutable once the library is built, so every call may run on any
// thread. The type infos share their library's reference count: holding any of them keeps the
// whole library alive, as on Windows.
#pragma once

#include <memory>
#include <vector>

#include "sky/com_object.h"
#include "sky/typelib_image.h"

namespace sky::typelib {

class TypeLibObject;

// One face of a type description: the description itself, or the vtable (TKIND_INTERFACE) face
// of a dual interface.
// A part of its library: its references are the library's.
class TypeInfoObject final : public ComObject<ITypeInfo> {
public:
    TypeInfoObject(TypeLibObject& lib, std::size_t index, bool interfaceFace);

    // ITypeInfo
    HRESULT STDMETHODCALLTYPE GetTypeAttr(TYPEATTR** ppTypeAttr) override;
    HRESULT STDMETHODCALLTYPE GetTypeComp(ITypeComp** ppTComp) override;
    HRESULT STDMETHODCALLTYPE GetFuncDesc(UINT index, FUNCDESC** ppFuncDesc) override;
    HRESULT STDMETHODCALLTYPE GetVarDesc(UINT index, VARDESC** ppVarDesc) override;
    HRESULT STDMETHODCALLTYPE GetNames(MEMBERID memid, BSTR* rgBstrNames, UINT cMaxNames,
                                       UINT* pcNames) override;
    HRESULT STDMETHODCALLTYPE GetRefTypeOfImplType(UINT index, HREFTYPE* pRefType) override;
    HRESULT STDMETHODCALLTYPE GetImplTypeFlags(UINT index, INT* pImplTypeFlags) override;
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(LPOLESTR* rgszNames, UINT cNames,
                                            MEMBERID* pMemId) override;
    HRESULT STDMETHODCALLTYPE Invoke(PVOID pvInstance, MEMBERID memid, WORD wFlags,
                                     DISPPARAMS* pDispParams, VARIANT* pVarResult,
                                     EXCEPINFO* pExcepInfo, UINT* puArgErr) override;
    HRESULT STDMETHODCALLTYPE GetDocumentation(MEMBERID memid, BSTR* pBstrName,
                                               BSTR* pBstrDocString, DWORD* pdwHelpContext,
                                               BSTR* pBstrHelpFile) override;
    HRESULT STDMETHODCALLTYPE GetDllEntry(MEMBERID memid, INVOKEKIND invKind, BSTR* pBstrDllName,
                                          BSTR* pBstrName, WORD* pwOrdinal) override;
    HRESULT STDMETHODCALLTYPE GetRefTypeInfo(HREFTYPE hRefType, ITypeInfo** ppTInfo) override;
    HRESULT STDMETHODCALLTYPE AddressOfMember(MEMBERID memid, INVOKEKIND invKind,
                                              PVOID* ppv) override;
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* pUnkOuter, REFIID riid,
                                             PVOID* ppvObj) override;
    HRESULT STDMETHODCALLTYPE GetMops(MEMBERID memid, BSTR* pBstrMops) override;
    HRESULT STDMETHODCALLTYPE GetContainingTypeLib(ITypeLib** ppTLib, UINT* pIndex) override;
    void STDMETHODCALLTYPE ReleaseTypeAttr(TYPEATTR* pTypeAttr) override;
    void STDMETHODCALLTYPE ReleaseFuncDesc(FUNCDESC* pFuncDesc) override;
    void STDMETHODCALLTYPE ReleaseVarDesc(VARDESC* pVarDesc) override;

    // Called once the library's every face exists.
    void prepare();

private:
    // A function as this face shows it. The dispatch face of a dual interface shows the
    // members of the whole chain in dispatch form: the [out, retval] parameter becomes the
    // result and HRESULT disappears.
    struct Entry {
        const Func* func;
        int slot; // vtable slot
        bool dispatchForm;
    };

    const TypeDescription& desc() const;
    const Entry* findFunc(MEMBERID memid) const;
    const Var* findVar(MEMBERID memid) const;
    bool isDualDispatchFace() const;

    TypeLibObject& lib_;
    std::size_t index_;
    bool interfaceFace_;
    std::vector<Entry> funcs_;
    int vtableSlots_ = 0;
};

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
