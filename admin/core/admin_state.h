// What BraskAdmin keeps for the whole run: the current view and the shared object references that
// every command reads and overwrites. Replacing a reference releases the object it held; nothing
// is released before the program ends.
#pragma once

#include <string>

#include "SkyloomCOM.h"
#include "sky/com_ptr.h"

namespace brask {

// The views of the main window, by number.
inline constexpr int kFarmView = 0;
inline constexpr int kApplicationView = 1;
inline constexpr int kServerView = 2;

class AdminState {
public:
    // The farm: a fresh object for every view fill, check, dialog and command.
    sky::ComPtr<ISkyloomFarm6> farm;
    // The current server, application (also the loop variable of every application enumeration)
    // and application-server binding.
    sky::ComPtr<ISkyloomServer5> server;
    sky::ComPtr<ISkyloomApplication5> application;
    sky::ComPtr<ISkyloomAppSrvBinding2> binding;
    // The farm's and the current application's Windows settings.
    sky::ComPtr<ISkyloomWinFarm5> farmSettings;
    sky::ComPtr<ISkyloomWinApp4> appSettings;

    // The one credential object of the run, created on first use and passed unchanged to every
    // account initializer. Throws sky::ComError when it cannot be created.
    ISkyloomCredential* credential();

    // Set by each view when it is shown; read by Refresh, Select All and the commands.
    int currentView = kFarmView;

    // The program's help file (Windows path), once Help Content has set it; F1 help would use it.
    std::u16string helpFile;

private:
    sky::ComPtr<ISkyloomCredential> credential_;
};

} // namespace brask
