#include "hive.h"

#include "query.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <sqlite3.h>

#include "sky/text.h"
#include "win/errors.h"

namespace sky::registry {

namespace {

constexpr int kBusyTimeoutMs = 15000;

std::string joinPath(std::string_view parent, std::string_view folded) {
    std::string path;
    path.reserve(parent.size() + 1 + folded.size());
    path.append(parent).append(1, '\\').append(folded);
    return path;
}

// Whether the connection's journal mode is WAL (a request for it may be refused).
bool inWalMode(sqlite3* db) {
    sqlite3_stmt* stmt = nullptr;
    bool wal = false;
    if (sqlite3_prepare_v2(db, "PRAGMA journal_mode", -1, &stmt, nullptr) == SQLITE_OK &&
        sqlite3_step(stmt) == SQLITE_ROW) {
        const auto* mode = sqlite3_column_text(stmt, 0);
        wal = mode && std::strcmp(reinterpret_cast<const char*>(mode), "wal") == 0;
    }
    sqlite3_finalize(stmt);
    return wal;
}

} // namespace

std::string fileUri(const std::filesystem::path& file, std::string_view query) {
    std::string uri = "file:";
    for (const unsigned char c : file.string()) {
        if (std::isalnum(c) || c == '/' || c == '.' || c == '-' || c == '_' || c == '~') {
            uri += static_cast<char>(c);
        } else {
            static constexpr char hex[] = "0123456789ABCDEF";
            uri += '%';
            uri += hex[c >> 4];
            uri += hex[c & 0xF];
        }
    }
    uri += '?';
    uri.append(query);
    return uri;
}

std::string fold(std::u16string_view name) {
    return narrow(upper(name));
}

std::filesystem::path upgradeReportPath(const std::filesystem::path& hiveFile) {
    std::filesystem::path report = hiveFile;
    report += ".renamed.txt";
    return report;
}

bool isHiveFailure(LONG code) {
    return code == ERROR_REGISTRY_CORRUPT || code == ERROR_BADDB ||
           code == ERROR_REGISTRY_IO_FAILED || code == ERROR_OUTOFMEMORY;
}

namespace {

LONG codeFor(int sqliteCode) {
    switch (sqliteCode & 0xFF) {
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
        return ERROR_REGISTRY_CORRUPT;
    case SQLITE_NOMEM:
        return ERROR_OUTOFMEMORY;
    default:
        return ERROR_REGISTRY_IO_FAILED;
    }
}

std::string describe(const std::filesystem::path& file, int sqliteCode, sqlite3* db) {
    std::string what;
    switch (sqliteCode & 0xFF) {
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
        what = "is damaged";
        break;
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        what = "stayed locked by another process";
        break;
    case SQLITE_CANTOPEN:
    case SQLITE_PERM:
    case SQLITE_READONLY:
        what = "cannot be opened for writing";
        break;
    case SQLITE_FULL:
        what = "cannot grow: the disk is full";
        break;
    default:
        what = "cannot be read or written";
        break;
    }
    const char* detail = db ? sqlite3_errmsg(db) : sqlite3_errstr(sqliteCode);
    return "the registry hive " + file.string() + " " + what + " (" + detail + ")";
}

// The answer when a lookup in a key found nothing: `missing`, or ERROR_KEY_DELETED when the key
// itself is gone.
LONG absent(Hive& hive, KeyId key, LONG missing) {
    const LONG status = hive.exists(key);
    return status == ERROR_SUCCESS ? missing : status;
}

} // namespace

LONG Hive::errorFromSqlite(int sqliteCode) {
    lastCode_ = sqliteCode;
    problem_ = describe(file_, sqliteCode, db_);
    return codeFor(sqliteCode);
}

sqlite3_stmt* Hive::statement(Statement which) const {
    return statements_[static_cast<std::size_t>(which)];
}

LONG Hive::open(const std::filesystem::path& file, std::unique_ptr<Hive>& hive,
                std::string& problem, const AccountHive* account) {
    // A new hive is built whole under a temporary name and linked into place, so a file with the
    // hive's name always was a hive: one that is empty or damaged is reported and left as it
    // is, whatever its size, never taken for a new one.
    std::error_code ec;
    if (!std::filesystem::exists(std::filesystem::symlink_status(file, ec))) {
        if (LONG status = build(file, account, problem))
            return status;
    }
    std::unique_ptr<Hive> opened(new Hive);
    opened->file_ = file;
    opened->account_ = account != nullptr;
    LONG status = opened->connect(false);
    if (status != ERROR_SUCCESS && opened->mayReadOnly()) {
        // A machine directory or hive the user may not write: reading still works.
        std::unique_ptr<Hive> reader(new Hive);
        reader->file_ = file;
        reader->account_ = account != nullptr;
        if (reader->connect(true) == ERROR_SUCCESS) {
            opened = std::move(reader);
            status = ERROR_SUCCESS;
        }
    }
    if (status != ERROR_SUCCESS) {
        problem = opened->problem_;
        return status;
    }
    hive = std::move(opened);
    return ERROR_SUCCESS;
}

LONG Hive::build(const std::filesystem::path& file, const AccountHive* account,
                 std::string& problem) {
    std::string temporary = file.string() + ".new-XXXXXX";
    const int fd = mkstemp(temporary.data());
    if (fd < 0) {
        problem = "the registry hive " + file.string() + " cannot be created (" +
                  std::strerror(errno) + ")";
        return ERROR_REGISTRY_IO_FAILED;
    }
    // The machine's users read the machine's hive (HKLM, HKCR); only the owner writes it, and
    // strangers read nothing of it (the machine folder keeps them out too). An account's hive is
    // its own alone.
    fchmod(fd, account ? 0600 : 0640);
    bool given = true;
    if (account && account->owner != static_cast<uid_t>(-1) && account->owner != geteuid())
        given = fchown(fd, account->owner, static_cast<gid_t>(-1)) == 0;
    close(fd);
    LONG status = ERROR_SUCCESS;
    if (!given) {
        problem = "the registry hive " + file.string() + " cannot be given to its account (" +
                  std::strerror(errno) + ")";
        status = ERROR_REGISTRY_IO_FAILED;
    } else {
        std::unique_ptr<Hive> built(new Hive);
        built->file_ = temporary;
        built->account_ = account != nullptr;
        int rc =
            sqlite3_open_v2(temporary.c_str(), &built->db_,
                            SQLITE_OPEN_READWRITE | SQLITE_OPEN_URI | SQLITE_OPEN_NOMUTEX, nullptr);
        if (rc == SQLITE_OK)
            rc = sqlite3_exec(built->db_, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
        status = rc == SQLITE_OK ? built->createSchema() : built->errorFromSqlite(rc);
        if (status == ERROR_SUCCESS && account && !account->machineHive.empty())
            status = built->copyAccountKeys(*account);
        if (status != ERROR_SUCCESS)
            problem = built->problem_;
    } // closed: its log is folded into the file before the file gets its name
    if (status == ERROR_SUCCESS && link(temporary.c_str(), file.c_str()) != 0 && errno != EEXIST) {
        problem = "the registry hive " + file.string() + " cannot be created (" +
                  std::strerror(errno) + ")";
        status = ERROR_REGISTRY_IO_FAILED;
    }
    for (const char* suffix : {"", "-wal", "-shm"})
        unlink((temporary + suffix).c_str());
    return status;
}

LONG Hive::connect(bool readOnly) {
    int rc = SQLITE_OK;
    if (readOnly) {
        // Nobody can write a hive in a directory that is read-only, so it is read as it stands,
        // without the shared-memory index that WAL readers would otherwise create beside it.
        const std::string uri = fileUri(file_, "immutable=1");
        rc = sqlite3_open_v2(uri.c_str(), &db_,
                             SQLITE_OPEN_READONLY | SQLITE_OPEN_URI | SQLITE_OPEN_NOMUTEX, nullptr);
    } else {
        rc = sqlite3_open_v2(file_.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX,
                             nullptr);
    }
    LONG status = rc == SQLITE_OK ? ERROR_SUCCESS : errorFromSqlite(rc);
    if (status == ERROR_SUCCESS) {
        // Look before changing anything: another file stays as it is.
        sqlite3_busy_timeout(db_, kBusyTimeoutMs);
        status = checkFile();
    }
    if (status == ERROR_SUCCESS && !readOnly) {
        rc = execWaiting(db_, "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL");
        status = rc == SQLITE_OK ? ERROR_SUCCESS : errorFromSqlite(rc);
        if (status == ERROR_SUCCESS)
            walIndexed_ = inWalMode(db_);
    }
    if (status == ERROR_SUCCESS)
        status = checkPages();
    if (status == ERROR_SUCCESS && !readOnly)
        status = upgradeFolding(); // a read-only machine is read as it stands
    if (status == ERROR_SUCCESS)
        status = prepareAll();
    if (status == ERROR_SUCCESS && !readOnly && !account_)
        status = moveAccountKeys();
    return status;
}

bool Hive::mayReadOnly() const {
    switch (lastCode_ & 0xFF) {
    case SQLITE_CANTOPEN:
    case SQLITE_READONLY:
    case SQLITE_PERM:
        return true;
    default:
        return false;
    }
}

LONG Hive::checkPages() {
    // A damaged page found now keeps every write away from the file: a write that met the
    // damage half-way could otherwise leave part of itself behind.
    sqlite3_stmt* stmt = nullptr;
    int rc = sqlite3_prepare_v2(db_, "PRAGMA quick_check(1)", -1, &stmt, nullptr);
    std::string verdict;
    if (rc == SQLITE_OK) {
        rc = sqlite3_step(stmt);
        if (rc == SQLITE_ROW) {
            const auto* text = sqlite3_column_text(stmt, 0);
            verdict = text ? reinterpret_cast<const char*>(text) : "";
            rc = SQLITE_OK;
        }
    }
    sqlite3_finalize(stmt);
    if (rc != SQLITE_OK)
        return errorFromSqlite(rc);
    if (verdict != "ok") {
        problem_ = "the registry hive " + file_.string() + " is damaged (" + verdict + ")";
        return ERROR_REGISTRY_CORRUPT;
    }
    return ERROR_SUCCESS;
}

LONG Hive::prepareAll() {
    if (!statements_.empty())
        return ERROR_SUCCESS;
    for (int which = 0; which < static_cast<int>(Statement::Count); ++which) {
        sqlite3_stmt* stmt = nullptr;
        const int rc = sqlite3_prepare_v3(db_, sqlOf(static_cast<Statement>(which)), -1,
                                          SQLITE_PREPARE_PERSISTENT, &stmt, nullptr);
        if (rc != SQLITE_OK) {
            const LONG status = errorFromSqlite(rc);
            for (sqlite3_stmt* prepared : statements_)
                sqlite3_finalize(prepared);
            statements_.clear();
            // Tables of another shape: not a hive of ours.
            return rc == SQLITE_ERROR ? ERROR_BADDB : status;
        }
        statements_.push_back(stmt);
    }
    return ERROR_SUCCESS;
}

Hive::~Hive() {
    for (sqlite3_stmt* stmt : statements_)
        sqlite3_finalize(stmt);
    sqlite3_close_v2(db_);
}

bool Hive::readWalHeader(WalHeader& header) const {
    if (!walIndexed_)
        return false;
    sqlite3_file* file = nullptr;
    if (sqlite3_file_control(db_, "main", SQLITE_FCNTL_FILE_POINTER, &file) != SQLITE_OK || !file ||
        !file->pMethods || file->pMethods->iVersion < 2)
        return false;
    // The index's first page, as this connection has it mapped: SQLite's page size of the index
    // is fixed by its file format, which every process sharing the log has to agree on.
    constexpr int kIndexPage = 32768;
    void volatile* page = nullptr;
    if (file->pMethods->xShmMap(file, 0, kIndexPage, 0, &page) != SQLITE_OK || !page)
        return false;
    // A commit writes the second copy, then the first; reading the first, then the second,
    // a reader that finds them equal has read a header no commit was half-way through.
    const auto* copies = static_cast<const volatile unsigned char*>(page);
    WalHeader second;
    for (std::size_t i = 0; i < header.size(); ++i)
        header[i] = copies[i];
    file->pMethods->xShmBarrier(file);
    for (std::size_t i = 0; i < second.size(); ++i)
        second[i] = copies[header.size() + i];
    constexpr std::size_t kIsInit = 12; // the header's "initialized" flag
    return header == second && header[kIsInit] != 0;
}

LONG Hive::contentVersion(std::int64_t& othersCommits, std::int64_t& ownChanges) {
    ownChanges = sqlite3_total_changes64(db_);
    WalHeader header;
    const bool indexed = readWalHeader(header);
    if (indexed && walMark_ && walMark_->header == header) {
        othersCommits = walMark_->dataVersion;
        return ERROR_SUCCESS;
    }
    walMark_.reset();
    Query q(*this, Statement::DataVersion);
    bool row = false;
    if (LONG status = q.next(row))
        return status;
    othersCommits = row ? q.integer(0) : 0;
    if (indexed)
        walMark_ = WalMark{header, othersCommits};
    return ERROR_SUCCESS;
}

LONG Hive::find(std::string_view path, KeyId& id) {
    Query q(*this, Statement::Find);
    bool row = false;
    if (LONG status = q.bind(1, path).next(row))
        return status;
    if (!row)
        return ERROR_FILE_NOT_FOUND;
    id = q.integer(0);
    return ERROR_SUCCESS;
}

LONG Hive::lookup(KeyId base, std::string_view path, std::string_view user, KeyId& id,
                  bool& denied) {
    Query q(*this, Statement::Lookup);
    bool row = false;
    if (LONG status = q.bind(1, path).bind(2, user).bind(3, base).next(row))
        return status;
    if (!row || q.integer(0) == 0)
        return ERROR_KEY_DELETED;
    if (q.isNull(1))
        return ERROR_FILE_NOT_FOUND;
    id = q.integer(1);
    denied = q.integer(2) != 0;
    return ERROR_SUCCESS;
}

LONG Hive::exists(KeyId id) {
    Query q(*this, Statement::Exists);
    bool row = false;
    if (LONG status = q.bind(1, id).next(row))
        return status;
    return row ? ERROR_SUCCESS : ERROR_KEY_DELETED;
}

LONG Hive::create(const KeyRef& base, const std::vector<std::u16string>& names,
                  std::u16string_view className, const CreateCheck& mayCreateUnder, KeyRef& key,
                  bool& created) {
    Transaction transaction(*this);
    if (LONG status = transaction.begin())
        return status;
    if (LONG status = exists(base.id))
        return status;
    if (LONG status = createLocked(base, names, className, mayCreateUnder, key, created))
        return status;
    return transaction.commit();
}

LONG Hive::createLocked(const KeyRef& base, const std::vector<std::u16string>& names,
                        std::u16string_view className, const CreateCheck& mayCreateUnder,
                        KeyRef& key, bool& created) {
    KeyRef parent = base;
    created = false;
    const std::string folding = narrow(className);
    for (const std::u16string& name : names) {
        const std::string folded = fold(name);
        KeyRef child{0, joinPath(parent.path, folded)};
        LONG status = find(child.path, child.id);
        if (status == ERROR_FILE_NOT_FOUND) {
            if (mayCreateUnder) {
                if (LONG refused = mayCreateUnder(parent))
                    return refused;
            }
            const std::string display = narrow(name);
            const bool last = &name == &names.back();
            status = Query(*this, Statement::InsertKey)
                         .bind(1, parent.id)
                         .bind(2, display)
                         .bind(3, folded)
                         .bind(4, child.path)
                         .bind(5, last ? std::string_view(folding) : std::string_view())
                         .run();
            child.id = sqlite3_last_insert_rowid(db_);
            created = true;
        } else {
            created = false;
        }
        if (status != ERROR_SUCCESS)
            return status;
        parent = std::move(child);
    }
    key = std::move(parent);
    return ERROR_SUCCESS;
}

LONG Hive::remove(const KeyRef& key, bool tree) {
    Transaction transaction(*this);
    if (LONG status = transaction.begin())
        return status;
    if (LONG status = exists(key.id))
        return status == ERROR_KEY_DELETED ? ERROR_FILE_NOT_FOUND : status;
    if (!tree) {
        bool hasSubKeys = false;
        if (LONG status = Query(*this, Statement::HasSubKeys).bind(1, key.id).next(hasSubKeys))
            return status;
        if (hasSubKeys)
            return ERROR_ACCESS_DENIED;
    }
    LONG status = ERROR_SUCCESS;
    for (Statement remove :
         {Statement::DeleteTreeValues, Statement::DeleteTreeKeys, Statement::DeleteTreeDenials}) {
        if (status == ERROR_SUCCESS)
            status = Query(*this, remove).bind(1, key.path).run();
    }
    return status == ERROR_SUCCESS ? transaction.commit() : status;
}

LONG Hive::subKeyAt(KeyId key, DWORD index, SubKey& subKey) {
    Query q(*this, Statement::SubKeyAt);
    bool row = false;
    if (LONG status = q.bind(1, key).bind(2, static_cast<std::int64_t>(index)).next(row))
        return status;
    if (!row)
        return absent(*this, key, ERROR_NO_MORE_ITEMS);
    subKey.name = q.wide(0);
    subKey.className = q.wide(1);
    subKey.written = static_cast<std::uint64_t>(q.integer(2));
    return ERROR_SUCCESS;
}

LONG Hive::info(KeyId key, KeyInfo& info) {
    info = KeyInfo{};
    {
        Query q(*this, Statement::KeyRow);
        bool row = false;
        if (LONG status = q.bind(1, key).next(row))
            return status;
        if (!row)
            return ERROR_KEY_DELETED;
        info.className = q.wide(0);
        info.written = static_cast<std::uint64_t>(q.integer(1));
    }
    LONG status = Query(*this, Statement::SubKeys).bind(1, key).forEach([&](const Query& q) {
        ++info.subKeys;
        info.maxSubKeyLen = std::max<DWORD>(info.maxSubKeyLen, q.wide(0).size());
        info.maxClassLen = std::max<DWORD>(info.maxClassLen, q.wide(1).size());
    });
    if (status != ERROR_SUCCESS)
        return status;
    return Query(*this, Statement::ValueSizes).bind(1, key).forEach([&](const Query& q) {
        ++info.values;
        info.maxValueNameLen = std::max<DWORD>(info.maxValueNameLen, q.wide(0).size());
        info.maxValueLen = std::max<DWORD>(info.maxValueLen, static_cast<DWORD>(q.integer(1)));
    });
}

LONG Hive::setValue(KeyId key, std::u16string_view name, DWORD type, const BYTE* data,
                    std::size_t size) {
    const std::string display = narrow(name);
    const std::string folded = fold(name);
    const LONG status = Query(*this, Statement::SetValue)
                            .bind(1, key)
                            .bind(2, display)
                            .bind(3, folded)
                            .bind(4, static_cast<std::int64_t>(type))
                            .bindBlob(5, data, size)
                            .run();
    if (status != ERROR_SUCCESS)
        return status;
    return sqlite3_changes(db_) == 0 ? ERROR_KEY_DELETED : ERROR_SUCCESS;
}

namespace {

// Reads the value row (name, type, data) that `q` finds.
LONG readValue(Hive& hive, Query& q, KeyId key, LONG missing, Value& value) {
    bool row = false;
    if (LONG status = q.next(row))
        return status;
    if (!row)
        return absent(hive, key, missing);
    value.name = q.wide(0);
    value.type = static_cast<DWORD>(q.integer(1));
    q.blob(2, value.data);
    return ERROR_SUCCESS;
}

} // namespace

LONG Hive::getValue(KeyId key, std::u16string_view name, Value& value) {
    const std::string folded = fold(name);
    Query q(*this, Statement::GetValue);
    q.bind(1, key).bind(2, folded);
    return readValue(*this, q, key, ERROR_FILE_NOT_FOUND, value);
}

LONG Hive::valueAt(KeyId key, DWORD index, Value& value) {
    Query q(*this, Statement::ValueAt);
    q.bind(1, key).bind(2, static_cast<std::int64_t>(index));
    return readValue(*this, q, key, ERROR_NO_MORE_ITEMS, value);
}

LONG Hive::removeValue(KeyId key, std::u16string_view name) {
    const std::string folded = fold(name);
    if (LONG status = Query(*this, Statement::DeleteValue).bind(1, key).bind(2, folded).run())
        return status;
    return sqlite3_changes(db_) == 0 ? absent(*this, key, ERROR_FILE_NOT_FOUND) : ERROR_SUCCESS;
}

LONG Hive::isDenied(std::string_view path, std::string_view user, bool below, bool& denied) {
    if (LONG status = Query(*this, Statement::Denied).bind(1, path).bind(2, user).next(denied))
        return status;
    if (!denied && below)
        return Query(*this, Statement::DeniedBelow).bind(1, path).bind(2, user).next(denied);
    return ERROR_SUCCESS;
}

LONG Hive::addDenial(std::string_view path, std::u16string_view user) {
    const std::string folded = fold(user);
    const std::string display = narrow(user);
    return Query(*this, Statement::AddDenial).bind(1, path).bind(2, folded).bind(3, display).run();
}

LONG Hive::removeDenial(std::string_view path, std::u16string_view user) {
    const std::string folded = fold(user);
    return Query(*this, Statement::RemoveDenial).bind(1, path).bind(2, folded).run();
}

LONG Hive::denials(std::string_view path, std::vector<std::u16string>& users) {
    users.clear();
    return Query(*this, Statement::Denials).bind(1, path).forEach([&](const Query& q) {
        users.push_back(q.wide(0));
    });
}

} // namespace sky::registry
