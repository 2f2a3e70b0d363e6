// A small hand-built library for the type-library tests: an enumeration with its alias, a dual
// interface and a class.
#pragma once

#include "sky/typelib_image.h"

namespace sky::typelib::testing {

inline constexpr GUID kLib{0x12345678, 0x1111, 0x2222, {1, 2, 3, 4, 5, 6, 7, 8}};
inline constexpr GUID kItf{0x12345678, 0x1111, 0x2222, {1, 2, 3, 4, 5, 6, 7, 9}};
inline constexpr GUID kCls{0x12345678, 0x1111, 0x2222, {1, 2, 3, 4, 5, 6, 7, 10}};

inline Library sample() {
    Library lib;
    lib.guid = kLib;
    lib.lcid = 0x409;
    lib.major = 3;
    lib.minor = 2;
    lib.name = u"Sample";
    lib.doc = u"Sample library";
    lib.helpFile = u"sample.hlp";
    lib.helpContext = 17;
    lib.imports.push_back(
        {{0x00020430, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}}, 2, 0, 0, u"stdole2.tlb"});
    lib.importedTypes.push_back({0, IID_IDispatch, u"IDispatch"});

    TypeDescription e;
    e.kind = TKIND_ENUM;
    e.name = u"_Colour";
    for (int i = 0; i < 3; ++i) {
        Var v;
        v.id = 0x40000000 + i;
        v.name = u"Colour" + std::u16string(1, static_cast<char16_t>(u'A' + i));
        v.value.vt = VT_I4;
        v.value.integer = i * -7;
        e.vars.push_back(v);
    }
    TypeDescription alias;
    alias.kind = TKIND_ALIAS;
    alias.name = u"Colour";
    alias.alias = Type{VT_USERDEFINED, 0, localRef(0)};

    TypeDescription itf;
    itf.kind = TKIND_DISPATCH;
    itf.flags = TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION | TYPEFLAG_FDISPATCHABLE;
    itf.guid = kItf;
    itf.name = u"IPainter";
    itf.doc = u"Paints";
    itf.impls.push_back({importedRef(0), 0});
    Func paint;
    paint.id = 0x60020000;
    paint.name = u"Paint";
    paint.doc = u"Paints a wall";
    paint.result = Type{VT_HRESULT, 0, 0};
    Param colour;
    colour.name = u"colour";
    colour.type = Type{VT_USERDEFINED, 0, localRef(1)};
    colour.flags = PARAMFLAG_FIN;
    Param label;
    label.name = u"label";
    label.type = Type{VT_BSTR, 0, 0};
    label.flags = PARAMFLAG_FIN | PARAMFLAG_FOPT | PARAMFLAG_FHASDEFAULT;
    label.defaultValue = Value{VT_BSTR, 0, 0, u"plain"};
    Param ratio;
    ratio.name = u"ratio";
    ratio.type = Type{VT_R8, 0, 0};
    ratio.flags = PARAMFLAG_FIN | PARAMFLAG_FOPT | PARAMFLAG_FHASDEFAULT;
    ratio.defaultValue = Value{VT_R8, 0, 0.5, u""};
    Param out;
    out.name = u"pDone";
    out.type = Type{VT_BOOL, 1, 0};
    out.flags = PARAMFLAG_FOUT | PARAMFLAG_FRETVAL;
    paint.params = {colour, label, ratio, out};
    itf.funcs.push_back(paint);

    TypeDescription cls;
    cls.kind = TKIND_COCLASS;
    cls.guid = kCls;
    cls.name = u"Painter";
    cls.flags = TYPEFLAG_FCANCREATE;
    cls.impls.push_back({localRef(2), IMPLTYPEFLAG_FDEFAULT});
    lib.types = {e, alias, itf, cls};
    return lib;
}

} // namespace sky::typelib::testing
