// A new hive: the check that a file is a hive of ours, the schema written once into a new file
// (whichever process comes first), and the keys a freshly installed machine has.
#include <chrono>
#include <thread>

#include <sqlite3.h>

#include "hive.h"
#include "statements.h"
#include "win/errors.h"

namespace sky::registry {

namespace {

// "SKYR" in the file header tells a hive from any other SQLite database.
constexpr int kApplicationId = 0x534B5952;
constexpr int kSchemaVersion = 1;

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

int Hive::execWaiting(sqlite3* db, const char* sql) {
    int rc = SQLITE_BUSY;
    for (int attempt = 0; attempt < 50 && (rc & 0xFF) == SQLITE_BUSY; ++attempt) {
        if (attempt > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        rc = sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
    }
    return rc;
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
        return errorFromSqlite(rc);
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
        return errorFromSqlite(rc);
    if (version == kSchemaVersion)
        return ERROR_SUCCESS;

    // A new file: create the schema once, whoever comes first.
    rc = execWaiting(db_, "BEGIN IMMEDIATE");
    if (rc != SQLITE_OK)
        return errorFromSqlite(rc);
    int tables = 0;
    rc = pragmaInt(db_, "PRAGMA user_version", version);
    if (rc == SQLITE_OK)
        rc = pragmaInt(db_, "SELECT count(*) FROM sqlite_master", tables);
    if (rc != SQLITE_OK) {
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        return errorFromSqlite(rc);
    }
    if (version == kSchemaVersion) {
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
        rc = sqlite3_exec(db_, stamp.c_str(), nullptr, nullptr, nullptr);
    LONG status = rc == SQLITE_OK ? prepareAll() : errorFromSqlite(rc);
    if (status == ERROR_SUCCESS)
        status = createMachineKeys();
    if (status == ERROR_SUCCESS) {
        rc = sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr);
        if (rc != SQLITE_OK)
            status = errorFromSqlite(rc);
    }
    if (status != ERROR_SUCCESS)
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    return status;
}

LONG Hive::createMachineKeys() {
    const KeyRef machine{kLocalMachineId, "HKEY_LOCAL_MACHINE"};
    LONG status = ERROR_SUCCESS;
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
    return status;
}

} // namespace sky::registry
