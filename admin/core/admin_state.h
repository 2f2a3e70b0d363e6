// What BraskAdmin keeps for the whole run: the current view and the shared object references that
// every command reads and overwrites.
#pragma once

#include <string>

namespace brask {

// The views of the main window, by number.
inline constexpr int kFarmView = 0;
inline constexpr int kApplicationView = 1;
inline constexpr int kServerView = 2;

struct AdminState {
    // Set by each view when it is shown; read by Refresh, Select All and the commands.
    int currentView = kFarmView;

    // The program's help file (Windows path), once Help Content has set it; F1 help would use it.
    std::u16string helpFile;
};

} // namespace brask
