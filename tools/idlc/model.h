// The library as the IDL declares it: what the parser builds, the analyser completes and every
// generator reads. Names stay UTF-8; the type library and the dispatch tables widen them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "win/guid.h"

namespace idlc {

// The custom attribute that marks a parameter as the name of a file the member opens for its
// caller, with the value "read" or "write": [in, custom(FILE_ARGUMENT_GUID, "write")] BSTR Name.
// Called from another process, the caller's side opens the file with its own rights and hands
// the descriptor over with the call (sky::dispatch::FileUse). Other custom attributes of a
// parameter are accepted and left out, as of every other declaration.
// {0F3A6E28-7C41-4B9D-8E52-A1D4C7B6390E}
inline constexpr GUID fileArgumentGuid{
    0x0F3A6E28, 0x7C41, 0x4B9D, {0x8E, 0x52, 0xA1, 0xD4, 0xC7, 0xB6, 0x39, 0x0E}};

// The custom attribute that marks a property getter whose answer a caller in another process may
// take from a snapshot of the object: [propget, custom(SNAPSHOT_GUID, "snapshot")]. The getter
// takes no argument, gives a value of a plain type (no object, no variant) and answers from the
// object's own state alone, so that any other member called on the connection ends the snapshot
// (docs/remote-calls.md, "Snapshots of properties"; sky::dispatch::Member::snapshot). With the
// value "reads" it marks a property getter of an object that only reads the object's state (a
// face of it, a collection of what it holds, a collection's _NewEnum): calling it across the
// boundary ends no snapshot, and what it hands back never goes into one.
// {7B2E5C90-4D1A-4E8F-A36B-5C0D9E2F1A47}
enum class SnapshotUse { None, Value, Reads };
inline constexpr GUID snapshotGuid{
    0x7B2E5C90, 0x4D1A, 0x4E8F, {0xA3, 0x6B, 0x5C, 0x0D, 0x9E, 0x2F, 0x1A, 0x47}};

struct Location {
    std::string file;
    int line = 0;
    int column = 0;
};

// A constant as the IDL writes it: an integer, a real or a string (defaultvalue, enum values).
struct Constant {
    enum class Kind { Integer, Real, String } kind = Kind::Integer;
    std::int64_t integer = 0;
    double real = 0;
    std::string text;
};

// The base types the library uses. Interface and Enum name a type of the library; Dispatch,
// Unknown and EnumVariant are the standard automation interfaces.
enum class BaseType {
    Void,
    Long,
    ULong,
    Short,
    UShort,
    Byte,
    Int,
    Bool,
    Double,
    Float,
    Date,
    String, // BSTR
    Variant,
    HResult,
    Dispatch,
    Unknown,
    EnumVariant,
    Interface,
    Enum,
    Alias,
};

struct TypeRef {
    BaseType base = BaseType::Void;
    std::string name; // as written, for Interface/Enum/Alias
    int pointers = 0; // '*' after the type, interface pointers included
    int target = -1;  // index into Library::interfaces or Library::enums, after analysis
    Location where;
};

struct Param {
    std::string name;
    TypeRef type;
    bool in = false, out = false, retval = false, optional = false, lcid = false;
    std::optional<Constant> defaultValue;
    // A file name the member opens for its caller: custom(fileArgumentGuid, "read" or "write").
    enum class File { None, Read, Write } file = File::None;
    Location where;
};

enum class MemberKind { Method = 1, PropGet = 2, PropPut = 4, PropPutRef = 8 };

struct Member {
    std::string name;
    MemberKind kind = MemberKind::Method;
    TypeRef result; // HRESULT for every member of a dual interface
    std::vector<Param> params;
    std::string helpString;
    std::uint32_t helpContext = 0;
    std::optional<std::int32_t> explicitId;
    bool hidden = false, restricted = false, defaultCollElem = false, nonBrowsable = false;
    // Answered from a snapshot across the boundary: custom(snapshotGuid, "snapshot").
    bool snapshot = false;
    // A getter of an object that reads only, ending no snapshot: custom(snapshotGuid, "reads").
    bool readsOnly = false;
    std::int32_t dispid = 0; // after analysis
    Location where;
};

struct Interface {
    std::string name;
    GUID iid{};
    std::string baseName; // empty for IUnknown
    std::string helpString;
    std::uint32_t helpContext = 0;
    bool dual = false, oleautomation = false, hidden = false, nonextensible = false,
         restricted = false, odl = false;
    std::vector<Member> members;
    Location where;
    // After analysis:
    int base = -1;            // index of a library interface, or -1 for IDispatch / IUnknown
    bool fromDispatch = true; // the chain ends in IDispatch (false: IUnknown)
    int depth = 0;            // 1 for an interface deriving from IDispatch
    bool familyHead = false;
};

struct EnumConstant {
    std::string name;
    std::int32_t value = 0;
    std::string helpString;
    Location where;
};

struct Enum {
    std::string name;  // the enum's own name (_Name)
    std::string alias; // the typedef name (Name); empty when the typedef names the enum itself
    std::string helpString;
    std::string aliasHelpString;
    std::uint32_t helpContext = 0;
    GUID uuid{};
    bool hasUuid = false;
    bool hidden = false;
    std::vector<EnumConstant> constants;
    Location where;
};

struct CoclassEntry {
    std::string name;
    bool isDefault = false, source = false, restricted = false;
    int target = -1;
    Location where;
};

struct Coclass {
    std::string name;
    GUID clsid{};
    std::string helpString;
    std::uint32_t helpContext = 0;
    bool hidden = false, noncreatable = false, appobject = false, control = false, licensed = false;
    std::vector<CoclassEntry> interfaces;
    Location where;
};

// One type description of the library, in declaration order.
struct TypeEntry {
    enum class Kind { Interface, Enum, Coclass } kind;
    int index;
};

struct Library {
    std::string name;
    GUID libid{};
    int versionMajor = 0, versionMinor = 0;
    std::uint32_t lcid = 0;
    std::string helpString;
    std::string helpFile;
    std::uint32_t helpContext = 0;
    std::vector<std::string> importlibs;
    std::vector<Interface> interfaces;
    std::vector<Enum> enums;
    std::vector<Coclass> coclasses;
    std::vector<TypeEntry> order;
    Location where;

    int findInterface(const std::string& name) const;
    int findEnum(const std::string& name) const; // by enum name or alias
};

} // namespace idlc
