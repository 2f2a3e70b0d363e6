// The binary image of a type library: writing and checked reading.
#include <cstring>
#include <limits>
#include <map>

#include "sky/typelib_image.h"

namespace sky::typelib {

namespace {

constexpr unsigned char kMagic[8] = {'S', 'K', 'Y', 'T', 'L', 'B', 0x1A, 0};
constexpr std::uint32_t kNone = 0xFFFFFFFFu;

enum Section {
    Strings,
    Values,
    Imports,
    ImportedTypes,
    Types,
    Funcs,
    Params,
    Vars,
    Impls,
    kSections
};

// Record sizes; a reader of a later minor version may find larger records and skips the rest.
constexpr std::uint32_t kRecordSize[kSections] = {1, 16, 28, 24, 64, 36, 20, 24, 8};
constexpr std::uint32_t kHeaderSize = 64 + 8 * kSections;

class Writer {
public:
    std::vector<unsigned char> bytes;

    void u8(std::uint8_t v) { bytes.push_back(v); }
    void u16(std::uint16_t v) {
        u8(static_cast<std::uint8_t>(v));
        u8(static_cast<std::uint8_t>(v >> 8));
    }
    void u32(std::uint32_t v) {
        u16(static_cast<std::uint16_t>(v));
        u16(static_cast<std::uint16_t>(v >> 16));
    }
    void u64(std::uint64_t v) {
        u32(static_cast<std::uint32_t>(v));
        u32(static_cast<std::uint32_t>(v >> 32));
    }
    void guid(const GUID& g) {
        u32(g.Data1);
        u16(g.Data2);
        u16(g.Data3);
        for (BYTE b : g.Data4)
            u8(b);
    }
    void put32(std::size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i)
            bytes[at + static_cast<std::size_t>(i)] = static_cast<unsigned char>(v >> (8 * i));
    }
    void append(const std::vector<unsigned char>& more) {
        if (more.empty())
            return;
        std::size_t at = bytes.size();
        bytes.resize(at + more.size());
        std::memcpy(bytes.data() + at, more.data(), more.size());
    }
    void align4() {
        while (bytes.size() % 4)
            u8(0);
    }
};

class Reader {
public:
    Reader(const unsigned char* data, std::size_t size) : data_(data), size_(size) {}

    bool has(std::size_t at, std::size_t count) const { return at <= size_ && count <= size_ - at; }
    std::uint8_t u8(std::size_t at) const { return data_[at]; }
    std::uint16_t u16(std::size_t at) const {
        return static_cast<std::uint16_t>(data_[at] | data_[at + 1] << 8);
    }
    std::uint32_t u32(std::size_t at) const {
        return static_cast<std::uint32_t>(u16(at)) | static_cast<std::uint32_t>(u16(at + 2)) << 16;
    }
    std::uint64_t u64(std::size_t at) const {
        return static_cast<std::uint64_t>(u32(at)) | static_cast<std::uint64_t>(u32(at + 4)) << 32;
    }
    GUID guid(std::size_t at) const {
        GUID g;
        g.Data1 = u32(at);
        g.Data2 = u16(at + 4);
        g.Data3 = u16(at + 6);
        for (std::size_t i = 0; i < 8; ++i)
            g.Data4[i] = data_[at + 8 + i];
        return g;
    }

private:
    const unsigned char* data_;
    std::size_t size_;
};

// --- Writing -------------------------------------------------------------------------------

class ImageBuilder {
public:
    explicit ImageBuilder(const Library& lib) : lib_(lib) {}

    std::vector<unsigned char> build() {
        collect();
        Writer w;
        // Header; the section table is filled in as the sections are written.
        for (unsigned char c : kMagic)
            w.u8(c);
        w.u16(kFormatMajor);
        w.u16(kFormatMinor);
        w.u32(kHeaderSize);
        w.u32(0); // file size, patched below
        w.guid(lib_.guid);
        w.u32(lib_.lcid);
        w.u16(static_cast<std::uint16_t>(lib_.syskind));
        w.u16(lib_.major);
        w.u16(lib_.minor);
        w.u16(lib_.flags);
        w.u32(string(lib_.name));
        w.u32(string(lib_.doc));
        w.u32(string(lib_.helpFile));
        w.u32(lib_.helpContext);
        std::size_t table = w.bytes.size();
        for (int i = 0; i < kSections; ++i)
            w.u64(0);

        auto section = [&](Section s, std::uint32_t count) {
            w.align4();
            w.put32(table + 8 * static_cast<std::size_t>(s),
                    static_cast<std::uint32_t>(w.bytes.size()));
            w.put32(table + 8 * static_cast<std::size_t>(s) + 4, count);
        };

        section(Strings, static_cast<std::uint32_t>(pool_.size()));
        w.append(pool_);

        section(Values, static_cast<std::uint32_t>(values_.size()));
        for (const Value* v : values_) {
            w.u16(v->vt);
            w.u16(0);
            w.u32(v->vt == VT_BSTR ? string(v->text) : kNone);
            if (v->vt == VT_R8 || v->vt == VT_R4 || v->vt == VT_DATE) {
                std::uint64_t bits;
                std::memcpy(&bits, &v->real, sizeof bits);
                w.u64(bits);
            } else {
                w.u64(static_cast<std::uint64_t>(v->integer));
            }
        }

        section(Imports, static_cast<std::uint32_t>(lib_.imports.size()));
        for (const auto& i : lib_.imports) {
            w.guid(i.guid);
            w.u16(i.major);
            w.u16(i.minor);
            w.u32(i.lcid);
            w.u32(string(i.file));
        }

        section(ImportedTypes, static_cast<std::uint32_t>(lib_.importedTypes.size()));
        for (const auto& t : lib_.importedTypes) {
            w.guid(t.guid);
            w.u32(t.library);
            w.u32(string(t.name));
        }

        section(Types, static_cast<std::uint32_t>(lib_.types.size()));
        std::uint32_t funcIndex = 0, varIndex = 0, implIndex = 0;
        for (const auto& t : lib_.types) {
            w.u16(static_cast<std::uint16_t>(t.kind));
            w.u16(t.flags);
            w.guid(t.guid);
            w.u32(string(t.name));
            w.u32(string(t.doc));
            w.u32(t.helpContext);
            w.u16(t.major);
            w.u16(t.minor);
            w.u32(funcIndex);
            w.u16(static_cast<std::uint16_t>(t.funcs.size()));
            w.u16(static_cast<std::uint16_t>(t.vars.size()));
            w.u32(varIndex);
            w.u32(implIndex);
            w.u16(static_cast<std::uint16_t>(t.impls.size()));
            w.u16(0);
            type(w, t.alias);
            funcIndex += static_cast<std::uint32_t>(t.funcs.size());
            varIndex += static_cast<std::uint32_t>(t.vars.size());
            implIndex += static_cast<std::uint32_t>(t.impls.size());
        }

        section(Funcs, funcIndex);
        std::uint32_t paramIndex = 0;
        for (const auto& t : lib_.types) {
            for (const auto& f : t.funcs) {
                w.u32(static_cast<std::uint32_t>(f.id));
                w.u16(static_cast<std::uint16_t>(f.invkind));
                w.u16(f.flags);
                w.u32(string(f.name));
                w.u32(string(f.doc));
                w.u32(f.helpContext);
                type(w, f.result);
                w.u32(paramIndex);
                w.u16(static_cast<std::uint16_t>(f.params.size()));
                w.u16(0);
                paramIndex += static_cast<std::uint32_t>(f.params.size());
            }
        }

        section(Params, paramIndex);
        for (const auto& t : lib_.types) {
            for (const auto& f : t.funcs) {
                for (const auto& p : f.params) {
                    w.u32(string(p.name));
                    w.u16(p.flags);
                    w.u16(0);
                    type(w, p.type);
                    w.u32(p.defaultValue ? valueIndex_.at(&*p.defaultValue) : kNone);
                }
            }
        }

        section(Vars, varIndex);
        for (const auto& t : lib_.types) {
            for (const auto& v : t.vars) {
                w.u32(static_cast<std::uint32_t>(v.id));
                w.u32(string(v.name));
                w.u32(string(v.doc));
                w.u32(v.helpContext);
                w.u16(v.flags);
                w.u16(0);
                w.u32(valueIndex_.at(&v.value));
            }
        }

        section(Impls, implIndex);
        for (const auto& t : lib_.types) {
            for (const auto& i : t.impls) {
                w.u32(i.href);
                w.u32(static_cast<std::uint32_t>(i.flags));
            }
        }
        w.put32(16, static_cast<std::uint32_t>(w.bytes.size()));
        return std::move(w.bytes);
    }

private:
    void collect() {
        // Every string goes into the pool before the header is written; values get indexes.
        string(lib_.name);
        string(lib_.doc);
        string(lib_.helpFile);
        for (const auto& i : lib_.imports)
            string(i.file);
        for (const auto& t : lib_.importedTypes)
            string(t.name);
        for (const auto& t : lib_.types) {
            string(t.name);
            string(t.doc);
            for (const auto& f : t.funcs) {
                string(f.name);
                string(f.doc);
                for (const auto& p : f.params) {
                    string(p.name);
                    if (p.defaultValue)
                        value(*p.defaultValue);
                }
            }
            for (const auto& v : t.vars) {
                string(v.name);
                string(v.doc);
                value(v.value);
            }
        }
    }

    void value(const Value& v) {
        if (v.vt == VT_BSTR)
            string(v.text);
        valueIndex_[&v] = static_cast<std::uint32_t>(values_.size());
        values_.push_back(&v);
    }

    std::uint32_t string(const std::u16string& s) {
        if (s.empty())
            return kNone;
        auto it = strings_.find(s);
        if (it != strings_.end())
            return it->second;
        auto offset = static_cast<std::uint32_t>(pool_.size());
        auto length = static_cast<std::uint32_t>(s.size());
        for (int i = 0; i < 4; ++i)
            pool_.push_back(static_cast<unsigned char>(length >> (8 * i)));
        for (char16_t c : s) {
            pool_.push_back(static_cast<unsigned char>(c));
            pool_.push_back(static_cast<unsigned char>(c >> 8));
        }
        strings_.emplace(s, offset);
        return offset;
    }

    static void type(Writer& w, const Type& t) {
        w.u16(t.vt);
        w.u8(t.pointers);
        w.u8(0);
        w.u32(t.href);
    }

    const Library& lib_;
    std::vector<unsigned char> pool_;
    std::map<std::u16string, std::uint32_t> strings_;
    std::vector<const Value*> values_;
    std::map<const Value*, std::uint32_t> valueIndex_;
};

// --- Reading -------------------------------------------------------------------------------

struct Damaged {};

class ImageReader {
public:
    ImageReader(const unsigned char* data, std::size_t size) : r_(data, size), size_(size) {}

    // The magic has been checked by the caller.
    HRESULT read(Library& lib) {
        if (size_ < 12 || r_.u16(8) != kFormatMajor)
            return TYPE_E_UNSUPFORMAT;
        if (size_ < kHeaderSize)
            return TYPE_E_INVDATAREAD;
        try {
            readAll(lib);
        } catch (const Damaged&) {
            return TYPE_E_INVDATAREAD;
        }
        return S_OK;
    }

private:
    void need(bool ok) const {
        if (!ok)
            throw Damaged{};
    }

    void readAll(Library& lib) {
        std::uint32_t headerSize = r_.u32(12);
        need(headerSize >= kHeaderSize && r_.has(0, headerSize));
        need(r_.u32(16) <= size_);
        lib.guid = r_.guid(20);
        lib.lcid = r_.u32(36);
        std::uint16_t syskind = r_.u16(40);
        need(syskind <= SYS_WIN64);
        lib.syskind = static_cast<SYSKIND>(syskind);
        lib.major = r_.u16(42);
        lib.minor = r_.u16(44);
        lib.flags = r_.u16(46);
        // The section table first: strings are needed by everything else.
        for (int s = 0; s < kSections; ++s) {
            offset_[s] = r_.u32(64 + 8 * static_cast<std::size_t>(s));
            count_[s] = r_.u32(64 + 8 * static_cast<std::size_t>(s) + 4);
            need(r_.has(offset_[s], static_cast<std::size_t>(count_[s]) * kRecordSize[s]));
        }
        lib.name = string(r_.u32(48));
        lib.doc = string(r_.u32(52));
        lib.helpFile = string(r_.u32(56));
        lib.helpContext = r_.u32(60);

        lib.imports.resize(count_[Imports]);
        for (std::uint32_t i = 0; i < count_[Imports]; ++i) {
            std::size_t at = record(Imports, i);
            auto& imp = lib.imports[i];
            imp.guid = r_.guid(at);
            imp.major = r_.u16(at + 16);
            imp.minor = r_.u16(at + 18);
            imp.lcid = r_.u32(at + 20);
            imp.file = string(r_.u32(at + 24));
        }
        lib.importedTypes.resize(count_[ImportedTypes]);
        for (std::uint32_t i = 0; i < count_[ImportedTypes]; ++i) {
            std::size_t at = record(ImportedTypes, i);
            auto& t = lib.importedTypes[i];
            t.guid = r_.guid(at);
            t.library = r_.u32(at + 16);
            need(t.library < count_[Imports]);
            t.name = string(r_.u32(at + 20));
        }
        lib.types.resize(count_[Types]);
        for (std::uint32_t i = 0; i < count_[Types]; ++i)
            readType(record(Types, i), lib.types[i]);
    }

    std::size_t record(Section s, std::uint32_t index) const {
        need(index < count_[s]);
        return offset_[s] + static_cast<std::size_t>(index) * kRecordSize[s];
    }

    std::u16string string(std::uint32_t ref) const {
        if (ref == kNone)
            return {};
        need(ref < count_[Strings] && count_[Strings] - ref >= 4);
        std::size_t at = offset_[Strings] + ref;
        std::uint32_t length = r_.u32(at);
        need((count_[Strings] - ref - 4) / 2 >= length);
        std::u16string s(length, u'\0');
        for (std::uint32_t i = 0; i < length; ++i)
            s[i] = static_cast<char16_t>(r_.u16(at + 4 + 2 * static_cast<std::size_t>(i)));
        return s;
    }

    Type type(std::size_t at) const {
        Type t;
        t.vt = r_.u16(at);
        t.pointers = r_.u8(at + 2);
        t.href = r_.u32(at + 4);
        need(t.pointers <= 4);
        switch (t.vt) {
        case VT_EMPTY:
        case VT_I2:
        case VT_I4:
        case VT_R4:
        case VT_R8:
        case VT_CY:
        case VT_DATE:
        case VT_BSTR:
        case VT_DISPATCH:
        case VT_ERROR:
        case VT_BOOL:
        case VT_VARIANT:
        case VT_UNKNOWN:
        case VT_DECIMAL:
        case VT_I1:
        case VT_UI1:
        case VT_UI2:
        case VT_UI4:
        case VT_I8:
        case VT_UI8:
        case VT_INT:
        case VT_UINT:
        case VT_VOID:
        case VT_HRESULT:
        case VT_LPSTR:
        case VT_LPWSTR:
            break;
        case VT_USERDEFINED:
            checkRef(t.href);
            break;
        default:
            throw Damaged{};
        }
        return t;
    }

    void checkRef(HREFTYPE href) const {
        if (isImportedRef(href))
            need((href & 3) == 0 && refIndex(href) < count_[ImportedTypes]);
        else
            need((href & 3) <= 1 && refIndex(href) < count_[Types]);
    }

    Value value(std::uint32_t index) const {
        std::size_t at = record(Values, index);
        Value v;
        v.vt = r_.u16(at);
        std::uint64_t bits = r_.u64(at + 8);
        switch (v.vt) {
        case VT_BSTR:
            v.text = string(r_.u32(at + 4));
            break;
        case VT_R8:
        case VT_R4:
        case VT_DATE:
            std::memcpy(&v.real, &bits, sizeof bits);
            break;
        case VT_I1:
        case VT_I2:
        case VT_I4:
        case VT_I8:
        case VT_UI1:
        case VT_UI2:
        case VT_UI4:
        case VT_UI8:
        case VT_INT:
        case VT_UINT:
        case VT_BOOL:
        case VT_ERROR:
        case VT_EMPTY:
            v.integer = static_cast<LONGLONG>(bits);
            break;
        default:
            throw Damaged{};
        }
        return v;
    }

    void readType(std::size_t at, TypeDescription& t) {
        std::uint16_t kind = r_.u16(at);
        need(kind < TKIND_MAX);
        t.kind = static_cast<TYPEKIND>(kind);
        t.flags = r_.u16(at + 2);
        t.guid = r_.guid(at + 4);
        t.name = string(r_.u32(at + 20));
        t.doc = string(r_.u32(at + 24));
        t.helpContext = r_.u32(at + 28);
        t.major = r_.u16(at + 32);
        t.minor = r_.u16(at + 34);
        std::uint32_t firstFunc = r_.u32(at + 36);
        std::uint16_t funcCount = r_.u16(at + 40);
        std::uint16_t varCount = r_.u16(at + 42);
        std::uint32_t firstVar = r_.u32(at + 44);
        std::uint32_t firstImpl = r_.u32(at + 48);
        std::uint16_t implCount = r_.u16(at + 52);
        t.alias = type(at + 56);
        need(firstFunc <= count_[Funcs] && funcCount <= count_[Funcs] - firstFunc);
        need(firstVar <= count_[Vars] && varCount <= count_[Vars] - firstVar);
        need(firstImpl <= count_[Impls] && implCount <= count_[Impls] - firstImpl);
        t.funcs.resize(funcCount);
        for (std::uint16_t i = 0; i < funcCount; ++i)
            readFunc(record(Funcs, firstFunc + i), t.funcs[i]);
        t.vars.resize(varCount);
        for (std::uint16_t i = 0; i < varCount; ++i) {
            std::size_t v = record(Vars, firstVar + i);
            auto& var = t.vars[i];
            var.id = static_cast<MEMBERID>(r_.u32(v));
            var.name = string(r_.u32(v + 4));
            var.doc = string(r_.u32(v + 8));
            var.helpContext = r_.u32(v + 12);
            var.flags = r_.u16(v + 16);
            var.value = value(r_.u32(v + 20));
        }
        t.impls.resize(implCount);
        for (std::uint16_t i = 0; i < implCount; ++i) {
            std::size_t m = record(Impls, firstImpl + i);
            t.impls[i].href = r_.u32(m);
            checkRef(t.impls[i].href);
            t.impls[i].flags = static_cast<INT>(r_.u32(m + 4));
        }
    }

    void readFunc(std::size_t at, Func& f) {
        f.id = static_cast<MEMBERID>(r_.u32(at));
        std::uint16_t invkind = r_.u16(at + 4);
        need(invkind == INVOKE_FUNC || invkind == INVOKE_PROPERTYGET ||
             invkind == INVOKE_PROPERTYPUT || invkind == INVOKE_PROPERTYPUTREF);
        f.invkind = static_cast<INVOKEKIND>(invkind);
        f.flags = r_.u16(at + 6);
        f.name = string(r_.u32(at + 8));
        f.doc = string(r_.u32(at + 12));
        f.helpContext = r_.u32(at + 16);
        f.result = type(at + 20);
        std::uint32_t firstParam = r_.u32(at + 28);
        std::uint16_t paramCount = r_.u16(at + 32);
        need(firstParam <= count_[Params] && paramCount <= count_[Params] - firstParam);
        f.params.resize(paramCount);
        for (std::uint16_t i = 0; i < paramCount; ++i) {
            std::size_t p = record(Params, firstParam + i);
            auto& param = f.params[i];
            param.name = string(r_.u32(p));
            param.flags = r_.u16(p + 4);
            param.type = type(p + 8);
            std::uint32_t def = r_.u32(p + 16);
            if (def != kNone)
                param.defaultValue = value(def);
        }
    }

    Reader r_;
    std::size_t size_;
    std::uint32_t offset_[kSections]{};
    std::uint32_t count_[kSections]{};
};

} // namespace

std::vector<unsigned char> serialize(const Library& lib) {
    return ImageBuilder(lib).build();
}

bool looksLikeImage(const void* data, std::size_t size) {
    return data && size >= sizeof kMagic && std::memcmp(data, kMagic, sizeof kMagic) == 0;
}

HRESULT deserialize(const void* data, std::size_t size, Library& out) {
    if (!looksLikeImage(data, size))
        return TYPE_E_UNSUPFORMAT;
    ImageReader reader(static_cast<const unsigned char*>(data), size);
    Library lib;
    HRESULT hr = reader.read(lib);
    if (SUCCEEDED(hr))
        out = std::move(lib);
    return hr;
}

} // namespace sky::typelib
