#include "publishing/runs.h"

#include <initializer_list>

#include "core/messages.h"
#include "core/tool_error.h"

namespace brask {

namespace {

// 99 divided by the number of entries of each list, in turn: the share of one step in a run. A
// run with an empty list has no steps and no share.
double shareOf(std::initializer_list<const std::vector<std::u16string>*> lists) {
    double share = 99.0;
    for (const std::vector<std::u16string>* list : lists) {
        if (list->empty()) {
            return 0;
        }
        share /= static_cast<double>(list->size());
    }
    return share;
}

std::u16string decimal(std::size_t number) {
    const std::string digits = std::to_string(number);
    return std::u16string(digits.begin(), digits.end());
}

// A run: its progress, a double-precision value that grows by the same share (99 divided by the
// number of steps) before each step and is shown in single precision, and the changes lost on
// the way.
class Run {
public:
    Run(Feedback& feedback, double share) : feedback_(feedback), share_(share) {
        feedback_.progress(0);
    }
    void advance() {
        value_ += share_;
        feedback_.progress(static_cast<float>(value_));
    }
    // A step ended: its change saved, or lost.
    void keep(std::u16string_view application, std::u16string_view server, LostChange lost) {
        if (lost) {
            lost_.push_back(
                PairFailure{std::u16string(application), std::u16string(server), std::move(*lost)});
        } else {
            ++done_;
        }
    }
    std::size_t done() const { return done_; }
    std::size_t lostCount() const { return lost_.size(); }
    std::vector<PairFailure> takeLost() { return std::move(lost_); }

private:
    Feedback& feedback_;
    double share_;
    double value_ = 0;
    std::size_t done_ = 0;
    std::vector<PairFailure> lost_;
};

// Runs `body(run)` over `steps` steps of `unit`, each of `share` in the progress; the first failure
// ends it with the report, which ends with what was done before it.
template <class Body>
RunOutcome runSteps(Feedback& feedback, double share, std::size_t steps, std::u16string_view unit,
                    Body&& body) {
    Run run(feedback, share);
    RunOutcome outcome;
    const auto doneBefore = [&] { return stoppedText(run.done(), steps, unit, run.lostCount()); };
    outcome.ranToEnd = withErrorPath(feedback, doneBefore, [&] { body(run); });
    outcome.done = run.done();
    outcome.steps = steps;
    outcome.lost = run.takeLost();
    return outcome;
}

} // namespace

RunOutcome runPairs(AdminState& state, Feedback& feedback,
                    const std::vector<std::u16string>& servers,
                    const std::vector<std::u16string>& applications, const PairStep& step) {
    RunOutcome outcome =
        runSteps(feedback, shareOf({&applications, &servers}), servers.size() * applications.size(),
                 kPairsUnit, [&](auto& run) {
                     for (const std::u16string& server : servers) {
                         for (const std::u16string& application : applications) {
                             run.advance();
                             run.keep(application, server, step(state, application, server));
                         }
                     }
                 });
    feedback.progressDone();
    return outcome;
}

RunOutcome runClone(AdminState& state, Feedback& feedback, std::u16string_view source,
                    const std::vector<std::u16string>& targets, const CloneStep& step) {
    RunOutcome outcome =
        runSteps(feedback, shareOf({&targets}), targets.size(), kServersUnit, [&](auto& run) {
            for (const std::u16string& target : targets) {
                run.advance();
                if (target != source) {
                    step(state, source, target);
                }
                run.keep(target, {}, std::nullopt);
            }
        });
    feedback.progressDone();
    return outcome;
}

RunOutcome runOptions(AdminState& state, Feedback& feedback,
                      const std::vector<std::u16string>& applications, const OptionValues& values) {
    RunOutcome outcome = runSteps(
        feedback, shareOf({&applications}), applications.size(), kApplicationsUnit, [&](auto& run) {
            for (const std::u16string& application : applications) {
                run.advance();
                run.keep(application, {},
                         SetApplicationOptions(state, application, values.windowType,
                                               values.windowColor, values.encryption,
                                               values.soundType, values.windowScale,
                                               values.windowHeight, values.windowWidth));
            }
        });
    // The completion message shows with the bar; only a failure takes it away here.
    if (!outcome.ranToEnd) {
        feedback.progressDone();
    }
    return outcome;
}

std::u16string completionText(std::u16string_view verb, std::size_t count, std::u16string_view unit,
                              std::size_t lostChanges) {
    std::u16string text(verb);
    text += decimal(count);
    text += unit;
    if (lostChanges > 0) {
        text += u"\r\n" + decimal(lostChanges) + u" changes could not be saved";
    }
    return text;
}

} // namespace brask
