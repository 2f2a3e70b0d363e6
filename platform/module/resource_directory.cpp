#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "sky/hex.h"
#include "sky/resources.h"
#include "sky/text.h"

namespace sky::resources {

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__,
              "resource data is little-endian UTF-16 and is handed out in place");

namespace {

constexpr char kMagic[4] = {'S', 'K', 'Y', 'R'};
constexpr std::uint16_t kVersion = 1;
constexpr std::size_t kHeaderSize = 16;
constexpr std::size_t kEntrySize = 24;
constexpr std::uint32_t kStringFlag = 0x80000000u;

std::uint16_t get16(const BYTE* p) {
    std::uint16_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

std::uint32_t get32(const BYTE* p) {
    std::uint32_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

void put16(std::vector<BYTE>& out, std::size_t at, std::uint16_t v) {
    std::memcpy(out.data() + at, &v, sizeof v);
}

void put32(std::vector<BYTE>& out, std::size_t at, std::uint32_t v) {
    std::memcpy(out.data() + at, &v, sizeof v);
}

std::size_t align8(std::size_t n) {
    return (n + 7) & ~std::size_t(7);
}

// Decodes a type or name field; false when it points outside the section or at an unterminated
// or empty string.
bool decodeId(std::span<const BYTE> section, std::uint32_t field, ResourceId& out) {
    if ((field & kStringFlag) == 0) {
        if (field == 0 || field > 0xFFFF)
            return false;
        out = ResourceId(static_cast<WORD>(field));
        return true;
    }
    const std::size_t at = field & ~kStringFlag;
    if (at % 2 != 0 || at > section.size() || section.size() - at < 2)
        return false;
    const std::size_t length = get16(section.data() + at);
    if (length == 0 || (section.size() - at - 2) / 2 < length + 1)
        return false;
    const auto* text = reinterpret_cast<const WCHAR*>(section.data() + at + 2);
    if (text[length] != 0)
        return false;
    out = ResourceId::named(std::u16string_view(text, length));
    return !out.isId();
}

} // namespace

ResourceId ResourceId::named(std::u16string_view name) {
    if (name.size() > 1 && name[0] == u'#') {
        unsigned long value = 0;
        bool digits = true;
        for (const WCHAR c : name.substr(1)) {
            digits = digits && c >= u'0' && c <= u'9';
            value = value * 10 + (c - u'0');
            if (!digits || value > 0xFFFF)
                break;
        }
        if (digits && value >= 1 && value <= 0xFFFF)
            return ResourceId(static_cast<WORD>(value));
    }
    ResourceId id;
    id.name_ = upper(name);
    return id;
}

ResourceId ResourceId::fromWin(LPCWSTR value) {
    if (IS_INTRESOURCE(value))
        return ResourceId(static_cast<WORD>(reinterpret_cast<ULONG_PTR>(value)));
    return named(std::u16string_view(value, length(value)));
}

ResourceId ResourceId::parse(std::string_view text) {
    std::string_view digits = text;
    if (!digits.empty() && digits[0] == '#')
        digits.remove_prefix(1);
    int base = 10;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
        base = 16;
        digits.remove_prefix(2);
    }
    unsigned long value = 0;
    bool number = !digits.empty();
    for (const char c : digits) {
        const int d = sky::digitValue(static_cast<unsigned char>(c), base);
        if (d < 0 || value > 0xFFFF) {
            number = false;
            break;
        }
        value = value * base + static_cast<unsigned long>(d);
    }
    if (number && value >= 1 && value <= 0xFFFF)
        return ResourceId(static_cast<WORD>(value));
    return named(widen(text));
}

std::string ResourceId::toString() const {
    return isId() ? std::to_string(id_) : narrow(name_);
}

std::strong_ordering ResourceId::operator<=>(const ResourceId& other) const {
    if (isId() != other.isId())
        return isId() ? std::strong_ordering::less : std::strong_ordering::greater;
    if (isId())
        return id_ <=> other.id_;
    return compareNoCase(name_, other.name_) <=> 0;
}

std::vector<BYTE> serialize(std::vector<Resource> resources) {
    std::sort(resources.begin(), resources.end(), [](const Resource& a, const Resource& b) {
        if (auto c = a.type <=> b.type; c != 0)
            return c < 0;
        if (auto c = a.name <=> b.name; c != 0)
            return c < 0;
        return a.language < b.language;
    });
    for (std::size_t i = 1; i < resources.size(); ++i) {
        const Resource& a = resources[i - 1];
        const Resource& b = resources[i];
        if (a.type == b.type && a.name == b.name && a.language == b.language)
            throw std::invalid_argument("resource " + b.type.toString() + " " + b.name.toString() +
                                        " language " + std::to_string(b.language) +
                                        " is given twice");
    }

    std::vector<BYTE> out(align8(kHeaderSize + kEntrySize * resources.size()));
    const auto addString = [&out](const ResourceId& id) -> std::uint32_t {
        if (id.isId())
            return id.id();
        if (id.name().size() > 0xFFFF)
            throw std::invalid_argument("a resource name is too long");
        const std::size_t at = out.size();
        out.resize(align8(at + 2 + 2 * (id.name().size() + 1)));
        put16(out, at, static_cast<std::uint16_t>(id.name().size()));
        std::memcpy(out.data() + at + 2, id.name().data(), 2 * id.name().size());
        return kStringFlag | static_cast<std::uint32_t>(at);
    };
    for (std::size_t i = 0; i < resources.size(); ++i) {
        const Resource& r = resources[i];
        const std::size_t at = kHeaderSize + kEntrySize * i;
        put32(out, at, addString(r.type));
        put32(out, at + 4, addString(r.name));
        put16(out, at + 8, r.language);
    }
    for (std::size_t i = 0; i < resources.size(); ++i) {
        const Resource& r = resources[i];
        const std::size_t at = kHeaderSize + kEntrySize * i;
        const std::size_t dataAt = out.size();
        out.resize(align8(dataAt + r.data.size()));
        if (!r.data.empty())
            std::memcpy(out.data() + dataAt, r.data.data(), r.data.size());
        put32(out, at + 12, static_cast<std::uint32_t>(dataAt));
        put32(out, at + 16, static_cast<std::uint32_t>(r.data.size()));
    }
    if (out.size() > 0x7FFFFFFFu)
        throw std::invalid_argument("the resources are larger than 2 GB");
    std::memcpy(out.data(), kMagic, sizeof kMagic);
    put16(out, 4, kVersion);
    put16(out, 6, kHeaderSize);
    put32(out, 8, static_cast<std::uint32_t>(resources.size()));
    put32(out, 12, static_cast<std::uint32_t>(out.size()));
    return out;
}

bool Directory::parse(elf::AlignedBytes bytes) {
    entries_.clear();
    bytes_ = std::move(bytes);
    const std::span<const BYTE> section = bytes_.span();
    const auto damaged = [this] {
        entries_.clear();
        bytes_ = elf::AlignedBytes();
        return false;
    };
    if (section.size() < kHeaderSize || std::memcmp(section.data(), kMagic, sizeof kMagic) != 0 ||
        get16(section.data() + 4) != kVersion || get16(section.data() + 6) != kHeaderSize)
        return damaged();
    const std::uint32_t count = get32(section.data() + 8);
    const std::uint32_t total = get32(section.data() + 12);
    if (total < kHeaderSize || total > section.size() || (total - kHeaderSize) / kEntrySize < count)
        return damaged();
    const std::span<const BYTE> used = section.first(total);
    entries_.reserve(count);
    for (std::uint32_t i = 0; i < count; ++i) {
        const BYTE* record = used.data() + kHeaderSize + kEntrySize * i;
        Entry entry;
        const std::uint32_t dataAt = get32(record + 12);
        const std::uint32_t size = get32(record + 16);
        if (!decodeId(used, get32(record), entry.type) ||
            !decodeId(used, get32(record + 4), entry.name) || dataAt % 8 != 0 ||
            dataAt > used.size() || size > used.size() - dataAt)
            return damaged();
        entry.language = get16(record + 8);
        entry.data = used.subspan(dataAt, size);
        if (!entries_.empty()) {
            const Entry& last = entries_.back();
            const auto order = std::tie(last.type, last.name, last.language) <=>
                               std::tie(entry.type, entry.name, entry.language);
            if (order >= 0)
                return damaged(); // out of order or twice
        }
        entries_.push_back(std::move(entry));
    }
    return true;
}

std::span<const Entry> Directory::find(const ResourceId& type, const ResourceId& name) const {
    const auto key = [](const Entry& e) { return std::tie(e.type, e.name); };
    const auto range = std::equal_range(
        entries_.begin(), entries_.end(), std::tie(type, name), [&](const auto& a, const auto& b) {
            if constexpr (std::is_same_v<std::decay_t<decltype(a)>, Entry>)
                return key(a) < b;
            else
                return a < key(b);
        });
    return {range.first, range.second};
}

bool Directory::hasType(const ResourceId& type) const {
    const auto it =
        std::lower_bound(entries_.begin(), entries_.end(), type,
                         [](const Entry& e, const ResourceId& t) { return e.type < t; });
    return it != entries_.end() && it->type == type;
}

std::vector<Resource> Directory::copy() const {
    std::vector<Resource> out;
    out.reserve(entries_.size());
    for (const Entry& e : entries_)
        out.push_back({e.type, e.name, e.language, {e.data.begin(), e.data.end()}});
    return out;
}

ReadStatus readModule(const std::filesystem::path& file, Directory& out) {
    elf::AlignedBytes bytes;
    switch (elf::readSection(file, kSectionName, bytes)) {
    case elf::Status::Ok:
        return out.parse(std::move(bytes)) ? ReadStatus::Ok : ReadStatus::Damaged;
    case elf::Status::NoSection:
        out = Directory();
        return ReadStatus::Ok;
    case elf::Status::CannotOpen:
        return ReadStatus::CannotOpen;
    case elf::Status::NotElf:
    case elf::Status::Damaged:
        break;
    }
    return ReadStatus::NotModule;
}

bool splitStringBlock(std::span<const BYTE> block, std::u16string_view (&strings)[16]) {
    std::size_t at = 0;
    bool whole = true;
    for (auto& s : strings) {
        s = {};
        if (!whole)
            continue;
        if (block.size() - at < 2) {
            whole = false;
            continue;
        }
        const std::size_t length = get16(block.data() + at);
        if ((block.size() - at - 2) / 2 < length) {
            whole = false;
            continue;
        }
        s = std::u16string_view(reinterpret_cast<const WCHAR*>(block.data() + at + 2), length);
        at += 2 + 2 * length;
    }
    return whole;
}

} // namespace sky::resources
