// The wire format of calls between processes, version 2.6.
//
// Every value is little-endian. A connection starts on the socket with a greeting each way
// (Hello below); after it, requests and replies travel through the connection's shared memory
// (mailbox.h), one message at a time; since 2.1 a message larger than the mailbox crosses in
// parts, sent only to a peer that greeted with 2.1 or later (a 2.0 peer gets the failure that a
// message too large for the mailbox always gave):
//
//   request  = u16 kind, u16 files, u32 releaseCount, releaseCount x (u64 object, u32 refs),
//              files x file, then the body of the kind
//   file     = u8 use (1: read, 2: write), u8 opened, i32 error, u32 kind, u8 folderMissing,
//              str name
//
// Since 2.2 a request hands over the files its file arguments name (parameters the dispatch
// table marks with dispatch::FileUse), at most maxHandedFiles: the client opens each with its own
// rights and says in a `file` what came of it: opened (1), its descriptor then crossing on the
// socket in the one note sent before the request (mailbox.h), or not (0) with the error number
// of the open (errno; both ends run on one machine) or, error 0, the type of what the name
// names (S_IFMT bits) when that is no regular file, and whether the file's folder is missing. A
// client sends files only to a server that greeted with 2.2 or later and refuses a file
// argument to an older one (such a server would open the file with its own rights); `files` is
// 0 from every older client, whose file arguments the server then refuses, opening nothing.
// A request naming more files than that, or a note that does not match it, ends the connection.
//   reply    = i32 result, u8 hasError, [error: guid, str source, str description, str helpFile,
//              u32 helpContext], then the body of the kind when the result is a success
//
// A `str` is u32 byte count (0xFFFFFFFF: a null string) and that many bytes of UTF-16; a GUID is
// its 16 bytes as stored. An `object` is u64 (0: a null pointer) and, when not null, the GUID of
// the face the pointer is: the interface it was handed out as, or, for a plain IDispatch or
// IUnknown (a VT_DISPATCH or VT_UNKNOWN value, an IDispatch** result), the interface of the
// object's that the pointer stands for (IID_IDispatch or IID_IUnknown when it is the object's own
// IDispatch or identity, or no interface of a library). A receiver asked for a plain IDispatch or
// IUnknown hands out that face, so that calls by name reach its members. Since 2.4 an identity
// whose object answers IEnumVARIANT (a collection's _NewEnum) is written to a 2.4 peer with the
// face IID_IEnumVARIANT; the receiver hands out the identity still, and knows without asking that
// the object is an enumerator. A variant is u16 variant
// type and its value (see writeVariant). Since 2.3 a variant may be an array (VT_ARRAY | vt, vt
// a type a variant holds by value, or VT_VARIANT):
//
//   array    = u16 dims (0: a null array; at most maxArrayDims), dims x (u32 count, i32 lower
//              bound) first dimension first, then every element as writeTyped writes one of type
//              vt (a variant for VT_VARIANT), the first index varying fastest
//
// An array has at most maxArrayElements elements. A reader refuses an array whose element count the
// rest of the message cannot hold, and arrays of variants that hold arrays more than
// maxArrayNesting deep; a 2.2 peer refuses every array as malformed. Bodies:
//
//   GetClassObject  request: clsid, iid                 reply: object
//   QueryInterface  request: object, iid                reply: (nothing); to a 2.4 client u8 has
//                   and, when 1, the snapshot of that face
//   Call            request: object, iid, u16 member, each [in] argument as the member's
//                   table types it                      reply: the [out, retval] value, if any;
//                   between 2.4 peers, after a value that is not a variant, u8 has and, when 1,
//                   the snapshot of the object the value hands back (to a 2.6 client `faces`
//                   first); to a 2.5 client then, of a member whose DISPID is DISPID_NEWENUM,
//                   `items`, and of any other, `collection`
//   GetIDsOfNames   request: object, iid, u32 n, n x str  reply: n x i32
//   Invoke          request: object, iid, i32 dispid, u16 flags, u32 n, n x variant (as
//                   rgvarg holds them), u32 named, named x i32, u8 wantResult
//                   reply: variant result, u32 argErr, excepinfo (u16 code, str source,
//                   str description, str helpFile, u32 helpContext, i32 scode); to a 2.5
//                   client, of DISPID_NEWENUM when the result is a success, then `items`
//   EnumNext        request: object, u32 count [, u8 1: snapshots (2.4)]
//                   reply: u32 fetched, fetched x (variant [, u8 has, has x ([faces (2.6)]
//                   snapshot)])
//   EnumSkip/Reset  request: object (, u32 count)       reply: (nothing)
//   EnumClone       request: object                     reply: object
//   CreateInstance  request: object (a class object), iid   reply: object
//   Flush           request: (nothing)                  reply: (nothing): delivers releases
//   Snapshot        request: object, iid                reply: snapshot
//
//   snapshot = u16 n, n x (u16 member, variant of the member's result type), members in
//              increasing order
//   items    = u8 has; when 1: i32 S_OK (more may follow) or S_FALSE (the enumerator has no
//              more), u32 fetched (at most firstItemCount), fetched x (variant, u8 has, has x
//              snapshot) as a Next that asks for snapshots gives them
//   faces    = u8 n (at most maxDerivedFaces), n x guid: the interfaces the object answers whose
//              tables extend that of the face it is handed out as (extendsInterface: derived
//              from it), the widest first; the snapshot that follows is of the first of them
//              (of the face handed out when n is 0)
//   collection = u8 has; when 1 (the value is an object handed out as a library interface whose
//              table has a _NewEnum property getter, and that getter, asked of the member gate
//              and called, gave an enumerator): object (the enumerator, as an identity), items
//
// Since 2.5 the enumerator a _NewEnum hands back (a fresh one, at its start) brings the items of
// its first Next of firstItemCount: the server has called that Next, and the client answers its
// own first Nexts from them (a Skip too) for as long as the connection's epoch is unchanged. When
// it moved, the client first sets the server's enumerator back where its own reading stands
// (Reset, then Skip of the items it has handed out). An object that a Call hands back brings,
// when it is a collection, the enumerator its _NewEnum gives (with its first items): the client
// answers the object's first _NewEnum with it while the epoch is unchanged, and otherwise lets it
// go and calls _NewEnum. A 2.4 peer neither sends nor reads `items` or `collection`.
//
// Since 2.6 an object handed out as a library interface with its snapshot (a Call's value, an
// item of a Next) lists the faces derived from that interface that it answers, and brings the
// snapshot of the widest of them. The client answers a QueryInterface for a listed face without
// asking, and answers the gets of every face whose table the widest's extends from that one
// snapshot, for as long as the epoch is unchanged. A 2.5 peer neither sends nor reads `faces`.
//
// Snapshot (since 2.4) gives the values of the interface's getters that the dispatch table marks
// as snapshot members (dispatch::Member::snapshot), each asked of the object's member gate first
// and called as a Call would call it; a member the gate refuses or that fails is left out, and
// the client then calls it as usual, meeting the refusal or failure where its code calls. The
// client answers later gets of those members from the snapshot until it sends any other request
// on the connection; it sends Snapshot only to a server that greeted with 2.4 or later. Such a
// client also asks a Next for the snapshot of each item that is an object handed out as a library
// interface (its face's snapshot, as a Snapshot of it would give), and keeps it as if it had
// asked for it at once.
//
// Each object reference a reply carries gives the client one reference on that object; the
// client hands references back in the release list of a later request. Anything malformed or
// truncated is refused with RPC_X_BAD_STUB_DATA and changes nothing.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "sky/export.h"
#include "sky/remote.h"
#include "win/oleauto.h"

namespace sky::remote {

inline constexpr std::uint32_t wireMagic = 0x52594B53; // "SKYR"
inline constexpr std::uint16_t wireMajor = 2;          // 2: objects carry their face
inline constexpr std::uint16_t wireMinor = 6;          // 1: messages in parts; 2: files; 3: arrays;
                                                       // 4: snapshots of properties; 5: the first
                                                       // items of a _NewEnum; 6: the faces derived
                                                       // from an object's face

// The items a _NewEnum's answer brings (2.5), and the most a client takes from one.
inline constexpr std::uint32_t firstItemCount = 32;
// The most faces derived from an object's face that a server lists with it (2.6), and a client
// takes.
inline constexpr std::uint8_t maxDerivedFaces = 8;

// HRESULT_FROM_WIN32(RPC_X_BAD_STUB_DATA), HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE).
inline constexpr HRESULT badStubData = static_cast<HRESULT>(0x800706F7);
inline constexpr HRESULT serverUnavailable = static_cast<HRESULT>(0x800706BA);
// HRESULT_FROM_WIN32(RPC_S_UNSUPPORTED_TRANS_SYN): the peer speaks another major version.
inline constexpr HRESULT otherWireVersion = static_cast<HRESULT>(0x800706C2);
// Refusals of a greeting for the number of connections: HRESULT_FROM_WIN32(RPC_S_SERVER_TOO_BUSY)
// when the caller's user has as many as one user may have, HRESULT_FROM_WIN32(ERROR_REQ_NOT_ACCEP)
// when the server serves as many as it serves at once. The answer's capacity is then the limit.
inline constexpr HRESULT tooManyOfUser = static_cast<HRESULT>(0x800706BB);
inline constexpr HRESULT tooManyClients = static_cast<HRESULT>(0x80070047);

enum class Kind : std::uint16_t {
    GetClassObject = 1,
    QueryInterface = 2,
    Call = 3,
    GetIDsOfNames = 4,
    Invoke = 5,
    EnumNext = 6,
    EnumSkip = 7,
    EnumReset = 8,
    EnumClone = 9,
    CreateInstance = 10,
    Flush = 11,
    Snapshot = 12,
};

// The greeting: the client sends it first, the server answers with its own (status 0: accepted;
// otherwise an HRESULT saying why not) and, on acceptance, the shared memory's descriptor.
struct Hello {
    std::uint32_t magic;
    std::uint16_t major, minor;
    std::int32_t status;
    std::uint32_t capacity; // bytes of message space in the shared memory (in a refusal for
                            // too many connections: the limit)
};

// The reader, the writer and the variant codec are exported for the wire format's fuzz target.
class SKY_API Writer {
public:
    void u8(std::uint8_t v) { bytes_.push_back(v); }
    void u16(std::uint16_t v) { raw(&v, 2); }
    void u32(std::uint32_t v) { raw(&v, 4); }
    void i32(std::int32_t v) { raw(&v, 4); }
    void u64(std::uint64_t v) { raw(&v, 8); }
    void guid(const GUID& g) { raw(&g, sizeof g); }
    void str(const OLECHAR* text, std::uint32_t characters);
    void bstr(BSTR b); // keeps the byte length; null stays null
    void raw(const void* data, std::size_t size) {
        const auto* p = static_cast<const unsigned char*>(data);
        bytes_.insert(bytes_.end(), p, p + size);
    }
    // Overwrites 4 bytes written before.
    void patch32(std::size_t at, std::uint32_t v) { std::memcpy(bytes_.data() + at, &v, 4); }

    std::vector<unsigned char>& bytes() { return bytes_; }
    std::size_t size() const { return bytes_.size(); }
    void clear() { bytes_.clear(); }

private:
    std::vector<unsigned char> bytes_;
};

// Reads a message; every read checks the bounds. After the first failure ok() is false and
// every later read gives zero.
class SKY_API Reader {
public:
    Reader(const unsigned char* data, std::size_t size)
        : begin_(data), p_(data), end_(data + size) {}

    std::uint8_t u8() { return take<std::uint8_t>(); }
    std::uint16_t u16() { return take<std::uint16_t>(); }
    std::uint32_t u32() { return take<std::uint32_t>(); }
    std::int32_t i32() { return take<std::int32_t>(); }
    std::uint64_t u64() { return take<std::uint64_t>(); }
    GUID guid() { return take<GUID>(); }
    // A new BSTR (null for a null string); false in ok() when truncated or out of memory.
    BSTR bstr();
    bool raw(void* out, std::size_t size);
    // Passes over `size` bytes; false (and not ok()) when fewer remain.
    bool skip(std::size_t size) {
        if (!ok_ || static_cast<std::size_t>(end_ - p_) < size) {
            ok_ = false;
            p_ = end_;
            return false;
        }
        p_ += size;
        return true;
    }
    // Where the next read starts.
    const unsigned char* current() const { return p_; }

    bool ok() const { return ok_; }
    std::size_t position() const { return static_cast<std::size_t>(p_ - begin_); }
    bool atEnd() const { return ok_ && p_ == end_; }
    std::size_t remaining() const { return static_cast<std::size_t>(end_ - p_); }
    void fail() { ok_ = false; }

private:
    // In line, for the words and GUIDs read by the thousand: raw() without its call and its copy
    // of a size not known until it runs. The same bounds and the same failure.
    template <class T> T take() {
        T v{};
        if (ok_ && static_cast<std::size_t>(end_ - p_) >= sizeof v) {
            std::memcpy(&v, p_, sizeof v);
            p_ += sizeof v;
        } else {
            ok_ = false;
            p_ = end_;
        }
        return v;
    }
    const unsigned char* begin_;
    const unsigned char* p_;
    const unsigned char* end_;
    bool ok_ = true;
};

// The most files one request hands over.
inline constexpr std::size_t maxHandedFiles = 4;

// A file a request hands over for a file argument: the name the argument holds, the use, and
// what the client's open gave (its descriptor crosses on the socket).
struct HandedFile {
    std::u16string name;
    dispatch::FileUse use = dispatch::FileUse::None;
    MemberFile file;
};
SKY_API void writeFile(Writer& out, const HandedFile& file);
// Reads a `file`; the descriptor is -1 (opened files get theirs from the socket). False when
// the entry is malformed.
SKY_API bool readFile(Reader& in, HandedFile& file, bool& opened);

} // namespace sky::remote

namespace sky::remote {

// How object references are written and read: the two sides of a connection keep different
// tables (the server exports objects, the client holds proxies).
class ObjectCodec {
public:
    // Writes a reference to `object` (may be null) as the interface `iid`.
    virtual HRESULT putObject(Writer& out, IUnknown* object, REFIID iid) = 0;
    // Reads a reference and gives the object at `iid` (AddRef'd; null for a null reference).
    virtual HRESULT getObject(Reader& in, REFIID iid, void** ppv) = 0;

protected:
    ~ObjectCodec() = default;
};

// An object reference as both sides write it: the number of the object in the server's table
// for the connection (0: null) and, for a non-null one, its face.
struct Reference {
    std::uint64_t id = 0;
    GUID face{};
};
inline void writeReference(Writer& out, std::uint64_t id, const GUID& face) {
    out.u64(id);
    if (id != 0)
        out.guid(face);
}
inline Reference readReference(Reader& in) {
    Reference r;
    r.id = in.u64();
    if (r.id != 0)
        r.face = in.guid();
    return r;
}
// The interface to hand out for a reference asked for as `asked` whose face is `face`: the face
// when a plain IDispatch or IUnknown is asked and the face is an interface of a loaded library
// (every such interface is dual, so its pointer serves as IDispatch); otherwise `asked`.
SKY_API const IID& faceToHandOut(REFIID asked, const GUID& face);

// The most dimensions an array on the wire has, and how deep arrays of variants holding arrays
// nest.
inline constexpr std::uint16_t maxArrayDims = 32;
inline constexpr std::uint64_t maxArrayElements = std::uint64_t{1} << 22; // in one array
inline constexpr unsigned maxArrayNesting = 8;

// A variant as [u16 vt][value]. By-reference values are written as the value they point at.
// DISP_E_BADVARTYPE for a type automation does not pass (records, arrays by reference).
SKY_API HRESULT writeVariant(Writer& out, const VARIANT& v, ObjectCodec& objects);
// Reads a variant into `v` (initialised by the caller); on failure `v` is left empty.
SKY_API HRESULT readVariant(Reader& in, VARIANT& v, ObjectCodec& objects);

// A value of the given variant type as a table parameter holds it, without the type word.
SKY_API HRESULT writeTyped(Writer& out, VARTYPE vt, const void* value, const IID* iid,
                           ObjectCodec& objects);
// Reads a value of type `vt` into `v`, which becomes of that type (VT_VARIANT: any variant).
SKY_API HRESULT readTyped(Reader& in, VARTYPE vt, const IID* iid, VARIANT& v, ObjectCodec& objects);

// Out parameters of table type `vt` as C++ holds them: cleared to zero (a null string or
// object, an empty variant) and filled from a variant read by readTyped, which gives up what it
// owned.
void clearTyped(VARTYPE vt, void* destination);
void storeTyped(VARTYPE vt, VARIANT& value, void* destination);

} // namespace sky::remote
