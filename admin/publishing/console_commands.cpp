#include "publishing/console_commands.h"

#include <algorithm>
#include <optional>
#include <ostream>

#include "core/admin_state.h"
#include "core/console_feedback.h"
#include "core/feedback.h"
#include "core/messages.h"
#include "core/names.h"
#include "core/tool_error.h"
#include "core/views.h"
#include "shell/command_line.h"
#include "sky/text.h"

namespace brask {

namespace {

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
    // last entry to its first, as distinguished names.
    std::vector<std::u16string> applications(const std::vector<std::u16string>& names) {
        const std::vector<std::size_t> positions = find(kApplicationView, names, "application");
        std::vector<std::u16string> handed;
        for (auto position = positions.rbegin(); position != positions.rend(); ++position) {
            handed.push_back(applicationDistinguishedName(views_[kApplicationView][*position]));
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
                errors_ << "There is no " << what << " " << sky::narrow(name) << " in the farm.\n";
                ++unknown_;
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
