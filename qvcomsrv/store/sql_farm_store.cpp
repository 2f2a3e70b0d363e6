#include "qvcomsrv/store/sql_farm_store.h"

#include <algorithm>
#include <chrono>
#include <map>
#include <mutex>
#include <random>
#include <thread>

#include "qvcomsrv/store/merge.h"
#include "qvcomsrv/store/names.h"
#include "qvcomsrv/store/sql_applications.h"
#include "qvcomsrv/store/sql_lookups.h"
#include "qvcomsrv/store/sql_schema.h"

namespace sky::farm {

using sql::ApplicationTable;
using sql::Connection;
using sql::throwStatus;
using sql::Transaction;

namespace {

constexpr int kFirstFarmSettingColumn = 2; // after name and reports_session_reliability

Status checkFarmName(std::string_view name) {
    if (name.empty())
        return Status::invalidArgument("The farm name must not be empty.");
    return Status::ok();
}

// How often an operation that conflicted with another transaction is tried in all, and the
// longest pause before the last try. Four programs saving the same applications at once on
// PostgreSQL, on a loaded machine, ran out of 30 tries within a 50 ms longest pause one time in
// three; the pauses, a tenth of a second on average towards the end, now outlast such a run.
constexpr int kAttempts = 30;
constexpr std::chrono::milliseconds kLongestPause{200};

// The audit trail's columns that a change writes, and how many entries one statement writes.
constexpr int kAuditColumns = 13;
constexpr std::size_t kAuditRowsPerInsert = 100;

// How many applications of a farm being replaced are written at once.
constexpr std::size_t kReplaceBatch = 1000;

class SqlFarmStore final : public FarmStore {
public:
    explicit SqlFarmStore(std::unique_ptr<Connection> db)
        : db_(std::move(db)), applications_(*db_) {}

    std::string location() const override { return db_->location(); }

    Result<FarmInfo> farm() override {
        return runLocked([&]() -> Result<FarmInfo> { return readFarm(); });
    }

    Result<SettingValue> farmSetting(FarmSetting setting) override {
        return runLocked([&]() -> Result<SettingValue> {
            const FarmInfo info = readFarm();
            if (Status s = checkReported(info, setting); !s)
                return s;
            return info.settings.get(setting);
        });
    }

    Status setFarmSetting(FarmSetting setting, const SettingValue& value) override {
        return runLocked([&]() -> Status {
            if (Status s = definition(setting).check(value); !s)
                return s;
            Transaction tx(*db_, Transaction::Kind::Write);
            const FarmInfo before = readFarm();
            if (Status s = checkReported(before, setting); !s)
                return s;
            record(farmSettingEntries(before.name, setting, before.settings.get(setting), value));
            const std::string sql =
                "UPDATE farm SET \"" + std::string(definition(setting).name) + "\" = ?1";
            auto q = db_->query(sql);
            if (const auto* number = std::get_if<std::int32_t>(&value))
                q.bind(1, *number);
            else
                q.bind(1, std::get<std::string>(value));
            q.run();
            tx.commit();
            return Status::ok();
        });
    }

    Result<std::vector<std::string>> administrators() override {
        return runLocked([&]() -> Result<std::vector<std::string>> {
            std::vector<std::string> names;
            auto q = db_->query("SELECT account FROM administrator ORDER BY account_key");
            while (q.step())
                names.push_back(q.text(0));
            return names;
        });
    }

    Result<bool> isAdministrator(std::string_view account) override {
        return runLocked([&]() -> Result<bool> {
            auto q = db_->query("SELECT 1 FROM administrator WHERE account_key = ?1");
            q.bind(1, nameKey(account));
            return q.step();
        });
    }

    Status addAdministrator(std::string_view account) override {
        return runLocked([&]() -> Status {
            if (account.empty())
                return Status::invalidArgument("The administrator's account name must not be "
                                               "empty.");
            Transaction tx(*db_, Transaction::Kind::Write);
            if (!insertAdministrator(account))
                return Status::alreadyExists(std::string(account) +
                                             " is already an administrator of the farm.");
            record({auditEntry("AddAdministrator", account)});
            tx.commit();
            return Status::ok();
        });
    }

    Status removeAdministrator(std::string_view account) override {
        return runLocked([&]() -> Status {
            Transaction tx(*db_, Transaction::Kind::Write);
            auto q = db_->query("DELETE FROM administrator WHERE account_key = ?1");
            q.bind(1, nameKey(account));
            q.run();
            if (db_->changes() == 0)
                return Status::notFound(std::string(account) +
                                        " is not an administrator of the farm.");
            record({auditEntry("RemoveAdministrator", account)});
            tx.commit();
            return Status::ok();
        });
    }

    Result<std::vector<Zone>> zones() override {
        return runLocked([&]() -> Result<std::vector<Zone>> { return readZones(); });
    }

    Result<std::vector<Server>> servers() override {
        return runLocked([&]() -> Result<std::vector<Server>> { return readServers(); });
    }

    Result<Server> server(std::string_view name) override {
        return runLocked([&]() -> Result<Server> {
            auto q = db_->query("SELECT s.name, z.name, s.os_major, s.os_minor FROM server s "
                                "JOIN zone z ON z.id = s.zone_id WHERE s.name_key = ?1");
            q.bind(1, nameKey(name));
            if (!q.step())
                return Status::notFound("There is no server named " + std::string(name) +
                                        " in the farm.");
            return serverFrom(q);
        });
    }

    Result<std::vector<std::string>> folders() override {
        return runLocked([&]() -> Result<std::vector<std::string>> { return readFolders(); });
    }

    Result<bool> folderExists(std::string_view dn) override {
        return runLocked([&]() -> Result<bool> { return sql::findFolder(*db_, dn).has_value(); });
    }

    Result<std::string> createSubFolder(std::string_view parentDn, std::string_view name) override {
        return runLocked([&]() -> Result<std::string> {
            if (Status s = checkSegmentName("folder", name); !s)
                return s;
            Transaction tx(*db_, Transaction::Kind::Write);
            const sql::FolderRow parent = sql::requireFolder(*db_, parentDn);
            std::string dn = insertFolder(parent, name).dn;
            record({auditEntry("CreateFolder", dn)});
            tx.commit();
            return dn;
        });
    }

    Result<std::vector<Application>> applications(IconLoading icons) override {
        return runLocked([&]() -> Result<std::vector<Application>> {
            Transaction tx(*db_, Transaction::Kind::Read);
            return applications_.load(ApplicationTable::Selection::All, 0, icons);
        });
    }

    Result<std::vector<Application>> applicationsOnServer(std::string_view server,
                                                          IconLoading icons) override {
        return runLocked([&]() -> Result<std::vector<Application>> {
            Transaction tx(*db_, Transaction::Kind::Read);
            const sql::ServerRow row = sql::requireServer(*db_, server);
            return applications_.load(ApplicationTable::Selection::OnServer, row.id, icons);
        });
    }

    Result<Application> application(std::string_view dn) override {
        return runLocked([&]() -> Result<Application> {
            Transaction tx(*db_, Transaction::Kind::Read);
            const std::int64_t id = sql::requireApplication(*db_, dn);
            auto apps = applications_.load(ApplicationTable::Selection::One, id, IconLoading::Load);
            return std::move(apps.front());
        });
    }

    Result<Bytes> applicationIcon(std::int64_t applicationId) override {
        return runLocked([&]() -> Result<Bytes> { return applications_.icon(applicationId); });
    }

    Result<bool> applicationExists(std::int64_t applicationId) override {
        return runLocked([&]() -> Result<bool> {
            auto q = db_->query("SELECT 1 FROM application WHERE id = ?1");
            q.bind(1, applicationId);
            return q.step();
        });
    }

    Result<Application> saveApplication(const Application& edited,
                                        const Application* loaded) override {
        return runLocked([&]() -> Result<Application> {
            Transaction tx(*db_, Transaction::Kind::Write);
            Application target;
            if (edited.id == 0) {
                target = edited;
                sql::ApplicationTable::Written written = applications_.insert(target);
                if (auditing_)
                    record(applicationChangeEntries(nullptr, target), written.dnKey);
                tx.commit();
                target.id = written.readId(*db_, target);
                return target;
            } else {
                // The names the change gives are looked up with the read of the application
                // as it is now, in one round trip; a change merged in from another
                // administrator that names others has them looked up after. A change that
                // keeps the application's place and servers, as most do, has none to look up.
                ApplicationTable::Lookup lookup =
                    loaded && ApplicationTable::keepsPlace(edited, *loaded)
                        ? ApplicationTable::Lookup{}
                        : applications_.lookUp(edited);
                auto found = applications_.load(ApplicationTable::Selection::One, edited.id,
                                                IconLoading::Skip);
                if (found.empty())
                    return Status::notFound("The application " + edited.distinguishedName() +
                                            " no longer exists in the farm; another "
                                            "administrator may have deleted it.");
                Application& current = found.front();
                target = loaded ? mergeChanges(current, *loaded, edited) : edited;
                target.id = current.id;
                // The change is told from what the save read and wrote: the application as it
                // was (read without its icon) and as written, its names in the stored spelling.
                // The stored icon is read, before it is overwritten, only when the save writes
                // another.
                if (auditing_ && target.icon && !(loaded && loaded->icon == edited.icon))
                    current.icon = applications_.icon(current.id);
                const sql::ApplicationTable::Written written =
                    applications_.update(current, target, &lookup);
                if (auditing_)
                    record(applicationChangeEntries(&current, target), written.dnKey);
            }
            tx.commit();
            return target;
        });
    }

    Status deleteApplication(std::string_view dn) override {
        return runLocked([&]() -> Status {
            Transaction tx(*db_, Transaction::Kind::Write);
            const std::int64_t id = sql::requireApplication(*db_, dn);
            record({auditEntry("DeleteApplication", sql::storedDistinguishedName(*db_, id))});
            auto q = db_->query("DELETE FROM application WHERE id = ?1");
            q.bind(1, id);
            q.run();
            tx.commit();
            return Status::ok();
        });
    }

    Status publish(std::string_view dn, std::string_view server) override {
        return changePublication(dn, server, true);
    }

    Status unpublish(std::string_view dn, std::string_view server) override {
        return changePublication(dn, server, false);
    }

    Result<FarmImage> image() override {
        return runLocked([&]() -> Result<FarmImage> {
            Transaction tx(*db_, Transaction::Kind::Read);
            FarmImage image;
            image.farm = readFarm();
            auto q = db_->query("SELECT account FROM administrator ORDER BY account_key");
            while (q.step())
                image.administrators.push_back(q.text(0));
            image.zones = readZones();
            image.servers = readServers();
            image.folders = readFolders();
            image.applications =
                applications_.load(ApplicationTable::Selection::All, 0, IconLoading::Load);
            return image;
        });
    }

    Status replace(const FarmImage& image, const ApplicationBatches& more) override {
        return runLocked([&]() -> Status {
            if (Status s = checkFarmName(image.farm.name); !s)
                return s;
            Transaction tx(*db_, Transaction::Kind::Write);
            db_->exec("DELETE FROM account_grant; DELETE FROM publication; "
                      "DELETE FROM application_icon; DELETE FROM application; "
                      "DELETE FROM folder WHERE parent_id IS NOT NULL; "
                      "UPDATE zone SET data_collector_id = NULL; DELETE FROM server; "
                      "DELETE FROM zone; DELETE FROM administrator;");
            writeFarm(image.farm);
            for (const std::string& account : image.administrators) {
                if (account.empty())
                    return Status::invalidArgument("An administrator's account name is empty.");
                if (!insertAdministrator(account))
                    return Status::alreadyExists("The administrator " + account +
                                                 " is listed twice.");
            }
            writeZonesAndServers(image);
            ApplicationTable::Known known = knownAfterReplacing();
            for (const std::string& folder : image.folders)
                ensureFolder(folder, known);
            std::vector<Application> batch;
            for (std::size_t first = 0; first < image.applications.size(); first += kReplaceBatch) {
                const auto from = image.applications.begin() + static_cast<std::ptrdiff_t>(first);
                batch.assign(from, from + static_cast<std::ptrdiff_t>(std::min(
                                              kReplaceBatch, image.applications.size() - first)));
                writeBatch(batch, known);
            }
            batch.clear();
            for (std::size_t next = 0; more && more(next, batch) && !batch.empty();) {
                next += batch.size();
                writeBatch(batch, known);
                batch.clear();
            }
            tx.commit();
            return Status::ok();
        });
    }

    void setActor(const AuditActor& actor) override {
        std::lock_guard lock(mutex_);
        if (actor == actor_)
            return;
        actor_ = actor;
        actorKey_ = nameKey(actor_.user);
    }

    void setAuditing(bool on) override {
        std::lock_guard lock(mutex_);
        auditing_ = on;
    }

    Result<std::vector<AuditEntry>> auditTrail(const AuditQuery& query) override {
        return runLocked([&]() -> Result<std::vector<AuditEntry>> {
            Transaction tx(*db_, Transaction::Kind::Read);
            std::vector<AuditEntry> entries;
            auto q = db_->query(
                "SELECT id, \"time\", account, machine, operation, dn, setting, has_old, "
                "old_value, has_new, new_value FROM audit WHERE (?1 = '' OR \"time\" >= ?1) AND "
                "(?2 = '' OR account_key = ?2) AND (?3 = '' OR dn_key = ?3) ORDER BY MIN(id) "
                "OVER (PARTITION BY change_id) DESC, id");
            q.bind(1, query.since.value_or(""))
                .bind(2, query.user ? nameKey(*query.user) : "")
                .bind(3, query.application ? nameKey(*query.application) : "");
            while (q.step()) {
                AuditEntry entry;
                entry.id = q.integer(0);
                entry.time = q.text(1);
                entry.user = q.text(2);
                entry.machine = q.text(3);
                entry.operation = q.text(4);
                entry.distinguishedName = q.text(5);
                entry.setting = q.text(6);
                if (q.integer(7))
                    entry.oldValue = q.text(8);
                if (q.integer(9))
                    entry.newValue = q.text(10);
                entries.push_back(std::move(entry));
            }
            return entries;
        });
    }

    Result<std::int64_t> pruneAuditTrail(std::string_view before) override {
        return runLocked([&]() -> Result<std::int64_t> {
            Transaction tx(*db_, Transaction::Kind::Write);
            auto q = db_->query("DELETE FROM audit WHERE \"time\" < ?1");
            q.bind(1, before);
            q.run();
            const std::int64_t removed = db_->changes();
            tx.commit();
            return removed;
        });
    }

private:
    // Writes the entries of a change into the audit trail, inside the change's transaction.
    // `dnKey`, when given, is the key of every entry's distinguished name, as the change found it.
    void record(const std::vector<AuditEntry>& entries, std::string_view dnKey = {}) {
        if (!auditing_ || entries.empty())
            return;
        const std::string time = auditTimeNow();
        const std::string& userKey = actorKey_;
        // The entries go in together, a statement for up to kAuditRowsPerInsert of them, and
        // nothing of the table is read: a change waits for as few round trips as can be, and
        // changes recorded at once by several programs never conflict over the trail. The
        // change's number is drawn at random, so that it needs no read either.
        const std::int64_t change =
            static_cast<std::int64_t>(changeNumbers_() >> 2) + 1; // positive, and never 0
        std::string dn;
        std::string key;
        if (!dnKey.empty()) {
            dn = entries.front().distinguishedName;
            key = dnKey;
        }
        for (std::size_t first = 0; first < entries.size(); first += kAuditRowsPerInsert) {
            const std::size_t count = std::min(kAuditRowsPerInsert, entries.size() - first);
            auto q = db_->query(auditInsertSql(count));
            for (std::size_t row = 0; row < count; ++row) {
                const AuditEntry& entry = entries[first + row];
                if (entry.distinguishedName != dn) {
                    dn = entry.distinguishedName;
                    key = nameKey(dn);
                }
                const int p = static_cast<int>(row) * kAuditColumns;
                q.bind(p + 1, change)
                    .bind(p + 2, time)
                    .bind(p + 3, actor_.user)
                    .bind(p + 4, userKey)
                    .bind(p + 5, actor_.machine)
                    .bind(p + 6, entry.operation)
                    .bind(p + 7, entry.distinguishedName)
                    .bind(p + 8, key)
                    .bind(p + 9, entry.setting)
                    .bind(p + 10, std::int64_t{entry.oldValue.has_value()})
                    .bind(p + 11, entry.oldValue.value_or(""))
                    .bind(p + 12, std::int64_t{entry.newValue.has_value()})
                    .bind(p + 13, entry.newValue.value_or(""));
            }
            q.send(); // answered with the commit
        }
    }

    // INSERT INTO audit ... for `rows` entries, made once for each number of rows.
    const std::string& auditInsertSql(std::size_t rows) {
        std::string& sql = auditInserts_[rows];
        if (sql.empty()) {
            sql = "INSERT INTO audit (change_id, \"time\", account, account_key, machine, "
                  "operation, dn, dn_key, setting, has_old, old_value, has_new, new_value) VALUES ";
            for (std::size_t row = 0; row < rows; ++row)
                sql += (row ? ", (" : "(") +
                       sql::parameters(static_cast<int>(row) * kAuditColumns + 1, kAuditColumns) +
                       ")";
        }
        return sql;
    }

    // Runs `body` alone (one thread at a time on this connection) and turns failures into the
    // Status it returns. A body that conflicted with another program's transaction, and was
    // rolled back, runs again after a short pause of random length.
    template <typename Body> auto runLocked(Body&& body) -> decltype(body()) {
        std::lock_guard lock(mutex_);
        for (int attempt = 1;; ++attempt) {
            try {
                db_->prepareForUse();
                return body();
            } catch (const sql::Failure& failure) {
                if (!failure.retry || attempt == kAttempts)
                    return failure.status;
            } catch (const std::bad_alloc&) {
                return Status::internal("The farm store ran out of memory.");
            }
            const auto longest = kLongestPause * attempt / kAttempts;
            std::uniform_int_distribution<long> pause(0,
                                                      std::chrono::microseconds(longest).count());
            std::this_thread::sleep_for(std::chrono::microseconds(pause(random_)));
        }
    }

    // False when the account is an administrator already.
    bool insertAdministrator(std::string_view account) {
        auto q = db_->query(
            "INSERT INTO administrator (account_key, account) VALUES (?1, ?2) ON CONFLICT DO "
            "NOTHING");
        q.bind(1, nameKey(account)).bind(2, account);
        q.run();
        return db_->changes() != 0;
    }

    Status changePublication(std::string_view dn, std::string_view server, bool publish) {
        return runLocked([&]() -> Status {
            Transaction tx(*db_, Transaction::Kind::Write);
            const std::int64_t app = sql::requireApplication(*db_, dn);
            const sql::ServerRow row = sql::requireServer(*db_, server);
            auto q = db_->query(publish ? "INSERT INTO publication (application_id, server_id) "
                                          "VALUES (?1, ?2) ON CONFLICT DO NOTHING"
                                        : "DELETE FROM publication WHERE application_id = ?1 AND "
                                          "server_id = ?2");
            q.bind(1, app).bind(2, row.id);
            q.run();
            if (db_->changes() == 0) {
                const std::string stored = sql::storedDistinguishedName(*db_, app);
                return publish ? alreadyPublished(stored, row.name)
                               : notPublished(stored, row.name);
            }
            const std::string stored = sql::storedDistinguishedName(*db_, app);
            record({publish ? auditEntry("Publish", stored, "Server", std::nullopt, row.name)
                            : auditEntry("Unpublish", stored, "Server", row.name, std::nullopt)});
            tx.commit();
            return Status::ok();
        });
    }

    FarmInfo readFarm() {
        auto q = db_->query("SELECT name, reports_session_reliability, " +
                            sql::farmSettingColumns() + " FROM farm WHERE id = 1");
        if (!q.step())
            throwStatus(
                Status::corrupt("The farm store " + db_->location() + " has lost its farm."));
        FarmInfo info;
        info.name = q.text(0);
        info.reportsSessionReliability = q.integer(1) != 0;
        for (std::size_t i = 0; i < kFarmSettingCount; ++i) {
            const auto id = static_cast<FarmSetting>(i);
            const int column = kFirstFarmSettingColumn + static_cast<int>(i);
            SettingValue value = definition(id).isText()
                                     ? SettingValue(q.text(column))
                                     : SettingValue(static_cast<std::int32_t>(q.integer(column)));
            if (Status s = info.settings.set(id, std::move(value)); !s)
                throwStatus(Status::corrupt("The farm store " + db_->location() +
                                            " holds a farm setting that cannot be. " +
                                            s.message()));
        }
        return info;
    }

    void writeFarm(const FarmInfo& info) {
        std::string sql = "UPDATE farm SET name = ?1, reports_session_reliability = ?2";
        int parameter = kFirstFarmSettingColumn + 1;
        for (const SettingDef& def : farmSettingDefs())
            sql += ", \"" + std::string(def.name) + "\" = ?" + std::to_string(parameter++);
        auto q = db_->query(sql);
        q.bind(1, info.name).bind(2, info.reportsSessionReliability ? 1 : 0);
        for (std::size_t i = 0; i < kFarmSettingCount; ++i) {
            const auto id = static_cast<FarmSetting>(i);
            const int p = kFirstFarmSettingColumn + 1 + static_cast<int>(i);
            if (definition(id).isText())
                q.bind(p, info.settings.text(id));
            else
                q.bind(p, info.settings.number(id));
        }
        q.run();
    }

    Status checkReported(const FarmInfo& info, FarmSetting setting) {
        if (isSessionReliability(setting) && !info.reportsSessionReliability)
            return Status::notSupported("The farm " + info.name +
                                        " does not report session reliability settings.");
        return Status::ok();
    }

    std::vector<Zone> readZones() {
        std::vector<Zone> zones;
        auto q = db_->query("SELECT z.name, coalesce(s.name, '') FROM zone z LEFT JOIN server s "
                            "ON s.id = z.data_collector_id ORDER BY z.name_key");
        while (q.step())
            zones.push_back({q.text(0), q.text(1)});
        return zones;
    }

    static Server serverFrom(const sql::Query& q) {
        return {q.text(0), q.text(1), static_cast<std::int32_t>(q.integer(2)),
                static_cast<std::int32_t>(q.integer(3))};
    }

    std::vector<Server> readServers() {
        std::vector<Server> servers;
        auto q = db_->query("SELECT s.name, z.name, s.os_major, s.os_minor FROM server s JOIN "
                            "zone z ON z.id = s.zone_id ORDER BY s.name_key");
        while (q.step())
            servers.push_back(serverFrom(q));
        return servers;
    }

    std::vector<std::string> readFolders() {
        std::vector<std::string> folders;
        auto q = db_->query("SELECT dn FROM folder WHERE parent_id IS NOT NULL ORDER BY dn_key");
        while (q.step())
            folders.push_back(q.text(0));
        return folders;
    }

    // The new folder's row.
    sql::FolderRow insertFolder(const sql::FolderRow& parent, std::string_view name) {
        const std::string dn = joinDistinguishedName(parent.dn, name);
        if (auto existing = sql::findFolder(*db_, dn))
            throwStatus(Status::alreadyExists("The folder " + existing->dn + " already exists."));
        if (auto app = sql::findApplication(*db_, dn))
            throwStatus(
                Status::alreadyExists(sql::storedDistinguishedName(*db_, *app) +
                                      " is an application; a folder cannot have its name."));
        auto q = db_->query("INSERT INTO folder (parent_id, name, dn, dn_key) VALUES (?1, ?2, "
                            "?3, ?4) RETURNING id");
        q.bind(1, parent.id).bind(2, name).bind(3, dn).bind(4, nameKey(dn));
        if (!q.step())
            throwStatus(Status::internal("The farm store " + db_->location() +
                                         " gave no id for the new folder " + dn + "."));
        return {q.integer(0), dn};
    }

    // What a farm emptied by replace holds, once its servers are written: the root folder and
    // the servers.
    ApplicationTable::Known knownAfterReplacing() {
        ApplicationTable::Known known;
        known.folders.emplace(nameKey(kRootFolder), sql::requireFolder(*db_, kRootFolder));
        auto q = db_->query("SELECT id, name FROM server");
        while (q.step())
            known.servers.emplace(nameKey(q.text(1)), sql::ServerRow{q.integer(0), q.text(1)});
        return known;
    }

    // The folder and every folder above it, created where missing, among those `known` holds.
    void ensureFolder(std::string_view dn, ApplicationTable::Known& known) {
        auto segments = splitDistinguishedName(dn);
        if (!segments)
            throwStatus(segments.status());
        sql::FolderRow folder = known.folders.at(nameKey(kRootFolder));
        for (const std::string& segment : *segments) {
            if (Status s = checkSegmentName("folder", segment); !s)
                throwStatus(s);
            const std::string child = joinDistinguishedName(folder.dn, segment);
            const std::string key = nameKey(child);
            if (auto existing = known.folders.find(key); existing != known.folders.end()) {
                folder = existing->second;
                continue;
            }
            if (known.applications.contains(key))
                throwStatus(Status::alreadyExists(
                    child + " is an application; a folder cannot have its name."));
            folder = insertFolder(folder, segment);
            known.folders.emplace(key, folder);
        }
    }

    // Writes a batch of the applications of a farm being replaced, creating their folders.
    void writeBatch(std::vector<Application>& batch, ApplicationTable::Known& known) {
        for (Application& app : batch) {
            try {
                ensureFolder(app.folder, known);
            } catch (const sql::Failure& failure) {
                if (failure.retry)
                    throw;
                throwStatus(
                    failure.status.withContext(app.distinguishedName() + " cannot be stored: "));
            }
        }
        applications_.insertMany(batch, known);
    }

    void writeZonesAndServers(const FarmImage& image) {
        for (const Zone& zone : image.zones) {
            if (zone.name.empty())
                throwStatus(Status::invalidArgument("A zone name must not be empty."));
            auto q = db_->query(
                "INSERT INTO zone (name, name_key) VALUES (?1, ?2) ON CONFLICT DO NOTHING");
            q.bind(1, zone.name).bind(2, nameKey(zone.name));
            q.run();
            if (db_->changes() == 0)
                throwStatus(Status::alreadyExists("The zone " + zone.name + " is listed twice."));
        }
        for (const Server& server : image.servers) {
            if (server.name.empty())
                throwStatus(Status::invalidArgument("A server name must not be empty."));
            auto zone = db_->query("SELECT id FROM zone WHERE name_key = ?1");
            zone.bind(1, nameKey(server.zone));
            if (!zone.step())
                throwStatus(Status::notFound("The zone " + server.zone + " of server " +
                                             server.name + " is not a zone of the farm."));
            auto q = db_->query("INSERT INTO server (name, name_key, zone_id, os_major, "
                                "os_minor) VALUES (?1, ?2, ?3, ?4, ?5) ON CONFLICT DO NOTHING");
            q.bind(1, server.name)
                .bind(2, nameKey(server.name))
                .bind(3, zone.integer(0))
                .bind(4, server.osMajor)
                .bind(5, server.osMinor);
            q.run();
            if (db_->changes() == 0)
                throwStatus(
                    Status::alreadyExists("The server " + server.name + " is listed twice."));
        }
        for (const Zone& zone : image.zones) {
            if (zone.dataCollector.empty())
                continue;
            auto it =
                std::find_if(image.servers.begin(), image.servers.end(),
                             [&](const Server& s) { return sameName(s.name, zone.dataCollector); });
            if (it == image.servers.end() || !sameName(it->zone, zone.name))
                throwStatus(Status::invalidArgument("The data collector " + zone.dataCollector +
                                                    " of zone " + zone.name +
                                                    " is not a server of that zone."));
            auto q = db_->query("UPDATE zone SET data_collector_id = (SELECT id FROM server "
                                "WHERE name_key = ?1) WHERE name_key = ?2");
            q.bind(1, nameKey(zone.dataCollector)).bind(2, nameKey(zone.name));
            q.run();
        }
    }

    std::mutex mutex_;
    std::unique_ptr<Connection> db_;
    ApplicationTable applications_;
    // Who the changes are recorded as made by, and whether they are recorded.
    AuditActor actor_ = processActor();
    std::string actorKey_ = nameKey(actor_.user);
    bool auditing_ = true;
    std::mt19937_64 changeNumbers_{std::random_device{}()};
    std::map<std::size_t, std::string> auditInserts_;
    std::minstd_rand random_{std::random_device{}()};
};

} // namespace

std::unique_ptr<FarmStore> makeSqlFarmStore(std::unique_ptr<sql::Connection> db) {
    return std::make_unique<SqlFarmStore>(std::move(db));
}

void writeNewFarm(sql::Connection& db, const FarmInfo& farm) {
    {
        auto q = db.query("INSERT INTO folder (parent_id, name, dn, dn_key) VALUES (NULL, ?1, ?1, "
                          "?2)");
        q.bind(1, kRootFolder).bind(2, nameKey(kRootFolder));
        q.run();
    }
    auto q =
        db.query("INSERT INTO farm (id, name, reports_session_reliability) VALUES (1, ?1, ?2)");
    q.bind(1, farm.name).bind(2, farm.reportsSessionReliability ? 1 : 0);
    q.run();
}

Status checkNewFarm(const FarmInfo& farm) {
    return checkFarmName(farm.name);
}

} // namespace sky::farm
