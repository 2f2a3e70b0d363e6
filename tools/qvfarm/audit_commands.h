// "qvfarm audit": the farm's audit trail, newest first, as text or JSON; and removing old entries
// (only an administrator of the farm may).
#pragma once

#include <optional>
#include <string>

#include "commands.h"

namespace sky::qvfarm {

struct AuditOptions {
    std::optional<std::string> since;       // ISO 8601, local time unless it says otherwise
    std::optional<std::string> user;        // matched ignoring case
    std::optional<std::string> application; // a distinguished name, matched ignoring case
    bool json = false;
};

int listAuditTrail(const StoreOption& store, const AuditOptions& options, Streams io);
// `before`: ISO 8601 as for --since.
int pruneAuditTrail(const StoreOption& store, const std::string& before, Streams io);

} // namespace sky::qvfarm
