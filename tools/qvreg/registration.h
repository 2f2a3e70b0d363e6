// What qvreg.exe does with its command line.
//
// BraskAdmin starts it as "<current directory>\qvreg.exe /uSERVER", waits for it to end, and then
// starts "<current directory>\qvreg.exe SERVER", unquoted, so a current directory with blanks
// ("C:\Program Files\Vantor\BraskAdmin") splits into extra arguments before the real one. The
// request is therefore read from the LAST argument only:
//
//   SERVER         the machine's object model serves the farm whose store lists SERVER
//   /uSERVER       the unregistration run (see Action::Unbind)
//   /? -? /h -h --help /help   the usage text
#pragma once

#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

namespace sky::qvreg {

// Exit codes.
inline constexpr int kExitOk = 0;
inline constexpr int kExitUnknownServer = 1; // no farm store of the machine lists the server
inline constexpr int kExitUsage = 2;         // no server named, or an unknown switch
inline constexpr int kExitFailure = 3;       // the machine's record could not be read or written
inline constexpr int kExitAmbiguous = 4;     // several farm stores of the machine list the server

struct Request {
    enum class Action {
        Help,
        Bind,   // serve the farm whose store lists `server`
        Unbind, // "/u": the machine's record of its farm is removed (when `server` is known)
        Invalid,
    };
    Action action = Action::Invalid;
    std::string server;
    std::string problem; // for Invalid: what is wrong, for the user
};

// Reads the request from the arguments after the program name (UTF-16, as CommandLineToArgvW
// gives them).
Request parseArguments(const std::vector<std::u16string>& arguments);

// Carries the request out on the machine SKYLOOM_MACHINE names; reports on `out` and `err`, and
// returns the exit code.
int run(const Request& request, std::ostream& out, std::ostream& err);

std::string_view usage();

} // namespace sky::qvreg
