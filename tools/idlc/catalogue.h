// The catalogue of a library: its counts and one line per interface, computed either from the
// IDL or from a loaded type library, printed the same way so that the two can be compared.
#pragma once

#include <string>
#include <vector>

#include "model.h"

struct ITypeLib;

namespace idlc {

struct InterfaceLine {
    std::string name;
    GUID iid{};
    int depth = 0;
    int ownMembers = 0;
};

struct Catalogue {
    int typeDescriptions = 0;
    int coclasses = 0;
    int interfaces = 0;
    int dualInterfaces = 0;
    int hiddenInterfaces = 0;
    int enumerations = 0;
    int aliases = 0;
    int enumerationConstants = 0;
    int families = 0;
    int members = 0;
    int propertyGetters = 0;
    int propertySetters = 0; // propput and propputref
    int methods = 0;
    int newEnumMembers = 0;
    // Collections laid out _NewEnum, Count, Item, Reset, Skip: the enumerator's own members
    // directly after the three every collection begins with.
    int resetSkipCollections = 0;
    std::vector<InterfaceLine> interfaceLines; // in the library's order
};

Catalogue catalogueOf(const Library& lib);

// Reads the catalogue back through ITypeLib/ITypeInfo. Returns a failure HRESULT (and leaves
// `out` incomplete) when the library cannot be read.
long catalogueOf(ITypeLib* lib, Catalogue& out);

// True when an interface's own members, in table order, begin _NewEnum, Count, Item, Reset, Skip.
bool opensWithResetAndSkip(const std::vector<std::string>& memberNames);

// "name: value" lines in a fixed order, then "interface NAME {IID} depth own-members" lines.
std::string format(const Catalogue& c);

// {ED62F4E0-63C2-11D4-94D8-00C04FB0F326}
std::string guidString(const GUID& g);

} // namespace idlc
