// The resources of a module: a directory of (type, name, language) -> bytes, kept in the module
// file's own section ".skyres" and read from the file without running the module.
//
// Section layout (all numbers little-endian, every record and data block 8-byte aligned):
//
//   header   "SKYR", u16 version (1), u16 header size (16), u32 entry count, u32 total size
//   entries  count records of 24 bytes, sorted by type, name and language:
//              u32 type, u32 name, u16 language, u16 reserved (0),
//              u32 data offset, u32 data size, u32 reserved (0)
//   strings  for a type or name whose top bit is set, the rest is the offset of a string:
//              u16 length, that many UTF-16 code units, a terminating 0
//   data     the resources' bytes
//
// A type or name without the top bit is an integer identifier (1 to 65535), as RT_STRING (6),
// RT_RCDATA (10). String types and names are kept in upper case and compared ignoring case, as
// Windows does.
#pragma once

#include <compare>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "sky/elf_file.h"
#include "sky/export.h"
#include "win/types.h"

namespace sky::resources {

// The name of the section that holds a module's resources.
inline constexpr std::string_view kSectionName = ".skyres";

// A resource type or name: an integer identifier or a string.
class SKY_API ResourceId {
public:
    ResourceId() = default;
    ResourceId(WORD id) : id_(id) {} // NOLINT: an identifier is a resource id
    // A string name; "#123" is the identifier 123, as Windows reads it.
    static ResourceId named(std::u16string_view name);
    // What a Win32 call passes: MAKEINTRESOURCE(id) or a string.
    static ResourceId fromWin(LPCWSTR value);
    // Command-line and source form: "12", "0x0c", "#12" or a name such as TYPELIB.
    static ResourceId parse(std::string_view text);

    bool isId() const { return name_.empty(); }
    WORD id() const { return id_; }
    const std::u16string& name() const { return name_; }
    // Identifier as a number, a string as it is.
    std::string toString() const;

    // Identifiers order before strings; strings order ignoring case.
    std::strong_ordering operator<=>(const ResourceId& other) const;
    bool operator==(const ResourceId& other) const { return (*this <=> other) == 0; }

private:
    WORD id_ = 0;
    std::u16string name_;
};

// A resource with its own bytes, as tools build them.
struct Resource {
    ResourceId type;
    ResourceId name;
    WORD language = 0;
    std::vector<BYTE> data;
};

// A resource as a directory holds it: its bytes stay in the directory.
struct Entry {
    ResourceId type;
    ResourceId name;
    WORD language = 0;
    std::span<const BYTE> data;
};

// The section contents for `resources`. Throws std::invalid_argument for two resources with the
// same type, name and language, or for data that does not fit the format.
SKY_API std::vector<BYTE> serialize(std::vector<Resource> resources);

// The parsed resources of one module.
class SKY_API Directory {
public:
    // Parses section contents; false (and an empty directory) when they are damaged.
    bool parse(elf::AlignedBytes bytes);

    const std::vector<Entry>& entries() const { return entries_; }
    // The entries of one type and name, in language order.
    std::span<const Entry> find(const ResourceId& type, const ResourceId& name) const;
    bool hasType(const ResourceId& type) const;
    std::vector<Resource> copy() const;

private:
    elf::AlignedBytes bytes_;
    std::vector<Entry> entries_;
};

enum class ReadStatus {
    Ok,         // resources read (none, if the module has no resource section)
    CannotOpen, // missing or unreadable file
    NotModule,  // not an ELF file of this machine, or its section table is damaged
    Damaged,    // the resource section is damaged
};

// Reads the resources of a module or program file.
SKY_API ReadStatus readModule(const std::filesystem::path& file, Directory& out);

// The strings of a string-table block (RT_STRING, name = id / 16 + 1): sixteen counted UTF-16
// strings. Returns false when the block is cut short.
SKY_API bool splitStringBlock(std::span<const BYTE> block, std::u16string_view (&strings)[16]);

} // namespace sky::resources
