#include "typelib_builder.h"

#include "sky/text.h"

namespace idlc {

namespace {

using namespace sky::typelib;

class Builder {
public:
    explicit Builder(const Library& lib) : lib_(lib) {}

    sky::typelib::Library run() {
        out_.guid = lib_.libid;
        out_.lcid = lib_.lcid;
        out_.syskind = SYS_WIN32;
        out_.major = static_cast<WORD>(lib_.versionMajor);
        out_.minor = static_cast<WORD>(lib_.versionMinor);
        out_.name = sky::widen(lib_.name);
        out_.doc = sky::widen(lib_.helpString);
        out_.helpFile = sky::widen(lib_.helpFile);
        out_.helpContext = lib_.helpContext;

        // Where each library type lands among the type descriptions: an enumeration with an
        // alias takes two places, the enumeration first.
        interfaceIndex_.assign(lib_.interfaces.size(), 0);
        enumIndex_.assign(lib_.enums.size(), 0);
        std::size_t next = 0;
        for (const auto& entry : lib_.order) {
            auto i = static_cast<std::size_t>(entry.index);
            switch (entry.kind) {
            case TypeEntry::Kind::Interface:
                interfaceIndex_[i] = next++;
                break;
            case TypeEntry::Kind::Enum:
                enumIndex_[i] = next++;
                if (!lib_.enums[i].alias.empty())
                    ++next;
                break;
            case TypeEntry::Kind::Coclass:
                ++next;
                break;
            }
        }
        for (const auto& entry : lib_.order) {
            auto i = static_cast<std::size_t>(entry.index);
            switch (entry.kind) {
            case TypeEntry::Kind::Interface:
                out_.types.push_back(interfaceType(lib_.interfaces[i]));
                break;
            case TypeEntry::Kind::Enum:
                addEnum(lib_.enums[i], i);
                break;
            case TypeEntry::Kind::Coclass:
                out_.types.push_back(coclassType(lib_.coclasses[i]));
                break;
            }
        }
        return std::move(out_);
    }

private:
    HREFTYPE stdole(const GUID& guid, const char16_t* name) {
        if (out_.imports.empty())
            out_.imports.push_back({kStdOleLibid, 2, 0, 0, u"stdole2.tlb"});
        for (std::size_t i = 0; i < out_.importedTypes.size(); ++i)
            if (out_.importedTypes[i].guid == guid)
                return importedRef(i);
        out_.importedTypes.push_back({0, guid, name});
        return importedRef(out_.importedTypes.size() - 1);
    }

    Type type(const TypeRef& t) {
        Type out;
        out.pointers = static_cast<BYTE>(t.pointers);
        switch (t.base) {
        case BaseType::Void:
            out.vt = VT_VOID;
            break;
        case BaseType::Long:
            out.vt = VT_I4;
            break;
        case BaseType::ULong:
            out.vt = VT_UI4;
            break;
        case BaseType::Short:
            out.vt = VT_I2;
            break;
        case BaseType::UShort:
            out.vt = VT_UI2;
            break;
        case BaseType::Byte:
            out.vt = VT_UI1;
            break;
        case BaseType::Int:
            out.vt = VT_INT;
            break;
        case BaseType::Bool:
            out.vt = VT_BOOL;
            break;
        case BaseType::Double:
            out.vt = VT_R8;
            break;
        case BaseType::Float:
            out.vt = VT_R4;
            break;
        case BaseType::Date:
            out.vt = VT_DATE;
            break;
        case BaseType::String:
            out.vt = VT_BSTR;
            break;
        case BaseType::Variant:
            out.vt = VT_VARIANT;
            break;
        case BaseType::HResult:
            out.vt = VT_HRESULT;
            break;
        case BaseType::Dispatch:
            out.vt = VT_DISPATCH;
            --out.pointers; // VT_DISPATCH is the pointer itself
            break;
        case BaseType::Unknown:
            out.vt = VT_UNKNOWN;
            --out.pointers;
            break;
        case BaseType::EnumVariant:
            out.vt = VT_USERDEFINED;
            out.href = stdole(IID_IEnumVARIANT, u"IEnumVARIANT");
            break;
        case BaseType::Interface:
            out.vt = VT_USERDEFINED;
            out.href = localRef(interfaceIndex_[static_cast<std::size_t>(t.target)]);
            break;
        case BaseType::Enum:
        case BaseType::Alias: {
            const Enum& e = lib_.enums[static_cast<std::size_t>(t.target)];
            std::size_t index = enumIndex_[static_cast<std::size_t>(t.target)];
            // Written with the alias name, the type refers to the alias description.
            if (!e.alias.empty() && t.name == e.alias)
                ++index;
            out.vt = VT_USERDEFINED;
            out.href = localRef(index);
            break;
        }
        }
        return out;
    }

    static Value value(const Constant& c, VARTYPE paramVt) {
        Value v;
        switch (c.kind) {
        case Constant::Kind::String:
            v.vt = VT_BSTR;
            v.text = sky::widen(c.text);
            break;
        case Constant::Kind::Real:
            v.vt = VT_R8;
            v.real = c.real;
            break;
        case Constant::Kind::Integer:
            v.vt = paramVt == VT_R8 || paramVt == VT_R4 || paramVt == VT_DATE ? VT_R8 : VT_I4;
            if (v.vt == VT_R8)
                v.real = static_cast<double>(c.integer);
            else
                v.integer = c.integer;
            if (paramVt == VT_BOOL) {
                v.vt = VT_BOOL;
                v.integer = c.integer ? -1 : 0;
            }
            break;
        }
        return v;
    }

    TypeDescription interfaceType(const Interface& itf) {
        TypeDescription t;
        t.kind = itf.dual ? TKIND_DISPATCH : TKIND_INTERFACE;
        t.guid = itf.iid;
        t.name = sky::widen(itf.name);
        t.doc = sky::widen(itf.helpString);
        t.helpContext = itf.helpContext;
        if (itf.dual)
            t.flags |= TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION;
        if (itf.oleautomation)
            t.flags |= TYPEFLAG_FOLEAUTOMATION;
        if (itf.fromDispatch)
            t.flags |= TYPEFLAG_FDISPATCHABLE;
        if (itf.hidden)
            t.flags |= TYPEFLAG_FHIDDEN;
        if (itf.nonextensible)
            t.flags |= TYPEFLAG_FNONEXTENSIBLE;
        if (itf.restricted)
            t.flags |= TYPEFLAG_FRESTRICTED;
        Impl base;
        if (itf.base >= 0)
            base.href = localRef(interfaceIndex_[static_cast<std::size_t>(itf.base)]);
        else if (itf.fromDispatch)
            base.href = stdole(IID_IDispatch, u"IDispatch");
        else
            base.href = stdole(IID_IUnknown, u"IUnknown");
        t.impls.push_back(base);
        for (const auto& m : itf.members) {
            Func f;
            f.id = m.dispid;
            f.invkind = static_cast<INVOKEKIND>(m.kind);
            if (m.hidden)
                f.flags |= FUNCFLAG_FHIDDEN;
            if (m.restricted)
                f.flags |= FUNCFLAG_FRESTRICTED;
            if (m.defaultCollElem)
                f.flags |= FUNCFLAG_FDEFAULTCOLLELEM;
            if (m.nonBrowsable)
                f.flags |= FUNCFLAG_FNONBROWSABLE;
            f.name = sky::widen(m.name);
            f.doc = sky::widen(m.helpString);
            f.helpContext = m.helpContext;
            f.result = type(m.result);
            for (const auto& p : m.params) {
                sky::typelib::Param param;
                param.name = sky::widen(p.name);
                param.type = type(p.type);
                if (p.in)
                    param.flags |= PARAMFLAG_FIN;
                if (p.out)
                    param.flags |= PARAMFLAG_FOUT;
                if (p.retval)
                    param.flags |= PARAMFLAG_FRETVAL;
                if (p.lcid)
                    param.flags |= PARAMFLAG_FLCID;
                if (p.optional || p.defaultValue)
                    param.flags |= PARAMFLAG_FOPT;
                if (p.defaultValue) {
                    param.flags |= PARAMFLAG_FHASDEFAULT;
                    param.defaultValue = value(*p.defaultValue, param.type.vt);
                }
                f.params.push_back(std::move(param));
            }
            t.funcs.push_back(std::move(f));
        }
        return t;
    }

    void addEnum(const Enum& e, std::size_t enumIndex) {
        TypeDescription t;
        t.kind = TKIND_ENUM;
        t.guid = e.uuid;
        t.name = sky::widen(e.name);
        t.doc = sky::widen(e.helpString);
        t.helpContext = e.helpContext;
        if (e.hidden)
            t.flags |= TYPEFLAG_FHIDDEN;
        MEMBERID id = 0x40000000;
        for (const auto& c : e.constants) {
            Var v;
            v.id = id++;
            v.name = sky::widen(c.name);
            v.doc = sky::widen(c.helpString);
            v.value.vt = VT_I4;
            v.value.integer = c.value;
            t.vars.push_back(std::move(v));
        }
        out_.types.push_back(std::move(t));
        if (!e.alias.empty()) {
            TypeDescription a;
            a.kind = TKIND_ALIAS;
            a.name = sky::widen(e.alias);
            a.doc = sky::widen(e.aliasHelpString);
            a.alias.vt = VT_USERDEFINED;
            a.alias.href = localRef(enumIndex_[enumIndex]);
            out_.types.push_back(std::move(a));
        }
    }

    TypeDescription coclassType(const Coclass& c) {
        TypeDescription t;
        t.kind = TKIND_COCLASS;
        t.guid = c.clsid;
        t.name = sky::widen(c.name);
        t.doc = sky::widen(c.helpString);
        t.helpContext = c.helpContext;
        if (!c.noncreatable)
            t.flags |= TYPEFLAG_FCANCREATE;
        if (c.hidden)
            t.flags |= TYPEFLAG_FHIDDEN;
        if (c.appobject)
            t.flags |= TYPEFLAG_FAPPOBJECT;
        if (c.control)
            t.flags |= TYPEFLAG_FCONTROL;
        if (c.licensed)
            t.flags |= TYPEFLAG_FLICENSED;
        for (const auto& e : c.interfaces) {
            Impl impl;
            impl.href = localRef(interfaceIndex_[static_cast<std::size_t>(e.target)]);
            if (e.isDefault)
                impl.flags |= IMPLTYPEFLAG_FDEFAULT;
            if (e.source)
                impl.flags |= IMPLTYPEFLAG_FSOURCE;
            if (e.restricted)
                impl.flags |= IMPLTYPEFLAG_FRESTRICTED;
            t.impls.push_back(impl);
        }
        return t;
    }

    const Library& lib_;
    sky::typelib::Library out_;
    std::vector<std::size_t> interfaceIndex_;
    std::vector<std::size_t> enumIndex_;
};

} // namespace

sky::typelib::Library buildTypeLib(const Library& lib) {
    return Builder(lib).run();
}

} // namespace idlc
