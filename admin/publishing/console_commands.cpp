#include "publishing/console_commands.h"

#include <algorithm>
#include <optional>
#include <ostream>
#include <unordered_set>

#include "core/admin_state.h"
#include "core/console_feedback.h"
#include "core/farm.h"
#include "core/feedback.h"
#include "core/messages.h"
#include "core/names.h"
#include "core/tool_error.h"
#include "core/views.h"
#include "publishing/steps.h"
#include "shell/command_line.h"
#include "sky/bstr.h"
#include "sky/dispatch.h"
#include "sky/text.h"

namespace brask {

namespace {

// What the object model answers for an application the farm does not have.
constexpr HRESULT kApplicationNotFound = HRESULT_FROM_WIN32(1168L); // ERROR_NOT_FOUND

// The administrator check, then the nothing-selected notice when nothing is named: the exit code
// when the command ends there.
std::optional<int> refusedOrNothingNamed(AdminState& state, std::ostream& errors,
                                         Feedback& feedback, bool nothingNamed,
                                         std::u16string_view reason, std::u16string_view title) {
    if (int refused = checkAdministratorOnConsole(state, errors); refused != kExitSuccess) {
        return refused;
    }
    if (nothingNamed) {
        feedback.notice(reason, title);
        return kExitFailure;
    }
    return std::nullopt;
}

// The names a command is given, found among the entries of the application and server views
// (read once, when first needed) before anything changes.
class FarmLookup {
public:
    FarmLookup(AdminState& state, Feedback& feedback, std::ostream& errors)
        : state_(state), feedback_(feedback), errors_(errors) {}

    // The applications as a selection in the application view hands them over: from the view's
    // last entry to its first, as distinguished names. Each name is looked up in the farm by its
    // distinguished name rather than among the whole view's entries, so that a few names cost the
    // same in a farm of any size; the view is filled only when two of the applications found
    // stand level in its order (their order is then the farm's, which only the view knows).
    std::vector<std::u16string> applications(const std::vector<std::u16string>& names) {
        std::vector<std::u16string> found; // entries as the farm spells them, each once
        std::vector<bool> missing(names.size(), false);
        if (!withErrorPath(feedback_, [&] {
                openFarm(state_);
                std::unordered_set<std::u16string> seen;
                for (std::size_t i = 0; i < names.size(); ++i) {
                    std::optional<std::u16string> entry = applicationEntryNamed(names[i]);
                    if (!entry) {
                        missing[i] = true;
                    } else if (seen.insert(sky::upper(*entry)).second) {
                        found.push_back(std::move(*entry));
                    }
                }
            })) {
            failed_ = true;
            return {};
        }
        const ListBoxOrder order;
        std::stable_sort(
            found.begin(), found.end(),
            [&](const std::u16string& a, const std::u16string& b) { return order.less(a, b); });
        for (std::size_t i = 1; i < found.size(); ++i) {
            if (!order.less(found[i - 1], found[i])) {
                return applicationsFromView(names);
            }
        }
        for (std::size_t i = 0; i < names.size(); ++i) {
            if (missing[i]) {
                reportUnknown(names[i], "application");
            }
        }
        std::vector<std::u16string> handed;
        for (auto entry = found.rbegin(); entry != found.rend(); ++entry) {
            handed.push_back(applicationDistinguishedName(*entry));
        }
        return handed;
    }

    // The servers as a sorted list holds them, spelled as the farm spells them.
    std::vector<std::u16string> servers(const std::vector<std::u16string>& names) {
        std::vector<std::u16string> found;
        for (std::size_t position : find(kServerView, names, "server")) {
            found.push_back(views_[kServerView][position]);
        }
        return found;
    }

    // False when the farm could not be read (reported) or a name is not in it (written to the
    // error stream).
    bool allFound() const { return !failed_ && unknown_ == 0; }

private:
    // The entry of the application that the view would find for `name` (its entry, without
    // regard to case), spelled as the farm spells it; none when the farm has no such application.
    std::optional<std::u16string> applicationEntryNamed(const std::u16string& name) {
        const sky::ComPtr<ISkyloomApplication5> application =
            sky::createObject<ISkyloomApplication5>(kApplicationProgId);
        sky::check(application->Initialize(SkyloomWinAppObject,
                                           sky::Bstr(applicationDistinguishedName(name)).get()));
        const HRESULT loaded = application->LoadData(-1);
        if (loaded == kApplicationNotFound) {
            sky::ComError taken(loaded); // its error information goes with it
            return std::nullopt;
        }
        sky::check(loaded);
        std::u16string entry = applicationEntry(
            getText(&ISkyloomApplication::get_DistinguishedName, application.get()));
        // A name the view would not find, though the farm finds its distinguished name
        // ("Office/Word" for the entry "Office\Word").
        if (sky::upper(entry) != sky::upper(name)) {
            return std::nullopt;
        }
        return entry;
    }

    // The same, found among the whole view's entries.
    std::vector<std::u16string> applicationsFromView(const std::vector<std::u16string>& names) {
        const std::vector<std::size_t> positions = find(kApplicationView, names, "application");
        std::vector<std::u16string> handed;
        for (auto position = positions.rbegin(); position != positions.rend(); ++position) {
            handed.push_back(applicationDistinguishedName(views_[kApplicationView][*position]));
        }
        return handed;
    }

    void reportUnknown(const std::u16string& name, std::string_view what) {
        errors_ << "There is no " << what << " " << sky::narrow(name) << " in the farm.\n";
        ++unknown_;
    }

    // The positions in a view's list of the names, each once, in ascending order.
    std::vector<std::size_t> find(int view, const std::vector<std::u16string>& names,
                                  std::string_view what) {
        if (!read_[view]) {
            read_[view] = true;
            failed_ |=
                !withErrorPath(feedback_, [&] { views_[view] = viewListEntries(state_, view); });
            index_[view].emplace(views_[view]);
        }
        std::vector<std::size_t> positions;
        for (const std::u16string& name : names) {
            if (const std::optional<std::size_t> found = index_[view]->find(name)) {
                positions.push_back(*found);
            } else if (!failed_) {
                reportUnknown(name, what);
            }
        }
        std::sort(positions.begin(), positions.end());
        positions.erase(std::unique(positions.begin(), positions.end()), positions.end());
        return positions;
    }

    AdminState& state_;
    Feedback& feedback_;
    std::ostream& errors_;
    std::vector<std::u16string> views_[kServerView + 1];
    std::optional<EntryIndex> index_[kServerView + 1];
    bool read_[kServerView + 1] = {};
    bool failed_ = false;
    int unknown_ = 0;
};

// Ends a command after its run: the lost changes on `errors`, then the completion text on `out`;
// a run that a failure ended has had its report, which says how far it got, and the lost changes
// follow it.
int finish(const RunOutcome& outcome, Feedback& feedback, std::u16string_view verb,
           std::size_t count, std::u16string_view unit, std::ostream& out, std::ostream& errors) {
    // A console has no window behind the message: the progress line goes first.
    feedback.progressDone();
    for (const PairFailure& failure : outcome.lost) {
        errors << sky::narrow(failure.application);
        if (!failure.server.empty()) {
            errors << " on " << sky::narrow(failure.server);
        }
        errors << ": error " << failure.error.result() << ": "
               << sky::narrow(failure.error.description()) << '\n';
    }
    if (!outcome.ranToEnd) {
        return kExitFailure;
    }
    out << consoleText(completionText(verb, count, unit, outcome.lost.size())) << std::flush;
    return outcome.lost.empty() ? kExitSuccess : kExitFailure;
}

} // namespace

int runPairsOnConsole(AdminState& state, const PairCommand& command,
                      const std::vector<std::u16string>& servers,
                      const std::vector<std::u16string>& applications, std::ostream& out,
                      std::ostream& errors, Feedback& feedback) {
    if (auto end = refusedOrNothingNamed(state, errors, feedback, applications.empty(),
                                         kNoApplicationsSelected, kPublishTitle)) {
        return *end;
    }
    FarmLookup farm(state, feedback, errors);
    const std::vector<std::u16string> handed = farm.applications(applications);
    const std::vector<std::u16string> configured = farm.servers(servers);
    if (!farm.allFound()) {
        return kExitFailure;
    }
    return finish(runPairs(state, feedback, configured, handed, command.step), feedback,
                  command.completionVerb, handed.size(), kApplicationsUnit, out, errors);
}

int runCloneOnConsole(AdminState& state, const std::u16string& source,
                      const std::vector<std::u16string>& targets, std::ostream& out,
                      std::ostream& errors, Feedback& feedback) {
    if (auto end = refusedOrNothingNamed(state, errors, feedback, source.empty(), kNoServerSelected,
                                         kCloneTitle)) {
        return *end;
    }
    FarmLookup farm(state, feedback, errors);
    const std::vector<std::u16string> from = farm.servers({source});
    const std::vector<std::u16string> configured = farm.servers(targets);
    if (!farm.allFound()) {
        return kExitFailure;
    }
    return finish(runClone(state, feedback, from.front(), configured), feedback, kClonedVerb,
                  configured.size(), kServersUnit, out, errors);
}

int runOptionsOnConsole(AdminState& state, const OptionValues& values,
                        const std::vector<std::u16string>& applications, std::ostream& out,
                        std::ostream& errors, Feedback& feedback) {
    if (auto end = refusedOrNothingNamed(state, errors, feedback, applications.empty(),
                                         kNoApplicationsSelected, kPublishTitle)) {
        return *end;
    }
    FarmLookup farm(state, feedback, errors);
    const std::vector<std::u16string> handed = farm.applications(applications);
    if (!farm.allFound()) {
        return kExitFailure;
    }
    return finish(runOptions(state, feedback, handed, values), feedback, kChangedVerb,
                  handed.size(), kApplicationsUnit, out, errors);
}

} // namespace brask
