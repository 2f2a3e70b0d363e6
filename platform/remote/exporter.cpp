// The server side of calls between processes (see exporter.h and wire.h).
//
// The listener thread accepts connections (checking the caller's credentials), hands each new
// client its mailbox and notices clients that go away. Each admitted connection is served on a
// thread of its own, its apartment: the calls of one client one at a time in the order they
// come, as a single-threaded apartment serves them, and calls of different clients side by
// side, so that a slow or blocked call holds up only its own client. The objects a client holds
// are called only on its connection's thread; what they share (class objects, the farm's store)
// keeps itself whole under its own locks.
#include "exporter.h"

#include <fcntl.h>
#include <poll.h>
#include <pwd.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

#include "../automation/class_objects.h"
#include "call_context.h"
#include "mailbox.h"
#include "sky/com_ptr.h"
#include "sky/machine.h"
#include "sky/remote.h"
#include "sky/services.h"
#include "sky/syserror.h"
#include "sky/text.h"
#include "win/oleauto.h"

namespace sky::remote {

namespace {

// Connections served at once, and of one user: one user cannot take every place.
constexpr std::size_t maxClients = 256;
constexpr std::size_t maxClientsOfUser = 32;
// A connection that holds no objects and has made no call for this long is closed; one that
// holds objects stays while its client lives (setIdleConnectionTime).
std::atomic<std::int64_t> idleMilliseconds{60000};
// Times a connection's thread woke the listener (listenerWakeUps).
std::atomic<std::uint64_t> watchRequests{0};
// How soon the listener watches a socket for data again once its connection's thread has taken
// what the listener saw there: it is not woken for it (two wake-ups of the listener for every
// call that hands a file over were most of the cost of such a call), but looks at its sockets
// again at the latest after this time.
constexpr int rewatchMilliseconds = 250;

std::string guidName(const GUID& g) {
    OLECHAR text[40];
    StringFromGUID2(g, text, 40);
    return sky::narrow(text);
}

// The name of a user id as the machine knows it.
std::u16string userName(unsigned uid) {
    passwd entry{};
    passwd* found = nullptr;
    std::string storage(16384, '\0');
    if (getpwuid_r(uid, &entry, storage.data(), storage.size(), &found) == 0 && found)
        return sky::widen(found->pw_name);
    return sky::widen(std::to_string(uid));
}

// The users who may call: the machine's users (as for its service manager: its owner and the
// members of its group, by the peer's own groups) and the account the server itself runs as.
bool machineUser(int socket, unsigned& uid) {
    sky::services::Peer peer;
    if (!sky::services::peerOf(socket, peer))
        return false;
    uid = peer.uid;
    return peer.uid == geteuid() || sky::services::mayUseMachine(peer);
}

// An object a client holds references on.
struct Exported {
    IUnknown* identity;
    std::uint32_t references;
    struct Face {
        IID iid;
        IUnknown* pointer;
        const InterfaceMarshal* marshal;
    };
    std::vector<Face> faces;
};

std::atomic<std::size_t> exportedCount{0};

class Connection final : public ObjectCodec {
public:
    int socket = -1;
    Mailbox box;
    unsigned uid = 0;
    std::u16string caller;
    bool parts = false;        // the client takes replies larger than the mailbox in parts
    bool enumerators = false;  // the client speaks 2.4: an identity's face IEnumVARIANT, and
                               // snapshots of objects handed back by calls
    bool firstItems = false;   // the client speaks 2.5: a _NewEnum's answer brings its first items
    bool derivedFaces = false; // the client speaks 2.6: an object handed back lists the faces
                               // derived from it that it answers, and brings the widest's snapshot
    bool files = false; // the client hands over files with requests (2.2): its socket may carry
                        // their descriptors, which the connection's thread takes
    // The listener saw data on the socket of a client that hands over files, and stopped watching
    // it for data: the connection's thread takes it with the request it comes with, or refuses it.
    std::atomic<bool> socketData{false};
    // Set when the client went away or the endpoint ends; `control` moves with it and wakes
    // the connection's thread.
    std::atomic<bool> gone{false};
    std::atomic<std::uint32_t> control{0};
    std::atomic<bool> finished{false}; // the connection's thread has ended
    std::thread thread;

    void end() {
        gone = true;
        control.fetch_add(1);
        futexWake(control);
    }
    bool holdsObjects() const { return !objects_.empty(); }

    ~Connection() {
        releaseAll();
        if (socket >= 0)
            close(socket);
    }

    // The connection's thread only. Serves the request in the mailbox; says whether the client
    // was spinning for the reply. A request that breaks the wire format on purpose ends the
    // connection.
    bool serve();
    // Ends the connection of a client that broke the wire format on purpose: what its socket
    // holds is taken and its descriptors closed.
    void refuse() {
        discardSocketData(socket);
        shutdown(socket, SHUT_RDWR);
        end();
    }
    void releaseAll() {
        for (auto& [id, object] : objects_)
            drop(object);
        exportedCount -= objects_.size();
        objects_.clear();
        ids_.clear();
    }

    HRESULT putObject(Writer& out, IUnknown* object, REFIID iid) override;
    HRESULT getObject(Reader& in, REFIID iid, void** ppv) override;

private:
    static void drop(Exported& object) {
        for (auto& face : object.faces)
            face.pointer->Release();
        object.identity->Release();
    }
    Exported* find(std::uint64_t id) {
        auto it = objects_.find(id);
        return it == objects_.end() ? nullptr : &it->second;
    }
    // The object's pointer at `iid`, asked once and kept.
    Exported::Face* face(Exported& object, REFIID iid);
    // Which of the object's interfaces `pointer` is, handed out as `asked` (see wire.h).
    GUID faceOf(Exported& object, IUnknown* pointer, REFIID asked);
    void releaseReferences(std::uint64_t id, std::uint32_t count);
    HRESULT dispatch(Kind kind, Reader& in, Writer& body);
    // Reads the request's `count` file entries and takes their descriptors from the socket.
    bool takeFiles(Reader& in, std::uint16_t count, std::vector<HandedFile>& handed);
    // The face `iid` of object `id`, of a library interface (with its table).
    HRESULT tableFace(std::uint64_t id, const GUID& iid, Exported::Face*& f);
    HRESULT call(Reader& in, Writer& body);
    HRESULT snapshot(Reader& in, Writer& body);
    // The snapshot of face `f` (wire.h, Snapshot): its marked members the gate lets through.
    void writeSnapshot(Exported::Face& f, Writer& body);
    // After a value of type `vt` just written: u8 1 and the snapshot of the object putObject
    // wrote for it, when it is an object handed out as a library interface; otherwise u8 0.
    void writeObjectSnapshot(VARTYPE vt, IUnknown* value, Writer& body);
    // After a _NewEnum's value just written (putObject's last object): u8 1 and the first items
    // of that enumerator (wire.h, items), when it is one; otherwise u8 0.
    void writeFirstItems(Writer& body);
    // After an object just written (putObject's last object) that a Call hands back: when its
    // face has a _NewEnum, u8 1, the enumerator that _NewEnum gives and its first items;
    // otherwise u8 0.
    void writeCollectionItems(VARTYPE vt, IUnknown* value, Writer& body);
    // `fetched` items of a Next as a reply carries them: each value and, when `snapshots`, u8 has
    // and the snapshot of an object handed out as a library interface. A failure when a value
    // cannot be written.
    HRESULT writeItems(VARIANT* values, ULONG fetched, bool snapshots, Writer& body);
    HRESULT invoke(Reader& in, Writer& body);

    std::unordered_map<std::uint64_t, Exported> objects_;
    // The dual interface that pointers handed out as IDispatch with this table of functions
    // named through their type information (faceOf).
    std::unordered_map<const void*, GUID> dualByFunctions_;
    // The interfaces that extend each interface handed out (derivedInterfaces), looked up once.
    std::unordered_map<const InterfaceMarshal*, std::vector<const InterfaceMarshal*>> derived_;
    std::map<IUnknown*, std::uint64_t> ids_;
    std::uint64_t nextId_ = 1;
    std::vector<unsigned char> request_;
    // The object putObject wrote last, and the face it was written as.
    struct {
        Exported* object = nullptr;
        GUID face{};
    } lastPut_;
};

Exported::Face* Connection::face(Exported& object, REFIID iid) {
    for (auto& f : object.faces)
        if (IsEqualIID(f.iid, iid))
            return &f;
    void* pointer = nullptr;
    if (FAILED(object.identity->QueryInterface(iid, &pointer)) || !pointer)
        return nullptr;
    object.faces.push_back({iid, static_cast<IUnknown*>(pointer), findInterface(iid)});
    return &object.faces.back();
}

GUID Connection::faceOf(Exported& object, IUnknown* pointer, REFIID asked) {
    if (!IsEqualIID(asked, IID_IDispatch) && !IsEqualIID(asked, IID_IUnknown))
        return asked; // handed out as a library interface: it is that face
    if (IsEqualIID(asked, IID_IUnknown) && pointer == object.identity)
        return IID_IUnknown;
    for (const auto& f : object.faces)
        if (f.pointer == pointer && f.marshal)
            return f.iid;
    // A dual interface names itself through its type information; the object confirms it. This
    // comes before the identity and the object's own IDispatch (which are often the same
    // pointer as its default face), so that the receiver holds a proxy of the dual interface,
    // whose type information a late-bound client reads, rather than a plain IDispatch.
    if (IsEqualIID(asked, IID_IDispatch)) {
        // Pointers of one class at one of its faces share their table of functions, and name
        // the same interface: the next object's is asked of the object alone (its
        // QueryInterface confirms it), not found again through its type information.
        const void* functions = *reinterpret_cast<void* const*>(pointer);
        if (const auto known = dualByFunctions_.find(functions); known != dualByFunctions_.end())
            if (const Exported::Face* f = face(object, known->second); f && f->pointer == pointer)
                return known->second;
        sky::ComPtr<ITypeInfo> info;
        TYPEATTR* attributes = nullptr;
        if (SUCCEEDED(static_cast<IDispatch*>(pointer)->GetTypeInfo(0, 0, info.put())) && info &&
            SUCCEEDED(info->GetTypeAttr(&attributes)) && attributes) {
            const GUID named = attributes->guid;
            info->ReleaseTypeAttr(attributes);
            if (findInterface(named))
                if (const Exported::Face* f = face(object, named); f && f->pointer == pointer) {
                    if (dualByFunctions_.size() >= 256)
                        dualByFunctions_.clear();
                    dualByFunctions_[functions] = named;
                    return named;
                }
        }
    }
    if (pointer == object.identity)
        return IID_IUnknown;
    if (const Exported::Face* own = face(object, IID_IDispatch); own && own->pointer == pointer)
        return IID_IDispatch;
    // Otherwise the object is asked for every interface the loaded libraries describe.
    if (IID found{}; findFace(object.identity, pointer, found)) {
        face(object, found); // kept, so that the next hand-out finds it at once
        return found;
    }
    return asked;
}

HRESULT Connection::putObject(Writer& out, IUnknown* object, REFIID iid) {
    if (!object) {
        writeReference(out, 0, IID_NULL);
        return S_OK;
    }
    IUnknown* identity = nullptr;
    if (FAILED(object->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity))))
        return E_NOINTERFACE;
    auto [it, added] = ids_.try_emplace(identity, nextId_);
    if (added) {
        objects_.emplace(nextId_, Exported{identity, 0, {}});
        ++exportedCount;
        ++nextId_;
    } else {
        identity->Release();
    }
    Exported& exported = objects_.at(it->second);
    ++exported.references;
    GUID handedAs = faceOf(exported, object, iid);
    // An enumerator handed out as its identity (a collection's _NewEnum) says so, and the client
    // makes its IEnumVARIANT proxy without asking (wire.h).
    if (enumerators && IsEqualIID(handedAs, IID_IUnknown) && face(exported, IID_IEnumVARIANT))
        handedAs = IID_IEnumVARIANT;
    writeReference(out, it->second, handedAs);
    lastPut_ = {&exported, handedAs};
    return S_OK;
}

HRESULT Connection::getObject(Reader& in, REFIID iid, void** ppv) {
    *ppv = nullptr;
    const Reference reference = readReference(in);
    if (!in.ok())
        return badStubData;
    if (reference.id == 0)
        return S_OK;
    Exported* object = find(reference.id);
    if (!object)
        return CO_E_OBJNOTCONNECTED;
    return object->identity->QueryInterface(faceToHandOut(iid, reference.face), ppv);
}

void Connection::releaseReferences(std::uint64_t id, std::uint32_t count) {
    Exported* object = find(id);
    if (!object)
        return;
    object->references -= std::min(object->references, count);
    if (object->references == 0) {
        Exported gone = std::move(*object);
        objects_.erase(id);
        --exportedCount;
        ids_.erase(gone.identity);
        drop(gone);
    }
}

void writeError(Writer& out, IErrorInfo* info) {
    GUID guid{};
    info->GetGUID(&guid);
    out.u8(1);
    out.guid(guid);
    BSTR text = nullptr;
    info->GetSource(&text);
    out.bstr(text);
    SysFreeString(text);
    text = nullptr;
    info->GetDescription(&text);
    out.bstr(text);
    SysFreeString(text);
    text = nullptr;
    info->GetHelpFile(&text);
    out.bstr(text);
    SysFreeString(text);
    DWORD context = 0;
    info->GetHelpContext(&context);
    out.u32(context);
}

// A descriptor a client handed over for `use`: kept when it is a regular file open for that use;
// otherwise closed and replaced by the reason (a hostile client may hand over anything).
void checkHanded(HandedFile& handed) {
    MemberFile& file = handed.file;
    struct stat info {};
    const int flags = fcntl(file.fd, F_GETFL);
    const int mode = flags & O_ACCMODE;
    const bool usable =
        flags >= 0 && !(flags & O_PATH) &&
        (handed.use == dispatch::FileUse::Read ? mode == O_RDONLY || mode == O_RDWR
                                               : mode == O_WRONLY || mode == O_RDWR);
    if (fstat(file.fd, &info) != 0 || !usable) {
        close(file.fd);
        file = MemberFile();
        file.error = EBADF;
    } else if (!S_ISREG(info.st_mode)) {
        close(file.fd);
        file = MemberFile();
        file.kind = info.st_mode & S_IFMT;
    }
}

void closeHanded(std::vector<HandedFile>& handed) {
    for (HandedFile& file : handed)
        if (file.file.fd >= 0) {
            close(file.file.fd);
            file.file.fd = -1;
        }
}

bool Connection::takeFiles(Reader& in, std::uint16_t count, std::vector<HandedFile>& handed) {
    // Only a client of 2.2 or later hands files over, at most a few at once.
    if (!files || count > maxHandedFiles)
        return false;
    handed.resize(count);
    std::vector<std::size_t> opened;
    for (std::size_t i = 0; i < count; ++i) {
        bool isOpen = false;
        if (!readFile(in, handed[i], isOpen))
            return false;
        if (isOpen)
            opened.push_back(i);
    }
    if (opened.empty())
        return true;
    std::vector<int> fds;
    if (!receiveFiles(socket, opened.size(), fds))
        return false;
    for (std::size_t i = 0; i < opened.size(); ++i) {
        handed[opened[i]].file.fd = fds[i];
        checkHanded(handed[opened[i]]);
    }
    return true;
}

bool Connection::serve() {
    MailboxHeader& h = box.header();
    const GoneCheck ended = [this] { return gone.load(); };
    if (!takeMessage(box, Side::Server, request_, Request, ended)) {
        // Gone meanwhile, or a message past the largest one: a client that sends that breaks
        // the wire format on purpose.
        shutdown(socket, SHUT_RDWR);
        end();
        return false;
    }
    if (request_.capacity() > mailboxCapacity) // a large message's space is not kept
        request_.shrink_to_fit();
    Reader in(request_.data(), request_.size());
    const auto kind = static_cast<Kind>(in.u16());
    const std::uint16_t fileCount = in.u16();
    const std::uint32_t releases = in.u32();
    Writer body;
    HRESULT hr = S_OK;
    for (std::uint32_t i = 0; i < releases && in.ok(); ++i) {
        const std::uint64_t id = in.u64();
        const std::uint32_t count = in.u32();
        if (in.ok())
            releaseReferences(id, count);
    }
    std::vector<HandedFile> handed;
    if (in.ok() && fileCount > 0 && !takeFiles(in, fileCount, handed)) {
        // Files where the client may hand over none, too many, or descriptors that do not match
        // what the request names: the wire format broken on purpose.
        closeHanded(handed);
        refuse();
        return false;
    }
    IErrorInfo* stale = nullptr;
    GetErrorInfo(0, &stale);
    if (stale)
        stale->Release();
    if (!in.ok()) {
        hr = badStubData;
    } else {
        ServingCall serving(caller, handed);
        hr = dispatch(kind, in, body);
    }
    closeHanded(handed); // those the call did not take
    // Nothing may be left on the socket: the client waits for this reply, and sends nothing
    // before it has it. Anything there came unasked. (Looked at only after a request that handed
    // files over, or when the listener saw data: other calls cost no system call more.)
    if (files && (fileCount > 0 || socketData) && socketHasData(socket)) {
        refuse();
        return false;
    }
    Writer reply;
    reply.i32(hr);
    IErrorInfo* error = nullptr;
    if (FAILED(hr) && GetErrorInfo(0, &error) == S_OK && error) {
        writeError(reply, error);
        error->Release();
    } else {
        reply.u8(0);
    }
    if (SUCCEEDED(hr) || kind == Kind::Invoke ||
        (kind == Kind::GetIDsOfNames && hr == DISP_E_UNKNOWNNAME))
        reply.raw(body.bytes().data(), body.size());
    if (reply.size() > (parts ? maxMessage : mailboxCapacity)) {
        reply.clear();
        reply.i32(E_OUTOFMEMORY);
        reply.u8(0);
    }
    if (!putMessage(box, Side::Server, reply.bytes().data(), reply.size(), Reply, ended))
        return false;
    h.state.store(Reply, std::memory_order_seq_cst);
    const std::uint32_t client = h.clientMode.load(std::memory_order_seq_cst);
    if (client == Asleep)
        futexWake(h.state);
    return client == Spinning;
}

HRESULT Connection::dispatch(Kind kind, Reader& in, Writer& body) {
    switch (kind) {
    case Kind::Flush:
        return in.atEnd() ? S_OK : badStubData;
    case Kind::GetClassObject: {
        const GUID clsid = in.guid();
        const GUID iid = in.guid();
        if (!in.atEnd())
            return badStubData;
        auto factory =
            sky::ComPtr<IUnknown>::adopt(automation::findClassObject(clsid, CLSCTX_LOCAL_SERVER));
        if (!factory)
            return CO_E_SERVER_EXEC_FAILURE;
        sky::ComPtr<IUnknown> at;
        if (HRESULT hr = factory->QueryInterface(iid, at.putVoid()); FAILED(hr))
            return hr;
        return putObject(body, at.get(), iid);
    }
    case Kind::Call:
        return call(in, body);
    case Kind::Snapshot:
        return snapshot(in, body);
    case Kind::Invoke:
        return invoke(in, body);
    case Kind::QueryInterface:
    case Kind::GetIDsOfNames:
    case Kind::CreateInstance:
    case Kind::EnumNext:
    case Kind::EnumSkip:
    case Kind::EnumReset:
    case Kind::EnumClone:
        break;
    default:
        return badStubData;
    }
    const std::uint64_t id = in.u64();
    Exported* object = find(id);
    if (!in.ok())
        return badStubData;
    if (!object)
        return CO_E_OBJNOTCONNECTED;
    switch (kind) {
    case Kind::QueryInterface: {
        const GUID iid = in.guid();
        if (!in.atEnd())
            return badStubData;
        Exported::Face* f = face(*object, iid);
        if (!f)
            return E_NOINTERFACE;
        // A 2.4 client gets the new face's snapshot with it.
        if (enumerators) {
            body.u8(f->marshal ? 1 : 0);
            if (f->marshal)
                writeSnapshot(*f, body);
        }
        return S_OK;
    }
    case Kind::GetIDsOfNames: {
        const GUID iid = in.guid();
        const std::uint32_t count = in.u32();
        if (!in.ok() || count == 0 || count > 64)
            return badStubData;
        std::vector<BSTR> names(count);
        for (BSTR& name : names)
            name = in.bstr();
        HRESULT hr = in.atEnd() ? S_OK : badStubData;
        for (BSTR name : names)
            if (!name)
                hr = badStubData;
        Exported::Face* f = SUCCEEDED(hr) ? face(*object, iid) : nullptr;
        if (SUCCEEDED(hr) && (!f || (!f->marshal && !IsEqualIID(iid, IID_IDispatch))))
            hr = E_NOINTERFACE;
        if (SUCCEEDED(hr)) {
            std::vector<DISPID> ids(count, DISPID_UNKNOWN);
            hr = static_cast<IDispatch*>(f->pointer)
                     ->GetIDsOfNames(IID_NULL, names.data(), count, 0, ids.data());
            for (DISPID id : ids)
                body.i32(id);
        }
        for (BSTR name : names)
            SysFreeString(name);
        return hr;
    }
    case Kind::CreateInstance: {
        const GUID iid = in.guid();
        if (!in.atEnd())
            return badStubData;
        Exported::Face* f = face(*object, IID_IClassFactory);
        if (!f)
            return E_NOINTERFACE;
        sky::ComPtr<IUnknown> created;
        const HRESULT hr = static_cast<IClassFactory*>(f->pointer)
                               ->CreateInstance(nullptr, iid, created.putVoid());
        if (FAILED(hr))
            return hr;
        return putObject(body, created.get(), iid);
    }
    case Kind::EnumNext:
    case Kind::EnumSkip:
    case Kind::EnumReset:
    case Kind::EnumClone: {
        const std::uint32_t count = kind == Kind::EnumNext || kind == Kind::EnumSkip ? in.u32() : 0;
        // Since 2.4 a Next may ask for each item's snapshot (1); nothing else may follow.
        const bool snapshots = kind == Kind::EnumNext && in.ok() && !in.atEnd() && in.u8() == 1;
        if (!in.atEnd())
            return badStubData;
        Exported::Face* f = face(*object, IID_IEnumVARIANT);
        if (!f)
            return E_NOINTERFACE;
        auto* items = static_cast<IEnumVARIANT*>(f->pointer);
        if (kind == Kind::EnumSkip)
            return items->Skip(count);
        if (kind == Kind::EnumReset)
            return items->Reset();
        if (kind == Kind::EnumClone) {
            sky::ComPtr<IEnumVARIANT> clone;
            const HRESULT hr = items->Clone(clone.put());
            if (FAILED(hr))
                return hr;
            return putObject(body, clone.get(), IID_IEnumVARIANT);
        }
        if (count > 4096)
            return E_INVALIDARG;
        std::vector<VARIANT> values(count);
        for (VARIANT& v : values)
            VariantInit(&v);
        ULONG fetched = 0;
        HRESULT hr = items->Next(count, values.data(), &fetched);
        if (SUCCEEDED(hr)) {
            fetched = std::min<ULONG>(fetched, count);
            body.u32(fetched);
            if (HRESULT written = writeItems(values.data(), fetched, snapshots, body);
                FAILED(written))
                hr = written;
        }
        for (VARIANT& v : values)
            VariantClear(&v);
        return hr;
    }
    default:
        return badStubData;
    }
}

HRESULT Connection::tableFace(std::uint64_t id, const GUID& iid, Exported::Face*& f) {
    Exported* object = find(id);
    if (!object)
        return CO_E_OBJNOTCONNECTED;
    f = face(*object, iid);
    if (!f)
        return E_NOINTERFACE;
    return f->marshal ? S_OK : badStubData;
}

HRESULT Connection::call(Reader& in, Writer& body) {
    const std::uint64_t id = in.u64();
    const GUID iid = in.guid();
    const std::uint16_t index = in.u16();
    if (!in.ok())
        return badStubData;
    Exported::Face* f = nullptr;
    if (HRESULT hr = tableFace(id, iid, f); FAILED(hr))
        return hr;
    if (index >= f->marshal->table->memberCount)
        return badStubData;
    const dispatch::Member& member = f->marshal->table->members[index];
    VARIANT args[32];
    if (member.paramCount > 32)
        return badStubData;
    WORD read = 0;
    HRESULT hr = S_OK;
    for (; read < member.paramCount; ++read) {
        const dispatch::Param& p = member.params[read];
        hr = readTyped(in, p.vt, p.iid, args[read], *this);
        if (FAILED(hr))
            break;
    }
    if (SUCCEEDED(hr) && !in.atEnd())
        hr = badStubData;
    VARIANT result;
    VariantInit(&result);
    result.llVal = 0;
    result.vt = member.resultVt == VT_VARIANT ? static_cast<VARTYPE>(VT_EMPTY) : member.resultVt;
    if (SUCCEEDED(hr))
        hr = dispatch::checkGate(f->pointer, *f->marshal->table, index);
    if (SUCCEEDED(hr)) {
        hr = member.thunk(f->pointer, args, &result);
        if (SUCCEEDED(hr) && member.resultVt != VT_EMPTY) {
            const IID* resultIid = f->marshal->resultIids ? f->marshal->resultIids[index] : nullptr;
            lastPut_.object = nullptr;
            const HRESULT written =
                writeTyped(body, member.resultVt,
                           member.resultVt == VT_VARIANT ? static_cast<void*>(&result)
                                                         : static_cast<void*>(&result.llVal),
                           resultIid, *this);
            if (FAILED(written))
                hr = written;
            // An object handed back brings its snapshot to a 2.4 client: its properties are
            // usually what is read next. A _NewEnum's enumerator brings its first items to a
            // 2.5 client: they are what is asked next.
            else if (enumerators && member.resultVt != VT_VARIANT) {
                const auto handedBack = lastPut_;
                writeObjectSnapshot(result.vt, result.punkVal, body);
                lastPut_ = handedBack;
                if (firstItems && member.dispid == DISPID_NEWENUM)
                    writeFirstItems(body);
                else if (firstItems)
                    writeCollectionItems(result.vt, result.punkVal, body);
            }
        }
    }
    if ((result.vt == VT_DISPATCH || result.vt == VT_UNKNOWN) && !result.punkVal)
        result.vt = VT_EMPTY;
    VariantClear(&result);
    for (WORD i = 0; i < read; ++i)
        VariantClear(&args[i]);
    return hr;
}

HRESULT Connection::snapshot(Reader& in, Writer& body) {
    const std::uint64_t id = in.u64();
    const GUID iid = in.guid();
    if (!in.atEnd())
        return badStubData;
    Exported::Face* f = nullptr;
    if (HRESULT hr = tableFace(id, iid, f); FAILED(hr))
        return hr;
    writeSnapshot(*f, body);
    return S_OK;
}

void Connection::writeObjectSnapshot(VARTYPE vt, IUnknown* value, Writer& body) {
    Exported::Face* f = nullptr;
    if ((vt == VT_DISPATCH || vt == VT_UNKNOWN) && value && lastPut_.object)
        f = face(*lastPut_.object, lastPut_.face);
    body.u8(f && f->marshal ? 1 : 0);
    if (!f || !f->marshal)
        return;
    if (!derivedFaces) {
        writeSnapshot(*f, body);
        return;
    }
    // A 2.6 client learns which faces derived from this one the object answers (it asks for
    // none of them again), and gets the snapshot of the widest, which holds this face's members
    // too: a client that reads the object through a later version of its interface (a
    // WinAppObject read as version 4) then makes no call for it, and the service reads the
    // members once instead of once a face.
    auto known = derived_.find(f->marshal);
    if (known == derived_.end())
        known = derived_.emplace(f->marshal, derivedInterfaces(*f->marshal)).first;
    Exported& object = *lastPut_.object;
    const IID handedAs = f->iid;
    IID answered[maxDerivedFaces];
    std::uint8_t count = 0;
    for (const InterfaceMarshal* derived : known->second)
        if (count < maxDerivedFaces && face(object, *derived->iid))
            answered[count++] = *derived->iid;
    body.u8(count);
    for (std::uint8_t i = 0; i < count; ++i)
        body.guid(answered[i]);
    // face() may have moved the object's faces: each is found again.
    Exported::Face* widest = face(object, count ? answered[0] : handedAs);
    if (!widest || !widest->marshal) // not to be: the object answered it a moment ago
        widest = face(object, handedAs);
    writeSnapshot(*widest, body);
}

HRESULT Connection::writeItems(VARIANT* values, ULONG fetched, bool snapshots, Writer& body) {
    for (ULONG i = 0; i < fetched; ++i) {
        lastPut_.object = nullptr;
        if (HRESULT written = writeVariant(body, values[i], *this); FAILED(written))
            return written;
        if (snapshots)
            writeObjectSnapshot(values[i].vt, values[i].punkVal, body);
    }
    return S_OK;
}

void Connection::writeFirstItems(Writer& body) {
    Exported::Face* f = lastPut_.object ? face(*lastPut_.object, IID_IEnumVARIANT) : nullptr;
    if (!f) {
        body.u8(0);
        return;
    }
    auto* items = static_cast<IEnumVARIANT*>(f->pointer);
    VARIANT values[firstItemCount];
    for (VARIANT& v : values)
        VariantInit(&v);
    ULONG fetched = 0;
    const HRESULT hr = items->Next(firstItemCount, values, &fetched);
    fetched = std::min<ULONG>(fetched, firstItemCount);
    const std::size_t start = body.size();
    bool written = SUCCEEDED(hr);
    if (written) {
        body.u8(1);
        body.i32(hr == S_OK && fetched == firstItemCount ? S_OK : S_FALSE);
        body.u32(fetched);
        written = SUCCEEDED(writeItems(values, fetched, true, body));
    }
    for (VARIANT& v : values)
        VariantClear(&v);
    if (!written) {
        // None, then: the enumerator starts again where a _NewEnum's does, and the client asks
        // for the items itself, meeting the failure where it asks.
        body.bytes().resize(start);
        body.u8(0);
        items->Reset();
    }
}

void Connection::writeCollectionItems(VARTYPE vt, IUnknown* value, Writer& body) {
    Exported::Face* f = nullptr;
    if ((vt == VT_DISPATCH || vt == VT_UNKNOWN) && value && lastPut_.object)
        f = face(*lastPut_.object, lastPut_.face);
    const dispatch::Table* table = f && f->marshal ? f->marshal->table : nullptr;
    WORD index = 0;
    while (table && index < table->memberCount &&
           !(table->members[index].dispid == DISPID_NEWENUM &&
             table->members[index].paramCount == 0 &&
             (table->members[index].invkind & INVOKE_PROPERTYGET) &&
             (table->members[index].resultVt == VT_UNKNOWN ||
              table->members[index].resultVt == VT_DISPATCH)))
        ++index;
    if (!table || index == table->memberCount) {
        body.u8(0);
        return;
    }
    // Called as a Call of it would be, gate and all; a refusal or failure sends nothing, and the
    // client's own _NewEnum meets it.
    VARIANT result;
    VariantInit(&result);
    result.vt = table->members[index].resultVt;
    result.punkVal = nullptr;
    HRESULT hr = dispatch::checkGate(f->pointer, *table, index);
    if (SUCCEEDED(hr))
        hr = table->members[index].thunk(f->pointer, nullptr, &result);
    if (FAILED(hr) || !result.punkVal) {
        SetErrorInfo(0, nullptr);
        if (!result.punkVal)
            result.vt = VT_EMPTY;
        VariantClear(&result);
        body.u8(0);
        return;
    }
    const std::size_t start = body.size();
    body.u8(1);
    lastPut_.object = nullptr;
    if (SUCCEEDED(putObject(body, result.punkVal, IID_IUnknown))) {
        writeFirstItems(body);
    } else {
        body.bytes().resize(start);
        body.u8(0);
    }
    VariantClear(&result);
}

void Connection::writeSnapshot(Exported::Face& f, Writer& body) {
    const dispatch::Table& table = *f.marshal->table;
    const std::size_t countAt = body.size();
    body.u16(0);
    std::uint16_t count = 0;
    // The object's gate (dispatch::checkGate), asked for once for all the members: the object
    // answers the same pointer each time, and its decision is still made member by member.
    sky::ComPtr<IMemberGate> gate;
    if (FAILED(f.pointer->QueryInterface(IID_IMemberGate, gate.putVoid())))
        gate = nullptr;
    for (WORD index = 0; index < table.memberCount; ++index) {
        const dispatch::Member& member = table.members[index];
        // The table is the server's own; a member it marks is a getter of a plain value.
        if (!member.snapshot || member.paramCount != 0 || member.resultVt == VT_EMPTY ||
            member.resultVt == VT_VARIANT || member.resultVt == VT_DISPATCH ||
            member.resultVt == VT_UNKNOWN)
            continue;
        // Each member is asked of the gate as a call of it would be: a member refused (or one
        // that fails) is left out, and the client's call of it meets the refusal itself.
        HRESULT hr = gate ? gate->MayCall(&table, index) : S_OK;
        VARIANT result;
        VariantInit(&result);
        result.llVal = 0;
        result.vt = member.resultVt;
        if (SUCCEEDED(hr))
            hr = member.thunk(f.pointer, nullptr, &result);
        if (SUCCEEDED(hr)) {
            const std::size_t before = body.size();
            body.u16(index);
            if (SUCCEEDED(writeVariant(body, result, *this)))
                ++count;
            else
                body.bytes().resize(before);
        } else {
            SetErrorInfo(0, nullptr);
        }
        VariantClear(&result);
    }
    const std::uint16_t le = count;
    std::memcpy(body.bytes().data() + countAt, &le, 2);
}

HRESULT Connection::invoke(Reader& in, Writer& body) {
    const std::uint64_t id = in.u64();
    const GUID iid = in.guid();
    const DISPID dispid = in.i32();
    const WORD flags = in.u16();
    const std::uint32_t count = in.u32();
    if (!in.ok() || count > 64)
        return badStubData;
    std::vector<VARIANT> args(count);
    std::uint32_t read = 0;
    HRESULT hr = S_OK;
    for (; read < count; ++read) {
        hr = readVariant(in, args[read], *this);
        if (FAILED(hr))
            break;
    }
    const std::uint32_t namedCount = SUCCEEDED(hr) ? in.u32() : 0;
    std::vector<DISPID> named;
    if (namedCount > count)
        hr = badStubData;
    for (std::uint32_t i = 0; SUCCEEDED(hr) && i < namedCount; ++i)
        named.push_back(in.i32());
    const bool wantResult = in.u8() != 0;
    const bool wantException = in.u8() != 0;
    if (SUCCEEDED(hr) && !in.atEnd())
        hr = badStubData;
    Exported* object = SUCCEEDED(hr) ? find(id) : nullptr;
    if (SUCCEEDED(hr) && !object)
        hr = CO_E_OBJNOTCONNECTED;
    Exported::Face* f = SUCCEEDED(hr) ? face(*object, iid) : nullptr;
    if (SUCCEEDED(hr) && (!f || (!f->marshal && !IsEqualIID(iid, IID_IDispatch))))
        hr = E_NOINTERFACE;
    VARIANT result;
    VariantInit(&result);
    EXCEPINFO exception{};
    UINT argErr = 0;
    if (SUCCEEDED(hr)) {
        DISPPARAMS params{args.data(), named.data(), count, namedCount};
        hr = static_cast<IDispatch*>(f->pointer)
                 ->Invoke(dispid, IID_NULL, 0, flags, &params, wantResult ? &result : nullptr,
                          wantException ? &exception : nullptr, &argErr);
    }
    lastPut_.object = nullptr;
    if (SUCCEEDED(hr)) {
        const HRESULT written = writeVariant(body, result, *this);
        if (FAILED(written)) {
            hr = written;
            body.clear();
        }
    }
    if (FAILED(hr)) {
        body.clear();
        body.u16(VT_EMPTY);
    }
    body.u32(argErr);
    body.u16(exception.wCode);
    body.bstr(exception.bstrSource);
    body.bstr(exception.bstrDescription);
    body.bstr(exception.bstrHelpFile);
    body.u32(exception.dwHelpContext);
    body.i32(exception.scode);
    // A _NewEnum's enumerator brings its first items to a 2.5 client.
    if (firstItems && SUCCEEDED(hr) && dispid == DISPID_NEWENUM)
        writeFirstItems(body);
    SysFreeString(exception.bstrSource);
    SysFreeString(exception.bstrDescription);
    SysFreeString(exception.bstrHelpFile);
    VariantClear(&result);
    for (std::uint32_t i = 0; i < read; ++i)
        VariantClear(&args[i]);
    return hr;
}

// The exporter whose connection the calling thread serves, if any.
thread_local const void* servingFor = nullptr;

class Exporter {
public:
    static Exporter* start(HRESULT& hr);
    ~Exporter();

    const std::string& socketName() const { return socketName_; }
    const std::filesystem::path& directory() const { return directory_; }
    // Whether the calling thread is one that serves calls of this endpoint.
    bool serving() const { return servingFor == this; }
    // Takes the socket's name away: no one connects any more, and a new endpoint of this
    // process may take the name while this one is still ending.
    void removeEndpoint() {
        if (!endpointRemoved_.exchange(true))
            unlink((directory_ / socketName_).c_str());
    }

private:
    Exporter() = default;
    // A caller accepted and admitted, whose greeting has not come yet.
    struct Greeting {
        std::shared_ptr<Connection> connection;
        std::chrono::steady_clock::time_point deadline;
    };
    static constexpr auto greetingTime = std::chrono::seconds(2);
    static constexpr std::size_t maxGreeting = 128;
    static constexpr std::size_t maxGreetingOfUser = 16;

    void listen();
    void accept();
    void greet(Greeting& waiting);
    // The status of the answer to a greeting of `uid`: S_OK, or why the caller is refused.
    HRESULT admits(unsigned uid, std::uint32_t& limit);
    // The thread of one connection: serves its calls until the client goes, the endpoint ends
    // or the connection has been idle for idleTime.
    void serve(Connection& c);
    // Waits, at most greetingTime, for the request that data on the connection's socket came
    // with; says whether it came.
    bool awaitRequest(Connection& c);
    // Joins the threads of connections that have ended.
    void reap();
    void wakeListener() {
        watchRequests.fetch_add(1, std::memory_order_relaxed);
        const std::uint64_t one = 1;
        if (write(reapFd_, &one, sizeof one) < 0) {
        }
    }

    std::filesystem::path directory_;
    std::string socketName_;
    int listener_ = -1;
    int stopFd_ = -1;
    int reapFd_ = -1; // a connection's thread has ended
    std::atomic<bool> stopping_{false};
    std::atomic<bool> endpointRemoved_{false};
    std::mutex mutex_;
    std::vector<std::shared_ptr<Connection>> connections_; // guarded by mutex_
    std::vector<Greeting> greeting_;                       // listener thread only
    std::thread listenThread_;
};

Exporter* Exporter::start(HRESULT& hr) {
    std::unique_ptr<Exporter> e(new Exporter);
    e->directory_ = endpointDirectory();
    e->socketName_ = "process-" + std::to_string(getpid()) + ".sock";
    // Made in the folder only the machine's owner writes; a server that cannot make it (not the
    // owner, or no folder) fails with the system's reason, and ends cleanly.
    e->listener_ = sky::services::listenAt(e->directory_, e->socketName_);
    if (e->listener_ < 0) {
        hr = HRESULT_FROM_WIN32(sky::win32ErrorFromErrno(errno));
        return nullptr;
    }
    e->stopFd_ = eventfd(0, EFD_CLOEXEC);
    e->reapFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    e->listenThread_ = std::thread([p = e.get()] { p->listen(); });
    hr = S_OK;
    return e.release();
}

Exporter::~Exporter() {
    // An exporter that failed half-way through its start has no threads, and may have no
    // listener or event: only what was made is undone.
    stopping_ = true;
    const std::uint64_t one = 1;
    if (stopFd_ >= 0 && write(stopFd_, &one, sizeof one) < 0) {
    }
    if (listenThread_.joinable())
        listenThread_.join();
    std::vector<std::shared_ptr<Connection>> ending;
    {
        std::lock_guard lock(mutex_);
        ending = std::move(connections_);
        connections_.clear();
    }
    // Each connection's thread releases the objects its client held, then ends.
    for (auto& c : ending)
        c->end();
    for (auto& c : ending)
        if (c->thread.joinable())
            c->thread.join();
    ending.clear();
    if (listener_ >= 0) {
        close(listener_);
        removeEndpoint();
    }
    if (stopFd_ >= 0)
        close(stopFd_);
    if (reapFd_ >= 0)
        close(reapFd_);
}

void Exporter::accept() {
    const int fd = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0)
        return;
    auto c = std::make_shared<Connection>();
    c->socket = fd;
    // Who calls is known before anything is read from the caller.
    if (!machineUser(fd, c->uid)) {
        Hello answer{wireMagic, wireMajor, wireMinor, E_ACCESSDENIED, mailboxCapacity};
        sendHello(fd, answer, -1);
        return; // the connection closes with c
    }
    // The greeting is awaited beside everything else the listener watches, so that a caller who
    // connects and says nothing holds up no one. Of too many callers waiting, the oldest of the
    // same user goes, or, when that user has few waiting, the oldest of all.
    const auto sameUser = [&](const Greeting& g) { return g.connection->uid == c->uid; };
    if (std::count_if(greeting_.begin(), greeting_.end(), sameUser) >=
        static_cast<std::ptrdiff_t>(maxGreetingOfUser))
        greeting_.erase(std::find_if(greeting_.begin(), greeting_.end(), sameUser));
    else if (greeting_.size() >= maxGreeting)
        greeting_.erase(greeting_.begin());
    greeting_.push_back({std::move(c), std::chrono::steady_clock::now() + greetingTime});
}

HRESULT Exporter::admits(unsigned uid, std::uint32_t& limit) {
    std::lock_guard lock(mutex_);
    std::size_t ofUser = 0;
    std::size_t all = 0;
    for (const auto& c : connections_)
        if (!c->finished) {
            ++all;
            ofUser += c->uid == uid;
        }
    if (ofUser >= maxClientsOfUser) {
        limit = maxClientsOfUser;
        return tooManyOfUser;
    }
    if (all >= maxClients) {
        limit = maxClients;
        return tooManyClients;
    }
    return S_OK;
}

void Exporter::greet(Greeting& waiting) {
    Hello hello{};
    Hello answer{wireMagic, wireMajor, wireMinor, S_OK, mailboxCapacity};
    const std::shared_ptr<Connection>& c = waiting.connection;
    if (!receiveHello(c->socket, hello, nullptr, std::chrono::milliseconds(0)))
        return;
    if (hello.magic != wireMagic)
        answer.status = badStubData;
    else if (hello.major != wireMajor)
        answer.status = otherWireVersion;
    else if (std::uint32_t limit = 0; (answer.status = admits(c->uid, limit)) != S_OK)
        answer.capacity = limit; // a refusal for too many connections says the limit
    int memory = -1;
    if (answer.status == S_OK) {
        memory = c->box.create();
        if (memory < 0)
            answer.status = E_OUTOFMEMORY;
    }
    const bool sent = sendHello(c->socket, answer, answer.status == S_OK ? memory : -1);
    if (memory >= 0)
        close(memory);
    if (!sent || answer.status != S_OK)
        return;
    c->caller = userName(c->uid);
    c->parts = hello.minor >= 1;
    c->files = hello.minor >= 2;
    c->enumerators = hello.minor >= 4;
    c->firstItems = hello.minor >= 5;
    c->derivedFaces = hello.minor >= 6;
    std::lock_guard lock(mutex_);
    connections_.push_back(c);
    c->thread = std::thread([this, raw = c.get()] { serve(*raw); });
}

void Exporter::reap() {
    std::uint64_t count = 0;
    if (read(reapFd_, &count, sizeof count) < 0) {
    }
    std::vector<std::shared_ptr<Connection>> ended;
    {
        std::lock_guard lock(mutex_);
        std::erase_if(connections_, [&](const std::shared_ptr<Connection>& c) {
            if (!c->finished)
                return false;
            ended.push_back(c);
            return true;
        });
    }
    for (auto& c : ended)
        c->thread.join();
}

void Exporter::listen() {
    while (!stopping_) {
        std::vector<pollfd> fds{{stopFd_, POLLIN, 0}, {reapFd_, POLLIN, 0}, {listener_, POLLIN, 0}};
        constexpr std::size_t firstGreeting = 3;
        const auto now = std::chrono::steady_clock::now();
        // Callers who said nothing in time are let go.
        std::erase_if(greeting_, [&](const Greeting& g) { return g.deadline <= now; });
        int timeout = -1;
        for (const Greeting& g : greeting_) {
            fds.push_back({g.connection->socket, POLLIN, 0});
            const auto left =
                std::chrono::ceil<std::chrono::milliseconds>(g.deadline - now).count();
            timeout = timeout < 0 ? static_cast<int>(left) : std::min(timeout, int(left));
        }
        const std::size_t firstWatched = fds.size();
        std::vector<std::shared_ptr<Connection>> watched;
        {
            std::lock_guard lock(mutex_);
            for (auto& c : connections_)
                if (!c->gone) {
                    // A socket whose data its connection's thread is to take is watched only for
                    // the client's going.
                    const short events = c->socketData ? POLLRDHUP : POLLIN | POLLRDHUP;
                    if (c->socketData)
                        timeout = timeout < 0 ? rewatchMilliseconds
                                              : std::min(timeout, rewatchMilliseconds);
                    fds.push_back({c->socket, events, 0});
                    watched.push_back(c);
                }
        }
        if (poll(fds.data(), fds.size(), timeout) < 0)
            continue;
        if (fds[0].revents)
            break;
        if (fds[1].revents)
            reap();
        for (std::size_t i = 0; i < watched.size(); ++i) {
            const short revents = fds[firstWatched + i].revents;
            if (!revents)
                continue;
            Connection& c = *watched[i];
            if (c.files && !(revents & (POLLRDHUP | POLLHUP | POLLERR))) {
                // The descriptors of a request about to come, or something sent unasked: the
                // connection's thread tells which.
                c.socketData = true;
                c.control.fetch_add(1);
                futexWake(c.control);
            } else {
                // Before 2.2 a client sends nothing on the socket after its greeting: anything
                // else, or the end of the stream, ends the connection.
                c.end();
            }
        }
        // Callers who spoke are answered (and leave the waiting list either way).
        std::vector<Greeting> spoke;
        for (std::size_t i = firstWatched; i-- > firstGreeting;)
            if (fds[i].revents) {
                spoke.push_back(std::move(greeting_[i - firstGreeting]));
                greeting_.erase(greeting_.begin() + static_cast<std::ptrdiff_t>(i - firstGreeting));
            }
        for (auto it = spoke.rbegin(); it != spoke.rend(); ++it)
            greet(*it);
        if (fds[2].revents & POLLIN)
            accept();
    }
}

bool Exporter::awaitRequest(Connection& c) {
    MailboxHeader& h = c.box.header();
    const auto deadline = std::chrono::steady_clock::now() + greetingTime;
    while (!stopping_ && !c.gone) {
        if (h.state.load(std::memory_order_acquire) == Request)
            return true;
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return false;
        const std::uint32_t seen = c.control.load();
        h.serverMode.store(Asleep, std::memory_order_seq_cst);
        const std::uint32_t state = h.state.load(std::memory_order_seq_cst);
        if (state != Request) {
            std::atomic<std::uint32_t>* words[] = {&h.state, &c.control};
            const std::uint32_t expected[] = {state, seen};
            futexWaitAny(words, expected, left);
        }
        h.serverMode.store(Working, std::memory_order_relaxed);
    }
    return true; // ending anyway
}

void Exporter::serve(Connection& c) {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    servingFor = this;
    MailboxHeader& h = c.box.header();
    Spinner spin;
    // Whether the client spun for the last reply: it takes the reply at once unless it is off
    // its processor.
    bool watch = false;
    auto lastCall = std::chrono::steady_clock::now();
    while (!stopping_ && !c.gone) {
        const std::uint32_t seen = c.control.load();
        if (h.state.load(std::memory_order_acquire) == Request) {
            watch = c.serve();
            lastCall = std::chrono::steady_clock::now();
            continue;
        }
        if (c.socketData) {
            // Data on the socket: the descriptors that a client sends just before its request,
            // which the request takes; without a request soon, they came unasked.
            // Taken by its request, the listener watches the socket again within
            // rewatchMilliseconds, without a wake-up: anything sent meanwhile is caught then.
            if (!socketHasData(c.socket) || awaitRequest(c)) {
                if (!socketHasData(c.socket))
                    c.socketData = false;
                continue;
            }
            c.refuse();
            break;
        }
        // Spin for the next request while that pays, then sleep.
        h.serverMode.store(Spinning, std::memory_order_relaxed);
        const bool caught = spin.spin(
            [&] {
                return h.state.load(std::memory_order_acquire) == Request ||
                       c.control.load(std::memory_order_relaxed) != seen;
            },
            [&] { return h.state.load(std::memory_order_relaxed) != Reply; }, watch);
        watch = false;
        if (caught) {
            h.serverMode.store(Working, std::memory_order_relaxed);
            continue;
        }
        // Sleep: say so, look once more, then wait for a request, the end, or the idle time.
        h.serverMode.store(Asleep, std::memory_order_seq_cst);
        const std::uint32_t state = h.state.load(std::memory_order_seq_cst);
        if (state != Request && c.control.load() == seen) {
            auto wait = std::chrono::milliseconds(-1);
            if (!c.holdsObjects()) {
                const auto left = std::chrono::ceil<std::chrono::milliseconds>(
                    lastCall + std::chrono::milliseconds(idleMilliseconds.load()) -
                    std::chrono::steady_clock::now());
                if (left.count() <= 0) {
                    // Idle and holding nothing: the place goes to others. The client sees the
                    // socket's end and connects afresh when it calls again.
                    shutdown(c.socket, SHUT_RDWR);
                    c.end();
                    break;
                }
                wait = left;
            }
            std::atomic<std::uint32_t>* words[] = {&h.state, &c.control};
            const std::uint32_t expected[] = {state, seen};
            futexWaitAny(words, expected, wait);
        }
        h.serverMode.store(Working, std::memory_order_relaxed);
    }
    c.releaseAll(); // on the thread that served them
    CoUninitialize();
    servingFor = nullptr;
    c.finished = true;
    wakeListener();
}

struct Published {
    std::mutex mutex;
    std::unique_ptr<Exporter> exporter;
    std::vector<GUID> classes;
};

Published& published() {
    static auto* instance = new Published;
    return *instance;
}

} // namespace

void setIdleConnectionTime(std::chrono::milliseconds time) {
    idleMilliseconds = time.count();
}

std::size_t exportedObjects() {
    return exportedCount.load();
}

std::uint64_t listenerWakeUps() {
    return watchRequests.load(std::memory_order_relaxed);
}

HRESULT publishClass(REFCLSID clsid) {
    Published& p = published();
    std::lock_guard lock(p.mutex);
    if (!p.exporter) {
        HRESULT hr = S_OK;
        p.exporter.reset(Exporter::start(hr));
        if (!p.exporter)
            return hr;
    }
    const std::filesystem::path link = p.exporter->directory() / guidName(clsid);
    const std::filesystem::path temp =
        p.exporter->directory() / (guidName(clsid) + "." + std::to_string(getpid()));
    unlink(temp.c_str());
    if (symlink(p.exporter->socketName().c_str(), temp.c_str()) != 0 ||
        rename(temp.c_str(), link.c_str()) != 0)
        return HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED);
    p.classes.push_back(clsid);
    return S_OK;
}

void withdrawClass(REFCLSID clsid) {
    std::unique_ptr<Exporter> ending;
    {
        Published& p = published();
        std::lock_guard lock(p.mutex);
        const auto it = std::find(p.classes.begin(), p.classes.end(), clsid);
        if (it == p.classes.end() || !p.exporter)
            return;
        p.classes.erase(it);
        if (std::find(p.classes.begin(), p.classes.end(), clsid) == p.classes.end()) {
            const std::filesystem::path link = p.exporter->directory() / guidName(clsid);
            char target[256] = {};
            const ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
            if (n > 0 && p.exporter->socketName() == std::string(target, static_cast<size_t>(n)))
                unlink(link.c_str());
        }
        if (p.classes.empty()) {
            p.exporter->removeEndpoint();
            ending = std::move(p.exporter);
        }
    }
    if (ending && ending->serving()) {
        // Revoked by an object inside a call: the connection's thread cannot wait for itself.
        // The call returns to its client first; then every connection ends, releasing its
        // client's objects, and the endpoint goes on a thread of its own.
        std::thread([e = std::move(ending)]() mutable { e.reset(); }).detach();
        return;
    }
    ending.reset();
}

} // namespace sky::remote
