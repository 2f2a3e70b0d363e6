// ITypeInfo over one type description of a library held in memory (see sky/typelib_image.h).
// The type infos are parts of their library: they share its reference count, so holding any of
// them keeps the whole library alive, as on Windows.
#pragma once

#include <memory>
#include <vector>

#include "sky/com_object.h"
#include "sky/typelib_image.h"

namespace sky::typelib {

class TypeLibObject;

// One face of a type description: the description itself, or the vtable (TKIND_INTERFACE) face
// of a dual interface. A part of its library: its references are the library's.
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

} // namespace sky::typelib
