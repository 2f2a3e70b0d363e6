#include "qvcomsrv/store/sql_lookups.h"

#include "qvcomsrv/store/names.h"

namespace sky::farm::sql {

namespace {

void checkDistinguishedName(std::string_view dn) {
    if (auto segments = splitDistinguishedName(dn); !segments)
        throwStatus(segments.status());
}

} // namespace

std::optional<FolderRow> findFolder(Connection& db, std::string_view dn) {
    checkDistinguishedName(dn);
    auto q = db.query("SELECT id, dn FROM folder WHERE dn_key = ?1");
    q.bind(1, nameKey(dn));
    if (!q.step())
        return std::nullopt;
    return FolderRow{q.integer(0), q.text(1)};
}

std::optional<std::int64_t> findApplication(Connection& db, std::string_view dn) {
    checkDistinguishedName(dn);
    auto q = db.query("SELECT id FROM application WHERE dn_key = ?1");
    q.bind(1, nameKey(dn));
    if (!q.step())
        return std::nullopt;
    return q.integer(0);
}

std::optional<ServerRow> findServer(Connection& db, std::string_view name) {
    auto q = db.query("SELECT id, name FROM server WHERE name_key = ?1");
    q.bind(1, nameKey(name));
    if (!q.step())
        return std::nullopt;
    return ServerRow{q.integer(0), q.text(1)};
}

FolderRow requireFolder(Connection& db, std::string_view dn) {
    auto folder = findFolder(db, dn);
    if (!folder)
        throwStatus(Status::notFound("The folder " + std::string(dn) + " does not exist."));
    return *folder;
}

std::int64_t requireApplication(Connection& db, std::string_view dn) {
    auto id = findApplication(db, dn);
    if (!id)
        throwStatus(
            Status::notFound("There is no application " + std::string(dn) + " in the farm."));
    return *id;
}

ServerRow requireServer(Connection& db, std::string_view name) {
    auto server = findServer(db, name);
    if (!server)
        throwStatus(
            Status::notFound("There is no server named " + std::string(name) + " in the farm."));
    return *server;
}

std::string storedDistinguishedName(Connection& db, std::int64_t applicationId) {
    auto q = db.query("SELECT f.dn || '/' || a.name FROM application a JOIN folder f ON f.id = "
                      "a.folder_id WHERE a.id = ?1");
    q.bind(1, applicationId);
    return q.step() ? q.text(0) : std::string();
}

} // namespace sky::farm::sql
