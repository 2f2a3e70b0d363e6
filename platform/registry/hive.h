// A hive: one SQLite database in WAL mode, shared by every process that works on the machine. The
// machine's hive (<machine>/registry.db) holds HKEY_LOCAL_MACHINE; each account's own hive
// (<machine>/profiles/<account>/ntuser.db) holds its HKEY_USERS\<account>. Both have the same
// tables and the same two roots, so a key keeps its folded full path in either. A Hive is one
// connection with its prepared statements. It knows keys
// by id and by their folded full path ("HKEY_LOCAL_MACHINE\SOFTWARE\CLASSES"); handles, access
// rights and buffer rules belong to the Win32 layer above it.
//
// Every operation returns a registry error code: ERROR_SUCCESS, the code of the Win32 outcome it
// stands for (ERROR_FILE_NOT_FOUND, ERROR_KEY_DELETED, ...), or a hive failure
// (ERROR_REGISTRY_CORRUPT, ERROR_BADDB, ERROR_REGISTRY_IO_FAILED), described by problem().
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <sys/types.h>

#include "win/types.h"

struct sqlite3;
struct sqlite3_stmt;

namespace sky::registry {

using KeyId = std::int64_t;

// The two hive roots; every other key lies below one of them.
inline constexpr KeyId kLocalMachineId = 1;
inline constexpr KeyId kUsersId = 2;

// A key: its id and its folded full path (UTF-8).
struct KeyRef {
    KeyId id = 0;
    std::string path;
};

struct Value {
    std::u16string name;
    DWORD type = 0;
    std::vector<BYTE> data;
};

struct SubKey {
    std::u16string name;
    std::u16string className;
    std::uint64_t written = 0;
};

// Lengths in characters without terminator, except maxValueLen, in bytes.
struct KeyInfo {
    std::u16string className;
    DWORD subKeys = 0;
    DWORD maxSubKeyLen = 0;
    DWORD maxClassLen = 0;
    DWORD values = 0;
    DWORD maxValueNameLen = 0;
    DWORD maxValueLen = 0;
    std::uint64_t written = 0;
};

// The SQLite URI of a file, with `query` ("immutable=1", "mode=ro").
std::string fileUri(const std::filesystem::path& file, std::string_view query);

// The folded form of a name, as lookups and ordering use it (UTF-8).
std::string fold(std::u16string_view name);

// Where opening a hive that had to be folded again lists the names it renamed
// ("<machine>/registry.db.renamed.txt").
std::filesystem::path upgradeReportPath(const std::filesystem::path& hiveFile);

// True for the codes that mean the hive itself failed, not the request.
bool isHiveFailure(LONG code);

enum class Statement : int;

// How an account's hive is made when it does not exist yet: whose it is, and the keys of the
// machine's hive it starts with (those an older machine kept there for the account).
struct AccountHive {
    uid_t owner = static_cast<uid_t>(-1); // given the new file when it is not the process's own
    std::filesystem::path machineHive;    // copied from
    std::string path;                     // "HKEY_USERS\NAME", folded
    bool machineImmutable = false;        // read the machine's hive as it stands in its file
};

class Hive {
public:
    // Opens the hive file, creating it when it does not exist: the machine's (with the keys every
    // machine has), or with `account` an account's. An existing file that is not a sound hive is
    // reported and left untouched. A hive that cannot be opened for writing (a read-only
    // machine) is opened for reading.
    static LONG open(const std::filesystem::path& file, std::unique_ptr<Hive>& hive,
                     std::string& problem, const AccountHive* account = nullptr);
    ~Hive();
    Hive(const Hive&) = delete;
    Hive& operator=(const Hive&) = delete;

    // The last hive failure, for a person.
    const std::string& problem() const { return problem_; }

    // Keys.
    LONG find(std::string_view path, KeyId& id);
    // Finds `path`, which lies below `base` (0: a base that needs no check), and tells whether
    // `user` is denied writing there; ERROR_KEY_DELETED when `base` is gone.
    LONG lookup(KeyId base, std::string_view path, std::string_view user, KeyId& id, bool& denied);
    LONG exists(KeyId id);
    // Called before a key is created under `parent`; a non-zero result refuses the creation.
    using CreateCheck = std::function<LONG(const KeyRef& parent)>;
    // Opens or creates the chain of `names` below `base`, in one transaction.
    LONG create(const KeyRef& base, const std::vector<std::u16string>& names,
                std::u16string_view className, const CreateCheck& mayCreateUnder, KeyRef& key,
                bool& created);
    // Deletes a key and its values; with `tree` everything below it too, else a key with
    // subkeys is refused (ERROR_ACCESS_DENIED).
    LONG remove(const KeyRef& key, bool tree);
    LONG subKeyAt(KeyId key, DWORD index, SubKey& subKey);
    LONG info(KeyId key, KeyInfo& info);

    // Values.
    LONG setValue(KeyId key, std::u16string_view name, DWORD type, const BYTE* data,
                  std::size_t size);
    LONG getValue(KeyId key, std::u16string_view name, Value& value);
    LONG valueAt(KeyId key, DWORD index, Value& value);
    LONG removeValue(KeyId key, std::u16string_view name);

    // Write denials by folded user name. `below` also looks at the keys below `path`.
    LONG isDenied(std::string_view path, std::string_view user, bool below, bool& denied);
    LONG addDenial(std::string_view path, std::u16string_view user);
    LONG removeDenial(std::string_view path, std::u16string_view user);
    LONG denials(std::string_view path, std::vector<std::u16string>& users);

    // What changes when the hive's contents may have: SQLite's data version, which moves with
    // every commit of another connection, and the count of rows this connection has changed.
    // The data version is read again only when the header of the write-ahead log's shared index
    // has changed since it was last read: every commit, by any connection of any process,
    // rewrites that header before it returns, and reading it takes no lock.
    LONG contentVersion(std::int64_t& othersCommits, std::int64_t& ownChanges);

private:
    friend class Query;
    friend class Transaction;
    Hive() = default;
    LONG prepareAll();
    // Builds a new hive at `file`, which does not exist yet.
    static LONG build(const std::filesystem::path& file, const AccountHive* account,
                      std::string& problem);
    // Copies the keys of `account.path` (values and denials too) from the machine's hive into
    // this new account hive.
    LONG copyAccountKeys(const AccountHive& account);
    LONG copyAccountKeysOnce(const AccountHive& account);
    // Moves every account's keys that the machine's hive still holds (a machine from before
    // accounts had hives of their own) into the account's own hive, where this process may make
    // it; what it may not make is left for the account, which takes it on its first use.
    LONG moveAccountKeys();
    // Opens the connection to file_, for writing or (immutable) for reading only, and checks it.
    LONG connect(bool readOnly);
    // Whether the last failure was one of not being allowed to write.
    bool mayReadOnly() const;
    // Whether the file is a hive of ours, before anything in it changes.
    LONG checkFile();
    // Whether the file's pages are sound.
    LONG checkPages();
    // Creates the schema and the keys every machine has in a new hive file.
    LONG createSchema();
    // Brings a hive of an older format, or one whose names were folded by another rule, to the
    // format and rule in force, once, whichever process comes first.
    LONG upgradeFolding();
    void reportRenames(const std::vector<std::string>& renamed) const;
    // The keys every machine has (HARDWARE, SOFTWARE\Classes\CLSID, ...), in a new hive.
    LONG createMachineKeys();
    // Runs one statement while opening; a busy database (another process creating it at the
    // same moment) is waited for.
    static int execWaiting(sqlite3* db, const char* sql);
    LONG createLocked(const KeyRef& base, const std::vector<std::u16string>& names,
                      std::u16string_view className, const CreateCheck& mayCreateUnder, KeyRef& key,
                      bool& created);
    // Keeps a SQLite failure as the hive's last problem and returns the Win32 code it stands for.
    LONG errorFromSqlite(int sqliteCode);
    sqlite3_stmt* statement(Statement which) const;

    // The header of the write-ahead log's shared index (both of SQLite's copies, read as SQLite
    // reads them); false when the connection has no shared index or a commit is rewriting it.
    using WalHeader = std::array<unsigned char, 48>;
    bool readWalHeader(WalHeader& header) const;

    // The data version and the log header read just before it; while the header reads the same,
    // no commit has happened since, and the data version stands.
    struct WalMark {
        WalHeader header;
        std::int64_t dataVersion = 0;
    };
    std::optional<WalMark> walMark_;
    bool walIndexed_ = false; // open for writing in WAL mode, so with a shared index

    sqlite3* db_ = nullptr;
    std::filesystem::path file_;
    bool account_ = false; // an account's hive, not the machine's
    std::vector<sqlite3_stmt*> statements_;
    std::string problem_;
    int lastCode_ = 0; // SQLite's code for the last failure
};

} // namespace sky::registry
