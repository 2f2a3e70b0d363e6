#include "profiles.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <thread>
#include <vector>

#include <sqlite3.h>

#include "query.h"
#include "sky/registry.h"
#include "sky/text.h"
#include "win/errors.h"

namespace fs = std::filesystem;

namespace sky::registry {

namespace {

constexpr mode_t kProfilesMode = 01770;     // owner and group make folders; none takes another's
constexpr mode_t kAccountFolderMode = 0700; // mkdtemp's
constexpr char kAccountHiveName[] = "ntuser.db";

// Whether an account name can name a folder of its own.
bool isFolderName(std::string_view name) {
    return !name.empty() && name != "." && name != ".." &&
           name.find_first_of(std::string_view("/\0", 2)) == std::string_view::npos;
}

// Makes <machine>/profiles when the process may (the machine's owner, or the superuser, who gives
// it to the owner); false, with `problem`, when it is missing and cannot be made.
bool haveProfilesFolder(const fs::path& machine, std::string& problem) {
    const fs::path profiles = profilesFolder(machine);
    struct stat info {};
    if (lstat(profiles.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
        if (info.st_uid == geteuid() && (info.st_mode & 07777) != kProfilesMode)
            chmod(profiles.c_str(), kProfilesMode);
        return true;
    }
    struct stat machineInfo {};
    if (stat(machine.c_str(), &machineInfo) == 0 &&
        (geteuid() == machineInfo.st_uid || geteuid() == 0) &&
        (mkdir(profiles.c_str(), 0700) == 0 || errno == EEXIST) &&
        lstat(profiles.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
        if (info.st_uid != machineInfo.st_uid)
            lchown(profiles.c_str(), machineInfo.st_uid, machineInfo.st_gid);
        chmod(profiles.c_str(), kProfilesMode);
        return true;
    }
    problem = "the machine " + machine.string() +
              " has no profiles folder for the accounts' own hives yet; its owner makes it on "
              "the owner's next use of the machine";
    return false;
}

// The account a name of HKEY_USERS stands for: the process's own, one of the user database, or
// else (a name no account has) the machine's owner's to keep.
uid_t accountOf(std::u16string_view name, const fs::path& machine) {
    if (fold(name) == fold(currentUser()))
        return geteuid();
    struct passwd entry {};
    struct passwd* found = nullptr;
    char buffer[4096];
    const std::string narrowName = narrow(name);
    if (getpwnam_r(narrowName.c_str(), &entry, buffer, sizeof buffer, &found) == 0 && found)
        return found->pw_uid;
    struct stat info {};
    return stat(machine.c_str(), &info) == 0 ? info.st_uid : geteuid();
}

// Makes `folder`, the profile folder of `account`, with the account's hive in it: built whole in
// a folder of a temporary name that then takes the folder's name, so that a folder of an
// account's name, once it is the account's own, always holds the account's hive (the machine's
// owner, who may not look inside, relies on that before it removes the keys it held). When
// another process made the folder first, that one stands.
LONG makeAccountFolder(const fs::path& folder, uid_t account, const AccountHive& seed,
                       std::string& problem) {
    std::string temporary =
        (folder.parent_path() / ("." + folder.filename().string() + ".new-XXXXXX")).string();
    if (!mkdtemp(temporary.data())) {
        problem = "the profile folder " + folder.string() + " cannot be made (" +
                  std::strerror(errno) + ")";
        return ERROR_ACCESS_DENIED;
    }
    LONG status = ERROR_SUCCESS;
    {
        std::unique_ptr<Hive> built;
        status = Hive::open(fs::path(temporary) / kAccountHiveName, built, problem, &seed);
    } // closed, its log and index gone, before the folder is the account's: the superuser
      // making it for the account never works in a folder the account could plant links in
    if (status == ERROR_SUCCESS && account != geteuid() &&
        lchown(temporary.c_str(), account, static_cast<gid_t>(-1)) != 0) {
        problem = "the profile folder " + folder.string() + " cannot be given to its account (" +
                  std::strerror(errno) + ")";
        status = ERROR_ACCESS_DENIED;
    }
    if (status == ERROR_SUCCESS)
        rename(temporary.c_str(), folder.c_str()); // taken: the folder there stands
    std::error_code ec;
    fs::remove_all(temporary, ec);
    return status;
}

int runWithPath(sqlite3* db, const char* sql, std::string_view path) {
    sqlite3_stmt* stmt = nullptr;
    int rc = sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr);
    if (rc == SQLITE_OK) {
        sqlite3_bind_text(stmt, 1, path.data(), static_cast<int>(path.size()), SQLITE_STATIC);
        rc = sqlite3_step(stmt);
        rc = rc == SQLITE_DONE || rc == SQLITE_ROW ? SQLITE_OK : rc;
    }
    sqlite3_finalize(stmt);
    return rc;
}

// A path and everything below it, as the hive's statements name a tree.
#define SKY_TREE "(path = ?1 OR (path > ?1 || '\\' AND path < ?1 || ']'))"

// Copies an account's tree from the attached machine's hive ("machine") into the new hive. Ids
// are kept, so parents stay linked (the account's top key hangs below HKEY_USERS, id 2, in both);
// the last-write times are set back to the machine's after the triggers have moved them.
constexpr const char* kCopyAccount[] = {
    "INSERT INTO main.keys(id, parent, name, folded, path, class, written) "
    "SELECT id, parent, name, folded, path, class, written FROM machine.keys WHERE " SKY_TREE,
    "INSERT INTO main.vals(id, key, name, folded, type, data) "
    "SELECT id, key, name, folded, type, data FROM machine.vals "
    "WHERE key IN (SELECT id FROM machine.keys WHERE " SKY_TREE ")",
    "INSERT INTO main.denials(path, user, name) "
    "SELECT path, user, name FROM machine.denials WHERE " SKY_TREE,
    "UPDATE main.keys SET written = (SELECT m.written FROM machine.keys m WHERE m.id = "
    "main.keys.id) WHERE id IN (SELECT id FROM machine.keys WHERE " SKY_TREE ")",
};

#undef SKY_TREE

} // namespace

fs::path profilesFolder(const fs::path& machine) {
    return machine / "profiles";
}

LONG Hive::copyAccountKeys(const AccountHive& account) {
    // The machine's hive is read while its owner may be writing it. A reader that may not write
    // the hive's shared-memory index (a machine user: the hive and its index are the owner's)
    // reads without a place in its locks, so a checkpoint may copy pages into the file under
    // it: the read then meets a page half old, half new, and fails as damaged (or busy). Such a
    // failure passes with the checkpoint, so the copy is made again from the file's next state,
    // a bounded number of times; a hive that stays damaged is reported as before.
    constexpr int kTries = 10;
    LONG status = ERROR_SUCCESS;
    for (int attempt = 0; attempt < kTries; ++attempt) {
        if (attempt > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        status = copyAccountKeysOnce(account);
        const int primary = lastCode_ & 0xFF;
        if (status == ERROR_SUCCESS ||
            (primary != SQLITE_CORRUPT && primary != SQLITE_NOTADB && primary != SQLITE_BUSY))
            break;
    }
    return status;
}

LONG Hive::copyAccountKeysOnce(const AccountHive& account) {
    const std::string uri =
        fileUri(account.machineHive, account.machineImmutable ? "immutable=1" : "mode=ro");
    int rc = runWithPath(db_, "ATTACH DATABASE ?1 AS machine", uri);
    if (rc != SQLITE_OK)
        return errorFromSqlite(rc);
    rc = sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
    for (const char* sql : kCopyAccount) {
        if (rc == SQLITE_OK)
            rc = runWithPath(db_, sql, account.path);
    }
    if (rc == SQLITE_OK)
        rc = sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr);
    const LONG status = rc == SQLITE_OK ? ERROR_SUCCESS : errorFromSqlite(rc);
    if (rc != SQLITE_OK)
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_exec(db_, "DETACH DATABASE machine", nullptr, nullptr, nullptr);
    return status;
}

LONG Hive::moveAccountKeys() {
    // The profiles folder is made here, so that the machine's users find it from the owner's
    // first use of the machine on.
    const fs::path machine = file_.parent_path();
    std::string problem;
    if (!haveProfilesFolder(machine, problem))
        return ERROR_SUCCESS; // the keys stay where they are until the owner comes
    bool any = false;
    if (LONG status = Query(*this, Statement::HasSubKeys).bind(1, kUsersId).next(any))
        return status;
    if (!any)
        return ERROR_SUCCESS;
    // Held from the copies to the removal, so that no write to the keys falls in between.
    Transaction transaction(*this);
    if (LONG status = transaction.begin())
        return status;
    std::vector<std::u16string> names;
    LONG status = Query(*this, Statement::SubKeys).bind(1, kUsersId).forEach([&](const Query& q) {
        names.push_back(q.wide(0));
    });
    if (status != ERROR_SUCCESS)
        return status;
    for (const std::u16string& name : names) {
        const std::string folderName = narrow(name);
        if (!isFolderName(folderName))
            continue;
        const uid_t account = accountOf(name, machine);
        const bool mayMake = account == geteuid() || geteuid() == 0;
        const fs::path folder = profilesFolder(machine) / folderName;
        const std::string path = "HKEY_USERS\\" + fold(name);
        struct stat info {};
        if (lstat(folder.c_str(), &info) != 0) {
            // Made now from the keys here, unless only the account may make it (it takes them
            // on its first use).
            if (!mayMake)
                continue;
            const AccountHive seed{account, file_, path, false};
            std::string failure;
            if (makeAccountFolder(folder, account, seed, failure) != ERROR_SUCCESS) {
                std::cerr << "registry: the keys of HKEY_USERS\\" << folderName
                          << " stay in the machine's hive for now: " << failure << "\n";
                continue;
            }
            if (lstat(folder.c_str(), &info) != 0)
                continue;
        }
        // A folder that is not the account's own is never trusted with its keys.
        if (!S_ISDIR(info.st_mode) || info.st_uid != account)
            continue;
        // The account's own hive holds them (this process's copy, or the account's own, taken
        // on its first use): they go from the machine's.
        for (Statement remove : {Statement::DeleteTreeValues, Statement::DeleteTreeKeys,
                                 Statement::DeleteTreeDenials}) {
            if (status == ERROR_SUCCESS)
                status = Query(*this, remove).bind(1, path).run();
        }
        if (status != ERROR_SUCCESS)
            return status;
    }
    return transaction.commit();
}

LONG openOwnHive(const fs::path& machine, const std::u16string& user, bool machineWriter,
                 std::unique_ptr<Hive>& hive, std::string& problem) {
    const std::string name = narrow(user);
    if (!isFolderName(name)) {
        problem = "the account name \"" + name + "\" cannot name a profile folder";
        return ERROR_ACCESS_DENIED;
    }
    if (!haveProfilesFolder(machine, problem))
        return ERROR_ACCESS_DENIED;
    const fs::path folder = profilesFolder(machine) / name;
    const AccountHive seed{geteuid(), machine / "registry.db", "HKEY_USERS\\" + fold(user),
                           !machineWriter};
    if (access(folder.c_str(), F_OK) != 0 && errno == ENOENT) {
        if (LONG status = makeAccountFolder(folder, geteuid(), seed, problem))
            return status;
    }
    struct stat info {};
    if (lstat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != geteuid()) {
        problem = "the profile folder " + folder.string() +
                  " is not this account's own; the machine's owner removes it";
        return ERROR_ACCESS_DENIED;
    }
    if ((info.st_mode & 07777) != kAccountFolderMode)
        chmod(folder.c_str(), kAccountFolderMode);
    return Hive::open(folder / kAccountHiveName, hive, problem, &seed);
}

LONG openOtherHive(const fs::path& machine, std::string_view foldedName,
                   std::unique_ptr<Hive>& hive, std::string& problem) {
    std::error_code ec;
    fs::path folder;
    for (fs::directory_iterator it(profilesFolder(machine), ec), end; !ec && it != end;
         it.increment(ec)) {
        if (fold(widen(it->path().filename().string())) == foldedName) {
            folder = it->path();
            break;
        }
    }
    if (folder.empty())
        return ERROR_FILE_NOT_FOUND;
    // Only a folder of this process's own account is worked in: SQLite makes its log and index
    // beside the hive, and in another account's folder (the superuser's way in) they could be
    // links that account planted.
    struct stat info {};
    if (lstat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != geteuid()) {
        problem = "the registry hive of " + folder.filename().string() +
                  " is that account's own, read and written by it alone";
        return ERROR_ACCESS_DENIED;
    }
    const fs::path file = folder / kAccountHiveName;
    if (lstat(file.c_str(), &info) != 0)
        return ERROR_FILE_NOT_FOUND;
    if (!S_ISREG(info.st_mode) || info.st_uid != geteuid()) {
        problem = "the registry hive " + file.string() + " is not a file of this account's";
        return ERROR_ACCESS_DENIED;
    }
    const AccountHive existing{};
    return Hive::open(file, hive, problem, &existing);
}

} // namespace sky::registry
