// Fuzz target: a message of the wire format as the side that receives it reads it. The first
// byte says which: 0, a request as the server reads it (the header, the references handed back,
// the kind's body); 1, a reply as the client reads it, the next byte naming the kind of the
// request it answers (the result, the error information, the kind's body; 3 for a Next that asked
// for its items' snapshots; 5 for the answer of a 2.5 server to a _NewEnum, a Call or an Invoke
// whose value brings its snapshot byte and the enumerator's first items; 9 for its answer to a
// Call that hands back an object, which brings the object's snapshot and, for a collection, the
// enumerator its _NewEnum gives and its first items); with 16 added, the reply of a 2.6 server,
// whose objects' snapshots come after the faces derived from theirs. Every variant and typed
// value read is written again and read back, and must come back the same.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "sky/fuzz_machine.h"
#include "wire.h"

namespace {

using namespace sky::remote;

// An object of the other side: one object stands for every reference.
class Stand final : public IUnknown {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** ppv) override {
        *ppv = this;
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
};
Stand stand;

// References as both sides write them (a number and a face); a number names the one stand-in.
class Codec final : public ObjectCodec {
public:
    HRESULT putObject(Writer& out, IUnknown* object, REFIID iid) override {
        writeReference(out, object ? 1 : 0, iid);
        return S_OK;
    }
    HRESULT getObject(Reader& in, REFIID, void** ppv) override {
        *ppv = nullptr;
        const Reference reference = readReference(in);
        if (!in.ok())
            return badStubData;
        if (reference.id != 0) {
            *ppv = &stand;
        }
        return S_OK;
    }
};

void check(bool condition) {
    if (!condition)
        std::abort();
}

bool same(const VARIANT& a, const VARIANT& b);

// Arrays match in type, bounds and every element.
bool sameArray(VARTYPE vt, SAFEARRAY* a, SAFEARRAY* b) {
    if (!a || !b)
        return a == b;
    if (a->cDims != b->cDims || a->cbElements != b->cbElements)
        return false;
    std::size_t count = 1;
    for (USHORT d = 0; d < a->cDims; ++d) {
        if (a->rgsabound[d].cElements != b->rgsabound[d].cElements ||
            a->rgsabound[d].lLbound != b->rgsabound[d].lLbound)
            return false;
        count *= a->rgsabound[d].cElements;
    }
    const auto* x = static_cast<const unsigned char*>(a->pvData);
    const auto* y = static_cast<const unsigned char*>(b->pvData);
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t at = i * a->cbElements;
        VARIANT p{};
        VARIANT q{};
        if (vt == VT_VARIANT) {
            std::memcpy(&p, x + at, sizeof p);
            std::memcpy(&q, y + at, sizeof q);
        } else {
            p.vt = q.vt = vt;
            std::memcpy(&p.llVal, x + at, a->cbElements);
            std::memcpy(&q.llVal, y + at, a->cbElements);
        }
        if (!same(p, q))
            return false;
    }
    return true;
}

bool same(const VARIANT& a, const VARIANT& b) {
    if (a.vt != b.vt)
        return false;
    if (a.vt & VT_ARRAY)
        return sameArray(static_cast<VARTYPE>(a.vt & VT_TYPEMASK), a.parray, b.parray);
    switch (a.vt) {
    case VT_EMPTY:
    case VT_NULL:
        return true;
    case VT_BSTR:
        if (!a.bstrVal || !b.bstrVal)
            return a.bstrVal == b.bstrVal;
        return SysStringByteLen(a.bstrVal) == SysStringByteLen(b.bstrVal) &&
               std::memcmp(a.bstrVal, b.bstrVal, SysStringByteLen(a.bstrVal)) == 0;
    case VT_DISPATCH:
    case VT_UNKNOWN:
        return a.punkVal == b.punkVal;
    default:
        return std::memcmp(&a.llVal, &b.llVal, sizeof a.llVal) == 0;
    }
}

// A value read is written again and read back the same.
void roundTrip(const VARIANT& value, Codec& codec) {
    Writer again;
    if (FAILED(writeVariant(again, value, codec)))
        return; // a type the writer does not pass was refused by the reader too (checked below)
    Reader back(again.bytes().data(), again.size());
    VARIANT copy;
    check(SUCCEEDED(readVariant(back, copy, codec)));
    check(back.atEnd());
    check(same(value, copy));
    VariantClear(&copy);
}

void variant(Reader& in, Codec& codec) {
    VARIANT v;
    if (SUCCEEDED(readVariant(in, v, codec))) {
        Writer again;
        // What the reader accepts, the writer passes.
        check(SUCCEEDED(writeVariant(again, v, codec)));
        roundTrip(v, codec);
    } else {
        check(v.vt == VT_EMPTY);
    }
    VariantClear(&v);
}

// Typed values in the order the input's own bytes choose, as a member's table would give them.
void typed(Reader& in, Codec& codec, std::uint16_t seed) {
    static constexpr VARTYPE types[] = {VT_BSTR, VT_I4,    VT_VARIANT, VT_BOOL, VT_DISPATCH,
                                        VT_R8,   VT_I2,    VT_UNKNOWN, VT_DATE, VT_CY,
                                        VT_UI1,  VT_ERROR, VT_I8,      VT_R4,   VT_EMPTY};
    constexpr std::size_t count = sizeof types / sizeof types[0];
    for (std::size_t i = 0; i < 64 && in.ok() && !in.atEnd(); ++i) {
        const VARTYPE vt = types[(seed + i * 7) % count];
        VARIANT v;
        if (SUCCEEDED(readTyped(in, vt, nullptr, v, codec))) {
            if (vt != VT_VARIANT)
                check(v.vt == vt);
            roundTrip(v, codec);
        }
        VariantClear(&v);
    }
}

void strings(Reader& in, std::uint32_t count) {
    for (std::uint32_t i = 0; i < count && in.ok(); ++i)
        SysFreeString(in.bstr());
}

void request(Reader& in, Codec& codec) {
    const auto kind = static_cast<Kind>(in.u16());
    const std::uint16_t files = in.u16();
    const std::uint32_t releases = in.u32();
    for (std::uint32_t i = 0; i < releases && in.ok(); ++i) {
        in.u64();
        in.u32();
    }
    // The files a request names, as the server reads them (their descriptors come on the socket).
    for (std::uint16_t i = 0; i < files && i <= maxHandedFiles && in.ok(); ++i) {
        HandedFile file;
        bool opened = false;
        if (!readFile(in, file, opened))
            return;
    }
    switch (kind) {
    case Kind::GetClassObject:
        in.guid();
        in.guid();
        break;
    case Kind::QueryInterface:
    case Kind::CreateInstance:
        in.u64();
        in.guid();
        break;
    case Kind::Call: {
        in.u64();
        in.guid();
        typed(in, codec, in.u16());
        break;
    }
    case Kind::GetIDsOfNames: {
        in.u64();
        in.guid();
        const std::uint32_t n = in.u32();
        strings(in, n > 64 ? 0 : n);
        break;
    }
    case Kind::Invoke: {
        in.u64();
        in.guid();
        in.i32();
        in.u16();
        const std::uint32_t n = in.u32();
        for (std::uint32_t i = 0; i < n && i < 64 && in.ok(); ++i)
            variant(in, codec);
        const std::uint32_t named = in.u32();
        for (std::uint32_t i = 0; i < named && i < 64 && in.ok(); ++i)
            in.i32();
        in.u8();
        in.u8();
        break;
    }
    case Kind::EnumNext:
    case Kind::EnumSkip:
        in.u64();
        in.u32();
        if (kind == Kind::EnumNext && in.ok() && !in.atEnd())
            in.u8(); // 2.4: the items' snapshots asked for
        break;
    case Kind::Snapshot:
        in.u64();
        in.guid();
        break;
    case Kind::EnumReset:
    case Kind::EnumClone:
        in.u64();
        break;
    default:
        break;
    }
}

// A snapshot's values: member numbers and variants.
void snapshot(Reader& in, Codec& codec) {
    const std::uint16_t count = in.u16();
    for (std::uint16_t i = 0; i < count && in.ok(); ++i) {
        in.u16();
        variant(in, codec);
    }
}

// Whether the reply read is a 2.6 server's: an object's snapshot follows its derived faces.
bool derivedFaces = false;

// The snapshot of an object handed out (after its `has` byte), as the client takes it: from a 2.6
// server, the faces derived from the object's first.
void objectSnapshot(Reader& in, Codec& codec) {
    if (derivedFaces) {
        const std::uint8_t count = in.u8();
        if (count > maxDerivedFaces)
            return in.fail();
        for (std::uint8_t i = 0; i < count; ++i)
            in.guid();
    }
    snapshot(in, codec);
}

// The items of a Next as a reply carries them, each with its snapshot when `snapshots`.
void items(Reader& in, Codec& codec, std::uint32_t fetched, bool snapshots) {
    for (std::uint32_t i = 0; i < fetched && i < 4096 && in.ok(); ++i) {
        variant(in, codec);
        if (snapshots && in.u8() != 0)
            objectSnapshot(in, codec);
    }
}

// The first items a _NewEnum's enumerator brings (2.5), as the client takes them.
void firstItems(Reader& in, Codec& codec) {
    if (in.u8() == 0)
        return;
    const HRESULT next = in.i32();
    const std::uint32_t fetched = in.u32();
    if ((next != S_OK && next != S_FALSE) || fetched > firstItemCount)
        return in.fail();
    items(in, codec, fetched, true);
}

void reply(Reader& in, Codec& codec, Kind kind, bool snapshots, bool newEnum, bool handedBack) {
    const HRESULT result = in.i32();
    if (in.u8()) {
        in.guid();
        strings(in, 3);
        in.u32();
    }
    if (FAILED(result) && kind != Kind::Invoke && kind != Kind::GetIDsOfNames)
        return;
    switch (kind) {
    case Kind::GetClassObject:
    case Kind::CreateInstance:
    case Kind::EnumClone: {
        void* object = nullptr;
        codec.getObject(in, IID_IUnknown, &object);
        break;
    }
    case Kind::Call:
        if (newEnum) {
            // The enumerator, its snapshot byte (2.4) and its first items.
            VARIANT enumerator;
            if (SUCCEEDED(readTyped(in, VT_UNKNOWN, nullptr, enumerator, codec)))
                roundTrip(enumerator, codec);
            VariantClear(&enumerator);
            if (in.u8() != 0)
                objectSnapshot(in, codec);
            firstItems(in, codec);
        } else if (handedBack) {
            // An object, its snapshot and, for a collection, its enumerator and first items.
            VARIANT object;
            if (SUCCEEDED(readTyped(in, VT_DISPATCH, nullptr, object, codec)))
                roundTrip(object, codec);
            VariantClear(&object);
            if (in.u8() != 0)
                objectSnapshot(in, codec);
            if (in.u8() != 0) {
                void* enumerator = nullptr;
                codec.getObject(in, IID_IUnknown, &enumerator);
                firstItems(in, codec);
            }
        } else {
            typed(in, codec, static_cast<std::uint16_t>(result));
        }
        break;
    case Kind::GetIDsOfNames:
        while (in.ok() && !in.atEnd())
            in.i32();
        break;
    case Kind::Invoke:
        variant(in, codec);
        in.u32();
        in.u16();
        strings(in, 3);
        in.u32();
        in.i32();
        if (newEnum && SUCCEEDED(result))
            firstItems(in, codec);
        break;
    case Kind::EnumNext:
        items(in, codec, in.u32(), snapshots);
        break;
    case Kind::Snapshot:
        snapshot(in, codec);
        break;
    case Kind::QueryInterface:
        if (!in.atEnd() && in.u8() != 0) // to a 2.4 client
            snapshot(in, codec);
        break;
    default:
        break;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    sky::testing::useFuzzMachine();
    if (size < 2)
        return 0;
    Codec codec;
    if ((data[0] & 1) == 0) {
        Reader in(data + 1, size - 1);
        request(in, codec);
    } else {
        Reader in(data + 2, size - 2);
        // Bit 1 of the first byte: a reply to a Next that asked for its items' snapshots; bit 2:
        // a 2.5 server's answer to a _NewEnum; bit 3: its answer to a Call handing an object back;
        // bit 4: a 2.6 server's.
        derivedFaces = (data[0] & 16) != 0;
        reply(in, codec, static_cast<Kind>(data[1]), (data[0] & 2) != 0, (data[0] & 4) != 0,
              (data[0] & 8) != 0);
    }
    return 0;
}
