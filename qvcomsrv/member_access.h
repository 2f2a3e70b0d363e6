// Who may call what. The object model serves the farm's data only to the farm's administrators:
// the caller as the module sees it (the client of a call from another process, whose user the
// connection's peer credentials name; otherwise the user running the process). Every member of
// every interface the module serves is for administrators, except the few in member_access.cpp
// that every machine user needs to learn whether they are one (BraskAdmin's logon). Others get
// E_ACCESSDENIED and nothing changes.
//
// The decision is made before the member runs, wherever a member is called by its table (every
// call from another process, and IDispatch::Invoke in process; see sky::IMemberGate), and again
// by the farm connection before anything reads or changes the store (farm_connection.h), which
// covers a program that calls the members of an in-process object directly.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "qvcomsrv/store/farm_store.h"
#include "sky/dispatch_table.h"

namespace qvcomsrv {

enum class Access {
    Everyone,       // every user of the machine
    Administrators, // the farm's administrators only
};

// Who may call member `member` of the interface `table` describes.
Access accessTo(const sky::dispatch::Table& table, WORD member);

class FarmConnection;

// S_OK when the caller may call the member of an object bound to `farm` (null: an object bound to
// none, asked about by the farm the machine serves); otherwise E_ACCESSDENIED ("Access is
// denied."), or the failure that kept the module from reading the farm's administrators, with
// error information set.
HRESULT checkAccess(const sky::dispatch::Table& table, WORD member, FarmConnection* farm);

// The refusal every check gives.
sky::farm::Status accessDenied();

// How long a decision about one user is kept (by each connection to a store) before the store is
// asked again: a user taken off
// the administrators (or added) is refused (or served) within this time.
inline constexpr int kAccessDecisionMilliseconds = 1000;

// Decisions about users, each kept for kAccessDecisionMilliseconds. Not locked: its owner holds
// a lock around it.
class AccessDecisions {
public:
    // Ok when `user` administers the farm; accessDenied() when not (an empty user, whom the
    // machine cannot name, included); the failure of `ask` (which gives whether `user` is an
    // administrator, from the store) when it has to be asked and cannot tell.
    template <typename Ask> sky::farm::Status check(const std::string& user, Ask&& ask) {
        if (user.empty())
            return accessDenied();
        if (const std::optional<bool> known = find(user))
            return *known ? sky::farm::Status::ok() : accessDenied();
        sky::farm::Result<bool> administrator = ask();
        if (!administrator)
            return administrator.status();
        keep(user, *administrator);
        return *administrator ? sky::farm::Status::ok() : accessDenied();
    }
    void clear() { decisions_.clear(); }

private:
    std::optional<bool> find(const std::string& user);
    void keep(const std::string& user, bool administrator);

    struct Decision {
        std::string user;
        bool administrator;
        std::chrono::steady_clock::time_point at;
    };
    std::vector<Decision> decisions_;
};

} // namespace qvcomsrv
