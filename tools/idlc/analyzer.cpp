#include "analyzer.h"

#include <cstdio>
#include <map>
#include <set>

#include "diagnostics.h"

namespace idlc {

std::string familyStem(const std::string& name) {
    std::size_t end = name.size();
    while (end > 0 && name[end - 1] >= '0' && name[end - 1] <= '9')
        --end;
    return name.substr(0, end);
}

namespace {

std::string guidText(const GUID& g) {
    char text[40];
    std::snprintf(text, sizeof text, "%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X", g.Data1,
                  g.Data2, g.Data3, g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4],
                  g.Data4[5], g.Data4[6], g.Data4[7]);
    return text;
}

bool isNumeric(BaseType t) {
    switch (t) {
    case BaseType::Long:
    case BaseType::ULong:
    case BaseType::Short:
    case BaseType::UShort:
    case BaseType::Byte:
    case BaseType::Int:
    case BaseType::Bool:
    case BaseType::Double:
    case BaseType::Float:
    case BaseType::Date:
    case BaseType::Enum:
        return true;
    default:
        return false;
    }
}

bool isInterfaceType(BaseType t) {
    return t == BaseType::Dispatch || t == BaseType::Unknown || t == BaseType::EnumVariant ||
           t == BaseType::Interface;
}

class Analyzer {
public:
    explicit Analyzer(Library& lib) : lib_(lib) {}
    void run();

private:
    void resolveBases();
    void resolveType(TypeRef& t);
    void checkMember(const Interface& itf, Member& m);
    void checkDefault(const Param& p);
    void assignDispids(Interface& itf);
    void checkNamesAcrossChain(const Interface& itf);
    void resolveCoclasses();
    void checkUniqueNamesAndGuids();

    Library& lib_;
};

void Analyzer::run() {
    checkUniqueNamesAndGuids();
    resolveBases();
    for (auto& itf : lib_.interfaces) {
        for (auto& m : itf.members) {
            resolveType(m.result);
            for (auto& p : m.params)
                resolveType(p.type);
            checkMember(itf, m);
        }
    }
    for (auto& itf : lib_.interfaces) {
        checkNamesAcrossChain(itf);
        assignDispids(itf);
    }
    resolveCoclasses();
}

void Analyzer::checkUniqueNamesAndGuids() {
    std::map<std::string, Location> names;
    auto name = [&](const std::string& n, const Location& where) {
        auto [it, fresh] = names.emplace(n, where);
        if (!fresh)
            throw CompileError(where, "'" + n + "' is already declared at line " +
                                          std::to_string(it->second.line));
    };
    std::map<std::string, std::string> guids;
    auto guid = [&](const GUID& g, const std::string& owner, const Location& where) {
        auto [it, fresh] = guids.emplace(guidText(g), owner);
        if (!fresh)
            throw CompileError(where, "uuid " + guidText(g) + " of '" + owner +
                                          "' is already used by '" + it->second + "'");
    };
    guid(lib_.libid, lib_.name, lib_.where);
    for (const auto& itf : lib_.interfaces) {
        name(itf.name, itf.where);
        guid(itf.iid, itf.name, itf.where);
    }
    for (const auto& e : lib_.enums) {
        name(e.name, e.where);
        if (!e.alias.empty())
            name(e.alias, e.where);
        if (e.hasUuid)
            guid(e.uuid, e.name, e.where);
    }
    for (const auto& c : lib_.coclasses) {
        name(c.name, c.where);
        guid(c.clsid, c.name, c.where);
    }
}

void Analyzer::resolveBases() {
    for (std::size_t i = 0; i < lib_.interfaces.size(); ++i) {
        Interface& itf = lib_.interfaces[i];
        if (itf.baseName == "IDispatch") {
            itf.base = -1;
            itf.fromDispatch = true;
            itf.depth = 1;
        } else if (itf.baseName == "IUnknown") {
            itf.base = -1;
            itf.fromDispatch = false;
            itf.depth = 1;
        } else {
            int base = lib_.findInterface(itf.baseName);
            if (base < 0)
                throw CompileError(itf.where, "unknown base interface '" + itf.baseName + "' of '" +
                                                  itf.name + "'");
            if (base >= static_cast<int>(i))
                throw CompileError(itf.where, "base interface '" + itf.baseName +
                                                  "' must be defined before '" + itf.name + "'");
            const Interface& b = lib_.interfaces[static_cast<std::size_t>(base)];
            itf.base = base;
            itf.fromDispatch = b.fromDispatch;
            itf.depth = b.depth + 1;
        }
        if (itf.dual && !itf.fromDispatch)
            throw CompileError(itf.where,
                               "dual interface '" + itf.name + "' must derive from IDispatch");
        itf.familyHead = itf.base < 0 ||
                         familyStem(itf.name) !=
                             familyStem(lib_.interfaces[static_cast<std::size_t>(itf.base)].name);
    }
}

void Analyzer::resolveType(TypeRef& t) {
    if (t.base == BaseType::Alias) {
        int e = lib_.findEnum(t.name);
        if (e >= 0) {
            t.target = e;
            t.base = BaseType::Enum;
        } else {
            int i = lib_.findInterface(t.name);
            if (i < 0)
                throw CompileError(t.where, "unknown type '" + t.name + "'");
            t.target = i;
            t.base = BaseType::Interface;
        }
    } else if (t.base == BaseType::Enum) {
        int e = lib_.findEnum(t.name);
        if (e < 0 || lib_.enums[static_cast<std::size_t>(e)].name != t.name)
            throw CompileError(t.where, "unknown enumeration '" + t.name + "'");
        t.target = e;
    }
    if (isInterfaceType(t.base) && t.pointers == 0)
        throw CompileError(t.where, "an interface is passed by pointer ('" +
                                        (t.name.empty() ? std::string("IDispatch") : t.name) +
                                        "*')");
    if (t.base == BaseType::Void && t.pointers > 0)
        throw CompileError(t.where, "'void*' is not an automation type");
}

void Analyzer::checkDefault(const Param& p) {
    const Constant& d = *p.defaultValue;
    BaseType t = p.type.base;
    bool ok = (d.kind == Constant::Kind::String && t == BaseType::String) ||
              (d.kind != Constant::Kind::String && isNumeric(t)) || t == BaseType::Variant ||
              (isInterfaceType(t) && d.kind == Constant::Kind::Integer && d.integer == 0);
    if (!ok)
        throw CompileError(p.where,
                           "defaultvalue of parameter '" + p.name + "' does not suit its type");
    if (p.type.pointers > (isInterfaceType(t) ? 1 : 0))
        throw CompileError(p.where, "defaultvalue needs an [in] parameter passed by value");
}

void Analyzer::checkMember(const Interface& itf, Member& m) {
    std::string what = "'" + itf.name + "::" + m.name + "'";
    if ((itf.dual || itf.oleautomation) &&
        !(m.result.base == BaseType::HResult && m.result.pointers == 0))
        throw CompileError(m.result.where,
                           "member " + what + " of a dual interface must return HRESULT");
    bool seenOptional = false;
    for (std::size_t i = 0; i < m.params.size(); ++i) {
        const Param& p = m.params[i];
        bool last = i + 1 == m.params.size();
        if (p.type.base == BaseType::Void || p.type.base == BaseType::HResult)
            throw CompileError(p.where,
                               "parameter '" + p.name + "' of " + what + " has no automation type");
        int byValue = isInterfaceType(p.type.base) ? 1 : 0;
        if (p.out && p.type.pointers != byValue + 1)
            throw CompileError(p.where, "[out] parameter '" + p.name + "' of " + what +
                                            " must be a pointer to its value");
        if (!p.out && p.type.pointers != byValue &&
            !(p.type.base == BaseType::Variant && p.type.pointers == 1))
            throw CompileError(p.where, "[in] parameter '" + p.name + "' of " + what +
                                            " must be passed by value");
        if (p.retval) {
            if (!p.out)
                throw CompileError(p.where, "retval parameter '" + p.name + "' must be [out]");
            if (!last)
                throw CompileError(p.where, "retval parameter '" + p.name + "' of " + what +
                                                " must be the last parameter");
        }
        if (p.defaultValue) {
            checkDefault(p);
        }
        if (p.file != Param::File::None &&
            (p.out || p.type.base != BaseType::String || p.type.pointers != 0))
            throw CompileError(p.where, "file-argument parameter '" + p.name + "' of " + what +
                                            " must be an [in] BSTR");
        if (p.optional || p.defaultValue) {
            seenOptional = true;
        } else if (seenOptional && !p.retval && !p.lcid) {
            throw CompileError(p.where, "parameter '" + p.name + "' of " + what +
                                            " must be optional: it follows an optional one");
        }
    }
    if (m.snapshot) {
        // One [out, retval] value of a plain type: a snapshot holds values, never objects.
        const bool plain =
            m.params.size() == 1 && m.params[0].retval && m.params[0].type.pointers == 1 &&
            (m.params[0].type.base == BaseType::String || m.params[0].type.base == BaseType::Long ||
             m.params[0].type.base == BaseType::ULong || m.params[0].type.base == BaseType::Short ||
             m.params[0].type.base == BaseType::UShort || m.params[0].type.base == BaseType::Byte ||
             m.params[0].type.base == BaseType::Int || m.params[0].type.base == BaseType::Bool ||
             m.params[0].type.base == BaseType::Double ||
             m.params[0].type.base == BaseType::Float || m.params[0].type.base == BaseType::Date ||
             m.params[0].type.base == BaseType::Enum);
        if (m.kind != MemberKind::PropGet || !plain)
            throw CompileError(m.where, "the snapshot attribute of " + what +
                                            " needs a property getter whose one parameter is "
                                            "its [out, retval] value of a plain type");
    }
    if (m.readsOnly) {
        // One [out, retval] object: what it hands back is a face or a collection, never a value.
        const BaseType base = m.params.empty() ? BaseType::Void : m.params[0].type.base;
        const bool object = m.params.size() == 1 && m.params[0].retval &&
                            m.params[0].type.pointers == 2 &&
                            (base == BaseType::Dispatch || base == BaseType::Unknown ||
                             base == BaseType::EnumVariant || base == BaseType::Interface);
        if (m.kind != MemberKind::PropGet || !object)
            throw CompileError(m.where, "the snapshot attribute \"reads\" of " + what +
                                            " needs a property getter whose one parameter is "
                                            "its [out, retval] object");
    }
    switch (m.kind) {
    case MemberKind::PropGet:
        if (m.params.empty() || !m.params.back().retval)
            throw CompileError(m.where, "property getter " + what +
                                            " needs an [out, retval] parameter last");
        break;
    case MemberKind::PropPut:
    case MemberKind::PropPutRef:
        if (m.params.empty() || m.params.back().out)
            throw CompileError(m.where,
                               "property setter " + what + " needs an [in] value parameter last");
        break;
    case MemberKind::Method:
        break;
    }
}

void Analyzer::checkNamesAcrossChain(const Interface& itf) {
    // Within the interface: a name is one method, or a property with at most one getter,
    // setter and reference setter.
    std::map<std::string, std::vector<const Member*>> own;
    for (const auto& m : itf.members) {
        auto& same = own[m.name];
        for (const Member* other : same) {
            if (other->kind == m.kind)
                throw CompileError(m.where,
                                   "'" + m.name + "' is declared twice in '" + itf.name + "'");
            if (other->kind == MemberKind::Method || m.kind == MemberKind::Method)
                throw CompileError(m.where, "'" + m.name + "' in '" + itf.name +
                                                "' is both a method and a property");
        }
        same.push_back(&m);
    }
    // Against the bases: a later version adds names, it does not redeclare them, or dispatch
    // by name would find two members.
    for (int b = itf.base; b >= 0; b = lib_.interfaces[static_cast<std::size_t>(b)].base) {
        const Interface& base = lib_.interfaces[static_cast<std::size_t>(b)];
        for (const auto& m : base.members) {
            auto it = own.find(m.name);
            if (it != own.end())
                throw CompileError(it->second.front()->where,
                                   "'" + m.name + "' of '" + itf.name +
                                       "' is already declared in its base '" + base.name + "'");
        }
    }
}

void Analyzer::assignDispids(Interface& itf) {
    std::map<std::string, std::size_t> firstSlot;
    std::map<std::string, std::int32_t> explicitIds;
    for (std::size_t slot = 0; slot < itf.members.size(); ++slot) {
        const Member& m = itf.members[slot];
        firstSlot.emplace(m.name, slot);
        if (m.explicitId) {
            auto [it, fresh] = explicitIds.emplace(m.name, *m.explicitId);
            if (!fresh && it->second != *m.explicitId)
                throw CompileError(m.where,
                                   "the accessors of '" + m.name + "' carry different ids");
        }
    }
    for (auto& m : itf.members) {
        auto ex = explicitIds.find(m.name);
        if (ex != explicitIds.end())
            m.dispid = ex->second;
        else if (m.name == "_NewEnum")
            m.dispid = -4;
        else if (firstSlot[m.name] > 0xFFFF)
            throw CompileError(m.where, "too many members in '" + itf.name + "'");
        else
            m.dispid = ruleDispid(itf.depth, static_cast<int>(firstSlot[m.name]));
    }
    // Distinct names must have distinct identifiers across the whole chain.
    std::map<std::int32_t, std::pair<std::string, const Interface*>> seen;
    for (const Interface* i = &itf; i;
         i = i->base >= 0 ? &lib_.interfaces[static_cast<std::size_t>(i->base)] : nullptr) {
        for (const auto& m : i->members) {
            auto [it, fresh] = seen.emplace(m.dispid, std::make_pair(m.name, i));
            if (!fresh && it->second.first != m.name) {
                Location report = itf.where;
                for (const auto& own : itf.members)
                    if (own.name == (i == &itf ? m.name : it->second.first))
                        report = own.where;
                char id[16];
                std::snprintf(id, sizeof id, "0x%08X", static_cast<unsigned>(m.dispid));
                throw CompileError(report, "'" + it->second.second->name + "::" + it->second.first +
                                               "' and '" + i->name + "::" + m.name +
                                               "' share the id " + id);
            }
        }
    }
}

void Analyzer::resolveCoclasses() {
    for (auto& c : lib_.coclasses) {
        if (c.interfaces.empty())
            throw CompileError(c.where, "coclass '" + c.name + "' lists no interface");
        bool haveDefault = false;
        std::set<std::string> listed;
        for (auto& e : c.interfaces) {
            e.target = lib_.findInterface(e.name);
            if (e.target < 0)
                throw CompileError(e.where, "unknown interface '" + e.name + "' in coclass '" +
                                                c.name + "'");
            if (!listed.insert(e.name).second)
                throw CompileError(e.where, "interface '" + e.name + "' is listed twice in '" +
                                                c.name + "'");
            if (e.isDefault && !e.source) {
                if (haveDefault)
                    throw CompileError(e.where,
                                       "coclass '" + c.name + "' has two default interfaces");
                haveDefault = true;
            }
        }
        if (!haveDefault) {
            for (auto& e : c.interfaces) {
                if (!e.source) {
                    e.isDefault = true;
                    break;
                }
            }
        }
    }
}

} // namespace

void analyze(Library& lib) {
    Analyzer(lib).run();
}

} // namespace idlc
