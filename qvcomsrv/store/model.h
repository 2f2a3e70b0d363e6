// The farm's data as the store hands it out and takes it back: plain values, no store behind
// them. Text is UTF-8.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "qvcomsrv/store/names.h"
#include "qvcomsrv/store/settings.h"
#include "qvcomsrv/store/status.h"

namespace sky::farm {

using Bytes = std::vector<std::uint8_t>;

// SkyloomObjectType codes the store knows by name.
inline constexpr std::int32_t kWindowsFarmType = 1;
inline constexpr std::int32_t kWindowsApplicationType = 3;
inline constexpr std::int32_t kPublishedContentType = 4;
inline constexpr std::int32_t kPublishedDesktopType = 5;
inline constexpr std::int32_t kWindowsServerType = 6;

struct FarmInfo {
    std::string name;
    // Farms of earlier releases do not report the session reliability settings: reading or
    // writing one of them then gives NotSupported (isSessionReliability).
    bool reportsSessionReliability = true;
    FarmSettings settings;

    bool operator==(const FarmInfo&) const = default;
};

struct Zone {
    std::string name;
    std::string dataCollector; // a server of the zone, or empty while none is chosen

    bool operator==(const Zone&) const = default;
};

struct Server {
    std::string name;
    std::string zone;
    std::int32_t osMajor = 5; // WinNTVerMajor
    std::int32_t osMinor = 2; // WinNTVerMinor

    bool operator==(const Server&) const = default;
};

// A user or group that may run an application.
struct Account {
    std::int32_t accountType = 0;   // SkyloomAccountType
    std::int32_t authorityType = 0; // QVAccountAuthorityType
    std::string authorityName;
    std::string name;

    bool operator==(const Account&) const = default;
    // The same account: authority type, authority name and name, names ignoring case.
    bool sameAccount(const Account& other) const;
    std::string displayName() const; // "CORP\alice", or "alice" without an authority name
};

struct Application {
    std::int64_t id = 0;             // the store's id; 0 for an application not saved yet
    std::string name;                // AppName
    std::string folder{kRootFolder}; // ParentFolderDN
    std::int32_t type = kWindowsApplicationType;
    std::string description;
    AppSettings settings;
    std::vector<std::string> servers; // names of the servers it is published on
    std::vector<Account> users;
    std::vector<Account> groups;
    // The application's icon as .ico bytes. Empty: the application has no icon of its own and
    // shows the default icon. nullopt: not loaded (left as stored when the application is saved).
    std::optional<Bytes> icon;

    std::string distinguishedName() const;
    bool isPublishedOn(std::string_view server) const;

    bool operator==(const Application&) const = default;
};

// In-memory publishing, as the object model's AddServer and RemoveServer do before SaveData:
// AlreadyExists "The application ... is already published on server S." and NotFound "The
// application ... is not published on server S.".
Status publishOn(Application& app, std::string_view server);
Status withdrawFrom(Application& app, std::string_view server);
Status alreadyPublished(std::string_view dn, std::string_view server);
Status notPublished(std::string_view dn, std::string_view server);

// In-memory grants; granting an account that is already granted changes nothing.
void grantUser(Application& app, Account user);
void grantGroup(Application& app, Account group);

// Ok when the account can be stored: known account and authority types, a name.
Status checkAccount(const Account& account);

// A whole farm, as it is dumped and loaded in one piece.
struct FarmImage {
    FarmInfo farm;
    std::vector<std::string> administrators;
    std::vector<Zone> zones;
    std::vector<Server> servers;
    std::vector<std::string> folders; // every folder below the root, by distinguished name
    std::vector<Application> applications;

    bool operator==(const FarmImage&) const = default;
};

} // namespace sky::farm
