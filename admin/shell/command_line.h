// The command-line mode: the windows' commands without a window. Output goes to `out`, reports and
// the refusal to `errors`.
#pragma once

#include <iosfwd>
#include <string_view>

namespace brask {

class AdminState;
class Feedback;

// Exit codes of the command-line mode.
inline constexpr int kExitSuccess = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitRefused = 2;

// The administrator check of the logon window's load step. A check that answers "no" prints the
// refusal and gives kExitRefused. A failure to create, initialise or ask the farm (which the
// window's load step counts as a refusal) prints the unexpected-error report and gives
// kExitFailure, so that the cause is seen. kExitSuccess when the user is a farm administrator.
int checkAdministratorOnConsole(AdminState& state, std::ostream& errors);

// `view farm|apps|servers`: after the check, the items of that view, one per line, in the order
// the view's list shows them.
int printView(AdminState& state, int view, std::ostream& out, std::ostream& errors,
              Feedback& feedback);

// The commands of the farm definition file and the server snapshot, as the farm and server views'
// Export and Import run them.
enum class DefinitionCommand { Export, Import, Offline, Online };

// `export FILE`, `import FILE`, `offline SERVER FILE`, `online SERVER FILE`: after the check, the
// command with `feedback`; the icons folder is the current directory's. Nothing on standard
// output; kExitFailure when the command stopped with the error report, and when `online` could
// not bring back some applications (each listed on `errors` as "DN: error N: description", then
// "N applications could not be brought online").
int runDefinitionCommand(AdminState& state, DefinitionCommand command, std::u16string_view server,
                         std::u16string_view file, std::ostream& errors, Feedback& feedback);

// `import --dry-run FILE`, `online --dry-run SERVER FILE` (Import or Online only): after the check,
// the command run on a scratch copy of the farm in this process, and what it would change
// printed to `out`, as text or (`json`) as JSON. The farm is left as it is. kExitSuccess when
// the command would run to its end, kExitFailure when it would stop at a failure or no preview
// could be made (the report on `errors`).
int previewDefinitionCommand(AdminState& state, DefinitionCommand command,
                             std::u16string_view server, std::u16string_view file, bool json,
                             std::ostream& out, std::ostream& errors, Feedback& feedback);

} // namespace brask
