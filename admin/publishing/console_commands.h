// The publishing commands of the command-line mode: the dialogs' runs without a window. Each
// command first makes the logon window's administrator check, then finds every application and
// server it is given in the farm (an unknown name is an error before anything changes), puts
// them in the order the dialog would hold them and runs the same steps. The completion text goes
// to `out`; notices, reports and the pairs whose change was lost go to `errors`.
//
// Exit codes: kExitSuccess; kExitFailure for a notice, an unknown name, a failure that ended the
// run or any lost change; kExitRefused when the user is not a farm administrator.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "publishing/options.h"
#include "publishing/runs.h"

namespace brask {

class AdminState;
class Feedback;

// `publish` and `unpublish`: applications as the application view shows them (Office\Word),
// servers by name. The servers run in the order of the dialog's sorted list, and within each the
// applications in the reverse of the application view's order, as a selection hands them over.
int runPairsOnConsole(AdminState& state, const PairCommand& command,
                      const std::vector<std::u16string>& servers,
                      const std::vector<std::u16string>& applications, std::ostream& out,
                      std::ostream& errors, Feedback& feedback);

// `clone`: the applications of `source` onto every target, the targets in sorted order, the
// source itself skipped but counted. An empty source is the nothing-selected notice.
int runCloneOnConsole(AdminState& state, const std::u16string& source,
                      const std::vector<std::u16string>& targets, std::ostream& out,
                      std::ostream& errors, Feedback& feedback);

// `options`: the seven values written to every application, in the order a selection hands
// them over.
int runOptionsOnConsole(AdminState& state, const OptionValues& values,
                        const std::vector<std::u16string>& applications, std::ostream& out,
                        std::ostream& errors, Feedback& feedback);

} // namespace brask
