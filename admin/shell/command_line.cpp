#include "shell/command_line.h"

#include <ostream>

#include "core/admin_state.h"
#include "core/console_feedback.h"
#include "core/farm.h"
#include "core/messages.h"
#include "core/tool_error.h"
#include "core/views.h"
#include "definitions/export_farm.h"
#include "definitions/import_farm.h"
#include "definitions/import_preview.h"
#include "definitions/server_snapshot.h"
#include "sky/text.h"

namespace brask {

int checkAdministratorOnConsole(AdminState& state, std::ostream& errors) {
    try {
        if (isFarmAdministrator(state)) {
            return kExitSuccess;
        }
        errors << consoleText(refusalText());
        return kExitRefused;
    } catch (const sky::ComError& error) {
        // The farm could not be asked (a damaged registry or store, no object model): that is
        // no answer about the user, so the administrator is told the cause, not refused.
        errors << consoleText(unexpectedErrorText(error.result(), error.description()));
        return kExitFailure;
    }
}

int printView(AdminState& state, int view, std::ostream& out, std::ostream& errors,
              Feedback& feedback) {
    if (int refused = checkAdministratorOnConsole(state, errors); refused != kExitSuccess) {
        return refused;
    }
    std::vector<std::u16string> entries;
    if (!withErrorPath(feedback, [&] { entries = viewListEntries(state, view); })) {
        return kExitFailure;
    }
    for (const std::u16string& entry : entries) {
        out << sky::narrow(entry) << '\n';
    }
    out.flush();
    return kExitSuccess;
}

namespace {

// Each application whose save was refused, with the reason.
void listNotSaved(const PassedOverSaves& passedOver, std::ostream& errors) {
    for (const NotBroughtOnline& failure : passedOver.failures) {
        errors << sky::narrow(failure.distinguishedName) << ": error " << failure.number << ": "
               << sky::narrow(failure.description) << '\n';
    }
}

} // namespace

int runDefinitionCommand(AdminState& state, DefinitionCommand command, std::u16string_view server,
                         std::u16string_view file, std::ostream& errors, Feedback& feedback) {
    if (int refused = checkAdministratorOnConsole(state, errors); refused != kExitSuccess) {
        return refused;
    }
    bool done = false;
    switch (command) {
    case DefinitionCommand::Export:
        done = exportFarm(state, feedback, file);
        feedback.progressDone();
        break;
    case DefinitionCommand::Import: {
        // A failure that ends the import is followed by the saves it passed over before.
        PassedOverSaves passedOver;
        done = importFarm(state, feedback, file, &passedOver);
        if (!done) {
            listNotSaved(passedOver, errors);
        }
        break;
    }
    case DefinitionCommand::Offline:
        done = takeServerOffline(state, feedback, server, file);
        feedback.progressDone();
        break;
    case DefinitionCommand::Online: {
        // Each application whose save was refused, with the reason, and how many they were.
        PassedOverSaves passedOver;
        done = bringServerOnline(state, feedback, server, file, &passedOver);
        listNotSaved(passedOver, errors);
        if (!passedOver.failures.empty()) {
            errors << consoleText(notBroughtOnlineText(passedOver.failures.size())) << std::flush;
            done = false;
        }
        break;
    }
    }
    return done ? kExitSuccess : kExitFailure;
}

int previewDefinitionCommand(AdminState& state, DefinitionCommand command,
                             std::u16string_view server, std::u16string_view file, bool json,
                             std::ostream& out, std::ostream& errors, Feedback& feedback) {
    if (int refused = checkAdministratorOnConsole(state, errors); refused != kExitSuccess) {
        return refused;
    }
    ImportPreview preview;
    const bool made = withErrorPath(feedback, [&] {
        preview = previewCommand(command == DefinitionCommand::Online ? PreviewedCommand::Online
                                                                      : PreviewedCommand::Import,
                                 server, file, feedback);
    });
    if (!made) {
        return kExitFailure;
    }
    out << (json ? previewJson(preview) : previewText(preview));
    out.flush();
    return preview.ranToEnd() ? kExitSuccess : kExitFailure;
}

} // namespace brask
