// What a parent started through the platform hands its child besides argv, in the environment.
// The child's platform library reads both variables when it loads and removes them, so that
// programs the child starts in turn do not inherit them.
#pragma once

namespace sky::child {

// The exact Windows command line, for GetCommandLineW.
inline constexpr char commandLineVariable[] = "SKY_COMMAND_LINE";

// A descriptor on which the child writes its 32-bit exit code when it ends.
inline constexpr char exitCodeVariable[] = "SKY_EXIT_FD";

// What the child writes there: its process id and exit code.
struct ExitRecord {
    int processId;
    unsigned exitCode;
};

} // namespace sky::child
