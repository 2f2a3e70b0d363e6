// The farm store: where a farm's data lives and the operations the object model performs on it.
// This is a small abstract interface with two kinds of store behind it: a farm kept in one SQLite
// file on this machine (the default, which needs nothing), and a farm kept in a PostgreSQL
// database that every server of the farm shares. Both run the same operations
// (sql_farm_store.h).
//
// Every operation is atomic: it takes effect completely or not at all, and it is safe when
// several processes use the same store at once (the service and administrators' tools). Every
// failure is a Status whose message an administrator can read. Lists come in a fixed order (see
// each member); that order is the order in which the object model enumerates them. Names are
// matched ignoring case; the store gives back the spelling it holds.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "qvcomsrv/store/audit.h"
#include "qvcomsrv/store/model.h"
#include "qvcomsrv/store/status.h"

namespace sky::farm {

enum class IconLoading { Skip, Load };

// More applications for a farm written whole, a batch at a time, so that a farm larger than
// memory comfortably holds goes in: each call fills `batch` (given empty) with the applications
// from number `first` on (counting from 0), and returns false once there are none left. A write
// that conflicted with another runs again from 0.
using ApplicationBatches = std::function<bool(std::size_t first, std::vector<Application>& batch)>;

class FarmStore {
public:
    // Not an automation interface: a store is owned through std::unique_ptr.
    virtual ~FarmStore() = default;

    // Where the store is, for messages: the path of its file, say.
    virtual std::string location() const = 0;

    // The farm: name, settings, and whether it reports session reliability.
    virtual Result<FarmInfo> farm() = 0;
    // One setting; NotSupported for a session reliability setting of a farm that does not
    // report them.
    virtual Result<SettingValue> farmSetting(FarmSetting setting) = 0;
    // Sets one setting at once (no save step); refuses a value the setting cannot take.
    virtual Status setFarmSetting(FarmSetting setting, const SettingValue& value) = 0;

    // Administrators' account names, ordered by name.
    virtual Result<std::vector<std::string>> administrators() = 0;
    virtual Result<bool> isAdministrator(std::string_view account) = 0;
    // AlreadyExists / NotFound when the account already is / is not an administrator.
    virtual Status addAdministrator(std::string_view account) = 0;
    virtual Status removeAdministrator(std::string_view account) = 0;

    // Zones and servers, each ordered by name.
    virtual Result<std::vector<Zone>> zones() = 0;
    virtual Result<std::vector<Server>> servers() = 0;
    virtual Result<Server> server(std::string_view name) = 0;

    // Application folders below the root, by distinguished name, ordered by it.
    virtual Result<std::vector<std::string>> folders() = 0;
    virtual Result<bool> folderExists(std::string_view dn) = 0;
    // Creates the folder `name` in the folder `parentDn` and gives its distinguished name.
    // NotFound when the parent does not exist, AlreadyExists when the name is taken by a folder
    // or an application.
    virtual Result<std::string> createSubFolder(std::string_view parentDn,
                                                std::string_view name) = 0;

    // Applications ordered by distinguished name; each with its servers (ordered by name), users
    // and groups (in the order they were granted), and its icon if asked for.
    virtual Result<std::vector<Application>> applications(IconLoading icons) = 0;
    // The applications published on one server; NotFound for a server the farm does not have.
    virtual Result<std::vector<Application>> applicationsOnServer(std::string_view server,
                                                                  IconLoading icons) = 0;
    // One application, with its icon; NotFound when there is none of that name.
    virtual Result<Application> application(std::string_view dn) = 0;
    // The icon of an application (empty: it has none of its own).
    virtual Result<Bytes> applicationIcon(std::int64_t applicationId) = 0;
    // Whether the application saved with this id is still in the farm (not deleted since).
    virtual Result<bool> applicationExists(std::int64_t applicationId) = 0;

    // Saves an application in one transaction.
    //
    // A new application (id 0) is created; its name must be free and its folder must exist.
    // For an existing application, `loaded` is the application as the caller loaded it: the
    // save applies what the caller changed since then (fields, settings, servers published or
    // withdrawn, accounts granted or removed, icon) to the application as it is now, so that
    // changes others saved in between are kept. Without `loaded` the application is replaced
    // with `edited` as a whole.
    //
    // Returns the application as saved (its icon not loaded unless the save changed it).
    virtual Result<Application> saveApplication(const Application& edited,
                                                const Application* loaded) = 0;
    virtual Status deleteApplication(std::string_view dn) = 0;

    // Publishes or withdraws one application on one server, at once. NotFound for an unknown
    // application or server, AlreadyExists when already published, NotFound when not published.
    virtual Status publish(std::string_view dn, std::string_view server) = 0;
    virtual Status unpublish(std::string_view dn, std::string_view server) = 0;

    // The whole farm, read in one consistent view, icons included.
    virtual Result<FarmImage> image() = 0;
    // Replaces the whole farm with `image`, and the applications `more` gives after its own, in
    // one transaction; folders that applications need are created. The audit trail is kept as
    // it is and records nothing for it.
    virtual Status replace(const FarmImage& image, const ApplicationBatches& more) = 0;
    Status replace(const FarmImage& image) { return replace(image, {}); }

    // The audit trail (audit.h): every change above records its entries in its own transaction.
    // Who the changes that follow are made by; until it is set, the process's user on this
    // machine (processActor).
    virtual void setActor(const AuditActor& actor) = 0;
    // Whether changes record entries (they do unless told otherwise); for measuring what the
    // trail costs.
    virtual void setAuditing(bool on) = 0;
    // The entries that match `query`, newest first.
    virtual Result<std::vector<AuditEntry>> auditTrail(const AuditQuery& query) = 0;
    // Removes the entries made before `before` (UTC, in the form of AuditEntry::time); gives how
    // many went.
    virtual Result<std::int64_t> pruneAuditTrail(std::string_view before) = 0;
};

// The kinds of store and where one is.
struct StoreLocation {
    std::string type; // kSqliteStoreType or kPostgresStoreType
    std::string path; // the store's file, or the database's connection string

    bool operator==(const StoreLocation&) const = default;
};

// The kinds' names, matched ignoring case wherever they are read ("sqlite" is SQLite).
inline constexpr std::string_view kSqliteStoreType = "SQLite";
inline constexpr std::string_view kPostgresStoreType = "PostgreSQL";

// The kind's name as this build spells it, or empty for a kind it does not know.
std::string canonicalStoreType(std::string_view type);

// A store given on a command line: a "postgresql://" (or "postgres://") URI names a PostgreSQL
// store, anything else a store file.
StoreLocation storeLocationFromText(std::string_view text);

// Opens an existing store; NotFound when there is none, Corrupt when it is damaged or is not a
// farm store, NotSupported for a type this build does not have, Unavailable when its database
// server cannot be reached.
Result<std::unique_ptr<FarmStore>> openFarmStore(const StoreLocation& location);

// Creates a store for a new farm with default settings, no applications and only the root
// folder; AlreadyExists when the store is there already. A PostgreSQL store goes into a
// database that exists.
Result<std::unique_ptr<FarmStore>> createFarmStore(const StoreLocation& location,
                                                   const FarmInfo& farm);

// Creates a store holding the whole farm `image`, and the applications `more` gives after its
// own. The store appears with all of it or not at all: a program killed part-way leaves no store
// behind, not even an empty one.
Result<std::unique_ptr<FarmStore>> createFarmStore(const StoreLocation& location,
                                                   const FarmImage& image,
                                                   const ApplicationBatches& more = {});

// Removes a store and the farm in it: its file, or its tables. Ok when there is none.
Status removeFarmStore(const StoreLocation& location);

} // namespace sky::farm
