#include "shell/program.h"

#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <map>
#include <string>

#include <windows.h>

#include <CLI/CLI.hpp>
#include <QApplication>
#include <QDir>
#include <QMenu>
#include <QTemporaryFile>

#include "core/admin_state.h"
#include "core/console_feedback.h"
#include "core/messages.h"
#include "shell/command_line.h"
#include "shell/frm_about.h"
#include "shell/frm_login.h"
#include "shell/frm_main.h"
#include "shell/message_box.h"
#include "shell/screenshots.h"
#include "shell/version.h"

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

int runScreenshots(int argc, char** argv, const QString& folder) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
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

int runWindows(int argc, char** argv) {
    QApplication application(argc, argv);
    QtMessageBoxPresenter presenter;
    sky::ScopedMessageBoxPresenter windows(presenter);
    Apartment apartment;
    AdminState state;
    frmLogin login(state);
    login.load();
    return application.exec();
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
    app.require_subcommand(0, 1);

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        return app.exit(error) == 0 ? kExitSuccess : kExitFailure;
    }
    if (view->parsed()) {
        return runView(views.at(viewName));
    }
    if (!screenshotFolder.empty()) {
        return runScreenshots(argc, argv, QString::fromStdString(screenshotFolder));
    }
    return runWindows(argc, argv);
}

} // namespace brask
