#include "member_access.h"

#include <algorithm>
#include <string_view>

#include "current_user.h"
#include "farm_connection.h"
#include "results.h"

namespace qvcomsrv {

namespace {

struct OpenMember {
    std::u16string_view family; // the interface without its version: "ISkyloomFarm"
    std::u16string_view member; // a property's get and put alike
};

// The members every user of the machine may call; every other member of every interface the
// module serves is for the farm's administrators. A machine user who is not one can bind a farm
// object (which says whether the machine serves a farm at all), reach its settings face and ask
// IsVantorAdministrator, which answers 0 for them: that is how BraskAdmin's logon learns to
// refuse them. Creating an object is open too (the class factories are not members): a new
// object holds no farm data until a member binds or loads it.
constexpr OpenMember kOpenToEveryone[] = {
    {u"ISkyloomFarm", u"Initialize"},
    {u"ISkyloomFarm", u"WinFarmObject"},
    {u"ISkyloomFarm", u"WinFarmObject6"},
    {u"ISkyloomWinFarm", u"IsVantorAdministrator"},
};

// "ISkyloomFarm6" -> "ISkyloomFarm": the family every version of an interface belongs to.
std::u16string_view familyOf(const char16_t* name) {
    std::u16string_view family(name ? name : u"");
    while (!family.empty() && family.back() >= u'0' && family.back() <= u'9')
        family.remove_suffix(1);
    return family;
}

constexpr std::size_t kMostDecisions = 64;

} // namespace

Access accessTo(const sky::dispatch::Table& table, WORD member) {
    if (member >= table.memberCount)
        return Access::Administrators;
    // Asked for every member a snapshot carries: the member's name first, which differs from
    // the few open ones at once, and the interface's family only for a name that matches.
    const std::u16string_view name(table.members[member].name);
    for (const OpenMember& open : kOpenToEveryone) {
        if (open.member == name && open.family == familyOf(table.name))
            return Access::Everyone;
    }
    return Access::Administrators;
}

sky::farm::Status accessDenied() {
    return sky::farm::Status::accessDenied("Access is denied.");
}

std::optional<bool> AccessDecisions::find(const std::string& user) {
    const auto now = std::chrono::steady_clock::now();
    const auto fresh = std::chrono::milliseconds(kAccessDecisionMilliseconds);
    std::erase_if(decisions_, [&](const Decision& d) { return now - d.at >= fresh; });
    for (const Decision& d : decisions_) {
        if (d.user == user)
            return d.administrator;
    }
    return std::nullopt;
}

void AccessDecisions::keep(const std::string& user, bool administrator) {
    if (decisions_.size() >= kMostDecisions)
        decisions_.erase(decisions_.begin()); // the oldest
    decisions_.push_back({user, administrator, std::chrono::steady_clock::now()});
}

HRESULT checkAccess(const sky::dispatch::Table& table, WORD member, FarmConnection* farm) {
    if (accessTo(table, member) == Access::Everyone)
        return S_OK;
    return catchExceptions([&] {
        // An object that is not bound to a farm (one created on its own and not bound yet) is
        // asked about by the farm the machine serves.
        Farm served;
        if (!farm) {
            auto connected = connectToMachineFarm();
            if (!connected)
                return withErrorInfo(connected.status(), "The farm cannot be opened");
            served = std::move(*connected);
            farm = served.get();
        }
        const sky::farm::Status allowed = farm->admit();
        return allowed ? S_OK : withErrorInfo(allowed);
    });
}

} // namespace qvcomsrv
