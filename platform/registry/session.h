// The process's side of the registry: the hives of the current machine (the machine's, the
// process's own account's and any other account's it reads, each opened once and kept, opened
// again when SKYLOOM_MACHINE names another directory or the process has forked), the table of
// open key handles, and the access checks. One mutex guards it all; every registry call runs
// inside Session::run.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <unordered_map>
#include <vector>

#include "hive.h"
#include "win/errors.h"
#include "win/registry.h"

namespace sky::registry {

// The rights that change a key; a write denial refuses all of them.
inline constexpr REGSAM kWriteRights =
    KEY_SET_VALUE | KEY_CREATE_SUB_KEY | KEY_CREATE_LINK | DELETE | WRITE_DAC | WRITE_OWNER;

// A key as a handle sees it.
struct OpenKey {
    KeyRef key;
    REGSAM access = 0;
    bool predefined = false; // one of the HKEY_* roots: full access, denials checked per call
};

// Splits a subkey path ("Software\Classes") into names. Trailing backslashes are ignored; a
// leading one or an empty name inside gives ERROR_BAD_PATHNAME. A null path is empty.
LONG splitPath(const WCHAR* subKey, std::vector<std::u16string>& names);

// The folded path of `names` below `base`.
std::string pathBelow(const std::string& base, const std::vector<std::u16string>& names);

// Generic rights mapped to key rights; the 32/64-bit view flags dropped.
REGSAM specificRights(REGSAM desired);

class Session {
public:
    // Runs `work` with the lock held and the current machine's hive open. A hive failure is
    // recorded for lastHiveProblem() and drops the connection, so the next call opens the file
    // afresh.
    template <class Work> static LONG run(Work&& work) {
        Session& session = instance();
        std::lock_guard<std::mutex> lock(session.mutex_);
        try {
            if (LONG status = session.attach())
                return status;
            session.used_ = nullptr;
            session.opening_ = false;
            return session.finish(work(session));
        } catch (const std::bad_alloc&) {
            return ERROR_OUTOFMEMORY;
        }
    }

    // Closes a handle without touching the hive.
    static LONG close(HKEY handle);

    // The hive that holds the key at `path` (a folded full path): HKEY_USERS\NAME and what lies
    // below it are in the account NAME's own hive (the process's own made on first use),
    // everything else in the machine's. An account without a hive has no keys
    // (ERROR_FILE_NOT_FOUND), and none may be made for it but by itself (`creating`:
    // ERROR_ACCESS_DENIED); one this process may not read gives ERROR_ACCESS_DENIED.
    LONG hiveFor(std::string_view path, Hive*& hive, bool creating = false);
    Hive& machineHive() { return *hive_; }
    // Whether this process may write `hive`: the machine's is written by its owner alone (and
    // the superuser); a hive the process could open at all is its own account's, or one it may
    // write as the superuser.
    bool mayWrite(const Hive& hive) const { return &hive != hive_.get() || machineWriter_; }
    // Finds `path` in its hive (below `base`, 0: a base that needs no check) and tells whether
    // the current user may not write there (a write denial, or a hive it may not write).
    LONG lookup(KeyId base, const std::string& path, KeyId& id, bool& denied, Hive*& hive);
    // Counts the connections to the machine's hive the process has opened: a new one starts its
    // own counts.
    std::uint64_t connection() const { return connections_; }
    const std::string& user() const { return foldedUser_; }

    // The key behind a handle: an open key or a predefined root. The roots that are views of
    // a key below (HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, ...) come with their path and, unless
    // `needId` (which creates the key when missing), id 0.
    LONG resolve(HKEY handle, OpenKey& key, bool needId = true);
    // Whether the handle carries `rights`; a predefined root has all rights its user is not
    // denied.
    LONG require(const OpenKey& key, REGSAM rights);
    // ERROR_ACCESS_DENIED when the current user may not write `hive` or is denied writing at
    // `path` in it (or, with `below`, anywhere under it).
    LONG checkWrite(Hive& hive, const std::string& path, bool below = false);
    // A new handle for `key`.
    HKEY add(const KeyRef& key, REGSAM access);

private:
    Session() = default;
    static Session& instance();
    LONG attach();
    void detach();
    LONG finish(LONG status);
    // Drops every connection: the machine's hive and the accounts'. `parentsOnly` leaves them
    // open, as a forked child leaves its parent's.
    void dropHives(bool parentsOnly);

    std::mutex mutex_;
    std::unique_ptr<Hive> hive_; // the machine's
    std::unique_ptr<Hive> own_;  // the own account's, once used
    std::map<std::string, std::unique_ptr<Hive>, std::less<>> others_; // by folded account name
    std::filesystem::path machineFolder_;
    bool machineWriter_ = false;             // the process writes the machine's hive
    Hive* used_ = nullptr;                   // the hive the running call used last
    bool opening_ = false;                   // the running call failed to open an account's hive
    std::string machine_;                    // the environment that named the machine of hive_
    uid_t account_ = static_cast<uid_t>(-1); // the effective user it was opened for
    unsigned forks_ = 0;            // forks the process had come out of when it opened hive_
    std::uint64_t generation_ = 0;  // bumps with every machine switch
    std::uint64_t connections_ = 0; // bumps with every machine's hive opened
    std::u16string userName_;
    std::string foldedUser_;
    struct Entry {
        OpenKey key;
        std::uint64_t generation;
    };
    std::unordered_map<std::uintptr_t, Entry> handles_;
    std::uintptr_t nextHandle_ = 0x1000;
};

// Records a hive failure for lastHiveProblem().
void setHiveProblem(std::string problem);

} // namespace sky::registry
