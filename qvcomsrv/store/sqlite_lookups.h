// Finding folders, applications and servers of a SQLite farm store by name, inside the caller's
// transaction.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "qvcomsrv/store/sqlite_db.h"

namespace sky::farm::sqlite {

struct FolderRow {
    std::int64_t id;
    std::string dn; // as stored
};

struct ServerRow {
    std::int64_t id;
    std::string name; // as stored
};

// Fails with InvalidArgument for text that is not a distinguished name.
std::optional<FolderRow> findFolder(Database& db, std::string_view dn);
std::optional<std::int64_t> findApplication(Database& db, std::string_view dn);
std::optional<ServerRow> findServer(Database& db, std::string_view name);

// The same, failing with NotFound and a message that names what is missing.
FolderRow requireFolder(Database& db, std::string_view dn);
std::int64_t requireApplication(Database& db, std::string_view dn);
ServerRow requireServer(Database& db, std::string_view name);

// The stored spelling of an application's distinguished name.
std::string storedDistinguishedName(Database& db, std::int64_t applicationId);

} // namespace sky::farm::sqlite
