// A type library as data, and its binary image: what the IDL compiler writes into .tlb files
// (and module resources) and what LoadTypeLib reads back.
//
// The image is the platform's own format: a versioned header, a pool of UTF-16 strings, and
// tables of fixed-size little-endian records (values, imported libraries and types, type
// descriptions, functions, parameters, constants, implemented interfaces) that refer to each
// other by index. A reader accepts any image of the same major version and checks every offset,
// index and reference before use.
//
// A dual interface is stored once, as a TKIND_DISPATCH description flagged TYPEFLAG_FDUAL that
// holds its own members in vtable form (returning HRESULT, [out, retval] last) and its base
// interface as its one implemented type; the loaded library shows both its faces.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "sky/export.h"
#include "win/typelib.h"

namespace sky::typelib {

inline constexpr WORD kFormatMajor = 1;
inline constexpr WORD kFormatMinor = 0;

// Reference handles: a local type description, the interface face of a local dual interface,
// or a type of an imported library.
constexpr HREFTYPE localRef(std::size_t index) {
    return static_cast<HREFTYPE>(index << 2);
}
constexpr HREFTYPE interfaceFaceRef(std::size_t index) {
    return static_cast<HREFTYPE>(index << 2 | 1);
}
constexpr HREFTYPE importedRef(std::size_t index) {
    return static_cast<HREFTYPE>(0x80000000u | index << 2);
}
constexpr bool isImportedRef(HREFTYPE href) {
    return (href & 0x80000000u) != 0;
}
constexpr std::size_t refIndex(HREFTYPE href) {
    return (href & 0x7FFFFFFFu) >> 2;
}
constexpr bool isInterfaceFaceRef(HREFTYPE href) {
    return !isImportedRef(href) && (href & 3) == 1;
}

// A type: `pointers` levels of VT_PTR over a base type; VT_USERDEFINED bases carry a reference.
struct Type {
    VARTYPE vt = VT_EMPTY;
    BYTE pointers = 0;
    HREFTYPE href = 0;
};

// A constant: default values of parameters and values of enumeration constants.
struct Value {
    VARTYPE vt = VT_EMPTY; // VT_I4, VT_I2, VT_UI1, ..., VT_R8, VT_R4, VT_BOOL, VT_BSTR
    LONGLONG integer = 0;
    DOUBLE real = 0;
    std::u16string text;
};

struct Param {
    std::u16string name;
    Type type;
    USHORT flags = 0; // PARAMFLAG_*
    std::optional<Value> defaultValue;
};

struct Func {
    MEMBERID id = 0;
    INVOKEKIND invkind = INVOKE_FUNC;
    WORD flags = 0; // FUNCFLAG_*
    std::u16string name, doc;
    DWORD helpContext = 0;
    Type result;
    std::vector<Param> params;
};

struct Var {
    MEMBERID id = 0;
    std::u16string name, doc;
    DWORD helpContext = 0;
    WORD flags = 0; // VARFLAG_*
    Value value;
};

struct Impl {
    HREFTYPE href = 0;
    INT flags = 0; // IMPLTYPEFLAG_*
};

struct TypeDescription {
    TYPEKIND kind = TKIND_INTERFACE;
    GUID guid{};
    WORD flags = 0; // TYPEFLAG_*
    std::u16string name, doc;
    DWORD helpContext = 0;
    WORD major = 0, minor = 0;
    std::vector<Func> funcs;
    std::vector<Var> vars;
    std::vector<Impl> impls;
    Type alias; // TKIND_ALIAS
};

struct ImportedLibrary {
    GUID guid{};
    WORD major = 0, minor = 0;
    LCID lcid = 0;
    std::u16string file;
};

struct ImportedType {
    std::uint32_t library = 0;
    GUID guid{};
    std::u16string name;
};

struct Library {
    GUID guid{};
    LCID lcid = 0;
    SYSKIND syskind = SYS_WIN32;
    WORD major = 0, minor = 0, flags = 0; // LIBFLAG_*
    std::u16string name, doc, helpFile;
    DWORD helpContext = 0;
    std::vector<ImportedLibrary> imports;
    std::vector<ImportedType> importedTypes;
    std::vector<TypeDescription> types;
};

// The binary image of a library.
SKY_API std::vector<unsigned char> serialize(const Library& lib);

// Reads an image. TYPE_E_UNSUPFORMAT when it is not an image of this format's major version,
// TYPE_E_INVDATAREAD when it is damaged.
SKY_API HRESULT deserialize(const void* data, std::size_t size, Library& out);

// True when the bytes begin like an image (any version).
SKY_API bool looksLikeImage(const void* data, std::size_t size);

// An ITypeLib over a library (references to stdole2.tlb resolve to the built-in library).
SKY_API HRESULT createTypeLib(Library lib, ITypeLib** out);

// deserialize() and createTypeLib() in one step, for images built into a program.
SKY_API HRESULT loadTypeLibFromMemory(const void* data, std::size_t size, ITypeLib** out);

} // namespace sky::typelib
