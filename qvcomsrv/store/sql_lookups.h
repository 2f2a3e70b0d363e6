// Finding folders, applications and servers of a farm store by name, inside the caller's
// transaction.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "qvcomsrv/store/sql_connection.h"

namespace sky::farm::sql {

struct FolderRow {
    std::int64_t id;
    std::string dn; // as stored
};

struct ServerRow {
    std::int64_t id;
    std::string name; // as stored
};

// Fails with InvalidArgument for text that is not a distinguished name.
std::optional<FolderRow> findFolder(Connection& db, std::string_view dn);
std::optional<std::int64_t> findApplication(Connection& db, std::string_view dn);
std::optional<ServerRow> findServer(Connection& db, std::string_view name);

// The same, failing with NotFound and a message that names what is missing.
FolderRow requireFolder(Connection& db, std::string_view dn);
std::int64_t requireApplication(Connection& db, std::string_view dn);
ServerRow requireServer(Connection& db, std::string_view name);

// The stored spelling of an application's distinguished name.
std::string storedDistinguishedName(Connection& db, std::int64_t applicationId);

} // namespace sky::farm::sql
