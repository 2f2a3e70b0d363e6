// Taking a server offline and bringing it online again. Offline withdraws every application from
// the server and records them in a server snapshot file; online publishes each recorded
// application on a server again (any server: a snapshot of one can bring another online).
//
//   [Servers]
//   ServerName=HQ-SRV01
//   Windows NT Version=5.2
//   <blank>
//   [Applications]
//   DistinguishedName=Applications/Office/Word     one line per withdrawn application
//   <blank>
//   <blank>
//
// Text in the machine's ANSI code page, lines ended by CR LF. Only the "DistinguishedName=" lines
// are read back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/admin_state.h"
#include "core/feedback.h"
#include "definitions/save_observer.h"

namespace brask {

// Withdraws every application from `server` (RemoveServer and SaveData on each, as the server's
// collection hands it out) and writes the snapshot at `path`; a line is written only once its
// withdrawal is saved, and an application whose line the code page cannot hold stops the run
// (error 5) before it is touched. Progress goes from 0 by 99 divided by the number of
// applications. The first failure ends it with the error report; applications withdrawn before
// stay withdrawn and are exactly the file's lines. True when it ran to its end.
bool takeServerOffline(AdminState& state, Feedback& feedback, std::u16string_view server,
                       std::u16string_view path);

// Publishes every application of the snapshot at `path` on `server`, the status showing each
// one's distinguished name without "Applications/". A save the farm refuses is passed over; any
// other failure ends it with the error report. True when it ran to its end. `observer`, when
// given, hears of every save and of every save passed over.
bool bringServerOnline(AdminState& state, Feedback& feedback, std::u16string_view server,
                       std::u16string_view path, SaveObserver* observer = nullptr);

// An application that bringing a server online could not put back: its save was refused.
struct NotBroughtOnline {
    std::u16string distinguishedName;
    std::int32_t number = 0;
    std::u16string description;
};

// The saves a run of bring online passed over, in their order, so that the run's end can say how
// many applications are not back (the window in an information box, the command line one by one).
class PassedOverSaves final : public SaveObserver {
public:
    void saved(std::u16string_view) override {}
    void passedOver(std::u16string_view distinguishedName, std::int32_t number,
                    std::u16string_view description) override {
        failures.push_back(
            {std::u16string(distinguishedName), number, std::u16string(description)});
    }
    std::vector<NotBroughtOnline> failures;
};

inline constexpr std::u16string_view kBringOnlineTitle = u"Bring online";
// "N applications could not be brought online".
std::u16string notBroughtOnlineText(std::size_t count);

} // namespace brask
