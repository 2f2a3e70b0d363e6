// The standard automation library (stdole2.tlb) that every dual interface's chain ends in:
// IUnknown, IDispatch and IEnumVARIANT, built in.
#include "typelib_object.h"

namespace sky::typelib {

namespace {

Library standardLibraryData() {
    Library lib;
    lib.guid = kStdOleLibid;
    lib.major = 2;
    lib.minor = 0;
    lib.lcid = 0;
    lib.name = u"stdole";
    lib.doc = u"OLE Automation";
    auto param = [](const char16_t* name, VARTYPE vt, BYTE pointers, USHORT flags) {
        Param p;
        p.name = name;
        p.type = Type{vt, pointers, 0};
        p.flags = flags;
        return p;
    };
    auto func = [](const char16_t* name, MEMBERID id, std::vector<Param> params,
                   VARTYPE result = VT_HRESULT) {
        Func f;
        f.name = name;
        f.id = id;
        f.flags = FUNCFLAG_FRESTRICTED;
        f.result = Type{result, 0, 0};
        f.params = std::move(params);
        return f;
    };
    TypeDescription unknown;
    unknown.kind = TKIND_INTERFACE;
    unknown.guid = IID_IUnknown;
    unknown.name = u"IUnknown";
    unknown.flags = TYPEFLAG_FHIDDEN;
    unknown.funcs = {func(u"QueryInterface", 0x60000000,
                          {param(u"riid", VT_VOID, 1, PARAMFLAG_FIN),
                           param(u"ppvObj", VT_VOID, 2, PARAMFLAG_FOUT)}),
                     func(u"AddRef", 0x60000001, {}, VT_UI4),
                     func(u"Release", 0x60000002, {}, VT_UI4)};
    TypeDescription dispatch;
    dispatch.kind = TKIND_INTERFACE;
    dispatch.guid = IID_IDispatch;
    dispatch.name = u"IDispatch";
    dispatch.impls = {Impl{localRef(0), 0}};
    dispatch.funcs = {
        func(u"GetTypeInfoCount", 0x60010000, {param(u"pctinfo", VT_UINT, 1, PARAMFLAG_FOUT)}),
        func(u"GetTypeInfo", 0x60010001,
             {param(u"itinfo", VT_UINT, 0, PARAMFLAG_FIN), param(u"lcid", VT_UI4, 0, PARAMFLAG_FIN),
              param(u"pptinfo", VT_VOID, 2, PARAMFLAG_FOUT)}),
        func(u"GetIDsOfNames", 0x60010002,
             {param(u"riid", VT_VOID, 1, PARAMFLAG_FIN),
              param(u"rgszNames", VT_I1, 2, PARAMFLAG_FIN),
              param(u"cNames", VT_UINT, 0, PARAMFLAG_FIN), param(u"lcid", VT_UI4, 0, PARAMFLAG_FIN),
              param(u"rgdispid", VT_I4, 1, PARAMFLAG_FOUT)}),
        func(u"Invoke", 0x60010003,
             {param(u"dispidMember", VT_I4, 0, PARAMFLAG_FIN),
              param(u"riid", VT_VOID, 1, PARAMFLAG_FIN), param(u"lcid", VT_UI4, 0, PARAMFLAG_FIN),
              param(u"wFlags", VT_UI2, 0, PARAMFLAG_FIN),
              param(u"pdispparams", VT_VOID, 1, PARAMFLAG_FIN),
              param(u"pvarResult", VT_VARIANT, 1, PARAMFLAG_FOUT),
              param(u"pexcepinfo", VT_VOID, 1, PARAMFLAG_FOUT),
              param(u"puArgErr", VT_UINT, 1, PARAMFLAG_FOUT)})};
    TypeDescription enumVariant;
    enumVariant.kind = TKIND_INTERFACE;
    enumVariant.guid = IID_IEnumVARIANT;
    enumVariant.name = u"IEnumVARIANT";
    enumVariant.flags = TYPEFLAG_FHIDDEN;
    enumVariant.impls = {Impl{localRef(0), 0}};
    enumVariant.funcs = {
        func(u"Next", 0x60010000,
             {param(u"celt", VT_UI4, 0, PARAMFLAG_FIN),
              param(u"rgvar", VT_VARIANT, 1, PARAMFLAG_FIN),
              param(u"pceltFetched", VT_UI4, 1, PARAMFLAG_FOUT)}),
        func(u"Skip", 0x60010001, {param(u"celt", VT_UI4, 0, PARAMFLAG_FIN)}),
        func(u"Reset", 0x60010002, {}),
        func(u"Clone", 0x60010003, {param(u"ppenum", VT_VOID, 2, PARAMFLAG_FOUT)})};
    for (auto& f : enumVariant.funcs)
        f.flags = 0;
    lib.types = {std::move(unknown), std::move(dispatch), std::move(enumVariant)};
    return lib;
}

} // namespace

TypeLibObject& standardLibrary() {
    // Built in: the first reference is never released, so it lives as long as the process.
    static TypeLibObject* library = new TypeLibObject(standardLibraryData());
    return *library;
}

} // namespace sky::typelib
