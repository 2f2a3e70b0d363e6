#include "registration.h"

#include <ostream>

#include "qvcomsrv/store/machine_farms.h"
#include "sky/text.h"

namespace sky::qvreg {

namespace {

constexpr std::string_view kUsage =
    "Usage: qvreg.exe SERVER\n"
    "       qvreg.exe /uSERVER\n"
    "\n"
    "Makes this machine's object model reach the farm that the server SERVER belongs to: of the\n"
    "farm stores the machine knows (qvfarm list), the one that lists SERVER becomes the store the\n"
    "machine serves. A server that several of them list is refused, with the stores listed:\n"
    "select the one meant with qvfarm select.\n"
    "\n"
    "/uSERVER is the unregistration run that comes first. When a known farm store lists SERVER it\n"
    "removes the machine's record of the farm it serves, so that the machine serves no farm until\n"
    "the run with the plain name binds it; for an unknown server it changes nothing.\n"
    "\n"
    "Only the last argument counts; the ones before it may be pieces of an unquoted program path\n"
    "with blanks.\n"
    "\n"
    "Exit codes: 0 done; 1 no known farm store lists the server; 2 no server or an unknown\n"
    "switch; 3 the machine's record could not be read or written; 4 several known farm stores\n"
    "list the server.\n";

bool isHelp(std::string_view argument) {
    for (std::string_view help : {"/?", "-?", "/h", "-h", "--help", "/help", "-help"}) {
        if (sky::equalNoCase(sky::widen(argument), sky::widen(help)))
            return true;
    }
    return false;
}

Request invalid(std::string problem) {
    Request request;
    request.problem = std::move(problem);
    return request;
}

} // namespace

std::string_view usage() {
    return kUsage;
}

Request parseArguments(const std::vector<std::u16string>& arguments) {
    if (arguments.empty())
        return invalid("No server named.");
    const std::string last = sky::narrow(arguments.back());
    // A piece of the program's own unquoted path ("Files\Vantor\qvreg.exe"): nothing after it.
    if (last.find('\\') != std::string::npos)
        return invalid("No server named.");
    if (isHelp(last))
        return {Request::Action::Help, {}, {}};
    if (last.size() >= 2 && (last[0] == '/' || last[0] == '-') &&
        (last[1] == 'u' || last[1] == 'U')) {
        std::string server = last.substr(2);
        if (server.empty())
            return invalid("No server named after \"/u\".");
        return {Request::Action::Unbind, std::move(server), {}};
    }
    if (last[0] == '/' || last[0] == '-')
        return invalid("Unknown switch \"" + last + "\".");
    return {Request::Action::Bind, last, {}};
}

int run(const Request& request, std::ostream& out, std::ostream& err) {
    switch (request.action) {
    case Request::Action::Help:
        out << kUsage;
        return kExitOk;
    case Request::Action::Invalid:
        err << "qvreg: " << request.problem << " Run \"qvreg.exe /?\" for help.\n";
        return kExitUsage;
    case Request::Action::Bind:
    case Request::Action::Unbind:
        break;
    }

    auto found = sky::farm::farmStoreListingServer(request.server);
    if (!found) {
        err << "qvreg: " << found.status().message() << "\n";
        switch (found.status().code()) {
        case sky::farm::Status::Code::NotFound:
            return kExitUnknownServer;
        case sky::farm::Status::Code::InvalidArgument:
            return kExitAmbiguous;
        default:
            return kExitFailure;
        }
    }
    if (request.action == Request::Action::Unbind) {
        if (auto status = sky::farm::clearMachineFarmStore(); !status) {
            err << "qvreg: " << status.message() << "\n";
            return kExitFailure;
        }
        out << "qvreg: this machine serves no farm now; the run that names the server "
            << request.server << " without /u binds it to the farm store " << found->name << ".\n";
        return kExitOk;
    }
    if (!found->served) {
        if (auto status = sky::farm::setMachineFarmStore(found->location); !status) {
            err << "qvreg: " << status.message() << "\n";
            return kExitFailure;
        }
    }
    out << "qvreg: this machine serves the farm store " << found->name << " ("
        << found->location.path << "), which lists the server " << request.server << ".\n";
    return kExitOk;
}

} // namespace sky::qvreg
