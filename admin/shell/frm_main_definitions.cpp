// The main window's Export and Import commands: export and import of the farm definition file in
// the farm view, take offline and bring online in the server view.
#include <QCoreApplication>
#include <QProgressBar>

#include "core/admin_state.h"
#include "core/farm.h"
#include "core/messages.h"
#include "core/tool_error.h"
#include "definitions/export_farm.h"
#include "definitions/import_farm.h"
#include "definitions/server_snapshot.h"
#include "shell/busy_cursor.h"
#include "shell/frm_main.h"
#include "shell/list_box.h"
#include "shell/message_box.h"
#include "shell/window_feedback.h"
#include "sky/machine.h"

namespace brask {

namespace {

constexpr std::u16string_view kDefinitionFilter = u"INI Files (*.ini)|*.ini";

} // namespace

void frmMain::runOnChosenFile(std::u16string_view title, FileDialogRequest::Kind kind,
                              const std::u16string* proposedName,
                              const std::function<void(const std::u16string&)>& operation) {
    withErrorPath(*feedback_, [&] {
        ComDlg1.DialogTitle = title;
        ComDlg1.CancelError = true;
        ComDlg1.Filter = kDefinitionFilter;
        ComDlg1.InitDir =
            sky::machine::toWindowsPath(QCoreApplication::applicationDirPath().toStdString());
        if (proposedName) {
            ComDlg1.FileName = *proposedName;
        }
        if (kind == FileDialogRequest::Kind::Save) {
            ComDlg1.ShowSave(this);
        } else {
            ComDlg1.ShowOpen(this);
        }
        BusyCursor busy;
        const std::u16string path = ComDlg1.FileName;
        repaint();
        operation(path);
    });
}

std::u16string frmMain::selectedServer() const {
    const QStringList selected = lstServers->selectedEntriesFromEnd();
    return selected.isEmpty() ? std::u16string() : selected.front().toStdU16String();
}

void frmMain::mnuToolsExport_Click() {
    if (state_.currentView == kFarmView) {
        exportFarmCommand();
    } else if (state_.currentView == kServerView) {
        takeOfflineCommand();
    }
    feedback_->progressDone();
}

void frmMain::mnuToolsImport_Click() {
    if (state_.currentView == kFarmView) {
        importFarmCommand();
    } else if (state_.currentView == kServerView) {
        bringOnlineCommand();
    }
    feedback_->status(u"");
}

void frmMain::exportFarmCommand() {
    std::u16string proposed;
    const bool named = withErrorPath(*feedback_, [&] {
        ISkyloomFarm6* farm = state_.farm ? state_.farm.get() : openFarm(state_);
        proposed = u"Farm_" + getText(&ISkyloomFarm::get_FarmName, farm);
    });
    if (!named) {
        return;
    }
    runOnChosenFile(u"Export Farm Applications", FileDialogRequest::Kind::Save, &proposed,
                    [this](const std::u16string& path) { exportFarm(state_, *feedback_, path); });
}

void frmMain::importFarmCommand() {
    runOnChosenFile(u"Import Farm Applications", FileDialogRequest::Kind::Open, nullptr,
                    [this](const std::u16string& path) { importFarm(state_, *feedback_, path); });
}

void frmMain::takeOfflineCommand() {
    const std::u16string server = selectedServer();
    if (server.empty()) {
        feedback_->notice(kNoServerSelected, kCloneTitle);
        return;
    }
    const std::u16string proposed = u"Server_" + server;
    runOnChosenFile(
        u"Export Server Applications", FileDialogRequest::Kind::Save, &proposed,
        [&](const std::u16string& path) { takeServerOffline(state_, *feedback_, server, path); });
}

void frmMain::bringOnlineCommand() {
    const std::u16string server = selectedServer();
    if (server.empty()) {
        feedback_->notice(kNoServerSelected, kCloneTitle);
        return;
    }
    // A save the farm refuses is passed over and the run goes on; its end says how many
    // applications are not back on the server.
    PassedOverSaves passedOver;
    runOnChosenFile(u"Import Server Applications", FileDialogRequest::Kind::Open, nullptr,
                    [&](const std::u16string& path) {
                        bringServerOnline(state_, *feedback_, server, path, &passedOver);
                    });
    if (!passedOver.failures.empty()) {
        const std::u16string text = notBroughtOnlineText(passedOver.failures.size());
        const std::u16string title(kBringOnlineTitle);
        MessageBoxW(platformHandle(this), text.c_str(), title.c_str(), MB_OK | MB_ICONINFORMATION);
    }
}

} // namespace brask
