#include "hive.h"

#include "query.h"
#include "refold.h"

#include <chrono>
#include <fstream>
#include <iostream>
#include <thread>

#include <sqlite3.h>

#include "sky/text.h"
#include "win/errors.h"

namespace sky::registry {

namespace {

// "SKYR" in the file header tells a hive from any other SQLite database.
constexpr int kApplicationId = 0x534B5952;
// 1: names folded for ASCII and Latin-1 only, no record of the rule. 2: the rule by which the
// names are folded is recorded in meta ("folding"); a hive folded by another is folded again.
constexpr int kSchemaVersion = 2;
constexpr char kCreateMeta[] = "CREATE TABLE IF NOT EXISTS meta(name TEXT PRIMARY KEY, "
                               "value TEXT NOT NULL)";
constexpr int kBusyTimeoutMs = 15000;

// The keys a freshly installed machine has, created with every new hive.
constexpr const char16_t* kMachineKeys[] = {
    u"HARDWARE",
    u"SOFTWARE\\Classes\\AppID",
    u"SOFTWARE\\Classes\\CLSID",
    u"SOFTWARE\\Classes\\Interface",
    u"SOFTWARE\\Classes\\TypeLib",
    u"SOFTWARE\\Microsoft\\OLE",
    u"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion",
    u"SYSTEM\\CurrentControlSet\\Control\\Nls\\CodePage",
    u"SYSTEM\\CurrentControlSet\\Control\\Nls\\Language",
    u"SYSTEM\\CurrentControlSet\\Services",
};

std::string joinPath(std::string_view parent, std::string_view folded) {
    std::string path;
    path.reserve(parent.size() + 1 + folded.size());
    path.append(parent).append(1, '\\').append(folded);
    return path;
}

} // namespace

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

// Runs one statement during opening; a busy database (another process creating it at the same
// moment) is waited for.
int execWaiting(sqlite3* db, const char* sql) {
    int rc = SQLITE_BUSY;
    for (int attempt = 0; attempt < 50 && (rc & 0xFF) == SQLITE_BUSY; ++attempt) {
        if (attempt > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        rc = sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
    }
    return rc;
}

// The answer when a lookup in a key found nothing: `missing`, or ERROR_KEY_DELETED when the key
// itself is gone.
LONG absent(Hive& hive, KeyId key, LONG missing) {
    const LONG status = hive.exists(key);
    return status == ERROR_SUCCESS ? missing : status;
}

// The folding rule the hive records; empty when it records none.
std::string recordedFolding(sqlite3* db) {
    sqlite3_stmt* stmt = nullptr;
    std::string rule;
    if (sqlite3_prepare_v2(db, "SELECT value FROM meta WHERE name = 'folding'", -1, &stmt,
                           nullptr) == SQLITE_OK &&
        sqlite3_step(stmt) == SQLITE_ROW) {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0));
        rule = text ? text : "";
    }
    sqlite3_finalize(stmt);
    return rule;
}

int recordFolding(sqlite3* db) {
    sqlite3_stmt* stmt = nullptr;
    int rc = sqlite3_prepare_v2(
        db, "INSERT OR REPLACE INTO meta(name, value) VALUES('folding', ?1)", -1, &stmt, nullptr);
    if (rc == SQLITE_OK) {
        sqlite3_bind_text(stmt, 1, foldingRule(), -1, SQLITE_STATIC);
        rc = sqlite3_step(stmt);
        rc = rc == SQLITE_DONE ? SQLITE_OK : rc;
    }
    sqlite3_finalize(stmt);
    return rc;
}

int pragmaInt(sqlite3* db, const char* sql, int& value) {
    sqlite3_stmt* stmt = nullptr;
    int rc = sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr);
    if (rc == SQLITE_OK) {
        rc = sqlite3_step(stmt);
        value = rc == SQLITE_ROW ? sqlite3_column_int(stmt, 0) : 0;
        rc = rc == SQLITE_ROW || rc == SQLITE_DONE ? SQLITE_OK : rc;
    }
    sqlite3_finalize(stmt);
    return rc;
}

} // namespace

LONG Hive::fail(int sqliteCode) {
    problem_ = describe(file_, sqliteCode, db_);
    return codeFor(sqliteCode);
}

sqlite3_stmt* Hive::statement(Statement which) const {
    return statements_[static_cast<std::size_t>(which)];
}

LONG Hive::open(const std::filesystem::path& file, std::unique_ptr<Hive>& hive,
                std::string& problem) {
    std::unique_ptr<Hive> opened(new Hive);
    opened->file_ = file;
    int rc =
        sqlite3_open_v2(file.c_str(), &opened->db_,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
    LONG status = rc == SQLITE_OK ? ERROR_SUCCESS : opened->fail(rc);
    if (status == ERROR_SUCCESS) {
        // Look before changing anything: another file stays as it is.
        sqlite3_busy_timeout(opened->db_, kBusyTimeoutMs);
        status = opened->checkFile();
    }
    if (status == ERROR_SUCCESS) {
        rc = execWaiting(opened->db_, "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL");
        status = rc == SQLITE_OK ? opened->createSchema() : opened->fail(rc);
    }
    if (status == ERROR_SUCCESS)
        status = opened->upgradeFolding();
    if (status == ERROR_SUCCESS)
        status = opened->prepareAll();
    if (status != ERROR_SUCCESS) {
        problem = opened->problem_;
        return status;
    }
    hive = std::move(opened);
    return ERROR_SUCCESS;
}

LONG Hive::checkFile() {
    int application = 0;
    int version = 0;
    int tables = 0;
    int rc = pragmaInt(db_, "PRAGMA application_id", application);
    if (rc == SQLITE_OK)
        rc = pragmaInt(db_, "PRAGMA user_version", version);
    if (rc == SQLITE_OK)
        rc = pragmaInt(db_, "SELECT count(*) FROM sqlite_master", tables);
    if (rc != SQLITE_OK)
        return fail(rc);
    if ((application != 0 && application != kApplicationId) || (version == 0 && tables != 0)) {
        problem_ = "the file " + file_.string() + " is not a registry hive";
        return ERROR_BADDB;
    }
    if (version > kSchemaVersion) {
        problem_ = "the registry hive " + file_.string() + " was written by a newer version";
        return ERROR_BADDB;
    }
    return ERROR_SUCCESS;
}

LONG Hive::createSchema() {
    int version = 0;
    int rc = pragmaInt(db_, "PRAGMA user_version", version);
    if (rc != SQLITE_OK)
        return fail(rc);
    if (version != 0) // this format, or an older one that upgradeFolding() brings up to it
        return ERROR_SUCCESS;

    // A new file: create the schema once, whoever comes first.
    rc = execWaiting(db_, "BEGIN IMMEDIATE");
    if (rc != SQLITE_OK)
        return fail(rc);
    int tables = 0;
    rc = pragmaInt(db_, "PRAGMA user_version", version);
    if (rc == SQLITE_OK)
        rc = pragmaInt(db_, "SELECT count(*) FROM sqlite_master", tables);
    if (rc != SQLITE_OK) {
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        return fail(rc);
    }
    if (version != 0) {
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        return ERROR_SUCCESS;
    }
    if (tables != 0) {
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        problem_ = "the file " + file_.string() + " is not a registry hive";
        return ERROR_BADDB;
    }
    const std::string stamp = "PRAGMA application_id=" + std::to_string(kApplicationId) +
                              "; PRAGMA user_version=" + std::to_string(kSchemaVersion) + ";";
    rc = sqlite3_exec(db_, kSchema, nullptr, nullptr, nullptr);
    if (rc == SQLITE_OK)
        rc = recordFolding(db_);
    if (rc == SQLITE_OK)
        rc = sqlite3_exec(db_, stamp.c_str(), nullptr, nullptr, nullptr);
    LONG status = rc == SQLITE_OK ? prepareAll() : fail(rc);
    const KeyRef machine{kLocalMachineId, "HKEY_LOCAL_MACHINE"};
    for (const char16_t* path : kMachineKeys) {
        if (status != ERROR_SUCCESS)
            break;
        std::vector<std::u16string> names;
        std::u16string_view rest(path);
        for (std::size_t cut; (cut = rest.find(u'\\')) != std::u16string_view::npos;
             rest.remove_prefix(cut + 1))
            names.emplace_back(rest.substr(0, cut));
        names.emplace_back(rest);
        KeyRef key;
        bool created = false;
        status = createLocked(machine, names, {}, {}, key, created);
    }
    if (status == ERROR_SUCCESS) {
        rc = sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr);
        if (rc != SQLITE_OK)
            status = fail(rc);
    }
    if (status != ERROR_SUCCESS)
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    return status;
}

LONG Hive::upgradeFolding() {
    int version = 0;
    int rc = pragmaInt(db_, "PRAGMA user_version", version);
    if (rc != SQLITE_OK)
        return fail(rc);
    const std::string inForce = foldingRule();
    if (version == kSchemaVersion && recordedFolding(db_) == inForce)
        return ERROR_SUCCESS;

    // Once, whoever comes first; the others find it done.
    rc = execWaiting(db_, "BEGIN IMMEDIATE");
    if (rc != SQLITE_OK)
        return fail(rc);
    rc = pragmaInt(db_, "PRAGMA user_version", version);
    if (rc == SQLITE_OK && version == kSchemaVersion && recordedFolding(db_) == inForce) {
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        return ERROR_SUCCESS;
    }
    std::vector<std::string> renamed;
    const std::string stamp = "PRAGMA user_version=" + std::to_string(kSchemaVersion);
    if (rc == SQLITE_OK)
        rc = sqlite3_exec(db_, kCreateMeta, nullptr, nullptr, nullptr);
    if (rc == SQLITE_OK)
        rc = refoldNames(db_, renamed);
    if (rc == SQLITE_OK)
        rc = recordFolding(db_);
    if (rc == SQLITE_OK)
        rc = sqlite3_exec(db_, stamp.c_str(), nullptr, nullptr, nullptr);
    if (rc == SQLITE_OK)
        rc = sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) {
        const LONG status = fail(rc);
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        return status;
    }
    reportRenames(renamed);
    return ERROR_SUCCESS;
}

void Hive::reportRenames(const std::vector<std::string>& renamed) const {
    if (renamed.empty())
        return;
    // Beside the hive for later, and on standard error for whoever runs the program now.
    const std::filesystem::path report = upgradeReportPath(file_);
    std::ofstream out(report, std::ios::app);
    out << "The registry hive " << file_.string() << " was brought to the name rule \""
        << foldingRule() << "\". Names that are now equal were kept apart:\n";
    for (const std::string& line : renamed)
        out << "  " << line << "\n";
    std::cerr << "registry: " << renamed.size()
              << " names of the hive became equal to others under the case rule in force and were "
                 "renamed; see "
              << report.string() << "\n";
}

LONG Hive::prepareAll() {
    if (!statements_.empty())
        return ERROR_SUCCESS;
    for (int which = 0; which < static_cast<int>(Statement::Count); ++which) {
        sqlite3_stmt* stmt = nullptr;
        const int rc = sqlite3_prepare_v3(db_, sqlOf(static_cast<Statement>(which)), -1,
                                          SQLITE_PREPARE_PERSISTENT, &stmt, nullptr);
        if (rc != SQLITE_OK) {
            const LONG status = fail(rc);
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

LONG Hive::contentVersion(std::int64_t& othersCommits, std::int64_t& ownChanges) {
    Query q(*this, Statement::DataVersion);
    bool row = false;
    if (LONG status = q.next(row))
        return status;
    othersCommits = row ? q.integer(0) : 0;
    ownChanges = sqlite3_total_changes64(db_);
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
