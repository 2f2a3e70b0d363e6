// The publishing commands on BraskAdmin's command line:
//
//   braskadmin publish --server S [--server S ...] APP...
//   braskadmin unpublish --server S [--server S ...] APP...
//   braskadmin clone SOURCE --to T [--to T ...]
//   braskadmin options [--colors ENTRY] [--size ENTRY] [--encryption ENTRY] [--audio ENTRY]
//                      [--width N] [--height N] [--percent N] APP...
//
// APP as the application view shows it (Office\Word); ENTRY an entry of the options dialog's list,
// by its text (ignoring case) or its position from 0; the defaults are the dialog's.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace CLI {
class App;
}

namespace brask {

class AdminState;
class Feedback;

class PublishingCommandLine {
public:
    // Adds the four subcommands to `app`.
    explicit PublishingCommandLine(CLI::App& app);

    // Whether the command line named one of them.
    bool parsed() const;

    // Runs the command named (see console_commands.h for what it does and its exit codes).
    int run(AdminState& state, std::ostream& out, std::ostream& errors, Feedback& feedback) const;

private:
    CLI::App* publish_;
    CLI::App* unpublish_;
    CLI::App* clone_;
    CLI::App* options_;

    std::vector<std::string> publishServers_;
    std::vector<std::string> publishApplications_;
    std::vector<std::string> unpublishServers_;
    std::vector<std::string> unpublishApplications_;
    std::string cloneSource_;
    std::vector<std::string> cloneTargets_;

    std::string colors_;
    std::string size_;
    std::string encryption_;
    std::string audio_;
    std::string width_;
    std::string height_;
    std::string percent_;
    std::vector<std::string> optionApplications_;
};

} // namespace brask
