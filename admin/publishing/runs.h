// The runs of the publishing dialogs, shared by the windows and the command line: the pairs of
// publish and unpublish, the targets of a clone, the applications of the options editor. A run
// shows its progress through Feedback (0 at the start, then 99 divided by the number of steps
// added before each step, so that it ends at 99), and a failure that ends it goes to the
// unexpected-error report, whose last line says what was done before it (core/messages.h's
// stoppedText). What was saved before stays saved.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "core/admin_state.h"
#include "core/feedback.h"
#include "core/messages.h"
#include "publishing/options.h"
#include "publishing/steps.h"

namespace brask {

// A pair whose change was lost, and why.
struct PairFailure {
    std::u16string application;
    std::u16string server;
    sky::ComError error;
};

struct RunOutcome {
    // False when a failure ended the run; its report has been shown.
    bool ranToEnd = false;
    // The pairs whose change was lost while the run went on, in the order they ran.
    std::vector<PairFailure> lost;
    // The steps done (their change saved, not lost) and the steps the run had.
    std::size_t done = 0;
    std::size_t steps = 0;
};

// The step of one pair, and of one clone target.
using PairStep = std::function<LostChange(AdminState&, std::u16string_view appDN,
                                          std::u16string_view serverName)>;
using CloneStep = std::function<void(AdminState&, std::u16string_view sourceServer,
                                     std::u16string_view targetServer)>;

// Publish and unpublish: what differs between the two.
struct PairCommand {
    // The completion text's first word with its blank.
    std::u16string_view completionVerb;
    LostChange (*step)(AdminState&, std::u16string_view, std::u16string_view);
};
inline constexpr PairCommand kPublishCommand{u"Published ", &PublishApplication};
inline constexpr PairCommand kUnpublishCommand{u"Unpublished ", &UnpublishApplication};

inline constexpr std::u16string_view kClonedVerb = u"Cloned ";
inline constexpr std::u16string_view kChangedVerb = u"Changed  ";
inline constexpr std::u16string_view kServersUnit = u" servers";
inline constexpr std::u16string_view kFinishedTitle = u"Finished";

// For each server in the given order, and within it each application in the given order: the
// progress, then the step. The progress display is gone when the run returns.
RunOutcome runPairs(AdminState& state, Feedback& feedback,
                    const std::vector<std::u16string>& servers,
                    const std::vector<std::u16string>& applications, const PairStep& step);

// For each target in the given order: the progress, then the clone from `source`, except for
// the source itself (exact comparison), which is skipped but counted. No failure is passed over.
// The progress display is gone when the run returns.
RunOutcome runClone(AdminState& state, Feedback& feedback, std::u16string_view source,
                    const std::vector<std::u16string>& targets,
                    const CloneStep& step = CloneServerApplications);

// For each application in the given order: the progress, then SetApplicationOptions with the
// seven values. The progress display stays when the run ends: the caller shows the completion
// message and then ends it with progressDone().
RunOutcome runOptions(AdminState& state, Feedback& feedback,
                      const std::vector<std::u16string>& applications, const OptionValues& values);

inline constexpr std::u16string_view kPairsUnit = u" pairs";

// "Published " + count + " applications"; when changes were lost, a carriage return and line
// feed and "N changes could not be saved".
std::u16string completionText(std::u16string_view verb, std::size_t count, std::u16string_view unit,
                              std::size_t lostChanges = 0);

} // namespace brask
