#include "sky/elf_file.h"

#include <dlfcn.h>
#include <elf.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace sky::elf {

namespace {

// The host's own ELF class.
#if UINTPTR_MAX > 0xffffffffu
using Ehdr = Elf64_Ehdr;
using Phdr = Elf64_Phdr;
using Shdr = Elf64_Shdr;
using Sym = Elf64_Sym;
using Dyn = Elf64_Dyn;
constexpr unsigned char kClass = ELFCLASS64;
#else
using Ehdr = Elf32_Ehdr;
using Phdr = Elf32_Phdr;
using Shdr = Elf32_Shdr;
using Sym = Elf32_Sym;
using Dyn = Elf32_Dyn;
constexpr unsigned char kClass = ELFCLASS32;
#endif
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
constexpr unsigned char kByteOrder = ELFDATA2LSB;
#else
constexpr unsigned char kByteOrder = ELFDATA2MSB;
#endif

// The ELF header of the platform library itself, as mapped by the dynamic loader: it names the
// machine, its flags and ABI, which every module of this host shares.
const Ehdr& hostHeader() {
    static const Ehdr* header = [] {
        Dl_info info{};
        dladdr(reinterpret_cast<void*>(&checkFile), &info);
        return static_cast<const Ehdr*>(info.dli_fbase);
    }();
    return *header;
}

bool isHostElf(const Ehdr& eh) {
    return std::memcmp(eh.e_ident, ELFMAG, SELFMAG) == 0 && eh.e_ident[EI_CLASS] == kClass &&
           eh.e_ident[EI_DATA] == kByteOrder && eh.e_ident[EI_VERSION] == EV_CURRENT &&
           eh.e_machine == hostHeader().e_machine;
}

bool fits(std::uint64_t offset, std::uint64_t size, std::uint64_t total) {
    return offset <= total && size <= total - offset;
}

// The section header table and the section names of one file.
struct SectionTable {
    std::vector<Shdr> sections;
    std::vector<char> names;
    std::size_t namesIndex = 0;
};

// Reads the section table through `readAt(offset, size, destination) -> bool` from a file of
// `fileSize` bytes whose header is `eh`.
template <class ReadAt>
Status readTable(const Ehdr& eh, std::uint64_t fileSize, ReadAt&& readAt, SectionTable& table) {
    if (eh.e_shoff == 0)
        return Status::NoSection;
    if (eh.e_shentsize != sizeof(Shdr) || !fits(eh.e_shoff, sizeof(Shdr), fileSize))
        return Status::Damaged;
    Shdr first{};
    if (!readAt(eh.e_shoff, sizeof first, &first))
        return Status::Damaged;
    std::uint64_t count = eh.e_shnum != 0 ? eh.e_shnum : first.sh_size;
    std::size_t namesIndex = eh.e_shstrndx != SHN_XINDEX ? eh.e_shstrndx : first.sh_link;
    if (count == 0 || count > (fileSize - eh.e_shoff) / sizeof(Shdr))
        return Status::Damaged;
    table.sections.resize(count);
    if (!readAt(eh.e_shoff, count * sizeof(Shdr), table.sections.data()))
        return Status::Damaged;
    if (namesIndex == SHN_UNDEF)
        return Status::NoSection;
    if (namesIndex >= count)
        return Status::Damaged;
    const Shdr& names = table.sections[namesIndex];
    if (names.sh_type == SHT_NOBITS || !fits(names.sh_offset, names.sh_size, fileSize))
        return Status::Damaged;
    table.names.resize(names.sh_size);
    if (!readAt(names.sh_offset, names.sh_size, table.names.data()))
        return Status::Damaged;
    table.namesIndex = namesIndex;
    return Status::Ok;
}

// Index of the section called `name`, 0 when there is none, or Damaged for a name outside the
// name table.
Status findSection(const SectionTable& table, std::string_view name, std::size_t& index) {
    index = 0;
    for (std::size_t i = 1; i < table.sections.size(); ++i) {
        const std::size_t at = table.sections[i].sh_name;
        if (at >= table.names.size())
            return Status::Damaged;
        const char* text = table.names.data() + at;
        const std::size_t length = strnlen(text, table.names.size() - at);
        if (at + length == table.names.size())
            return Status::Damaged; // not terminated
        if (std::string_view(text, length) == name) {
            index = i;
            return Status::Ok;
        }
    }
    return Status::NoSection;
}

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0)
            close(fd_);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

bool readFully(int fd, std::uint64_t offset, std::size_t size, void* destination) {
    auto* out = static_cast<char*>(destination);
    while (size > 0) {
        const ssize_t got = pread(fd, out, size, static_cast<off_t>(offset));
        if (got <= 0)
            return false;
        out += got;
        offset += static_cast<std::uint64_t>(got);
        size -= static_cast<std::size_t>(got);
    }
    return true;
}

// Opens `file` and reads its header; Ok only for an ELF file of the host.
Status openElf(const std::filesystem::path& file, int& fd, std::uint64_t& size, Ehdr& eh) {
    fd = open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return Status::CannotOpen;
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        return Status::CannotOpen;
    size = static_cast<std::uint64_t>(st.st_size);
    if (size < sizeof(Ehdr) || !readFully(fd, 0, sizeof eh, &eh) || !isHostElf(eh))
        return Status::NotElf;
    return Status::Ok;
}

std::uint64_t alignUp(std::uint64_t value, std::uint64_t alignment) {
    return (value + alignment - 1) / alignment * alignment;
}

// Alignment of a section placed anew: its own when sensible, else none.
std::uint64_t sectionAlignment(const Shdr& sh) {
    const std::uint64_t a = sh.sh_addralign;
    return a > 1 && a <= 4096 && (a & (a - 1)) == 0 ? a : 1;
}

void appendAligned(std::vector<BYTE>& out, std::uint64_t alignment) {
    out.resize(alignUp(out.size(), alignment), 0);
}

template <class T> void appendRecord(std::vector<BYTE>& out, const T& record) {
    const auto* bytes = reinterpret_cast<const BYTE*>(&record);
    out.insert(out.end(), bytes, bytes + sizeof(T));
}

} // namespace

AlignedBytes::AlignedBytes(std::size_t size)
    : words_(new std::uint64_t[(size + 7) / 8 + 1]()), size_(size) {}

Status checkFile(const std::filesystem::path& file) {
    int raw = -1;
    std::uint64_t size = 0;
    Ehdr eh{};
    const Status status = openElf(file, raw, size, eh);
    FileDescriptor fd(raw);
    return status;
}

Status readSection(const std::filesystem::path& file, std::string_view name, AlignedBytes& out) {
    int raw = -1;
    std::uint64_t size = 0;
    Ehdr eh{};
    Status status = openElf(file, raw, size, eh);
    FileDescriptor fd(raw);
    if (status != Status::Ok)
        return status;
    SectionTable table;
    status = readTable(
        eh, size,
        [&](std::uint64_t at, std::size_t n, void* to) { return readFully(fd.get(), at, n, to); },
        table);
    std::size_t index = 0;
    if (status == Status::Ok)
        status = findSection(table, name, index);
    if (status != Status::Ok)
        return status;
    const Shdr& sh = table.sections[index];
    if (sh.sh_type == SHT_NOBITS || !fits(sh.sh_offset, sh.sh_size, size))
        return Status::Damaged;
    AlignedBytes bytes(sh.sh_size);
    if (!readFully(fd.get(), sh.sh_offset, sh.sh_size, bytes.data()))
        return Status::Damaged;
    out = std::move(bytes);
    return Status::Ok;
}

std::vector<BYTE> withSection(std::span<const BYTE> image, std::string_view name,
                              std::span<const BYTE> contents) {
    const auto throwUnusable = [](const char* reason) { throw std::runtime_error(reason); };
    Ehdr eh{};
    if (image.size() < sizeof eh)
        throwUnusable("not an ELF file");
    std::memcpy(&eh, image.data(), sizeof eh);
    if (!isHostElf(eh))
        throwUnusable("not an ELF file of this machine");
    const auto readAt = [&](std::uint64_t at, std::size_t n, void* to) {
        if (!fits(at, n, image.size()))
            return false;
        std::memcpy(to, image.data() + at, n);
        return true;
    };
    SectionTable table;
    const Status status = readTable(eh, image.size(), readAt, table);
    if (status == Status::NoSection)
        throwUnusable("the file has no section name table");
    if (status != Status::Ok)
        throwUnusable("the section table is damaged");
    if (eh.e_shnum == 0 || table.sections.size() + 1 >= SHN_LORESERVE)
        throwUnusable("too many sections");

    // What the loader maps stays byte for byte where it is.
    std::uint64_t keepEnd = sizeof(Ehdr);
    if (eh.e_phnum > 0) {
        if (eh.e_phentsize != sizeof(Phdr) ||
            !fits(eh.e_phoff, std::uint64_t(eh.e_phnum) * sizeof(Phdr), image.size()))
            throwUnusable("the program header table is damaged");
        keepEnd = std::max<std::uint64_t>(keepEnd, eh.e_phoff + eh.e_phnum * sizeof(Phdr));
    }
    for (std::size_t i = 0; i < eh.e_phnum; ++i) {
        Phdr ph{};
        std::memcpy(&ph, image.data() + eh.e_phoff + i * sizeof(Phdr), sizeof ph);
        if (!fits(ph.p_offset, ph.p_filesz, image.size()))
            throwUnusable("a segment lies outside the file");
        keepEnd = std::max<std::uint64_t>(keepEnd, ph.p_offset + ph.p_filesz);
    }
    std::vector<Shdr>& sections = table.sections;
    for (const Shdr& sh : sections) {
        if (sh.sh_type == SHT_NOBITS)
            continue;
        if (!fits(sh.sh_offset, sh.sh_size, image.size()))
            throwUnusable("a section lies outside the file");
        if (sh.sh_flags & SHF_ALLOC)
            keepEnd = std::max<std::uint64_t>(keepEnd, sh.sh_offset + sh.sh_size);
    }

    std::size_t target = 0;
    if (findSection(table, name, target) == Status::Damaged)
        throwUnusable("the section names are damaged");
    if (target != 0 && (sections[target].sh_flags & SHF_ALLOC))
        throwUnusable("the section is loaded into memory and cannot be replaced");
    std::vector<char> names = table.names;
    const bool adding = target == 0;
    if (adding) {
        Shdr added{};
        added.sh_name = static_cast<decltype(added.sh_name)>(names.size());
        added.sh_type = SHT_PROGBITS;
        added.sh_addralign = 8;
        names.insert(names.end(), name.begin(), name.end());
        names.push_back('\0');
        sections.push_back(added);
        target = sections.size() - 1;
    }

    // Sections outside the segments move behind them, in their old order, and the new section
    // comes last; those that already lie between segments stay (their bytes are part of the
    // kept prefix) unless they are rewritten.
    const std::uint64_t mappedEnd = keepEnd;
    std::vector<std::size_t> moving;
    for (std::size_t i = 1; i < sections.size(); ++i) {
        const Shdr& sh = sections[i];
        if (sh.sh_type == SHT_NOBITS || (sh.sh_flags & SHF_ALLOC) || (adding && i == target))
            continue;
        if (i != target && i != table.namesIndex && sh.sh_offset < mappedEnd) {
            keepEnd = std::max<std::uint64_t>(keepEnd, sh.sh_offset + sh.sh_size);
            continue;
        }
        moving.push_back(i);
    }
    std::stable_sort(moving.begin(), moving.end(), [&](std::size_t a, std::size_t b) {
        return sections[a].sh_offset < sections[b].sh_offset;
    });
    if (adding)
        moving.push_back(target);

    std::vector<BYTE> out(image.begin(), image.begin() + static_cast<std::ptrdiff_t>(keepEnd));
    for (const std::size_t i : moving) {
        Shdr& sh = sections[i];
        std::span<const BYTE> bytes = image.subspan(sh.sh_offset, sh.sh_size);
        if (i == target)
            bytes = contents;
        else if (i == table.namesIndex)
            bytes = {reinterpret_cast<const BYTE*>(names.data()), names.size()};
        appendAligned(out, sectionAlignment(sh));
        sh.sh_offset = out.size();
        sh.sh_size = bytes.size();
        out.insert(out.end(), bytes.begin(), bytes.end());
    }
    appendAligned(out, alignof(Shdr));
    eh.e_shoff = out.size();
    eh.e_shnum = static_cast<decltype(eh.e_shnum)>(sections.size());
    for (const Shdr& sh : sections)
        appendRecord(out, sh);
    std::memcpy(out.data(), &eh, sizeof eh);
    return out;
}

std::vector<BYTE> dataOnlyModule(std::string_view name, std::span<const BYTE> contents) {
    // Layout: header, program headers, then the loaded part (hash table, symbol table, string
    // table, dynamic section), then the data section, the section names and the section table.
    constexpr std::size_t kPhnum = 3;
    constexpr std::uint64_t kSegmentAlign = 0x10000; // the largest page size of any host
    const std::uint64_t hashAt = alignUp(sizeof(Ehdr) + kPhnum * sizeof(Phdr), 8);
    const std::uint64_t hashSize = 4 * sizeof(Elf32_Word); // one bucket, one chain, both empty
    const std::uint64_t symAt = alignUp(hashAt + hashSize, 8);
    const std::uint64_t strAt = symAt + sizeof(Sym); // the null symbol only
    const std::uint64_t strSize = 1;
    const std::uint64_t dynAt = alignUp(strAt + strSize, 8);
    constexpr std::size_t kDynCount = 6;
    const std::uint64_t loadedEnd = dynAt + kDynCount * sizeof(Dyn);
    const std::uint64_t dataAt = alignUp(loadedEnd, 8);

    // Section names: "", ".hash", ".dynsym", ".dynstr", ".dynamic", name, ".shstrtab".
    std::string names(1, '\0');
    const auto addName = [&names](std::string_view n) {
        const auto at = static_cast<std::uint32_t>(names.size());
        names.append(n);
        names.push_back('\0');
        return at;
    };
    const std::uint32_t nHash = addName(".hash"), nSym = addName(".dynsym"),
                        nStr = addName(".dynstr"), nDyn = addName(".dynamic"),
                        nData = addName(name), nNames = addName(".shstrtab");
    const std::uint64_t namesAt = dataAt + contents.size();
    const std::uint64_t tableAt = alignUp(namesAt + names.size(), 8);
    constexpr std::size_t kShnum = 7;

    const Ehdr& host = hostHeader();
    Ehdr eh{};
    std::memcpy(eh.e_ident, host.e_ident, EI_NIDENT);
    eh.e_type = ET_DYN;
    eh.e_machine = host.e_machine;
    eh.e_version = EV_CURRENT;
    eh.e_flags = host.e_flags;
    eh.e_phoff = sizeof(Ehdr);
    eh.e_shoff = tableAt;
    eh.e_ehsize = sizeof(Ehdr);
    eh.e_phentsize = sizeof(Phdr);
    eh.e_phnum = kPhnum;
    eh.e_shentsize = sizeof(Shdr);
    eh.e_shnum = kShnum;
    eh.e_shstrndx = kShnum - 1;

    std::vector<BYTE> out;
    appendRecord(out, eh);
    Phdr load{};
    load.p_type = PT_LOAD;
    load.p_flags = PF_R | PF_W;
    load.p_filesz = load.p_memsz = loadedEnd;
    load.p_align = kSegmentAlign;
    appendRecord(out, load);
    Phdr dynamic{};
    dynamic.p_type = PT_DYNAMIC;
    dynamic.p_flags = PF_R | PF_W;
    dynamic.p_offset = dynamic.p_vaddr = dynamic.p_paddr = dynAt;
    dynamic.p_filesz = dynamic.p_memsz = kDynCount * sizeof(Dyn);
    dynamic.p_align = 8;
    appendRecord(out, dynamic);
    Phdr stack{};
    stack.p_type = PT_GNU_STACK;
    stack.p_flags = PF_R | PF_W;
    stack.p_align = 16;
    appendRecord(out, stack);

    appendAligned(out, 8);
    const Elf32_Word hash[4] = {1, 1, 0, 0};
    appendRecord(out, hash);
    appendAligned(out, 8);
    appendRecord(out, Sym{});
    out.push_back(0);
    appendAligned(out, 8);
    const auto entry = [](std::int64_t tag, std::uint64_t value) {
        Dyn d{};
        d.d_tag = static_cast<decltype(d.d_tag)>(tag);
        d.d_un.d_val = static_cast<decltype(d.d_un.d_val)>(value);
        return d;
    };
    for (const Dyn& d :
         {entry(DT_HASH, hashAt), entry(DT_STRTAB, strAt), entry(DT_SYMTAB, symAt),
          entry(DT_STRSZ, strSize), entry(DT_SYMENT, sizeof(Sym)), entry(DT_NULL, 0)})
        appendRecord(out, d);
    appendAligned(out, 8);
    out.insert(out.end(), contents.begin(), contents.end());
    out.insert(out.end(), names.begin(), names.end());
    appendAligned(out, 8);

    const auto section = [](std::uint32_t nameAt, std::uint32_t type, std::uint64_t flags,
                            std::uint64_t at, std::uint64_t size, std::uint32_t link,
                            std::uint32_t info, std::uint64_t align, std::uint64_t entsize) {
        Shdr sh{};
        sh.sh_name = nameAt;
        sh.sh_type = type;
        sh.sh_flags = flags;
        sh.sh_addr = (flags & SHF_ALLOC) ? at : 0;
        sh.sh_offset = at;
        sh.sh_size = size;
        sh.sh_link = link;
        sh.sh_info = info;
        sh.sh_addralign = align;
        sh.sh_entsize = entsize;
        return sh;
    };
    appendRecord(out, Shdr{});
    appendRecord(out, section(nHash, SHT_HASH, SHF_ALLOC, hashAt, hashSize, 2, 0, 8, 4));
    appendRecord(out,
                 section(nSym, SHT_DYNSYM, SHF_ALLOC, symAt, sizeof(Sym), 3, 1, 8, sizeof(Sym)));
    appendRecord(out, section(nStr, SHT_STRTAB, SHF_ALLOC, strAt, strSize, 0, 0, 1, 0));
    appendRecord(out, section(nDyn, SHT_DYNAMIC, SHF_ALLOC | SHF_WRITE, dynAt,
                              kDynCount * sizeof(Dyn), 3, 0, 8, sizeof(Dyn)));
    appendRecord(out, section(nData, SHT_PROGBITS, 0, dataAt, contents.size(), 0, 0, 8, 0));
    appendRecord(out, section(nNames, SHT_STRTAB, 0, namesAt, names.size(), 0, 0, 1, 0));
    return out;
}

} // namespace sky::elf
