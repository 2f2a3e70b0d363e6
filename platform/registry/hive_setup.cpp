// A new hive: the check that a file is a hive of ours, the schema written once into a new file
// (whichever process comes first), and the keys a freshly installed machine has; and the upgrade
// of a hive whose names were folded by another rule.
#include <chrono>
#include <fstream>
#include <iostream>
#include <string>
#include <string_view>
#include <thread>

#include <sqlite3.h>

#include "hive.h"
#include "refold.h"
#include "sky/text.h"
#include "statements.h"
#include "win/errors.h"
#include "win/registry.h"

namespace sky::registry {

namespace {

// "SKYR" in the file header tells a hive from any other SQLite database.
constexpr int kApplicationId = 0x534B5952;
// 1: names folded for ASCII and Latin-1 only, no record of the rule. 2: the rule by which the
// names are folded is recorded in meta ("folding"); a hive folded by another is folded again.
constexpr int kSchemaVersion = 2;
constexpr char kCreateMeta[] = "CREATE TABLE IF NOT EXISTS meta(name TEXT PRIMARY KEY, "
                               "value TEXT NOT NULL)";

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

// The values a freshly installed machine has in those keys: the version that GetVersionExW
// reports when the registry records none, so that a program reading the registry (or `reg query
// ... /v CurrentVersion`, reg's own example) and GetVersionExW agree from the start.
struct MachineValue {
    const char16_t* key;
    const char16_t* name;
    std::u16string_view text; // REG_SZ
};
constexpr MachineValue kMachineValues[] = {
    {u"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", u"CurrentVersion", u"5.2"},
    {u"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", u"CurrentBuildNumber", u"3790"},
    {u"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", u"CSDVersion", u"Service Pack 2"},
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
    if (version == 0) {
        // Empty, or cut short before its first page: a hive file is never made empty.
        problem_ = "the registry hive " + file_.string() + " is damaged (it holds nothing)";
        return ERROR_REGISTRY_CORRUPT;
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
    if (version != 0) // this format, or an older one that upgradeFolding() brings up to it
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
    LONG status = rc == SQLITE_OK ? prepareAll() : errorFromSqlite(rc);
    if (status == ERROR_SUCCESS && !account_)
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
        for (const MachineValue& value : kMachineValues) {
            if (status != ERROR_SUCCESS || std::u16string_view(value.key) != path)
                continue;
            std::u16string data(value.text);
            data.push_back(u'\0');
            status =
                setValue(key.id, value.name, REG_SZ, reinterpret_cast<const BYTE*>(data.data()),
                         data.size() * sizeof(char16_t));
        }
    }
    return status;
}

LONG Hive::upgradeFolding() {
    int version = 0;
    int rc = pragmaInt(db_, "PRAGMA user_version", version);
    if (rc != SQLITE_OK)
        return errorFromSqlite(rc);
    const std::string inForce = foldingRule();
    if (version == kSchemaVersion && recordedFolding(db_) == inForce)
        return ERROR_SUCCESS;

    // Once, whoever comes first; the others find it done.
    rc = execWaiting(db_, "BEGIN IMMEDIATE");
    if (rc != SQLITE_OK)
        return errorFromSqlite(rc);
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
        const LONG status = errorFromSqlite(rc);
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

} // namespace sky::registry
