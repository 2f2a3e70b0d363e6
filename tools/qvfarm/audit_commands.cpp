#include "audit_commands.h"

#include <ostream>

#include <nlohmann/json.hpp>

#include "qvcomsrv/store/audit.h"
#include "qvcomsrv/store/machine_farms.h"

namespace sky::qvfarm {

namespace {

using farm::AuditEntry;
using farm::FarmStore;

int failed(Streams io, const std::string& message) {
    io.err << "qvfarm: " << message << "\n";
    return 1;
}

template <typename Command> int withStore(const StoreOption& store, Streams io, Command command) {
    const std::unique_ptr<FarmStore> opened = openStoreOption(store, io);
    return opened ? command(*opened) : 1;
}

// One entry on one line: time, user@machine, operation, object, and for a value old → new.
void writeEntry(std::ostream& out, const AuditEntry& entry) {
    out << entry.time << "  " << entry.user << "@" << entry.machine << "  " << entry.operation
        << "  " << entry.distinguishedName;
    if (!entry.setting.empty()) {
        out << "  " << entry.setting;
        if (entry.oldValue && entry.newValue)
            out << ": \"" << *entry.oldValue << "\" → \"" << *entry.newValue << "\"";
        else if (entry.newValue)
            out << ": " << *entry.newValue;
        else if (entry.oldValue)
            out << ": " << *entry.oldValue;
    }
    out << '\n';
}

nlohmann::ordered_json entryJson(const AuditEntry& entry) {
    nlohmann::ordered_json json = {{"time", entry.time},
                                   {"user", entry.user},
                                   {"machine", entry.machine},
                                   {"operation", entry.operation},
                                   {"distinguishedName", entry.distinguishedName},
                                   {"setting", entry.setting},
                                   {"old", nullptr},
                                   {"new", nullptr}};
    if (entry.oldValue)
        json["old"] = *entry.oldValue;
    if (entry.newValue)
        json["new"] = *entry.newValue;
    return json;
}

} // namespace

int listAuditTrail(const StoreOption& store, const AuditOptions& options, Streams io) {
    farm::AuditQuery query;
    if (options.since) {
        auto since = farm::auditTimeFromText(*options.since);
        if (!since)
            return failed(io, "--since: " + since.status().message());
        query.since = *since;
    }
    query.user = options.user;
    query.application = options.application;
    return withStore(store, io, [&](FarmStore& farmStore) {
        auto entries = farmStore.auditTrail(query);
        if (!entries)
            return failed(io, entries.status().message());
        if (options.json) {
            nlohmann::ordered_json list = nlohmann::ordered_json::array();
            for (const AuditEntry& entry : *entries)
                list.push_back(entryJson(entry));
            io.out << list.dump(2) << '\n';
        } else {
            for (const AuditEntry& entry : *entries)
                writeEntry(io.out, entry);
        }
        return io.out.flush() ? 0 : failed(io, "cannot write the audit trail.");
    });
}

int pruneAuditTrail(const StoreOption& store, const std::string& before, Streams io) {
    auto limit = farm::auditTimeFromText(before);
    if (!limit)
        return failed(io, "--prune-before: " + limit.status().message());
    return withStore(store, io, [&](FarmStore& farmStore) {
        if (farm::Status s = mayManageFarm(farmStore, "remove entries of its audit trail"); !s)
            return failed(io, s.message());
        auto removed = farmStore.pruneAuditTrail(*limit);
        if (!removed)
            return failed(io, removed.status().message());
        io.out << "Removed " << *removed << (*removed == 1 ? " entry" : " entries")
               << " made before " << *limit << " from the audit trail.\n";
        return 0;
    });
}

} // namespace sky::qvfarm
