#include "shell/program.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <windows.h>

#include <CLI/CLI.hpp>
#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QListWidget>
#include <QMenu>
#include <QTemporaryFile>

#include "core/admin_state.h"
#include "core/console_feedback.h"
#include "core/messages.h"
#include "publishing/command_line.h"
#include "publishing/dialog_screenshots.h"
#include "shell/command_line.h"
#include "shell/file_dialog.h"
#include "shell/frm_about.h"
#include "shell/frm_login.h"
#include "shell/frm_main.h"
#include "shell/look.h"
#include "shell/message_box.h"
#include "shell/screenshots.h"
#include "shell/version.h"
#include "sky/text.h"

namespace brask {

namespace {

// The object model is called from this thread only, one call at a time.
class Apartment {
public:
    Apartment() { CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); }
    ~Apartment() { CoUninitialize(); }
    Apartment(const Apartment&) = delete;
    Apartment& operator=(const Apartment&) = delete;
};

// In screenshot mode every message box is rendered to a file instead of being shown, and answered
// with its default button.
class RenderingPresenter final : public sky::MessageBoxPresenter {
public:
    explicit RenderingPresenter(QString folder) : folder_(std::move(folder)) {}

    // The file name (without .png) of the next box; later boxes are numbered.
    void nameNext(const QString& name) { next_ = name; }
    bool allWritten() const { return allWritten_; }

    int show(HWND owner, std::u16string_view text, std::u16string_view caption,
             UINT type) override {
        const QString name = next_.isEmpty() ? QString("MessageBox-%1").arg(++count_) : next_;
        next_.clear();
        std::unique_ptr<QMessageBox> box =
            buildMessageBox(windowFromHandle(owner), text, caption, type);
        allWritten_ &= saveScreenshot(box.get(), folder_, name);
        return sky::messageBoxDefaultButton(type);
    }

private:
    QString folder_;
    QString next_;
    int count_ = 0;
    bool allWritten_ = true;
};

// In screenshot mode every file dialog is rendered to a file, named after the command that asks,
// and cancelled, so that the command ends as a cancelled one does.
class RenderingFileDialogPresenter final : public FileDialogPresenter {
public:
    explicit RenderingFileDialogPresenter(QString folder) : folder_(std::move(folder)) {}

    void nameNext(const QString& name) { next_ = name; }
    bool allWritten() const { return allWritten_; }

    std::optional<std::u16string> show(const FileDialogRequest& request) override {
        const QString name = next_.isEmpty() ? QString("ComDlg1-%1").arg(++count_) : next_;
        next_.clear();
        std::unique_ptr<QFileDialog> dialog = buildFileDialog(request);
        allWritten_ &= saveScreenshot(dialog.get(), folder_, name);
        return std::nullopt;
    }

private:
    QString folder_;
    QString next_;
    int count_ = 0;
    bool allWritten_ = true;
};

// The file dialogs of the Export and Import commands in the farm and server views, and the main
// window with its progress bar and its status label as a running command shows them.
bool saveDefinitionScreenshots(frmMain& main, RenderingFileDialogPresenter& dialogs,
                               const QString& folder) {
    const auto choose = [&main](const char* item) { main.findChild<QAction*>(item)->trigger(); };
    main.showView(kFarmView);
    dialogs.nameNext("ComDlg1-export-farm");
    choose("mnuToolsExport");
    dialogs.nameNext("ComDlg1-import-farm");
    choose("mnuToolsImport");
    main.showView(kServerView);
    if (auto* servers = main.findChild<QListWidget*>("lstServers"); servers->count() > 0) {
        servers->item(0)->setSelected(true);
        dialogs.nameNext("ComDlg1-take-offline");
        choose("mnuToolsExport");
        dialogs.nameNext("ComDlg1-bring-online");
        choose("mnuToolsImport");
    }

    bool written = true;
    main.showView(kFarmView);
    main.feedback().progress(99.0f / 40 * 17);
    written &= saveScreenshot(&main, folder, "frmMain-export-progress");
    main.feedback().progressDone();
    main.showView(kServerView);
    main.feedback().status(u"Office/Word");
    written &= saveScreenshot(&main, folder, "frmMain-online-status");
    main.feedback().status(u"");
    return written;
}

int runScreenshots(int argc, char** argv, const QString& folder) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    setApplicationIcon();
    if (!QDir().mkpath(folder)) {
        std::cerr << "cannot create " << folder.toStdString() << '\n';
        return kExitFailure;
    }
    {
        // A folder that exists but cannot be written would only fail picture by picture.
        QTemporaryFile probe(QDir(folder).filePath("probe-XXXXXX"));
        if (!probe.open()) {
            std::cerr << "cannot write into " << folder.toStdString() << ": "
                      << probe.errorString().toStdString() << '\n';
            return kExitFailure;
        }
    }
    RenderingPresenter presenter(folder);
    sky::ScopedMessageBoxPresenter rendering(presenter);
    Apartment apartment;
    AdminState state;

    bool written = true;
    frmLogin login(state);
    written &= saveScreenshot(&login, folder, "frmLogin");
    frmAbout about(nullptr);
    written &= saveScreenshot(&about, folder, "frmAbout");
    frmMain main(state);
    main.load();
    for (const char* menu : {"mnfFile", "mnuEdit", "mnuView", "mnuHelp"}) {
        written &=
            saveMenuScreenshot(main.findChild<QMenu*>(menu), folder, QString("frmMain-") + menu);
    }
    const char* names[] = {"frmMain-farm", "frmMain-applications", "frmMain-servers"};
    for (int view = kFarmView; view <= kServerView; ++view) {
        main.showView(view);
        written &= saveScreenshot(&main, folder, names[view]);
        written &= saveMenuScreenshot(main.findChild<QMenu*>("mnuTools"), folder,
                                      QString(names[view]) + "-tools");
    }

    RenderingFileDialogPresenter dialogs(folder);
    ScopedFileDialogPresenter renderingDialogs(dialogs);
    written &= saveDefinitionScreenshots(main, dialogs, folder) && dialogs.allWritten();
    written &= saveDialogScreenshots(state, &main, folder);

    presenter.nameNext("MessageBox-error");
    showUnexpectedError(nullptr, -2147467259, u"Unspecified failure");
    presenter.nameNext("MessageBox-refusal");
    showRefusal(nullptr);
    presenter.nameNext("MessageBox-notice-applications");
    showNotice(nullptr, kNoApplicationsSelected, kPublishTitle);
    presenter.nameNext("MessageBox-notice-server");
    showNotice(nullptr, kNoServerSelected, kCloneTitle);
    if (!written || !presenter.allWritten()) {
        std::cerr << "some pictures could not be written into " << folder.toStdString() << '\n';
        return kExitFailure;
    }
    return kExitSuccess;
}

// The windows need a display. Without one Qt would end the program with its own lines and an
// abort; the user is told instead, in one line, what works without a display.
std::string noDisplayText(const char* program) {
    const std::string name = std::filesystem::path(program).filename().string();
    return name +
           ": the windows need a display, and there is none (DISPLAY and WAYLAND_DISPLAY "
           "are unset or cannot be reached); without one use the command-line mode (" +
           name + " view farm|apps|servers, " + name +
           " --help) or run the windows under "
           "xvfb-run (xvfb-run " +
           name + ")";
}

bool displayNamed() {
    for (const char* variable : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) {
        if (const char* value = std::getenv(variable); value && *value) {
            return true;
        }
    }
    return false;
}

// While Qt connects to the display: its messages are held back, and passed on once it is
// connected; a fatal one (no display could be reached) gives the one line and exit code 1.
class DisplayConnection {
public:
    explicit DisplayConnection(const char* program) {
        line_ = noDisplayText(program);
        previous_ = qInstallMessageHandler(&DisplayConnection::hold);
    }
    ~DisplayConnection() {
        qInstallMessageHandler(previous_);
        for (const Held& message : held_) {
            const QMessageLogContext context(nullptr, 0, nullptr, message.category.c_str());
            if (previous_) {
                previous_(message.type, context, message.text);
            } else {
                std::cerr << message.text.toStdString() << '\n';
            }
        }
        held_.clear();
    }
    DisplayConnection(const DisplayConnection&) = delete;
    DisplayConnection& operator=(const DisplayConnection&) = delete;

private:
    struct Held {
        QtMsgType type;
        std::string category;
        QString text;
    };

    static void hold(QtMsgType type, const QMessageLogContext& context, const QString& text) {
        if (type == QtFatalMsg) {
            std::cerr << line_ << '\n';
            std::_Exit(kExitFailure);
        }
        held_.push_back({type, context.category ? context.category : "default", text});
    }

    static inline std::string line_;
    static inline std::vector<Held> held_;
    static inline QtMessageHandler previous_ = nullptr;
};

int runWindows(int argc, char** argv) {
    if (!displayNamed()) {
        std::cerr << noDisplayText(argv[0]) << '\n';
        return kExitFailure;
    }
    std::optional<DisplayConnection> connecting(std::in_place, argv[0]);
    QApplication application(argc, argv);
    connecting.reset();
    setApplicationIcon();
    QtMessageBoxPresenter presenter;
    sky::ScopedMessageBoxPresenter windows(presenter);
    QtFileDialogPresenter fileDialogs;
    ScopedFileDialogPresenter dialogs(fileDialogs);
    Apartment apartment;
    AdminState state;
    frmLogin login(state);
    login.load();
    return application.exec();
}

int runDefinitions(DefinitionCommand command, const std::string& server, const std::string& file,
                   bool dryRun, bool json) {
    Apartment apartment;
    AdminState state;
    ConsoleFeedback feedback(std::cerr, isatty(fileno(stderr)) != 0);
    if (dryRun) {
        return previewDefinitionCommand(state, command, sky::widen(server), sky::widen(file), json,
                                        std::cout, std::cerr, feedback);
    }
    return runDefinitionCommand(state, command, sky::widen(server), sky::widen(file), std::cerr,
                                feedback);
}

int runView(int view) {
    Apartment apartment;
    AdminState state;
    ConsoleFeedback feedback(std::cerr, isatty(fileno(stderr)) != 0);
    return printView(state, view, std::cout, std::cerr, feedback);
}

} // namespace

int runProgram(int argc, char** argv) {
    CLI::App app{std::string(kProgramName) +
                 ": administration of a Skyloom server farm. Without a command it opens its "
                 "windows. Exit codes: 0 success, 1 failure (the error report on standard "
                 "error), 2 the user is not a farm administrator."};
    app.set_version_flag("--version", std::string(kProgramVersion));
    std::string screenshotFolder;
    app.add_option("--screenshot", screenshotFolder,
                   "Render every window, view and message box to PNG files in this folder, "
                   "without showing them")
        ->option_text("DIR");

    const std::map<std::string, int> views{
        {"farm", kFarmView}, {"apps", kApplicationView}, {"servers", kServerView}};
    CLI::App* view = app.add_subcommand(
        "view", "Print the items of a view of the main window, one per line, as its list holds "
                "them (after the administrator check)");
    std::string viewName;
    view->add_option("name", viewName, "farm, apps or servers")
        ->required()
        ->check(CLI::IsMember({"farm", "apps", "servers"}));

    // The Export and Import commands of the farm and server views.
    std::string definitionFile;
    std::string serverName;
    const char* fileHelp = "The file: a path of this machine (C:\\...) or of the host";
    CLI::App* exporting = app.add_subcommand(
        "export", "Export the farm's settings and every Windows application into a farm "
                  "definition file, their icons into the folder icons of the current directory "
                  "(after the administrator check)");
    exporting->add_option("FILE", definitionFile, fileHelp)->required();
    CLI::App* importing = app.add_subcommand(
        "import", "Import a farm definition file into the farm: its settings and every "
                  "application it describes (after the administrator check)");
    importing->add_option("FILE", definitionFile, fileHelp)->required();
    // The preview of import and online: the options may stand anywhere on the line.
    bool dryRun = false;
    bool json = false;
    const char* dryRunHelp = "Do not change the farm: run the command on a scratch copy of it and "
                             "print what it would change (exit code 1 when it would stop at a "
                             "failure)";
    const char* jsonHelp = "With --dry-run: print the preview as JSON";
    app.add_flag("--dry-run", dryRun, dryRunHelp);
    app.add_flag("--json", json, jsonHelp);
    importing->add_flag("--dry-run", dryRun, dryRunHelp);
    importing->add_flag("--json", json, jsonHelp);
    CLI::App* offline = app.add_subcommand(
        "offline", "Take a server offline: withdraw every application from it and record them "
                   "in a server snapshot file (after the administrator check)");
    offline->add_option("SERVER", serverName, "The server's name")->required();
    offline->add_option("FILE", definitionFile, fileHelp)->required();
    CLI::App* online = app.add_subcommand(
        "online", "Bring a server online: publish on it every application of a server snapshot "
                  "file (after the administrator check)");
    online->add_option("SERVER", serverName, "The server's name")->required();
    online->add_option("FILE", definitionFile, fileHelp)->required();
    online->add_flag("--dry-run", dryRun, dryRunHelp);
    online->add_flag("--json", json, jsonHelp);
    PublishingCommandLine publishing(app);
    app.require_subcommand(0, 1);
    // The other commands take the two options too, out of sight, so that wherever they stand on
    // the line they reach the check below and are refused with the same words.
    for (CLI::App* command : app.get_subcommands({})) {
        if (command != importing && command != online) {
            command->add_flag("--dry-run", dryRun)->group("");
            command->add_flag("--json", json)->group("");
        }
    }

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        return app.exit(error) == 0 ? kExitSuccess : kExitFailure;
    }
    const std::pair<CLI::App*, DefinitionCommand> definitionCommands[] = {
        {exporting, DefinitionCommand::Export},
        {importing, DefinitionCommand::Import},
        {offline, DefinitionCommand::Offline},
        {online, DefinitionCommand::Online},
    };
    const bool previewable = importing->parsed() || online->parsed();
    if ((dryRun || json) && !previewable) {
        std::cerr << (dryRun ? "--dry-run" : "--json")
                  << " goes with the import and online commands only\n";
        return kExitFailure;
    }
    if (json && !dryRun) {
        std::cerr << "--json goes with --dry-run\n";
        return kExitFailure;
    }
    if (view->parsed()) {
        return runView(views.at(viewName));
    }
    for (const auto& [subcommand, command] : definitionCommands) {
        if (subcommand->parsed()) {
            return runDefinitions(command, serverName, definitionFile, dryRun, json);
        }
    }
    if (publishing.parsed()) {
        Apartment apartment;
        AdminState state;
        ConsoleFeedback feedback(std::cerr, isatty(fileno(stderr)) != 0);
        return publishing.run(state, std::cout, std::cerr, feedback);
    }
    if (!screenshotFolder.empty()) {
        return runScreenshots(argc, argv, QString::fromStdString(screenshotFolder));
    }
    return runWindows(argc, argv);
}

} // namespace brask
