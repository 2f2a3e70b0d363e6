// GUIDs and the interface-identifier trait that smart pointers use in place of __uuidof.
#pragma once

#include <cstring>

#include "win/types.h"

struct GUID {
    DWORD Data1;
    WORD Data2;
    WORD Data3;
    BYTE Data4[8];
};
using IID = GUID;
using CLSID = GUID;
using LPGUID = GUID*;
using LPIID = IID*;
using LPCLSID = CLSID*;
using REFGUID = const GUID&;
using REFIID = const IID&;
using REFCLSID = const CLSID&;

constexpr bool IsEqualGUID(REFGUID a, REFGUID b) {
    if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3)
        return false;
    for (int i = 0; i < 8; ++i)
        if (a.Data4[i] != b.Data4[i])
            return false;
    return true;
}
constexpr bool IsEqualIID(REFIID a, REFIID b) {
    return IsEqualGUID(a, b);
}
constexpr bool IsEqualCLSID(REFCLSID a, REFCLSID b) {
    return IsEqualGUID(a, b);
}
constexpr bool operator==(REFGUID a, REFGUID b) {
    return IsEqualGUID(a, b);
}

inline constexpr GUID GUID_NULL{0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};
inline constexpr IID IID_NULL = GUID_NULL;
inline constexpr CLSID CLSID_NULL = GUID_NULL;

namespace sky {
// The IID of an interface type, for smart pointers and QueryInterface helpers. Every interface
// declares its own with SKY_INTERFACE_ID right after its definition.
template <class Interface> struct InterfaceId;
template <class Interface> constexpr const IID& uuidOf() {
    return InterfaceId<Interface>::value;
}
} // namespace sky

#define SKY_INTERFACE_ID(Interface, iidConstant)                                                   \
    template <> struct sky::InterfaceId<Interface> {                                               \
        static constexpr const IID& value = iidConstant;                                           \
    }

namespace sky {
// The interface a versioned interface derives from (ISkyloomFarm2 -> ISkyloomFarm), so that an
// object serving the newest version of a family also answers for the older ones. The interface
// compiler declares the chain of every family next to the interfaces with SKY_INTERFACE_PARENT;
// void where there is none to name.
template <class Interface> struct InterfaceParent { using type = void; };
} // namespace sky

#define SKY_INTERFACE_PARENT(Interface, Parent)                                                    \
    template <> struct sky::InterfaceParent<Interface> { using type = Parent; }
