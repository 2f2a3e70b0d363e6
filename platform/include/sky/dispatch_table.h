// IDispatch from generated tables. The IDL compiler writes, for every interface of a library,
// a table of its members (its bases' included) with one invoke thunk each; an implementation
// class derives from DispatchImpl<Interface> and gets GetTypeInfoCount, GetTypeInfo,
// GetIDsOfNames and Invoke with the behaviour automation clients expect:
//
//   - names are matched ignoring case; parameter names resolve to their positions;
//   - arguments arrive in reverse order and are converted to the declared types with
//     VariantChangeType (by-reference arguments are read through); a property put takes its
//     value as the named argument DISPID_PROPERTYPUT;
//   - the [out, retval] value comes back in pVarResult, interface pointers as VT_DISPATCH when
//     they derive from IDispatch and as VT_UNKNOWN otherwise;
//   - faults are reported with the automation codes (DISP_E_MEMBERNOTFOUND, DISP_E_BADPARAMCOUNT,
//     DISP_E_TYPEMISMATCH with puArgErr, DISP_E_PARAMNOTOPTIONAL, DISP_E_NONAMEDARGS,
//     DISP_E_PARAMNOTFOUND); a member that fails gives DISP_E_EXCEPTION with EXCEPINFO filled
//     from its error information when the caller passes an EXCEPINFO, else its own HRESULT.
#pragma once

#include <cstddef>

#include "sky/export.h"
#include "win/oleauto.h"
#include "win/typelib.h"

namespace sky::dispatch {

// Calls one member through the interface pointer `self`. `args` holds the parameters (the
// retval excluded) in declaration order, already converted to their declared types; [out]
// parameters are written back into them. `result` receives the [out, retval] value.
using Thunk = HRESULT (*)(IUnknown* self, VARIANT* args, VARIANT* result);

// A default value from the IDL (VT_I4, VT_R8, VT_BOOL or VT_BSTR).
struct DefaultValue {
    VARTYPE vt;
    LONGLONG integer;
    DOUBLE real;
    const char16_t* text;
};

// A parameter that names a file the member opens for its caller, to read or to write (the IDL
// marks it with the file-argument custom attribute, docs/idl-and-type-library.md). Called from
// another process, the caller's side opens the file with the caller's own rights and hands the
// descriptor over with the call; the member reads or writes only that (sky::remote::callerFile).
enum class FileUse : unsigned char { None = 0, Read = 1, Write = 2 };

struct Param {
    const char16_t* name;
    VARTYPE vt;     // the type to convert to (enumerations are VT_I4)
    USHORT flags;   // PARAMFLAG_*
    const IID* iid; // interface parameters other than IDispatch/IUnknown
    const DefaultValue* defaultValue;
    FileUse file; // FileUse::None for every parameter that is not a file name
};

struct Member {
    const char16_t* name;
    DISPID dispid;
    WORD invkind; // INVOKE_FUNC, INVOKE_PROPERTYGET, INVOKE_PROPERTYPUT, INVOKE_PROPERTYPUTREF
    WORD paramCount;
    WORD requiredCount; // parameters without optional or defaultvalue
    const Param* params;
    VARTYPE resultVt; // VT_EMPTY when the member gives no value
    Thunk thunk;
    // A property getter that only reads the object's state (the IDL's snapshot attribute;
    // docs/remote-calls.md, "Snapshots of properties"). One of a plain value a caller in another
    // process may take from a snapshot of the object's marked getters, fetched in one call and
    // good until the caller's next call of another member; one of an object (resultVt
    // VT_DISPATCH or VT_UNKNOWN: a face, a collection, a _NewEnum) is called as any member, but
    // its call ends no snapshot.
    bool snapshot = false;
};

// A library's type-library image, compiled into the program, for GetTypeInfo.
struct TypeLibImage {
    const unsigned char* data;
    std::size_t size;
};

struct Table {
    const IID* iid;
    const char16_t* name;
    const Member* members; // the interface's own members after those of its bases
    WORD memberCount;
    const WORD* byName;   // member indexes ordered by upper-cased name
    const WORD* byDispid; // member indexes ordered by dispid, then invoke kind
    const TypeLibImage* typelib;
};

// The members named `name` (ignoring case): the first index into Table::members, or -1.
SKY_API int findByName(const Table& table, const OLECHAR* name);

SKY_API HRESULT getTypeInfoCount(UINT* pctinfo);
SKY_API HRESULT getTypeInfo(const Table& table, UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo);
SKY_API HRESULT getIDsOfNames(const Table& table, REFIID riid, LPOLESTR* rgszNames, UINT cNames,
                              LCID lcid, DISPID* rgDispId);
SKY_API HRESULT invoke(const Table& table, IUnknown* self, DISPID dispIdMember, REFIID riid,
                       LCID lcid, WORD wFlags, DISPPARAMS* pDispParams, VARIANT* pVarResult,
                       EXCEPINFO* pExcepInfo, UINT* puArgErr);

// Sets error information "<interfaceName>::<member> is not implemented" and returns E_NOTIMPL.
SKY_API HRESULT notImplemented(const char16_t* interfaceName, const char16_t* member);

// Asks the gate of `self`, if the object has one (sky::IMemberGate), whether the caller may call
// member `index` of `table`: S_OK when it has no gate. Whoever calls a member through a table
// on behalf of a caller asks first (invoke() above, the stubs of calls from other processes).
SKY_API HRESULT checkGate(IUnknown* self, const Table& table, WORD index);

// The table of an interface, declared by the generated header with SKY_DISPATCH_TABLE.
template <class Interface> struct TableOf;

// Members of an object's other faces, by name. An object that serves several interfaces
// through dispatch tables (the farm and its Windows settings) answers every member of all of
// them by name, whichever face a late-bound client holds: a name that the face's own table does
// not know is looked for in the other faces' tables, in the object's order of faces, and gets a
// dispatch identifier of this range, which stands for that face and that member (the face's
// index in bits 16..23, the member's index into its table in bits 0..15). Invoke passes such an
// identifier on to that face, through its own table, gate included. No table uses the range:
// explicit identifiers are small or negative, assigned ones 0x6xxxxxxx.
inline constexpr DISPID kOtherFaceFirst = 0x40000000;
inline constexpr DISPID kOtherFaceLast = 0x40FFFFFF;
constexpr bool isOtherFaceId(DISPID id) {
    return id >= kOtherFaceFirst && id <= kOtherFaceLast;
}

// GetIDsOfNames and Invoke of a face whose own table does not know the name or identifier: the
// other faces of the object `self` (through sky::IObjectFaces), DISP_E_UNKNOWNNAME and
// DISP_E_MEMBERNOTFOUND when it has none that does.
SKY_API HRESULT getIDsOfNamesOfOtherFaces(const Table& table, IUnknown* self, REFIID riid,
                                          LPOLESTR* rgszNames, UINT cNames, LCID lcid,
                                          DISPID* rgDispId);
SKY_API HRESULT invokeOtherFace(IUnknown* self, DISPID dispIdMember, REFIID riid, LCID lcid,
                                WORD wFlags, DISPPARAMS* pDispParams, VARIANT* pVarResult,
                                EXCEPINFO* pExcepInfo, UINT* puArgErr);
// Invoke of a member the face's table has, but not of the kind asked (an application handed out
// as ISkyloomApplication5, whose Description is read-only there, asked to put Description, which
// its ISkyloomWinApp face writes): the member of the same name and that kind on another face;
// DISP_E_MEMBERNOTFOUND when no face has one.
SKY_API HRESULT invokeSameNameOnOtherFace(const Table& table, IUnknown* self, DISPID dispIdMember,
                                          REFIID riid, LCID lcid, WORD wFlags,
                                          DISPPARAMS* pDispParams, VARIANT* pVarResult,
                                          EXCEPINFO* pExcepInfo, UINT* puArgErr);

} // namespace sky::dispatch

#define SKY_DISPATCH_TABLE(Interface, tableObject)                                                 \
    extern const ::sky::dispatch::Table tableObject;                                               \
    template <> struct sky::dispatch::TableOf<Interface> {                                         \
        static const ::sky::dispatch::Table& get() { return tableObject; }                         \
    }

namespace sky {

// {5B0E7D21-3C4A-4F0B-9E61-7A2D8C1F4B93}
inline constexpr IID IID_IMemberGate{
    0x5B0E7D21, 0x3C4A, 0x4F0B, {0x9E, 0x61, 0x7A, 0x2D, 0x8C, 0x1F, 0x4B, 0x93}};

// An object that lets only some callers reach some of its members answers this interface. It is
// asked before every call made through its dispatch tables for a caller: IDispatch::Invoke (in
// process and across) and the stub of an early-bound call from another process. A failure (with
// its error information set) is the call's answer; the member is not called.
struct IMemberGate : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE MayCall(const dispatch::Table* table, WORD member) = 0;
};

// {9C3A51E4-6B20-4D7E-8F15-2E9B0C7A4D68}
inline constexpr IID IID_IObjectFaces{
    0x9C3A51E4, 0x6B20, 0x4D7E, {0x8F, 0x15, 0x2E, 0x9B, 0x0C, 0x7A, 0x4D, 0x68}};

// The faces of an object that serves several interfaces through dispatch tables (sky::ComObject
// answers it): the table of each and the face itself, so that any face reaches the members of
// the others by name (kOtherFaceFirst above). In process only: it never crosses the boundary.
struct IObjectFaces : IUnknown {
    virtual UINT STDMETHODCALLTYPE FaceCount() = 0;
    // Face `index`: its table and its pointer (not AddRef'd: it lives as long as the object).
    virtual HRESULT STDMETHODCALLTYPE Face(UINT index, const dispatch::Table** table,
                                           IUnknown** face) = 0;
};

// Implements IDispatch for `Interface` from its generated table. The class deriving from it
// (through sky::ComObject) implements IUnknown and the interface's own members.
template <class Interface> class DispatchImpl : public Interface {
public:
    using Implements = Interface;

    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* pctinfo) override {
        return dispatch::getTypeInfoCount(pctinfo);
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo) override {
        return dispatch::getTypeInfo(table(), iTInfo, lcid, ppTInfo);
    }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames,
                                            LCID lcid, DISPID* rgDispId) override {
        const HRESULT hr =
            dispatch::getIDsOfNames(table(), riid, rgszNames, cNames, lcid, rgDispId);
        if (hr != DISP_E_UNKNOWNNAME || !rgDispId || rgDispId[0] != DISPID_UNKNOWN)
            return hr;
        return dispatch::getIDsOfNamesOfOtherFaces(table(), self(), riid, rgszNames, cNames, lcid,
                                                   rgDispId);
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags,
                                     DISPPARAMS* pDispParams, VARIANT* pVarResult,
                                     EXCEPINFO* pExcepInfo, UINT* puArgErr) override {
        if (dispatch::isOtherFaceId(dispIdMember))
            return dispatch::invokeOtherFace(self(), dispIdMember, riid, lcid, wFlags, pDispParams,
                                             pVarResult, pExcepInfo, puArgErr);
        const HRESULT hr = dispatch::invoke(table(), self(), dispIdMember, riid, lcid, wFlags,
                                            pDispParams, pVarResult, pExcepInfo, puArgErr);
        if (hr != DISP_E_MEMBERNOTFOUND)
            return hr;
        return dispatch::invokeSameNameOnOtherFace(table(), self(), dispIdMember, riid, lcid,
                                                   wFlags, pDispParams, pVarResult, pExcepInfo,
                                                   puArgErr);
    }

protected:
    static const dispatch::Table& table() { return dispatch::TableOf<Interface>::get(); }
    IUnknown* self() { return static_cast<IUnknown*>(static_cast<Interface*>(this)); }
};

} // namespace sky
SKY_INTERFACE_ID(sky::IMemberGate, sky::IID_IMemberGate);
SKY_INTERFACE_ID(sky::IObjectFaces, sky::IID_IObjectFaces);
