#include "session.h"

#include <atomic>
#include <cstdlib>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include "profiles.h"
#include "sky/machine.h"
#include "sky/registry.h"
#include "sky/text.h"
#include "win/errors.h"

namespace sky::registry {

namespace {

thread_local std::string hiveProblem;

// Counts the forks this process has come out of as the child.
std::atomic<unsigned> forkCount{0};
void countFork() {
    forkCount.fetch_add(1, std::memory_order_relaxed);
}

// What names the machine now: SKYLOOM_MACHINE, or the variables its default comes from.
std::string machineIdentity() {
    if (const char* named = std::getenv("SKYLOOM_MACHINE"); named && *named) {
        // A relative name is another machine once the current directory changes.
        if (*named != '/')
            return "machine=" + sky::machine::root().string();
        return std::string("machine=") + named;
    }
    std::string identity = "default";
    for (const char* variable : {"XDG_DATA_HOME", "HOME"}) {
        const char* value = std::getenv(variable);
        identity += '\n';
        identity += value ? value : "";
    }
    return identity;
}

// Predefined roots by their low 32 bits.
constexpr std::uint32_t kClassesRoot = 0x80000000u;
constexpr std::uint32_t kCurrentUser = 0x80000001u;
constexpr std::uint32_t kLocalMachine = 0x80000002u;
constexpr std::uint32_t kUsers = 0x80000003u;
constexpr std::uint32_t kCurrentConfig = 0x80000005u;

bool isPredefined(HKEY handle) {
    const auto value = reinterpret_cast<std::uintptr_t>(handle);
    const auto low = static_cast<std::uint32_t>(value);
    return static_cast<std::uintptr_t>(
               static_cast<std::intptr_t>(static_cast<std::int32_t>(low))) == value &&
           low >= 0x80000000u && low <= 0x80000006u;
}

} // namespace

void setHiveProblem(std::string problem) {
    hiveProblem = std::move(problem);
}

std::string lastHiveProblem() {
    return hiveProblem;
}

std::filesystem::path hivePath() {
    return sky::machine::root() / "registry.db";
}

LONG splitPath(const WCHAR* subKey, std::vector<std::u16string>& names) {
    names.clear();
    std::u16string_view path(subKey ? subKey : u"");
    while (!path.empty() && path.back() == u'\\')
        path.remove_suffix(1);
    if (path.empty())
        return ERROR_SUCCESS;
    if (path.front() == u'\\')
        return ERROR_BAD_PATHNAME;
    for (;;) {
        const std::size_t cut = path.find(u'\\');
        const std::u16string_view name = path.substr(0, cut);
        if (name.empty())
            return ERROR_BAD_PATHNAME;
        names.emplace_back(name);
        if (cut == std::u16string_view::npos)
            return ERROR_SUCCESS;
        path.remove_prefix(cut + 1);
    }
}

std::string pathBelow(const std::string& base, const std::vector<std::u16string>& names) {
    std::string path = base;
    for (const auto& name : names) {
        path += '\\';
        path += fold(name);
    }
    return path;
}

REGSAM specificRights(REGSAM desired) {
    REGSAM rights = desired & ~static_cast<REGSAM>(KEY_WOW64_RES);
    if (rights & GENERIC_READ)
        rights |= KEY_READ;
    if (rights & GENERIC_WRITE)
        rights |= KEY_WRITE;
    if (rights & GENERIC_EXECUTE)
        rights |= KEY_EXECUTE;
    if (rights & GENERIC_ALL)
        rights |= KEY_ALL_ACCESS;
    return rights &
           ~static_cast<REGSAM>(GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE | GENERIC_ALL);
}

Session& Session::instance() {
    // Never destroyed: handles may be closed by destructors that run after main returns. Its
    // connection is closed at exit (so the hive is checkpointed), and opened again should
    // anything still call.
    static Session* session = [] {
        pthread_atfork(nullptr, nullptr, countFork);
        return new Session;
    }();
    static const struct Closer {
        ~Closer() { session->detach(); }
    } closer;
    return *session;
}

void Session::dropHives(bool parentsOnly) {
    if (parentsOnly) {
        (void)hive_.release();
        (void)own_.release();
        for (auto& [name, hive] : others_)
            (void)hive.release();
    }
    hive_.reset();
    own_.reset();
    others_.clear();
}

void Session::detach() {
    std::lock_guard<std::mutex> lock(mutex_);
    dropHives(forks_ != forkCount.load(std::memory_order_relaxed)); // the parent's connections
}

LONG Session::attach() {
    const unsigned forks = forkCount.load(std::memory_order_relaxed);
    bool forked = false;
    if (forks != forks_) {
        // A forked child must not use its parent's connections; leave them untouched.
        dropHives(true);
        forks_ = forks;
        forked = true;
    }
    // Another machine, or a forked child that took on another account (a server's child that
    // dropped its rights): the hives, the current user and what it may write are looked at
    // afresh. The account is looked at after forks only, since asking costs a system call.
    std::string machine = machineIdentity();
    if (machine != machine_ || (forked && geteuid() != account_)) {
        dropHives(false);
        machine_ = std::move(machine);
        account_ = geteuid();
        ++generation_;
        userName_ = currentUser();
        foldedUser_ = fold(userName_);
    }
    if (hive_)
        return ERROR_SUCCESS;
    std::string problem;
    const std::filesystem::path file = hivePath();
    const LONG status = Hive::open(file, hive_, problem);
    if (status != ERROR_SUCCESS) {
        setHiveProblem(std::move(problem));
        return status;
    }
    ++connections_;
    machineFolder_ = file.parent_path();
    struct stat info {};
    machineWriter_ =
        geteuid() == 0 || (stat(machineFolder_.c_str(), &info) == 0 && info.st_uid == geteuid());
    return ERROR_SUCCESS;
}

LONG Session::finish(LONG status) {
    if (!isHiveFailure(status) || opening_)
        return status; // an account hive that would not open said why itself
    Hive* failed = used_ ? used_ : hive_.get();
    if (!failed)
        return status;
    setHiveProblem(failed->problem());
    if (status == ERROR_OUTOFMEMORY)
        return status;
    if (failed == own_.get()) {
        own_.reset();
    } else if (failed == hive_.get()) {
        hive_.reset();
    } else {
        for (auto it = others_.begin(); it != others_.end(); ++it) {
            if (it->second.get() == failed) {
                others_.erase(it);
                break;
            }
        }
    }
    return status;
}

LONG Session::hiveFor(std::string_view path, Hive*& hive, bool creating) {
    constexpr std::string_view kUsersBelow = "HKEY_USERS\\";
    if (path.substr(0, kUsersBelow.size()) != kUsersBelow) {
        hive = used_ = hive_.get();
        return ERROR_SUCCESS;
    }
    std::string_view account = path.substr(kUsersBelow.size());
    account = account.substr(0, account.find('\\'));
    std::string problem;
    LONG status = ERROR_SUCCESS;
    if (account == foldedUser_) {
        if (!own_) {
            status = openOwnHive(machineFolder_, userName_, machineWriter_, own_, problem);
        }
        hive = own_.get();
    } else if (const auto found = others_.find(account); found != others_.end()) {
        hive = found->second.get();
    } else {
        std::unique_ptr<Hive> opened;
        status = openOtherHive(machineFolder_, account, opened, problem);
        if (status == ERROR_FILE_NOT_FOUND && creating)
            status = ERROR_ACCESS_DENIED;
        if (status == ERROR_SUCCESS) {
            hive = opened.get();
            others_.emplace(std::string(account), std::move(opened));
        }
    }
    if (status != ERROR_SUCCESS) {
        if (!problem.empty())
            setHiveProblem(std::move(problem));
        opening_ = true;
        hive = nullptr;
        return status;
    }
    used_ = hive;
    return ERROR_SUCCESS;
}

LONG Session::lookup(KeyId base, const std::string& path, KeyId& id, bool& denied, Hive*& hive) {
    if (LONG status = hiveFor(path, hive))
        return status;
    if (LONG status = hive->lookup(base, path, foldedUser_, id, denied))
        return status;
    denied = denied || !mayWrite(*hive);
    return ERROR_SUCCESS;
}

LONG Session::close(HKEY handle) {
    if (isPredefined(handle))
        return ERROR_SUCCESS;
    Session& session = instance();
    std::lock_guard<std::mutex> lock(session.mutex_);
    return session.handles_.erase(reinterpret_cast<std::uintptr_t>(handle)) ? ERROR_SUCCESS
                                                                            : ERROR_INVALID_HANDLE;
}

HKEY Session::add(const KeyRef& key, REGSAM access) {
    const std::uintptr_t value = nextHandle_;
    nextHandle_ += 4;
    handles_.emplace(value, Entry{OpenKey{key, access, false}, generation_});
    return reinterpret_cast<HKEY>(value);
}

LONG Session::resolve(HKEY handle, OpenKey& key, bool needId) {
    if (!isPredefined(handle)) {
        const auto found = handles_.find(reinterpret_cast<std::uintptr_t>(handle));
        if (found == handles_.end() || found->second.generation != generation_)
            return ERROR_INVALID_HANDLE;
        key = found->second.key;
        return ERROR_SUCCESS;
    }
    // The hive's own roots, and the views of keys below them.
    KeyRef base;
    std::vector<std::u16string> names;
    switch (static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(handle))) {
    case kLocalMachine:
        base = KeyRef{kLocalMachineId, "HKEY_LOCAL_MACHINE"};
        break;
    case kUsers:
        base = KeyRef{kUsersId, "HKEY_USERS"};
        break;
    case kClassesRoot:
        base = KeyRef{kLocalMachineId, "HKEY_LOCAL_MACHINE"};
        names = {u"SOFTWARE", u"Classes"};
        break;
    case kCurrentUser:
        base = KeyRef{kUsersId, "HKEY_USERS"};
        names = {userName_};
        break;
    case kCurrentConfig:
        base = KeyRef{kLocalMachineId, "HKEY_LOCAL_MACHINE"};
        names = {u"SYSTEM", u"CurrentControlSet", u"Hardware Profiles", u"Current"};
        break;
    default:
        return ERROR_INVALID_HANDLE;
    }
    key.access = KEY_ALL_ACCESS;
    key.predefined = true;
    if (names.empty()) {
        key.key = base;
        return ERROR_SUCCESS;
    }
    // A view's key is looked up by path; its id is needed (and the key made) only on request.
    key.key = KeyRef{0, pathBelow(base.path, names)};
    if (!needId)
        return ERROR_SUCCESS;
    Hive* hive = nullptr;
    if (LONG status = hiveFor(key.key.path, hive, true))
        return status;
    const LONG status = hive->find(key.key.path, key.key.id);
    if (status != ERROR_FILE_NOT_FOUND)
        return status;
    // A view's key is made by whoever may write its hive; to anybody else it is missing.
    if (!mayWrite(*hive))
        return ERROR_FILE_NOT_FOUND;
    bool created = false;
    return hive->create(base, names, {}, {}, key.key, created);
}

LONG Session::checkWrite(Hive& hive, const std::string& path, bool below) {
    if (!mayWrite(hive))
        return ERROR_ACCESS_DENIED;
    bool denied = false;
    if (LONG status = hive.isDenied(path, foldedUser_, below, denied))
        return status;
    return denied ? ERROR_ACCESS_DENIED : ERROR_SUCCESS;
}

LONG Session::require(const OpenKey& key, REGSAM rights) {
    if (key.predefined) {
        if (!(rights & kWriteRights))
            return ERROR_SUCCESS;
        Hive* hive = nullptr;
        if (LONG status = hiveFor(key.key.path, hive))
            return status;
        return checkWrite(*hive, key.key.path);
    }
    return (key.access & rights) == rights ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
}

} // namespace sky::registry
