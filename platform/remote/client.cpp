// The client side of calls between processes (see client.h, wire.h and sky/remote.h).
//
// One connection per server process, shared by every object of that server. A remote object
// is one proxy manager (its identity, the IUnknown that QueryInterface gives for IID_IUnknown)
// with one interface proxy per interface asked for; AddRef and Release count locally, and when
// the last reference goes the references the server gave are handed back with the next request.
#include "client.h"

#include <pthread.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "../automation/variant_types.h"
#include "mailbox.h"
#include "sky/com_ptr.h"
#include "sky/machine.h"
#include "sky/remote.h"
#include "sky/services.h"
#include "sky/text.h"

namespace sky::remote {

class ProxyManager;

class ProxyCore {
public:
    ProxyManager* manager;
    IID iid;
    const InterfaceMarshal* marshal; // null for IDispatch, IEnumVARIANT and IClassFactory
    std::unique_ptr<ProxyBase> proxy;

    // The values of the interface's snapshot members (wire.h, Snapshot) as the server gave them
    // while the connection's epoch was `snapshotEpoch`, by member index in increasing order: the
    // entries as the reply carried them ([u16 index][u16 vt][value] each), checked against the
    // table when they came, and read out only when a member is got (most are got once, some
    // never: a string is made once, for the caller). The buffer is kept for the next snapshot.
    std::mutex snapshotMutex;
    std::uint64_t snapshotEpoch = ~std::uint64_t{0}; // none
    std::vector<unsigned char> snapshot;
    std::size_t snapshotNext = 0; // where the entry after the one read last starts
    // The enumerator the server's _NewEnum of this object gave when the object was handed back
    // (wire.h, collection), good for one _NewEnum at that epoch; guarded by snapshotMutex.
    sky::ComPtr<IUnknown> newEnum;
    std::uint64_t newEnumEpoch = 0;
    // Whether the table of the object's shared snapshot (ProxyManager::SharedSnapshot) extends
    // this interface's: the answer for the table last asked about; guarded by that snapshot's
    // mutex.
    const InterfaceMarshal* extendedBy = nullptr;
    bool extended = false;

    // The kept enumerator, when it is still good at `epoch`; it is given out once.
    sky::ComPtr<IUnknown> takeNewEnum(std::uint64_t epoch) {
        sky::ComPtr<IUnknown> kept;
        bool good = false;
        {
            std::lock_guard lock(snapshotMutex);
            kept = std::move(newEnum);
            newEnum = nullptr;
            good = newEnumEpoch == epoch;
        }
        return good ? std::move(kept) : nullptr;
    }

    void dropSnapshot() {
        snapshot.clear();
        snapshotNext = 0;
        snapshotEpoch = ~std::uint64_t{0};
    }
};

namespace {

constexpr auto livenessCheck = std::chrono::milliseconds(50);

std::atomic<std::uint64_t> requestCount{0};

class Connection final : public ObjectCodec, public std::enable_shared_from_this<Connection> {
public:
    ~Connection() {
        if (socket_ >= 0)
            close(socket_);
    }

    static std::shared_ptr<Connection> open(const std::filesystem::path& directory,
                                            const std::string& name, HRESULT& hr);

    // Sends a request of `kind` with `body` and waits for the reply; fills `reply` with the
    // reply after the result and error information, sets the thread's error information from
    // the reply and returns the result.
    // `files` are handed over with the request (their descriptors stay the caller's).
    // Every request but a Snapshot and a `pure` one moves the epoch, ending every snapshot taken
    // before. Pure are the requests that change nothing a getter answers: a call of a snapshot
    // member (a getter of a value, or one of an object that only reads), a QueryInterface and an
    // enumerator's Next. A pure request that fails moves the epoch once it has its answer: a
    // refusal of the gate ends every snapshot the caller holds.
    HRESULT transact(Kind kind, const Writer& body, std::vector<unsigned char>& reply,
                     std::size_t& bodyAt, const std::vector<HandedFile>& files = {},
                     bool pure = false);

    // The server answers Snapshot requests (2.4).
    bool takesSnapshots() const { return serverMinor_ >= 4; }
    // The server's answer to a _NewEnum brings the enumerator's first items (2.5).
    bool givesFirstItems() const { return serverMinor_ >= 5; }
    // The server lists the faces derived from an object's face with its snapshot (2.6).
    bool listsFaces() const { return serverMinor_ >= 6; }
    // Moves with every request that may change what an object of this connection answers.
    std::uint64_t epoch() const { return epoch_.load(std::memory_order_acquire); }
    // The epoch at which the last reply the calling thread received was made: what a snapshot it
    // carried is good for.
    static std::uint64_t replyEpoch() { return replyEpoch_; }

    void releaseLater(std::uint64_t id, std::uint32_t count) {
        std::lock_guard lock(releaseMutex_);
        releases_.emplace_back(id, count);
    }
    void forget(std::uint64_t id) {
        std::lock_guard lock(managersMutex_);
        managers_.erase(id);
    }

    HRESULT putObject(Writer& out, IUnknown* object, REFIID iid) override;
    HRESULT getObject(Reader& in, REFIID iid, void** ppv) override;

    std::mutex managersMutex_;

private:
    int socket_ = -1;
    Mailbox box_;
    std::mutex callMutex_;
    bool dead_ = false;  // guarded by callMutex_
    Spinner spin_;       // guarded by callMutex_
    bool parts_ = false; // the server takes messages larger than the mailbox in parts
    bool files_ = false; // the server takes files handed over with a request (2.2)
    std::uint16_t serverMinor_ = 0;
    std::atomic<std::uint64_t> epoch_{0};
    // transact() without the epoch, under callMutex_.
    HRESULT exchange(Kind kind, const Writer& body, std::vector<unsigned char>& reply,
                     std::size_t& bodyAt, const std::vector<HandedFile>& files);
    static thread_local std::uint64_t replyEpoch_;
    Writer request_; // guarded by callMutex_
    std::mutex releaseMutex_;
    std::vector<std::pair<std::uint64_t, std::uint32_t>> releases_;
    std::map<std::uint64_t, ProxyManager*> managers_; // guarded by managersMutex_
    friend class sky::remote::ProxyManager;
};

} // namespace

// The identity of a remote object and owner of its interface proxies.
class ProxyManager final : public IUnknown {
public:
    ProxyManager(std::shared_ptr<Connection> connection, std::uint64_t id)
        : connection_(std::move(connection)), id_(id) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override;

    // The proxy for `iid`, made without asking the server when `known` (the server handed the
    // object out as that interface). Adds a reference.
    HRESULT face(REFIID iid, bool known, void** ppv);
    // The interface that `pointer` (this object's identity or one of its proxies) stands for;
    // `asked` when it is neither.
    GUID faceOf(IUnknown* pointer, REFIID asked);
    // The interface proxy that `pointer` is, or null.
    ProxyCore* coreOf(IUnknown* pointer) {
        std::lock_guard lock(facesMutex_);
        for (const auto& f : faces_)
            if (f->proxy->face() == pointer)
                return f.get();
        return nullptr;
    }

    Connection& connection() { return *connection_; }
    std::uint64_t id() const { return id_; }
    std::uint32_t serverReferences = 0; // guarded by the connection's managersMutex_

    // Faces the server said the object answers (wire 2.6, faces): a QueryInterface for one of
    // them makes its proxy without asking. Only interfaces of this side's libraries are kept.
    void answers(const GUID* faces, std::size_t count) {
        std::lock_guard lock(facesMutex_);
        for (std::size_t i = 0; i < count; ++i)
            if (std::find_if(answered_.begin(), answered_.end(),
                             [&](const GUID& g) { return IsEqualIID(g, faces[i]); }) ==
                    answered_.end() &&
                findInterface(faces[i]))
                answered_.push_back(faces[i]);
    }

    // The snapshot of the widest face derived from the one the object was handed out as (wire
    // 2.6), in the entries' form that a proxy keeps (ProxyCore::snapshot): every face whose table
    // the widest's extends answers its gets from it, at its epoch.
    struct SharedSnapshot {
        std::mutex mutex;
        // Set once there is one (and then only changed under the mutex): a get of an object that
        // has none looks at it without the lock.
        std::atomic<const InterfaceMarshal*> marshal{nullptr};
        std::vector<unsigned char> entries;
        std::uint64_t epoch = ~std::uint64_t{0};
        std::size_t next = 0;
    } shared;

private:
    std::shared_ptr<Connection> connection_;
    const std::uint64_t id_;
    std::atomic<ULONG> references_{0};
    std::mutex facesMutex_;
    std::vector<std::unique_ptr<ProxyCore>> faces_;
    std::vector<GUID> answered_; // guarded by facesMutex_
};

namespace {

ProxyBase* makeDispatchProxy(ProxyCore* core);
ProxyBase* makeEnumProxy(ProxyCore* core);
ProxyBase* makeFactoryProxy(ProxyCore* core);
// Keeps the snapshot a reply carries from `at` on (u8 has, snapshot) in `core`, at `epoch`;
// a snapshot this side cannot read is left out.
void keepAnswerSnapshot(ProxyCore* core, const std::vector<unsigned char>& reply, std::size_t at,
                        std::uint64_t epoch);
// Reads the `items` (wire.h) that come with `value`, a _NewEnum's enumerator, and keeps them in
// its IEnumVARIANT proxy as fetched at `epoch`.
HRESULT keepFirstItems(Reader& in, const VARIANT& value, Connection& c, std::uint64_t epoch);
// Reads the `collection` (wire.h) that comes with `value`, an object a Call handed back, and keeps
// its enumerator in the object's proxy.
HRESULT keepCollectionItems(Reader& in, const VARIANT& value, Connection& c, std::uint64_t epoch);

HRESULT readError(Reader& in) {
    if (!in.u8()) {
        SetErrorInfo(0, nullptr);
        return S_OK;
    }
    const GUID guid = in.guid();
    BSTR source = in.bstr();
    BSTR description = in.bstr();
    BSTR helpFile = in.bstr();
    const DWORD context = in.u32();
    sky::ComPtr<ICreateErrorInfo> create;
    if (in.ok() && SUCCEEDED(CreateErrorInfo(create.put()))) {
        create->SetGUID(guid);
        create->SetSource(source);
        create->SetDescription(description);
        create->SetHelpFile(helpFile);
        create->SetHelpContext(context);
        if (auto info = create.tryAs<IErrorInfo>())
            SetErrorInfo(0, info.get());
    }
    SysFreeString(source);
    SysFreeString(description);
    SysFreeString(helpFile);
    return in.ok() ? S_OK : badStubData;
}

// Fails with `result`, its error information saying `text`.
HRESULT failWith(HRESULT result, const std::string& text) {
    sky::ComPtr<ICreateErrorInfo> create;
    if (SUCCEEDED(CreateErrorInfo(create.put()))) {
        create->SetGUID(GUID{});
        const std::u16string wide = sky::widen(text);
        create->SetDescription(const_cast<LPOLESTR>(wide.c_str()));
        if (auto info = create.tryAs<IErrorInfo>())
            SetErrorInfo(0, info.get());
    }
    return result;
}

// A server of another major version of the wire format: the two cannot understand each other's
// messages. The failure says which versions met.
HRESULT refusedForVersion(const Hello& answer) {
    return failWith(otherWireVersion,
                    "The object server speaks version " + std::to_string(answer.major) + "." +
                        std::to_string(answer.minor) +
                        " of the calls between processes; this program speaks version " +
                        std::to_string(wireMajor) + "." + std::to_string(wireMinor) +
                        ". Install the same version of both.");
}

// A server that serves as many connections as it may, of the caller's user or of all: the
// failure says which limit was met.
HRESULT refusedForConnections(const Hello& answer) {
    const std::string limit = std::to_string(answer.capacity);
    if (answer.status == tooManyOfUser)
        return failWith(tooManyOfUser,
                        "The object server already serves " + limit +
                            " connections of this user, the most it serves one user; close "
                            "other programs of this user that use it, or wait a minute for "
                            "idle ones to be closed, and try again.");
    return failWith(tooManyClients, "The object server already serves " + limit +
                                        " connections, the most it serves at once; try again "
                                        "later.");
}

std::shared_ptr<Connection> Connection::open(const std::filesystem::path& directory,
                                             const std::string& name, HRESULT& hr) {
    hr = REGDB_E_CLASSNOTREG;
    auto c = std::make_shared<Connection>();
    c->socket_ = sky::services::connectTo(directory, name);
    if (c->socket_ < 0) {
        if (errno == EACCES || errno == EPERM)
            hr = E_ACCESSDENIED;
        return nullptr;
    }
    // Only the machine's owner may serve here (the folder is the owner's alone): a peer of any
    // other account could only have taken the name, and is told nothing.
    sky::services::Peer peer;
    const uid_t owner = sky::machine::owner();
    if (!sky::services::peerOf(c->socket_, peer) || peer.uid != owner) {
        hr = failWith(HRESULT_FROM_WIN32(ERROR_WRONG_TARGET_NAME),
                      "The object server at " + (directory / name).string() + " runs as " +
                          sky::services::accountName(peer.uid) + ", not as the machine's owner (" +
                          sky::services::accountName(owner) + "): nothing was sent to it.");
        return nullptr;
    }
    const Hello hello{wireMagic, wireMajor, wireMinor, S_OK, 0};
    Hello answer{};
    int memory = -1;
    // A server that refuses the caller answers before it reads the greeting; its answer counts
    // even when the greeting could not be sent.
    sendHello(c->socket_, hello, -1);
    if (!receiveHello(c->socket_, answer, &memory, std::chrono::seconds(10)) ||
        answer.magic != wireMagic) {
        if (memory >= 0)
            close(memory);
        hr = CO_E_SERVER_EXEC_FAILURE;
        return nullptr;
    }
    // A server of another version refuses the greeting (an older one as bad data), or would
    // accept it where this program could not read its answers.
    if (answer.status == otherWireVersion ||
        (answer.major != wireMajor && (answer.status == S_OK || answer.status == badStubData))) {
        if (memory >= 0)
            close(memory);
        hr = refusedForVersion(answer);
        return nullptr;
    }
    if (answer.status != S_OK || memory < 0) {
        if (memory >= 0)
            close(memory);
        hr = answer.status == tooManyOfUser || answer.status == tooManyClients
                 ? refusedForConnections(answer)
             : answer.status != S_OK ? answer.status
                                     : CO_E_SERVER_EXEC_FAILURE;
        return nullptr;
    }
    c->parts_ = answer.minor >= 1;
    c->files_ = answer.minor >= 2;
    c->serverMinor_ = answer.minor;
    const bool attached = c->box_.attach(memory);
    close(memory);
    if (!attached) {
        hr = CO_E_SERVER_EXEC_FAILURE;
        return nullptr;
    }
    hr = S_OK;
    return c;
}

thread_local std::uint64_t Connection::replyEpoch_ = 0;

HRESULT Connection::transact(Kind kind, const Writer& body, std::vector<unsigned char>& reply,
                             std::size_t& bodyAt, const std::vector<HandedFile>& files, bool pure) {
    std::lock_guard lock(callMutex_);
    pure = pure || kind == Kind::Snapshot;
    if (!pure)
        epoch_.fetch_add(1, std::memory_order_acq_rel);
    replyEpoch_ = epoch_.load(std::memory_order_relaxed);
    const HRESULT hr = exchange(kind, body, reply, bodyAt, files);
    if (pure && FAILED(hr))
        epoch_.fetch_add(1, std::memory_order_acq_rel);
    return hr;
}

HRESULT Connection::exchange(Kind kind, const Writer& body, std::vector<unsigned char>& reply,
                             std::size_t& bodyAt, const std::vector<HandedFile>& files) {
    if (dead_)
        return RPC_E_DISCONNECTED;
    requestCount.fetch_add(1, std::memory_order_relaxed);
    Writer fileSection;
    std::vector<int> descriptors;
    if (!files.empty()) {
        // A server before 2.2 would open the file itself, with its own rights: it gets none.
        if (!files_)
            return failWith(otherWireVersion,
                            "The object server speaks version " + std::to_string(wireMajor) + "." +
                                std::to_string(serverMinor_) +
                                " of the calls between processes, which cannot take the file " +
                                sky::narrow(files.front().name) +
                                " that this program opens for it with its own rights; install "
                                "the same version of both.");
        if (files.size() > maxHandedFiles)
            return failWith(E_INVALIDARG, "A call may hand over at most " +
                                              std::to_string(maxHandedFiles) + " files.");
        for (const HandedFile& file : files) {
            writeFile(fileSection, file);
            if (file.file.fd >= 0)
                descriptors.push_back(file.file.fd);
        }
    }
    std::vector<std::pair<std::uint64_t, std::uint32_t>> releases;
    {
        std::lock_guard hold(releaseMutex_);
        releases.swap(releases_);
    }
    const std::size_t size = 8 + releases.size() * 12 + fileSection.size() + body.size();
    if (size > (parts_ ? maxMessage : mailboxCapacity)) {
        std::lock_guard hold(releaseMutex_);
        releases_.insert(releases_.end(), releases.begin(), releases.end());
        return E_OUTOFMEMORY;
    }
    // The descriptors go first, on the socket: the server takes them once it has the request.
    if (!descriptors.empty() && !sendFiles(socket_, descriptors)) {
        dead_ = true;
        return serverUnavailable;
    }
    const std::uint16_t kindWord[2] = {static_cast<std::uint16_t>(kind),
                                       static_cast<std::uint16_t>(files.size())};
    const auto count = static_cast<std::uint32_t>(releases.size());
    MailboxHeader& h = box_.header();
    if (size <= mailboxCapacity) {
        // One part: written straight into the mailbox.
        unsigned char* out = box_.data();
        auto put = [&](const void* data, std::size_t n) {
            if (n == 0) // an empty body may have no storage at all
                return;
            std::memcpy(out, data, n);
            out += n;
        };
        put(kindWord, 4);
        put(&count, 4);
        for (const auto& [id, refs] : releases) {
            put(&id, 8);
            put(&refs, 4);
        }
        put(fileSection.bytes().data(), fileSection.size());
        put(const_cast<Writer&>(body).bytes().data(), body.size());
        h.length = static_cast<std::uint32_t>(size);
    } else {
        // In parts: the whole message first, then the parts from it.
        Writer whole;
        whole.raw(kindWord, 4);
        whole.u32(count);
        for (const auto& [id, refs] : releases) {
            whole.u64(id);
            whole.u32(refs);
        }
        whole.raw(fileSection.bytes().data(), fileSection.size());
        whole.raw(const_cast<Writer&>(body).bytes().data(), body.size());
        const GoneCheck gone = [this] { return peerGone(socket_); };
        if (!putMessage(box_, Side::Client, whole.bytes().data(), whole.size(), Request, gone)) {
            dead_ = true;
            return serverUnavailable;
        }
    }
    // Spinning from here on, so that the server, seeing it with the reply, spins for the next
    // request; the store of the state orders it before.
    h.clientMode.store(Spinning, std::memory_order_relaxed);
    h.state.store(Request, std::memory_order_seq_cst);
    const std::uint32_t server = h.serverMode.load(std::memory_order_seq_cst);
    if (server == Asleep)
        futexWake(h.state);
    // A server that spun when the request came takes it at once (it stops spinning) unless it
    // is off its processor.
    spin_.spin([&] { return h.state.load(std::memory_order_acquire) == Reply; },
               [&] { return h.serverMode.load(std::memory_order_relaxed) != Spinning; },
               server == Spinning);
    auto checked = std::chrono::steady_clock::now();
    while (h.state.load(std::memory_order_acquire) != Reply) {
        const auto now = std::chrono::steady_clock::now();
        if (now - checked >= livenessCheck) {
            checked = now;
            if (peerGone(socket_)) {
                h.clientMode.store(Working, std::memory_order_relaxed);
                dead_ = true;
                return serverUnavailable;
            }
        }
        h.clientMode.store(Asleep, std::memory_order_seq_cst);
        if (h.state.load(std::memory_order_seq_cst) != Reply)
            futexWait(h.state, Request, livenessCheck);
        h.clientMode.store(Working, std::memory_order_relaxed);
    }
    h.clientMode.store(Working, std::memory_order_relaxed);
    const GoneCheck gone = [this] { return peerGone(socket_); };
    if (!takeMessage(box_, Side::Client, reply, Reply, gone)) {
        dead_ = true;
        return serverUnavailable;
    }
    h.state.store(Idle, std::memory_order_release);

    Reader in(reply.data(), reply.size());
    const HRESULT hr = in.i32();
    if (!in.ok() || FAILED(readError(in)))
        return badStubData;
    bodyAt = in.position();
    return hr;
}

HRESULT Connection::putObject(Writer& out, IUnknown* object, REFIID iid) {
    if (!object) {
        writeReference(out, 0, IID_NULL);
        return S_OK;
    }
    sky::ComPtr<IUnknown> identity;
    if (FAILED(object->QueryInterface(IID_IUnknown, identity.putVoid())))
        return E_NOINTERFACE;
    std::lock_guard lock(managersMutex_);
    for (const auto& [id, manager] : managers_)
        if (static_cast<IUnknown*>(manager) == identity.get()) {
            writeReference(out, id, manager->faceOf(object, iid));
            return S_OK;
        }
    // Only objects of the server itself travel back to it; this process serves no calls.
    return E_NOTIMPL;
}

HRESULT Connection::getObject(Reader& in, REFIID iid, void** ppv) {
    *ppv = nullptr;
    const Reference reference = readReference(in);
    if (!in.ok())
        return badStubData;
    if (reference.id == 0)
        return S_OK;
    ProxyManager* manager = nullptr;
    {
        std::lock_guard lock(managersMutex_);
        auto& slot = managers_[reference.id];
        if (!slot)
            slot = new ProxyManager(shared_from_this(), reference.id);
        manager = slot;
        ++manager->serverReferences;
        manager->AddRef();
    }
    HRESULT hr = manager->face(faceToHandOut(iid, reference.face), true, ppv);
    // An identity that the server says is an enumerator (2.4) gets its IEnumVARIANT proxy now,
    // so that the QueryInterface for it is answered here.
    if (SUCCEEDED(hr) && IsEqualIID(iid, IID_IUnknown) &&
        IsEqualIID(reference.face, IID_IEnumVARIANT)) {
        void* enumerator = nullptr;
        if (SUCCEEDED(manager->face(IID_IEnumVARIANT, true, &enumerator)))
            static_cast<IUnknown*>(enumerator)->Release();
    }
    manager->Release();
    return hr;
}

} // namespace

ULONG ProxyManager::Release() {
    const ULONG left = --references_;
    if (left != 0)
        return left;
    std::uint32_t handBack = 0;
    {
        std::lock_guard lock(connection_->managersMutex_);
        if (references_.load() != 0)
            return 0;
        connection_->managers_.erase(id_);
        handBack = serverReferences;
    }
    connection_->releaseLater(id_, handBack);
    delete this;
    return 0;
}

HRESULT ProxyManager::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    if (IsEqualIID(riid, IID_IUnknown)) {
        AddRef();
        *ppv = static_cast<IUnknown*>(this);
        return S_OK;
    }
    return face(riid, false, ppv);
}

HRESULT ProxyManager::face(REFIID iid, bool known, void** ppv) {
    *ppv = nullptr;
    if (IsEqualIID(iid, IID_IUnknown)) {
        AddRef();
        *ppv = static_cast<IUnknown*>(this);
        return S_OK;
    }
    std::lock_guard lock(facesMutex_);
    for (const auto& f : faces_)
        if (IsEqualIID(f->iid, iid)) {
            AddRef();
            *ppv = f->proxy->face();
            return S_OK;
        }
    const InterfaceMarshal* marshal = findInterface(iid);
    ProxyBase* (*make)(ProxyCore*) = marshal                              ? marshal->makeProxy
                                     : IsEqualIID(iid, IID_IDispatch)     ? makeDispatchProxy
                                     : IsEqualIID(iid, IID_IEnumVARIANT)  ? makeEnumProxy
                                     : IsEqualIID(iid, IID_IClassFactory) ? makeFactoryProxy
                                                                          : nullptr;
    if (!make)
        return E_NOINTERFACE;
    // A face the server listed as answered (2.6) needs no QueryInterface; its gets are answered
    // from the object's shared snapshot or, failing that, fetch its own.
    if (!known)
        known = std::any_of(answered_.begin(), answered_.end(),
                            [&](const GUID& g) { return IsEqualIID(g, iid); });
    std::vector<unsigned char> reply;
    std::size_t at = 0;
    std::uint64_t epoch = 0;
    if (!known) {
        Writer body;
        body.u64(id_);
        body.guid(iid);
        const HRESULT hr =
            connection_->transact(Kind::QueryInterface, body, reply, at, {}, /*pure=*/true);
        if (FAILED(hr))
            return hr;
        epoch = Connection::replyEpoch();
    }
    auto core = std::make_unique<ProxyCore>();
    core->manager = this;
    core->iid = iid;
    core->marshal = marshal;
    core->proxy.reset(make(core.get()));
    // A 2.4 server sends the face's snapshot with its answer.
    if (!known && connection_->takesSnapshots())
        keepAnswerSnapshot(core.get(), reply, at, epoch);
    AddRef();
    *ppv = core->proxy->face();
    faces_.push_back(std::move(core));
    return S_OK;
}

GUID ProxyManager::faceOf(IUnknown* pointer, REFIID asked) {
    if (!IsEqualIID(asked, IID_IDispatch) && !IsEqualIID(asked, IID_IUnknown))
        return asked;
    if (pointer == static_cast<IUnknown*>(this))
        return IID_IUnknown;
    std::lock_guard lock(facesMutex_);
    for (const auto& f : faces_)
        if (f->proxy->face() == pointer)
            return f->iid;
    return asked;
}

HRESULT proxyQueryInterface(ProxyCore* core, REFIID riid, void** ppv) {
    // A dual interface asked for IDispatch answers with itself, as the object behind it does:
    // by name, a client reaches the members of the face it holds (the farm's Windows settings),
    // not those of the object's default interface.
    if (ppv && core->marshal && IsEqualIID(riid, IID_IDispatch)) {
        core->manager->AddRef();
        *ppv = core->proxy->face();
        return S_OK;
    }
    return core->manager->QueryInterface(riid, ppv);
}
ULONG proxyAddRef(ProxyCore* core) {
    return core->manager->AddRef();
}
ULONG proxyRelease(ProxyCore* core) {
    return core->manager->Release();
}

HRESULT proxyGetTypeInfoCount(ProxyCore* core, UINT* pctinfo) {
    if (!pctinfo)
        return E_INVALIDARG;
    // Type information comes from this process's own tables of the interface.
    *pctinfo = core->marshal ? 1 : 0;
    return S_OK;
}

HRESULT proxyGetTypeInfo(ProxyCore* core, UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo) {
    if (!core->marshal) {
        if (ppTInfo)
            *ppTInfo = nullptr;
        return E_NOTIMPL;
    }
    return dispatch::getTypeInfo(*core->marshal->table, iTInfo, lcid, ppTInfo);
}

namespace {

// The files a call's file arguments name, opened with this process's own rights before the call
// and handed over with it. Closed after the call; a file that the open created is removed again
// when the call fails and the file is still as the open made it (empty, the same file), so that
// a call that wrote nothing leaves nothing behind.
class CallFiles {
public:
    CallFiles() = default;
    CallFiles(const CallFiles&) = delete;
    CallFiles& operator=(const CallFiles&) = delete;
    ~CallFiles() {
        for (HandedFile& file : files_)
            if (file.file.fd >= 0)
                close(file.file.fd);
    }

    void open(std::u16string name, dispatch::FileUse use) {
        HandedFile file;
        bool created = false;
        file.file = openMemberFile(name, use, &created);
        file.name = std::move(name);
        file.use = use;
        struct stat info {};
        if (created && fstat(file.file.fd, &info) == 0)
            made_.push_back({file.name, info.st_dev, info.st_ino});
        files_.push_back(std::move(file));
    }
    const std::vector<HandedFile>& files() const { return files_; }

    // After the call: what a failed call created goes again.
    HRESULT finish(HRESULT hr) {
        if (SUCCEEDED(hr))
            return hr;
        for (const Made& made : made_) {
            const auto host = sky::machine::toHostPath(made.name);
            struct stat info {};
            if (host && lstat(host->c_str(), &info) == 0 && info.st_dev == made.device &&
                info.st_ino == made.inode && S_ISREG(info.st_mode) && info.st_size == 0)
                unlink(host->c_str());
        }
        return hr;
    }

private:
    struct Made {
        std::u16string name;
        dev_t device;
        ino_t inode;
    };
    std::vector<HandedFile> files_;
    std::vector<Made> made_;
};

std::u16string textOf(BSTR text) {
    return text ? std::u16string(text, SysStringLen(text)) : std::u16string();
}

// The member that IDispatch::Invoke with these flags calls, or null.
const dispatch::Member* invokedMember(const dispatch::Table& table, DISPID id, WORD flags) {
    for (WORD i = 0; i < table.memberCount; ++i)
        if (table.members[i].dispid == id && (table.members[i].invkind & flags))
            return &table.members[i];
    return nullptr;
}

// The argument of parameter `index` among Invoke's arguments (named or by position), or null.
const VARIANT* invokeArgument(const DISPPARAMS& params, UINT index) {
    for (UINT j = 0; j < params.cNamedArgs; ++j)
        if (params.rgdispidNamedArgs[j] == static_cast<DISPID>(index))
            return &params.rgvarg[j];
    const UINT positional = params.cArgs - params.cNamedArgs;
    return index < positional ? &params.rgvarg[params.cArgs - 1 - index] : nullptr;
}

// The entries of a snapshot (wire.h) as a proxy keeps them.
using SnapshotValues = std::vector<unsigned char>;

// Passes over a snapshot member's value of type `vt` (a plain value or a string, the only types
// a snapshot member has); false for any other type.
bool skipSnapshotValue(Reader& in, VARTYPE vt) {
    if (vt == VT_BSTR) {
        const std::uint32_t bytes = in.u32();
        return in.ok() && (bytes == 0xFFFFFFFFu || in.skip(bytes));
    }
    if (vt == VT_DISPATCH || vt == VT_UNKNOWN)
        return false;
    const std::size_t size = automation::valueSize(vt);
    return size != 0 && in.skip(size);
}

// Reads a `snapshot` (wire.h) into `values`, checked against `table` (none: read and left out).
// False, with nothing kept, when it names a member the table does not mark, names one twice or
// out of order, or gives a value of another type than the member's.
bool readSnapshot(Reader& in, const dispatch::Table* table, Connection& c, SnapshotValues& values) {
    values.clear();
    const std::uint16_t count = in.u16();
    const unsigned char* first = in.current();
    int last = -1;
    for (std::uint16_t i = 0; i < count && in.ok(); ++i) {
        const std::uint16_t index = in.u16();
        if (!table) {
            VARIANT value;
            VariantInit(&value);
            if (in.ok() && SUCCEEDED(readVariant(in, value, c)))
                VariantClear(&value);
            else
                in.fail();
            continue;
        }
        const VARTYPE vt = in.u16();
        if (!in.ok() || index >= table->memberCount || static_cast<int>(index) <= last ||
            !table->members[index].snapshot || table->members[index].paramCount != 0 ||
            vt != table->members[index].resultVt || !skipSnapshotValue(in, vt)) {
            in.fail();
            break;
        }
        last = index;
    }
    if (!in.ok())
        return false;
    if (table)
        values.assign(first, in.current());
    return true;
}

// Keeps `values` as the snapshot of `core`'s interface at `epoch`.
void keepSnapshot(ProxyCore* core, SnapshotValues& values, std::uint64_t epoch) {
    core->dropSnapshot();
    core->snapshot.swap(values);
    core->snapshotEpoch = epoch;
}

void keepAnswerSnapshot(ProxyCore* core, const std::vector<unsigned char>& reply, std::size_t at,
                        std::uint64_t epoch) {
    Connection& c = core->manager->connection();
    Reader in(reply.data() + at, reply.size() - at);
    SnapshotValues values;
    if (in.u8() == 0 || !core->marshal || !readSnapshot(in, core->marshal->table, c, values) ||
        !in.atEnd())
        return;
    std::lock_guard lock(core->snapshotMutex);
    keepSnapshot(core, values, epoch);
}

// Fetches the snapshot of `core`'s interface; false when the server gave none (a failure, or a
// reply this side cannot read: the caller then calls the member).
bool fetchSnapshot(ProxyCore* core, Connection& c) {
    core->dropSnapshot();
    Writer body;
    body.u64(core->manager->id());
    body.guid(core->iid);
    std::vector<unsigned char> reply;
    std::size_t at = 0;
    if (FAILED(c.transact(Kind::Snapshot, body, reply, at)))
        return false;
    Reader in(reply.data() + at, reply.size() - at);
    SnapshotValues values;
    if (!readSnapshot(in, core->marshal->table, c, values) || !in.atEnd())
        return false;
    keepSnapshot(core, values, c.replyEpoch());
    return true;
}

// Gives the value of member `index` from a snapshot's `entries` to `destination`; false when the
// member is not among them. The entries were checked when they came: each is a marked member's,
// of its type. Gets mostly come in the members' order: the search starts after the entry read
// last (`next`), and from the first entry when the member is not found after it.
bool readEntry(const std::vector<unsigned char>& entries, std::size_t& next, unsigned index,
               void* destination) {
    for (std::size_t from : {next, std::size_t{0}}) {
        Reader in(entries.data() + from, entries.size() - from);
        while (in.remaining() != 0) {
            const std::uint16_t member = in.u16();
            if (member > index)
                break;
            if (member != index) {
                if (!skipSnapshotValue(in, in.u16()))
                    return false;
                continue;
            }
            // The value goes straight to the caller's variable, as storeTyped would put it there:
            // a string as a new BSTR, a plain value as its bytes.
            const VARTYPE vt = in.u16();
            if (vt == VT_BSTR) {
                BSTR text = in.bstr();
                if (!in.ok())
                    return false;
                *static_cast<BSTR*>(destination) = text;
            } else if (vt == VT_DISPATCH || vt == VT_UNKNOWN ||
                       !in.raw(destination, automation::valueSize(vt))) {
                return false; // never kept (readSnapshot)
            }
            next = static_cast<std::size_t>(in.current() - entries.data());
            return true;
        }
        if (from == 0)
            break;
    }
    return false;
}

// Answers a get of member `index` of `core`'s interface from the object's shared snapshot (2.6):
// 1 when answered, 0 when the member is not in it (the gate refused it or it failed: it is
// called), -1 when there is none of `epoch` or its table does not extend this interface's.
int answerFromShared(ProxyCore* core, unsigned index, std::uint64_t epoch, void* destination) {
    ProxyManager::SharedSnapshot& shared = core->manager->shared;
    if (!shared.marshal.load(std::memory_order_acquire))
        return -1;
    std::lock_guard lock(shared.mutex);
    const InterfaceMarshal* widest = shared.marshal.load(std::memory_order_relaxed);
    if (shared.epoch != epoch)
        return -1;
    if (widest != core->marshal) {
        if (core->extendedBy != widest) {
            core->extended = extendsInterface(*widest, *core->marshal);
            core->extendedBy = widest;
        }
        if (!core->extended)
            return -1;
    }
    return readEntry(shared.entries, shared.next, index, destination) ? 1 : 0;
}

// Answers a get of snapshot member `index` from the snapshot of `core`'s interface, fetching one
// when the proxy holds none of the connection's present epoch; false when the member is not in
// it (the gate refused it, it failed, or the server takes no Snapshot): it is then called.
bool answerFromSnapshot(ProxyCore* core, unsigned index, void* destination) {
    Connection& c = core->manager->connection();
    if (!c.takesSnapshots())
        return false;
    if (const int shared = answerFromShared(core, index, c.epoch(), destination); shared >= 0)
        return shared == 1;
    std::lock_guard lock(core->snapshotMutex);
    if (core->snapshotEpoch != c.epoch() && !fetchSnapshot(core, c))
        return false;
    return readEntry(core->snapshot, core->snapshotNext, index, destination);
}

// Reads the snapshot that comes with `item` (of a Next, or the object a call handed back) and
// keeps it in the item's proxy.
HRESULT keepItemSnapshot(Reader& in, const VARIANT& item, Connection& c, std::uint64_t epoch) {
    ProxyCore* core = nullptr;
    sky::ComPtr<IUnknown> identity;
    if ((item.vt == VT_DISPATCH || item.vt == VT_UNKNOWN) && item.punkVal &&
        SUCCEEDED(item.punkVal->QueryInterface(IID_IUnknown, identity.putVoid())))
        // Every object a reply hands out is one of this connection's proxy managers.
        core = static_cast<ProxyManager*>(identity.get())->coreOf(item.punkVal);
    const dispatch::Table* table = core && core->marshal ? core->marshal->table : nullptr;
    // A 2.6 server lists the faces derived from the item's that the object answers, and the
    // snapshot is of the first (the widest), which must extend the item's face.
    GUID faces[maxDerivedFaces];
    std::uint8_t count = 0;
    const InterfaceMarshal* widest = nullptr;
    if (c.listsFaces()) {
        count = in.u8();
        if (!in.ok() || count > maxDerivedFaces)
            return badStubData;
        for (std::uint8_t i = 0; i < count; ++i)
            faces[i] = in.guid();
        if (!in.ok())
            return badStubData;
        if (count > 0 && table) {
            widest = findInterface(faces[0]);
            if (widest && !extendsInterface(*widest, *core->marshal))
                return badStubData;
            table = widest ? widest->table : nullptr; // unknown here: read and left out
        }
    }
    SnapshotValues values;
    if (!readSnapshot(in, table, c, values))
        return badStubData;
    if (!core || !core->marshal)
        return S_OK;
    if (count > 0)
        core->manager->answers(faces, count);
    if (widest) {
        ProxyManager::SharedSnapshot& shared = core->manager->shared;
        std::lock_guard lock(shared.mutex);
        shared.entries.swap(values);
        shared.marshal.store(widest, std::memory_order_release);
        shared.epoch = epoch;
        shared.next = 0;
    } else if (table) {
        std::lock_guard lock(core->snapshotMutex);
        keepSnapshot(core, values, epoch);
    }
    return S_OK;
}

} // namespace

std::uint64_t requestsSent() {
    return requestCount.load(std::memory_order_relaxed);
}

HRESULT callMember(ProxyCore* core, unsigned index, void** args) {
    if (!core->marshal || index >= core->marshal->table->memberCount)
        return E_UNEXPECTED;
    const dispatch::Member& m = core->marshal->table->members[index];
    void* destination = nullptr;
    if (m.resultVt != VT_EMPTY) {
        destination = *static_cast<void**>(args[m.paramCount]);
        if (!destination)
            return E_POINTER;
        clearTyped(m.resultVt, destination);
    }
    // A snapshot member: a getter of a value may be answered from the snapshot; its call, and
    // that of a getter of an object that only reads, ends none.
    const bool readsOnly = m.snapshot && m.paramCount == 0 && destination;
    const bool fromSnapshot = readsOnly && m.resultVt != VT_DISPATCH && m.resultVt != VT_UNKNOWN;
    if (fromSnapshot && answerFromSnapshot(core, index, destination))
        return S_OK;
    Connection& c = core->manager->connection();
    // A _NewEnum whose enumerator came with the object (wire 2.5).
    if (m.dispid == DISPID_NEWENUM && m.paramCount == 0 && destination &&
        (m.resultVt == VT_UNKNOWN || m.resultVt == VT_DISPATCH))
        if (sky::ComPtr<IUnknown> kept = core->takeNewEnum(c.epoch())) {
            const IID* iid = core->marshal->resultIids ? core->marshal->resultIids[index] : nullptr;
            void* pointer = nullptr;
            const HRESULT hr = kept->QueryInterface(
                iid ? *iid : (m.resultVt == VT_DISPATCH ? IID_IDispatch : IID_IUnknown), &pointer);
            if (FAILED(hr))
                return hr;
            *static_cast<IUnknown**>(destination) = static_cast<IUnknown*>(pointer);
            return S_OK;
        }
    Writer body;
    body.u64(core->manager->id());
    body.guid(core->iid);
    body.u16(static_cast<std::uint16_t>(index));
    for (WORD i = 0; i < m.paramCount; ++i)
        if (HRESULT hr = writeTyped(body, m.params[i].vt, args[i], m.params[i].iid, c); FAILED(hr))
            return hr;
    // The file arguments are opened once the request is written: nothing fails after them but
    // the call itself.
    CallFiles files;
    for (WORD i = 0; i < m.paramCount; ++i)
        if (m.params[i].file != dispatch::FileUse::None && m.params[i].vt == VT_BSTR)
            files.open(textOf(*static_cast<BSTR*>(args[i])), m.params[i].file);
    std::vector<unsigned char> reply;
    std::size_t at = 0;
    const HRESULT hr =
        files.finish(c.transact(Kind::Call, body, reply, at, files.files(), readsOnly));
    if (FAILED(hr) || !destination)
        return hr;
    const std::uint64_t epoch = Connection::replyEpoch();
    Reader in(reply.data() + at, reply.size() - at);
    VARIANT value;
    const IID* iid = core->marshal->resultIids ? core->marshal->resultIids[index] : nullptr;
    if (HRESULT read = readTyped(in, m.resultVt, iid, value, c); FAILED(read))
        return read;
    // An object handed back by a 2.4 server brings its snapshot (wire.h), and a _NewEnum's
    // enumerator from a 2.5 server its first items.
    if (c.takesSnapshots() && m.resultVt != VT_VARIANT) {
        HRESULT read = in.u8() != 0 ? keepItemSnapshot(in, value, c, epoch) : S_OK;
        if (SUCCEEDED(read) && in.ok() && c.givesFirstItems())
            read = m.dispid == DISPID_NEWENUM ? keepFirstItems(in, value, c, epoch)
                                              : keepCollectionItems(in, value, c, epoch);
        if (FAILED(read) || !in.ok()) {
            VariantClear(&value);
            return FAILED(read) ? read : badStubData;
        }
    }
    storeTyped(m.resultVt, value, destination);
    return hr;
}

HRESULT proxyGetIDsOfNames(ProxyCore* core, REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID,
                           DISPID* rgDispId) {
    if (!IsEqualIID(riid, IID_NULL))
        return DISP_E_UNKNOWNINTERFACE;
    if (!rgszNames || !rgDispId || cNames == 0 || cNames > 64)
        return E_INVALIDARG;
    Writer body;
    body.u64(core->manager->id());
    body.guid(core->iid);
    body.u32(cNames);
    for (UINT i = 0; i < cNames; ++i)
        body.str(rgszNames[i],
                 rgszNames[i] ? static_cast<std::uint32_t>(sky::length(rgszNames[i])) : 0);
    std::vector<unsigned char> reply;
    std::size_t at = 0;
    const HRESULT hr = core->manager->connection().transact(Kind::GetIDsOfNames, body, reply, at);
    Reader in(reply.data() + at, reply.size() - at);
    for (UINT i = 0; i < cNames; ++i)
        rgDispId[i] = DISPID_UNKNOWN;
    if (FAILED(hr) && hr != DISP_E_UNKNOWNNAME)
        return hr;
    for (UINT i = 0; i < cNames; ++i)
        rgDispId[i] = in.i32();
    return in.ok() ? hr : badStubData;
}

HRESULT proxyInvoke(ProxyCore* core, DISPID dispIdMember, REFIID riid, LCID, WORD wFlags,
                    DISPPARAMS* pDispParams, VARIANT* pVarResult, EXCEPINFO* pExcepInfo,
                    UINT* puArgErr) {
    if (!IsEqualIID(riid, IID_NULL))
        return DISP_E_UNKNOWNINTERFACE;
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    const DISPPARAMS& params = pDispParams ? *pDispParams : none;
    if (params.cArgs > 64 || params.cNamedArgs > params.cArgs || (params.cArgs && !params.rgvarg))
        return E_INVALIDARG;
    Connection& c = core->manager->connection();
    // A _NewEnum whose enumerator came with the object (wire 2.5).
    if (dispIdMember == DISPID_NEWENUM && params.cArgs == 0 && pVarResult &&
        !(wFlags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)))
        if (sky::ComPtr<IUnknown> kept = core->takeNewEnum(c.epoch())) {
            VariantInit(pVarResult);
            pVarResult->vt = VT_UNKNOWN;
            pVarResult->punkVal = kept.detach();
            return S_OK;
        }
    Writer body;
    body.u64(core->manager->id());
    body.guid(core->iid);
    body.i32(dispIdMember);
    body.u16(wFlags);
    body.u32(params.cArgs);
    for (UINT i = 0; i < params.cArgs; ++i)
        if (HRESULT hr = writeVariant(body, params.rgvarg[i], c); FAILED(hr))
            return hr;
    body.u32(params.cNamedArgs);
    for (UINT i = 0; i < params.cNamedArgs; ++i)
        body.i32(params.rgdispidNamedArgs[i]);
    body.u8(pVarResult != nullptr);
    body.u8(pExcepInfo != nullptr);
    if (pVarResult)
        VariantInit(pVarResult);
    // File arguments of the member called, by the table of the face this proxy stands for, as
    // the member will read them (converted to a string as the object's Invoke converts them).
    CallFiles files;
    const dispatch::Member* m =
        core->marshal ? invokedMember(*core->marshal->table, dispIdMember, wFlags) : nullptr;
    // A get of a snapshot member by name ends no snapshot, as its call by position does.
    const bool readsOnly = m && m->snapshot && params.cArgs == 0 &&
                           !(wFlags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF));
    if (m)
        for (WORD i = 0; i < m->paramCount; ++i) {
            const VARIANT* argument =
                m->params[i].file != dispatch::FileUse::None ? invokeArgument(params, i) : nullptr;
            VARIANT name;
            VariantInit(&name);
            if (argument && SUCCEEDED(VariantChangeType(&name, argument, 0, VT_BSTR)))
                files.open(textOf(name.bstrVal), m->params[i].file);
            VariantClear(&name);
        }
    std::vector<unsigned char> reply;
    std::size_t at = 0;
    HRESULT hr = files.finish(c.transact(Kind::Invoke, body, reply, at, files.files(), readsOnly));
    const std::uint64_t epoch = Connection::replyEpoch();
    if (at >= reply.size())
        return hr;
    Reader in(reply.data() + at, reply.size() - at);
    VARIANT result;
    if (HRESULT read = readVariant(in, result, c); FAILED(read))
        return read;
    const UINT argErr = in.u32();
    EXCEPINFO exception{};
    exception.wCode = in.u16();
    exception.bstrSource = in.bstr();
    exception.bstrDescription = in.bstr();
    exception.bstrHelpFile = in.bstr();
    exception.dwHelpContext = in.u32();
    exception.scode = in.i32();
    // A _NewEnum's enumerator from a 2.5 server brings its first items.
    if (in.ok() && SUCCEEDED(hr) && dispIdMember == DISPID_NEWENUM && c.givesFirstItems() &&
        FAILED(keepFirstItems(in, result, c, epoch)))
        in.fail();
    if (!in.ok()) {
        VariantClear(&result);
        hr = badStubData;
    }
    if (puArgErr && (hr == DISP_E_TYPEMISMATCH || hr == DISP_E_PARAMNOTFOUND))
        *puArgErr = argErr;
    if (pExcepInfo && hr == DISP_E_EXCEPTION) {
        *pExcepInfo = exception;
    } else {
        SysFreeString(exception.bstrSource);
        SysFreeString(exception.bstrDescription);
        SysFreeString(exception.bstrHelpFile);
    }
    if (pVarResult)
        *pVarResult = result;
    else
        VariantClear(&result);
    return hr;
}

namespace {

class EnumProxy final : public ProxyUnknown<IEnumVARIANT> {
public:
    using ProxyUnknown::ProxyUnknown;
    ~EnumProxy() override { dropAhead(); }

    // Keeps the first items of a _NewEnum's answer (wire.h, items), fetched at `epoch`; `ended`
    // when the enumerator has no more after them.
    void keepAhead(std::vector<VARIANT>& items, bool ended, std::uint64_t epoch) {
        std::lock_guard lock(mutex_);
        dropAhead();
        ahead_.swap(items);
        next_ = 0;
        handedOut_ = 0;
        ended_ = ended;
        aheadEpoch_ = epoch;
        holding_ = true;
    }

    HRESULT STDMETHODCALLTYPE Next(ULONG celt, VARIANT* rgVar, ULONG* pCeltFetched) override {
        if (pCeltFetched)
            *pCeltFetched = 0;
        if (!rgVar || celt > 4096 || (celt > 1 && !pCeltFetched))
            return E_INVALIDARG;
        std::lock_guard lock(mutex_);
        Connection& c = core()->manager->connection();
        if (HRESULT hr = catchUp(c); FAILED(hr))
            return hr;
        ULONG n = 0;
        for (; holding_ && n < celt && next_ < ahead_.size(); ++n, ++next_, ++handedOut_) {
            rgVar[n] = ahead_[next_]; // its references move along
            VariantInit(&ahead_[next_]);
        }
        if (holding_ && next_ == ahead_.size()) {
            if (ended_ && n < celt) {
                // The enumerator said it has no more, and nothing this client did since could
                // have given it more (catchUp).
                if (pCeltFetched)
                    *pCeltFetched = n;
                return S_FALSE;
            }
            if (!ended_)
                dropAhead(); // the server's enumerator stands where this side's reading does
        }
        ULONG more = 0;
        const HRESULT hr = n < celt ? fetch(celt - n, rgVar + n, more) : S_OK;
        if (FAILED(hr)) {
            for (ULONG k = 0; k < n; ++k)
                VariantClear(&rgVar[k]);
            return hr;
        }
        if (pCeltFetched)
            *pCeltFetched = n + more;
        return hr;
    }
    HRESULT STDMETHODCALLTYPE Skip(ULONG celt) override {
        std::lock_guard lock(mutex_);
        Connection& c = core()->manager->connection();
        if (HRESULT hr = catchUp(c); FAILED(hr))
            return hr;
        ULONG n = 0;
        for (; holding_ && n < celt && next_ < ahead_.size(); ++n, ++next_, ++handedOut_)
            VariantClear(&ahead_[next_]);
        if (holding_ && next_ == ahead_.size()) {
            if (ended_)
                return n < celt ? S_FALSE : S_OK;
            dropAhead();
        }
        if (n == celt)
            return S_OK;
        Writer body = request();
        body.u32(celt - n);
        return send(Kind::EnumSkip, body);
    }
    HRESULT STDMETHODCALLTYPE Reset() override {
        std::lock_guard lock(mutex_);
        dropAhead();
        Writer body = request();
        return send(Kind::EnumReset, body);
    }
    HRESULT STDMETHODCALLTYPE Clone(IEnumVARIANT** ppEnum) override {
        if (!ppEnum)
            return E_POINTER;
        *ppEnum = nullptr;
        std::lock_guard lock(mutex_);
        Connection& c = core()->manager->connection();
        if (HRESULT hr = catchUp(c); FAILED(hr))
            return hr;
        Writer body = request();
        std::vector<unsigned char> reply;
        std::size_t at = 0;
        const HRESULT hr = c.transact(Kind::EnumClone, body, reply, at);
        if (FAILED(hr))
            return hr;
        Reader in(reply.data() + at, reply.size() - at);
        const HRESULT got = c.getObject(in, IID_IEnumVARIANT, reinterpret_cast<void**>(ppEnum));
        if (FAILED(got) || !*ppEnum || !holding_)
            return got;
        // The server's clone stands where the server's enumerator does, after the items this
        // side still holds: the clone gets them too.
        std::vector<VARIANT> rest;
        for (std::size_t i = next_; i < ahead_.size(); ++i) {
            VARIANT& copy = rest.emplace_back();
            VariantInit(&copy);
            VariantCopy(&copy, &ahead_[i]);
        }
        auto* clone = static_cast<EnumProxy*>(*ppEnum);
        clone->keepAhead(rest, ended_, aheadEpoch_);
        clone->handedOut_ = handedOut_;
        return got;
    }

private:
    Writer request() {
        Writer body;
        body.u64(core()->manager->id());
        return body;
    }
    HRESULT send(Kind kind, const Writer& body) {
        std::vector<unsigned char> reply;
        std::size_t at = 0;
        return core()->manager->connection().transact(kind, body, reply, at);
    }
    void dropAhead() {
        for (VARIANT& v : ahead_)
            VariantClear(&v);
        ahead_.clear();
        next_ = 0;
        holding_ = false;
    }
    // Items kept from a _NewEnum's answer are good while the connection's epoch is the one they
    // were fetched at (a live enumerator could answer otherwise after a change). Once it moved,
    // they are dropped, and the server's enumerator, which fetched them, is set back to where
    // this side's reading stands: Reset, then Skip of the items handed out.
    HRESULT catchUp(Connection& c) {
        if (!holding_ || aheadEpoch_ == c.epoch())
            return S_OK;
        // Items not handed out yet: the server's enumerator is past them.
        const bool behind = next_ < ahead_.size();
        const ULONG handedOut = handedOut_;
        dropAhead();
        if (!behind)
            return S_OK;
        Writer reset = request();
        HRESULT hr = send(Kind::EnumReset, reset);
        if (SUCCEEDED(hr) && handedOut > 0) {
            Writer skip = request();
            skip.u32(handedOut);
            hr = send(Kind::EnumSkip, skip);
        }
        return FAILED(hr) ? hr : S_OK;
    }
    // Asks the server for `count` items; each item's snapshot comes with it (wire 2.4): reading
    // an item's properties after it costs no round trip more.
    HRESULT fetch(ULONG count, VARIANT* rgVar, ULONG& fetched) {
        Writer body = request();
        body.u32(count);
        Connection& c = core()->manager->connection();
        const bool snapshots = c.takesSnapshots();
        if (snapshots)
            body.u8(1);
        std::vector<unsigned char> reply;
        std::size_t at = 0;
        const HRESULT hr = c.transact(Kind::EnumNext, body, reply, at, {}, /*pure=*/true);
        if (FAILED(hr))
            return hr;
        const std::uint64_t epoch = Connection::replyEpoch();
        Reader in(reply.data() + at, reply.size() - at);
        const std::uint32_t got = in.u32();
        if (!in.ok() || got > count)
            return badStubData;
        if (HRESULT read = readItems(in, got, rgVar, c, snapshots, epoch); FAILED(read))
            return read;
        fetched = got;
        return hr;
    }

    std::mutex mutex_;
    std::vector<VARIANT> ahead_; // items of the _NewEnum's answer not yet handed out, from next_
    std::size_t next_ = 0;
    ULONG handedOut_ = 0;  // items handed out (or skipped) since the _NewEnum
    bool ended_ = false;   // the enumerator had no more after ahead_
    bool holding_ = false; // ahead_ and ended_ stand for the server's enumerator
    std::uint64_t aheadEpoch_ = 0;

public:
    // Reads `count` items of a Next's reply into `out` (each with its snapshot when `snapshots`);
    // on failure none is kept.
    static HRESULT readItems(Reader& in, std::uint32_t count, VARIANT* out, Connection& c,
                             bool snapshots, std::uint64_t epoch) {
        for (std::uint32_t i = 0; i < count; ++i) {
            HRESULT read = readVariant(in, out[i], c);
            if (SUCCEEDED(read) && snapshots && in.u8() != 0)
                read = keepItemSnapshot(in, out[i], c, epoch);
            if (FAILED(read) || !in.ok()) {
                for (std::uint32_t k = 0; k <= i; ++k)
                    VariantClear(&out[k]);
                return FAILED(read) ? read : badStubData;
            }
        }
        return S_OK;
    }
};

HRESULT keepCollectionItems(Reader& in, const VARIANT& value, Connection& c, std::uint64_t epoch) {
    if (in.u8() == 0)
        return in.ok() ? S_OK : badStubData;
    sky::ComPtr<IUnknown> identity;
    if ((value.vt != VT_DISPATCH && value.vt != VT_UNKNOWN) || !value.punkVal ||
        FAILED(value.punkVal->QueryInterface(IID_IUnknown, identity.putVoid())))
        return badStubData;
    VARIANT enumerator;
    VariantInit(&enumerator);
    HRESULT hr = c.getObject(in, IID_IUnknown, reinterpret_cast<void**>(&enumerator.punkVal));
    if (FAILED(hr) || !enumerator.punkVal)
        return FAILED(hr) ? hr : badStubData;
    enumerator.vt = VT_UNKNOWN;
    hr = keepFirstItems(in, enumerator, c, epoch);
    // Every object a reply hands out is one of this connection's proxy managers.
    ProxyCore* core =
        SUCCEEDED(hr) ? static_cast<ProxyManager*>(identity.get())->coreOf(value.punkVal) : nullptr;
    if (core) {
        sky::ComPtr<IUnknown> kept;
        kept.attach(enumerator.punkVal);
        std::lock_guard lock(core->snapshotMutex);
        core->newEnum = std::move(kept);
        core->newEnumEpoch = epoch;
    } else {
        VariantClear(&enumerator);
    }
    return hr;
}

HRESULT keepFirstItems(Reader& in, const VARIANT& value, Connection& c, std::uint64_t epoch) {
    if (in.u8() == 0)
        return in.ok() ? S_OK : badStubData;
    const HRESULT next = in.i32();
    const std::uint32_t count = in.u32();
    sky::ComPtr<IUnknown> identity;
    if (!in.ok() || (next != S_OK && next != S_FALSE) || count > firstItemCount ||
        (value.vt != VT_DISPATCH && value.vt != VT_UNKNOWN) || !value.punkVal ||
        FAILED(value.punkVal->QueryInterface(IID_IUnknown, identity.putVoid())))
        return badStubData;
    std::vector<VARIANT> items(count);
    for (VARIANT& v : items)
        VariantInit(&v);
    if (HRESULT read = EnumProxy::readItems(in, count, items.data(), c, true, epoch); FAILED(read))
        return read;
    // Every object a reply hands out is one of this connection's proxy managers; its enumerator
    // proxy is made without asking (the server wrote items only for an enumerator).
    sky::ComPtr<IEnumVARIANT> enumerator;
    if (FAILED(static_cast<ProxyManager*>(identity.get())
                   ->face(IID_IEnumVARIANT, true, enumerator.putVoid()))) {
        for (VARIANT& v : items)
            VariantClear(&v);
        return badStubData;
    }
    static_cast<EnumProxy*>(enumerator.get())->keepAhead(items, next == S_FALSE, epoch);
    return S_OK;
}

class FactoryProxy final : public ProxyUnknown<IClassFactory> {
public:
    using ProxyUnknown::ProxyUnknown;

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        if (outer)
            return CLASS_E_NOAGGREGATION;
        Writer body;
        body.u64(core()->manager->id());
        body.guid(riid);
        std::vector<unsigned char> reply;
        std::size_t at = 0;
        Connection& c = core()->manager->connection();
        const HRESULT hr = c.transact(Kind::CreateInstance, body, reply, at);
        if (FAILED(hr))
            return hr;
        Reader in(reply.data() + at, reply.size() - at);
        return c.getObject(in, riid, ppv);
    }
    // The server stays while its service runs; there is nothing to lock.
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

// IDispatch of an object, for callers that ask for no interface of a library.
ProxyBase* makeDispatchProxy(ProxyCore* core) {
    return new ProxyOf<IDispatch>(core);
}
ProxyBase* makeEnumProxy(ProxyCore* core) {
    return new EnumProxy(core);
}
ProxyBase* makeFactoryProxy(ProxyCore* core) {
    return new FactoryProxy(core);
}

// Open connections stay for the life of the process (or of the server), so that creating and
// releasing objects one after another does not connect again each time.
struct Connections {
    std::mutex mutex;
    std::map<std::string, std::shared_ptr<Connection>> byEndpoint;
};

Connections* openConnections = nullptr;

Connections& connections() {
    // A child forked from this process starts with no connections: the ones it inherits (their
    // sockets and mailboxes) stay its parent's, which may be calling through them meanwhile.
    static const bool forkHandled = [] {
        openConnections = new Connections;
        pthread_atfork(nullptr, nullptr, [] { openConnections = new Connections; });
        return true;
    }();
    (void)forkHandled;
    return *openConnections;
}

std::string guidName(const GUID& g) {
    OLECHAR text[40];
    StringFromGUID2(g, text, 40);
    return sky::narrow(text);
}

} // namespace

void deliverReleases() {
    std::vector<std::shared_ptr<Connection>> open;
    {
        Connections& all = connections();
        std::lock_guard lock(all.mutex);
        for (auto& [endpoint, c] : all.byEndpoint)
            open.push_back(c);
    }
    for (auto& c : open) {
        std::vector<unsigned char> reply;
        std::size_t at = 0;
        c->transact(Kind::Flush, Writer(), reply, at);
    }
}

HRESULT getRemoteClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
    *ppv = nullptr;
    const std::filesystem::path directory = endpointDirectory();
    char target[256] = {};
    const ssize_t n = readlink((directory / guidName(clsid)).c_str(), target, sizeof target - 1);
    if (n <= 0)
        return errno == EACCES ? E_ACCESSDENIED : REGDB_E_CLASSNOTREG;
    const std::string endpoint = (directory / std::string(target, static_cast<size_t>(n))).string();
    std::shared_ptr<Connection> c;
    HRESULT hr = S_OK;
    std::vector<unsigned char> reply;
    std::size_t at = 0;
    // A kept connection may lead to an endpoint that has ended since, while a new one took its
    // name (the same process publishing again, or a new process of a reused id): a connection
    // that turns out to be gone is dropped and the name connected afresh, once.
    for (int attempt = 0; attempt < 2; ++attempt) {
        bool kept = false;
        {
            Connections& all = connections();
            std::lock_guard lock(all.mutex);
            c = all.byEndpoint[endpoint];
            kept = c != nullptr;
            if (!c) {
                c = Connection::open(directory, std::string(target, static_cast<size_t>(n)), hr);
                if (!c) {
                    all.byEndpoint.erase(endpoint);
                    return hr;
                }
                all.byEndpoint[endpoint] = c;
            }
        }
        Writer body;
        body.guid(clsid);
        body.guid(riid);
        reply.clear();
        at = 0;
        hr = c->transact(Kind::GetClassObject, body, reply, at);
        if (hr != RPC_E_DISCONNECTED && hr != serverUnavailable)
            break;
        {
            std::lock_guard lock(connections().mutex);
            if (connections().byEndpoint[endpoint] == c)
                connections().byEndpoint.erase(endpoint);
        }
        if (!kept)
            return REGDB_E_CLASSNOTREG;
    }
    if (hr == RPC_E_DISCONNECTED || hr == serverUnavailable)
        return REGDB_E_CLASSNOTREG;
    if (FAILED(hr))
        return hr;
    Reader in(reply.data() + at, reply.size() - at);
    return c->getObject(in, riid, ppv);
}

} // namespace sky::remote
