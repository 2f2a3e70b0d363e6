// The parts of an ELF file that modules need without running them: the header check that tells a
// module from any other file, reading one section by name, replacing or adding a section, and a
// minimal shared object that carries nothing but a section of data.
//
// Files are handled in the host's own ELF class and byte order; anything else is not a module
// of this machine.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "sky/export.h"
#include "win/types.h"

namespace sky::elf {

enum class Status {
    Ok,
    CannotOpen, // missing, unreadable or not a regular file
    NotElf,     // not an ELF file of the host's class, byte order and machine
    Damaged,    // the header or the section table points outside the file
    NoSection,  // the file is sound but has no section of that name
};

// Bytes with the alignment of any integer type, so that data read from a file can be handed out
// as UTF-16 text or binary records.
class SKY_API AlignedBytes {
public:
    AlignedBytes() = default;
    explicit AlignedBytes(std::size_t size);
    BYTE* data() { return reinterpret_cast<BYTE*>(words_.get()); }
    const BYTE* data() const { return reinterpret_cast<const BYTE*>(words_.get()); }
    std::size_t size() const { return size_; }
    std::span<const BYTE> span() const { return {data(), size_}; }

private:
    std::unique_ptr<std::uint64_t[]> words_;
    std::size_t size_ = 0;
};

// Whether the file is an ELF object the host could load (class, byte order, machine).
SKY_API Status checkFile(const std::filesystem::path& file);

// Reads the contents of the section `name` from the file without mapping it for execution.
SKY_API Status readSection(const std::filesystem::path& file, std::string_view name,
                           AlignedBytes& out);

// The ELF file `image` with the section `name` set to `contents` (replaced or added, never
// loaded into memory when the module runs). Segments and the sections they hold stay where they
// are; the sections outside every segment are laid out again after them. Throws
// std::runtime_error with a reason when `image` is not an ELF file of the host.
SKY_API std::vector<BYTE> withSection(std::span<const BYTE> image, std::string_view name,
                                      std::span<const BYTE> contents);

// A shared object for the host's machine with no code and no symbols: one read-write segment with
// an empty dynamic section, plus the non-loaded section `name` holding `contents`. The dynamic
// loader accepts it; loading it runs nothing.
SKY_API std::vector<BYTE> dataOnlyModule(std::string_view name, std::span<const BYTE> contents);

} // namespace sky::elf
