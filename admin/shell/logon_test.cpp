// The logon window's flows: the load step at start-up and Passtrough, with the real object model
// activation of the machine and real runs of the registration program.
#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include <QApplication>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <gtest/gtest.h>

#include "core/admin_state.h"
#include "core/messages.h"
#include "core/registration.h"
#include "shell/frm_login.h"
#include "shell/qt_test_app.h"
#include "shell/test_farm.h"
#include "sky/machine.h"
#include "sky/messagebox.h"
#include "sky/text.h"

namespace brask {
namespace {

namespace fs = std::filesystem;

// Runs a test in a folder of its own as the process's current directory.
class CurrentFolder {
public:
    CurrentFolder() : previous_(fs::current_path()) {
        folder_ = sky::machine::root() / "work";
        fs::create_directories(folder_);
        fs::current_path(folder_);
    }
    ~CurrentFolder() { fs::current_path(previous_); }

    const fs::path& path() const { return folder_; }
    std::u16string windowsPath() const { return sky::machine::toWindowsPath(folder_); }

    // Puts the recording stand-in for qvreg.exe into the folder.
    void installQvreg() const { fs::copy_file(BRASK_QVREG_PROBE, folder_ / "qvreg.exe"); }

    // Puts the real qvreg.exe of the build into the folder.
    void installRealQvreg() const {
        fs::copy_file(sky::testing::buildBin() / "qvreg", folder_ / "qvreg.exe");
    }

    // The command lines qvreg.exe has recorded, in the order it ran them.
    std::vector<std::string> qvregCommandLines(std::size_t count) const {
        std::vector<std::string> lines;
        std::ifstream log(folder_ / "qvreg.log");
        for (std::string line; std::getline(log, line) && lines.size() < count;) {
            lines.push_back(line);
        }
        return lines;
    }

private:
    fs::path previous_;
    fs::path folder_;
};

class LogonTest : public ::testing::Test {
protected:
    LogonTest() : installed_(recorder_) { testing::qtTestApp(); }

    // Closes the About box as soon as it is open and notes how many message boxes were already
    // shown by then.
    void answerAboutBox() {
        QTimer::singleShot(0, [this] {
            QWidget* box = QApplication::activeModalWidget();
            ASSERT_NE(box, nullptr);
            EXPECT_EQ(box->objectName(), "frmAbout");
            aboutShown_ = true;
            boxesBeforeAbout_ = recorder_.boxes().size();
            box->findChild<QPushButton*>("cmdOK")->click();
        });
    }

    void passThrough(frmLogin& login, const QString& server) {
        login.findChild<QLineEdit*>("Server")->setText(server);
        login.findChild<QPushButton*>("cmdPasstrough")->click();
    }

    sky::RecordingPresenter recorder_;
    sky::ScopedMessageBoxPresenter installed_;
    CurrentFolder folder_;
    AdminState state_;
    bool aboutShown_ = false;
    std::size_t boxesBeforeAbout_ = 0;
};

TEST_F(LogonTest, WithoutObjectModelTheLoadStepRefusesAfterTheAboutBox) {
    frmLogin login(state_);
    answerAboutBox();
    login.load();

    EXPECT_TRUE(aboutShown_);
    EXPECT_EQ(boxesBeforeAbout_, 0u);
    const auto boxes = recorder_.boxes();
    ASSERT_EQ(boxes.size(), 1u) << "the refusal, and no error report";
    EXPECT_EQ(boxes[0].text, refusalText());
    EXPECT_FALSE(login.LoginSucceeded);
    EXPECT_TRUE(login.isVisible());
    EXPECT_TRUE(login.findChild<QLineEdit*>("Server")->text().isEmpty());
    login.close();
}

TEST_F(LogonTest, PasstroughWithAnEmptyBoxDoesNothing) {
    folder_.installQvreg();
    frmLogin login(state_);
    login.show();
    login.LoginSucceeded = true;
    passThrough(login, "");

    EXPECT_TRUE(recorder_.boxes().empty());
    EXPECT_TRUE(login.isVisible());
    EXPECT_TRUE(login.LoginSucceeded) << "no check was made";
    EXPECT_FALSE(state_.farm);
    EXPECT_FALSE(fs::exists(folder_.path() / "qvreg.log")) << "no program was started";
    login.close();
}

TEST_F(LogonTest, PasstroughWithoutQvregReportsTheMissingFileAndMakesNoCheck) {
    frmLogin login(state_);
    login.show();
    login.LoginSucceeded = true;
    passThrough(login, "FARM2");

    const auto boxes = recorder_.boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].icon, static_cast<UINT>(MB_ICONERROR));
    EXPECT_EQ(boxes[0].text, unexpectedErrorText(53, u"File not found"));
    EXPECT_TRUE(login.LoginSucceeded) << "no check was made";
    EXPECT_FALSE(state_.farm);
    EXPECT_TRUE(login.isVisible());
    login.close();
}

TEST_F(LogonTest, PasstroughRunsQvregTwiceFromTheCurrentDirectoryEachToItsEnd) {
    folder_.installQvreg();
    frmLogin login(state_);
    login.show();
    passThrough(login, "FARM2");

    // Both runs have ended when the click returns, the unregistration first.
    const std::string folder = sky::narrow(folder_.windowsPath());
    const std::vector<std::string> expected{folder + "\\qvreg.exe /uFARM2",
                                            folder + "\\qvreg.exe FARM2"};
    EXPECT_EQ(folder_.qvregCommandLines(3), expected);
    login.close();
}

// The same flows with the object model registered and a farm on the machine.
class LogonFarmTest : public LogonTest {
protected:
    LogonFarmTest() { CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); }
    void SetUp() override {
        ASSERT_TRUE(testing::objectModelBuilt())
            << "the object model module (qvcomsrv.dll) is missing from the build";
        testing::registerObjectModel();
    }
    ~LogonFarmTest() override {
        // Deleting a main window also deletes the windows it owns, which the list of top-level
        // widgets still holds: pick the main windows first, then delete those still alive.
        QList<QPointer<QWidget>> mainWindows;
        for (QWidget* window : QApplication::topLevelWidgets()) {
            if (window->objectName() == "frmMain") {
                mainWindows.append(window);
            }
        }
        for (const QPointer<QWidget>& window : mainWindows) {
            delete window.data();
        }
        state_ = AdminState();
        CoUninitialize();
    }

    void installFarm(bool userIsAdministrator) {
        testing::TestFarm farm;
        if (!userIsAdministrator) {
            farm.administrators = {"someone-else"};
        }
        testing::installFarm(farm);
    }

    static QWidget* mainWindow() {
        for (QWidget* window : QApplication::topLevelWidgets()) {
            if (window->objectName() == "frmMain" && window->isVisible()) {
                return window;
            }
        }
        return nullptr;
    }
};

TEST_F(LogonFarmTest, AnAdministratorGoesStraightToTheMainWindowAfterTheAboutBox) {
    installFarm(true);
    frmLogin login(state_);
    answerAboutBox();
    login.load();

    EXPECT_TRUE(aboutShown_);
    EXPECT_TRUE(recorder_.boxes().empty());
    EXPECT_TRUE(login.LoginSucceeded);
    EXPECT_FALSE(login.isVisible()) << "the logon window is never shown";
    QWidget* main = mainWindow();
    ASSERT_NE(main, nullptr);
    EXPECT_EQ(main->findChild<QWidget*>("lstFarm")->property("count").toInt(), 2);
}

TEST_F(LogonFarmTest, ARefusalShowsItsBoxAndThenTheLogonWindow) {
    installFarm(false);
    frmLogin login(state_);
    answerAboutBox();
    login.load();

    const auto boxes = recorder_.boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, u"Error");
    EXPECT_EQ(boxes[0].icon, static_cast<UINT>(MB_ICONERROR));
    EXPECT_EQ(boxes[0].text, refusalText());
    EXPECT_FALSE(login.LoginSucceeded);
    EXPECT_TRUE(login.isVisible());
    EXPECT_TRUE(login.findChild<QLineEdit*>("Server")->text().isEmpty());
    EXPECT_EQ(mainWindow(), nullptr);
    login.close();
}

TEST_F(LogonFarmTest, ARefusalAfterPasstroughEndsTheProgram) {
    installFarm(false);
    folder_.installQvreg();
    frmLogin login(state_);
    login.show();
    passThrough(login, "OTHER");

    const auto boxes = recorder_.boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, refusalText());
    EXPECT_FALSE(login.isVisible());
    EXPECT_TRUE(login.testAttribute(Qt::WA_QuitOnClose)) << "closing it ends the program";
    EXPECT_EQ(mainWindow(), nullptr);
    EXPECT_EQ(folder_.qvregCommandLines(2).size(), 2u);
}

TEST_F(LogonFarmTest, PasstroughToAFarmThatAdmitsTheUserOpensTheMainWindow) {
    installFarm(true);
    folder_.installQvreg();
    frmLogin login(state_);
    login.show();
    passThrough(login, "OTHER");

    EXPECT_TRUE(recorder_.boxes().empty());
    EXPECT_TRUE(login.LoginSucceeded);
    EXPECT_FALSE(login.isVisible());
    EXPECT_NE(mainWindow(), nullptr);
}

// The machine serves a farm that refuses the user; the server named in the logon window belongs to
// another farm of the machine, which admits him. The real qvreg.exe switches the machine over, and
// the check after its two runs lets the user in.
TEST_F(LogonFarmTest, PasstroughWithTheRealQvregReachesTheAdmittingFarmsMainWindow) {
    testing::TestFarm admitting;
    admitting.name = "Admitting";
    admitting.zones = {{"East", "EAST01"}};
    admitting.servers = {"EAST01"};
    testing::installFarm(admitting);
    testing::TestFarm refusing;
    refusing.name = "Refusing";
    refusing.administrators = {"someone-else"};
    refusing.zones = {{"West", "WEST01"}};
    refusing.servers = {"WEST01"};
    testing::installFarm(refusing); // the farm the machine serves

    folder_.installRealQvreg();
    frmLogin login(state_);
    answerAboutBox();
    login.load();
    ASSERT_FALSE(login.LoginSucceeded) << "the served farm refuses the user";
    ASSERT_TRUE(login.isVisible());
    const std::size_t boxesBefore = recorder_.boxes().size();

    passThrough(login, "east01");

    EXPECT_EQ(recorder_.boxes().size(), boxesBefore) << "no refusal and no error report";
    EXPECT_TRUE(login.LoginSucceeded);
    EXPECT_FALSE(login.isVisible());
    QWidget* main = mainWindow();
    ASSERT_NE(main, nullptr);
    EXPECT_EQ(main->findChild<QWidget*>("lstFarm")->property("count").toInt(), 4)
        << "farm name, zone, data collector and number of servers of the admitting farm";
}

TEST(RegistrationTest, CommandLines) {
    EXPECT_EQ(unregisterCommandLine(u"C:\\Brask", u"SRV01"), u"C:\\Brask\\qvreg.exe /uSRV01");
    EXPECT_EQ(registerCommandLine(u"C:\\Brask", u"SRV01"), u"C:\\Brask\\qvreg.exe SRV01");
    // A folder with blanks is passed on as it is.
    EXPECT_EQ(registerCommandLine(u"C:\\Program Files\\Brask", u"S"),
              u"C:\\Program Files\\Brask\\qvreg.exe S");
}

} // namespace
} // namespace brask
