#include "shell/program.h"

#include <string>

#include <CLI/CLI.hpp>
#include <QApplication>
#include <QDir>

#include "core/admin_state.h"
#include "core/messages.h"
#include "shell/frm_about.h"
#include "shell/frm_login.h"
#include "shell/frm_main.h"
#include "shell/message_box.h"

#include "shell/screenshots.h"
#include "shell/version.h"
#include <windows.h>

namespace brask {

namespace {

int runScreenshots(int argc, char** argv, const QString& folder) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    if (!QDir().mkpath(folder)) {
        return 1;
    }
    AdminState state;
    bool written = true;
    frmLogin login;
    written &= saveScreenshot(&login, folder, "frmLogin");
    frmAbout about(nullptr);
    written &= saveScreenshot(&about, folder, "frmAbout");
    frmMain main(state);
    main.load();
    const char* names[] = {"frmMain-farm", "frmMain-applications", "frmMain-servers"};
    for (int view = kFarmView; view <= kServerView; ++view) {
        main.showView(view);
        written &= saveScreenshot(&main, folder, names[view]);
    }
    const struct {
        const char* name;
        std::u16string text;
        std::u16string_view caption;
        UINT icon;
    } boxes[] = {
        {"MessageBox-error", unexpectedErrorText(-2147467259, u"Unspecified failure"), kErrorTitle,
         MB_ICONERROR},
        {"MessageBox-refusal", refusalText(), kErrorTitle, MB_ICONERROR},
        {"MessageBox-notice", noticeText(kNoServerSelected), kCloneTitle, MB_ICONINFORMATION},
    };
    for (const auto& box : boxes) {
        written &= saveScreenshot(buildMessageBox(nullptr, box.text, box.caption, box.icon).get(),
                                  folder, box.name);
    }
    return written ? 0 : 1;
}

int runWindows(int argc, char** argv) {
    QApplication application(argc, argv);
    AdminState state;
    frmLogin login;
    login.show();
    return application.exec();
}

} // namespace

int runProgram(int argc, char** argv) {
    CLI::App app{std::string(kProgramName) +
                 ": administration of a Skyloom server farm. Without a command it opens its "
                 "windows."};
    app.set_version_flag("--version", std::string(kProgramVersion));
    std::string screenshotFolder;
    app.add_option("--screenshot", screenshotFolder,
                   "Render every window, view and message box to PNG files in this folder, "
                   "without showing them");
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        return app.exit(error) == 0 ? 0 : 1;
    }
    if (!screenshotFolder.empty()) {
        return runScreenshots(argc, argv, QString::fromStdString(screenshotFolder));
    }
    return runWindows(argc, argv);
}

} // namespace brask
