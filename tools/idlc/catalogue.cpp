#include "catalogue.h"

#include <cstdio>
#include <iterator>

namespace idlc {

std::string guidString(const GUID& g) {
    char text[40];
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g.Data1,
                  g.Data2, g.Data3, g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4],
                  g.Data4[5], g.Data4[6], g.Data4[7]);
    return text;
}

bool opensWithResetAndSkip(const std::vector<std::string>& memberNames) {
    static const char* const kOpening[] = {"_NewEnum", "Count", "Item", "Reset", "Skip"};
    if (memberNames.size() < std::size(kOpening))
        return false;
    for (std::size_t i = 0; i < std::size(kOpening); ++i) {
        if (memberNames[i] != kOpening[i])
            return false;
    }
    return true;
}

Catalogue catalogueOf(const Library& lib) {
    Catalogue c;
    for (const auto& entry : lib.order) {
        switch (entry.kind) {
        case TypeEntry::Kind::Coclass:
            ++c.coclasses;
            ++c.typeDescriptions;
            break;
        case TypeEntry::Kind::Enum: {
            const Enum& e = lib.enums[static_cast<std::size_t>(entry.index)];
            ++c.enumerations;
            ++c.typeDescriptions;
            c.enumerationConstants += static_cast<int>(e.constants.size());
            if (!e.alias.empty()) {
                ++c.aliases;
                ++c.typeDescriptions;
            }
            break;
        }
        case TypeEntry::Kind::Interface: {
            const Interface& itf = lib.interfaces[static_cast<std::size_t>(entry.index)];
            ++c.typeDescriptions;
            ++c.interfaces;
            c.dualInterfaces += itf.dual ? 1 : 0;
            c.hiddenInterfaces += itf.hidden ? 1 : 0;
            c.families += itf.familyHead ? 1 : 0;
            std::vector<std::string> names;
            for (const auto& m : itf.members) {
                names.push_back(m.name);
                ++c.members;
                switch (m.kind) {
                case MemberKind::PropGet:
                    ++c.propertyGetters;
                    break;
                case MemberKind::PropPut:
                case MemberKind::PropPutRef:
                    ++c.propertySetters;
                    break;
                case MemberKind::Method:
                    ++c.methods;
                    break;
                }
                if (m.name == "_NewEnum")
                    ++c.newEnumMembers;
            }
            c.resetSkipCollections += opensWithResetAndSkip(names) ? 1 : 0;
            c.interfaceLines.push_back(
                {itf.name, itf.iid, itf.depth, static_cast<int>(itf.members.size())});
            break;
        }
        }
    }
    return c;
}

std::string format(const Catalogue& c) {
    std::string out;
    auto line = [&](const char* name, int value) {
        out += name;
        out += ": ";
        out += std::to_string(value);
        out += '\n';
    };
    line("type descriptions", c.typeDescriptions);
    line("coclasses", c.coclasses);
    line("interfaces", c.interfaces);
    line("dual interfaces", c.dualInterfaces);
    line("hidden interfaces", c.hiddenInterfaces);
    line("enumerations", c.enumerations);
    line("aliases", c.aliases);
    line("enumeration constants", c.enumerationConstants);
    line("families", c.families);
    line("members", c.members);
    line("property getters", c.propertyGetters);
    line("property setters", c.propertySetters);
    line("methods", c.methods);
    line("_NewEnum members", c.newEnumMembers);
    line("collections with Reset and Skip after Item", c.resetSkipCollections);
    for (const auto& i : c.interfaceLines)
        out += "interface " + i.name + " " + guidString(i.iid) + " " + std::to_string(i.depth) +
               " " + std::to_string(i.ownMembers) + "\n";
    return out;
}

} // namespace idlc
