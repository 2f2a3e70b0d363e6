// The preview of an import (and of bringing a server online): the very same routine run against a
// scratch copy of the farm in this process (ScratchFarm), then what it did to the copy told
// against the farm itself, which is left untouched. The differences come from the farm as the
// store holds it before and after the run, and from what the routine said of each save
// (SaveObserver), so that the preview lists exactly what the real command would change.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/admin_state.h"
#include "core/feedback.h"
#include "qvcomsrv/store/differences.h"
#include "qvcomsrv/store/model.h"

namespace brask {

enum class PreviewedCommand { Import, Online };

// A setting (or an application's "Description" or "AppType") that would change, and what would
// differ in an application that the command stores over one of the same name.
using SettingChange = sky::farm::SettingChange;
using ApplicationChanges = sky::farm::ApplicationDifferences;

enum class SaveOutcome {
    Added,      // no application of that name before
    Replaced,   // one of that name before, and it would differ
    Unchanged,  // one of that name before, and it would be just as it was
    PassedOver, // the farm would refuse the save; the command would go on
};

struct PreviewedApplication {
    std::string distinguishedName;
    SaveOutcome outcome = SaveOutcome::Added;
    ApplicationChanges changes;   // Replaced
    std::int32_t errorNumber = 0; // PassedOver: the refusal
    std::string errorDescription;
};

// Where the command would stop: the error report's number and text, and the applications stored
// before it (in the order the command stored them).
struct PreviewStop {
    std::int32_t number = 0;
    std::string description;
    std::vector<std::string> storedBefore;
};

struct ImportPreview {
    PreviewedCommand command = PreviewedCommand::Import;
    std::string file;
    std::string server; // Online
    std::string farmName;
    std::vector<SettingChange> farmSettings;
    std::vector<std::string> foldersCreated;
    // Every save the command would make or pass over, in its order.
    std::vector<PreviewedApplication> applications;
    // Applications of the farm that would be gone afterwards (an import deletes an application
    // of the root folder before it stores one of the same name; when that save is then refused,
    // the old one is gone).
    std::vector<std::string> removed;
    std::optional<PreviewStop> stop;

    bool ranToEnd() const { return !stop; }
};

// Runs `command` (import of `file`; online: `file` brought online on `server`) on a scratch copy
// of the farm and tells what it would change. `feedback` shows the status as the real command
// would; the error report is not shown but becomes the preview's stop. Throws sky::ComError when
// no copy can be made (no farm served, no object model module).
ImportPreview previewCommand(PreviewedCommand command, std::u16string_view server,
                             std::u16string_view file, Feedback& feedback);

// The text for people (see docs/farm-definition-file.md) and the JSON for scripts, each ending
// with a line break.
std::string previewText(const ImportPreview& preview);
std::string previewJson(const ImportPreview& preview);

} // namespace brask
