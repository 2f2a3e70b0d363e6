// The main window's Export and Import commands over a real farm: the file dialog answered by a
// presenter that records what it was asked, message boxes by the platform's recording presenter,
// everything else real.
#include <filesystem>
#include <fstream>
#include <iterator>

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QProgressBar>
#include <gtest/gtest.h>

#include "core/admin_state.h"
#include "core/messages.h"
#include "shell/file_dialog.h"
#include "shell/frm_main.h"
#include "shell/list_box.h"
#include "shell/qt_test_app.h"
#include "shell/store_hold.h"
#include "shell/test_farm.h"
#include "sky/machine.h"
#include "sky/messagebox.h"

namespace brask {
namespace {

namespace fs = std::filesystem;

// Records every request and answers with the path it is given, or cancels.
class AnsweringFileDialog final : public FileDialogPresenter {
public:
    std::optional<std::u16string> show(const FileDialogRequest& request) override {
        requests.push_back(request);
        return answer;
    }

    std::vector<FileDialogRequest> requests;
    std::optional<std::u16string> answer;
};

std::string fileText(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class DefinitionsWindowTest : public ::testing::Test {
protected:
    DefinitionsWindowTest() : boxes_(recorder_), dialogs_(dialog_), previous_(fs::current_path()) {
        testing::qtTestApp();
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        work_ = sky::machine::root() / "work";
        fs::create_directories(work_);
        fs::current_path(work_);
    }
    void SetUp() override {
        ASSERT_TRUE(testing::objectModelBuilt())
            << "the object model module is not built: build qvcomsrv before these tests";
        testing::registerObjectModel();
        testing::TestFarm farm;
        farm.name = "Brask";
        farm.zones = {{"Main", "SRV1"}};
        farm.servers = {"SRV1", "SRV2"};
        farm.applications = {"Applications/Calc", "Applications/Office/Word"};
        testing::installFarm(farm);
        main_ = std::make_unique<frmMain>(state_);
        main_->load();
    }
    ~DefinitionsWindowTest() override {
        main_.reset();
        state_ = AdminState();
        fs::current_path(previous_);
        CoUninitialize();
    }

    void choose(const char* item) { main_->findChild<QAction*>(item)->trigger(); }
    std::u16string windowsFile(const std::string& name) const {
        return sky::machine::toWindowsPath(work_ / name);
    }
    QProgressBar* progressBar() { return main_->findChild<QProgressBar*>("pbStatus"); }
    QLabel* statusLabel() { return main_->findChild<QLabel*>("lblStatus"); }
    void selectServer(const QString& name) {
        ListBox* servers = main_->findChild<ListBox*>("lstServers");
        for (int row = 0; row < servers->count(); ++row) {
            servers->item(row)->setSelected(servers->item(row)->text() == name);
        }
    }
    // The window after a command: progress and status hidden and reset, the ordinary pointer.
    void expectTidy() {
        EXPECT_TRUE(progressBar()->isHidden());
        EXPECT_EQ(progressBar()->value(), 0);
        EXPECT_TRUE(statusLabel()->isHidden());
        EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    }

    sky::RecordingPresenter recorder_;
    sky::ScopedMessageBoxPresenter boxes_;
    AnsweringFileDialog dialog_;
    ScopedFileDialogPresenter dialogs_;
    fs::path previous_;
    fs::path work_;
    AdminState state_;
    std::unique_ptr<frmMain> main_;
};

TEST_F(DefinitionsWindowTest, ExportFarmAsksForAFileThenWritesItWithoutAMessage) {
    dialog_.answer = windowsFile("Farm_Brask");
    choose("mnuToolsExport");
    ASSERT_EQ(dialog_.requests.size(), 1u);
    const FileDialogRequest& request = dialog_.requests[0];
    EXPECT_EQ(request.kind, FileDialogRequest::Kind::Save);
    EXPECT_EQ(request.title, u"Export Farm Applications");
    EXPECT_EQ(request.filter, u"INI Files (*.ini)|*.ini");
    EXPECT_EQ(request.initialFolder,
              sky::machine::toWindowsPath(QCoreApplication::applicationDirPath().toStdString()));
    EXPECT_EQ(request.fileName, u"Farm_Brask");
    EXPECT_EQ(request.owner, main_.get());

    EXPECT_TRUE(fileText(work_ / "Farm_Brask").starts_with("[Farm]\r\nFarmname=Brask\r\n"));
    EXPECT_TRUE(fs::exists(work_ / "icons" / "Calc.ico"));
    EXPECT_TRUE(fs::exists(work_ / "icons" / "Word.ico"));
    EXPECT_TRUE(recorder_.boxes().empty());
    expectTidy();
}

TEST_F(DefinitionsWindowTest, CancelEndsEveryCommandSilently) {
    dialog_.answer.reset();
    choose("mnuToolsExport");
    choose("mnuToolsImport");
    choose("mnuViewServers");
    selectServer("SRV1");
    choose("mnuToolsExport");
    choose("mnuToolsImport");
    EXPECT_EQ(dialog_.requests.size(), 4u);
    EXPECT_TRUE(recorder_.boxes().empty());
    EXPECT_FALSE(fs::exists(work_ / "icons"));
    expectTidy();
}

TEST_F(DefinitionsWindowTest, ImportOffersThePathChosenBeforeAndReadsTheFile) {
    dialog_.answer = windowsFile("farm.ini");
    choose("mnuToolsExport");
    // The farm gets a new setting by import: the exported file with one line changed.
    std::string text = fileText(work_ / "farm.ini");
    const std::size_t line = text.find("MaxConnectionsPerUser=");
    ASSERT_NE(line, std::string::npos);
    text.replace(line, text.find("\r\n", line) - line, "MaxConnectionsPerUser=9");
    std::ofstream(work_ / "farm.ini", std::ios::binary) << text;

    dialog_.answer = windowsFile("farm.ini");
    choose("mnuToolsImport");
    ASSERT_EQ(dialog_.requests.size(), 2u);
    const FileDialogRequest& request = dialog_.requests[1];
    EXPECT_EQ(request.kind, FileDialogRequest::Kind::Open);
    EXPECT_EQ(request.title, u"Import Farm Applications");
    EXPECT_EQ(request.filter, u"INI Files (*.ini)|*.ini");
    EXPECT_EQ(request.fileName, windowsFile("farm.ini"));
    EXPECT_TRUE(recorder_.boxes().empty());
    expectTidy();
    EXPECT_EQ(statusLabel()->text(), "");

    LONG limit = 0;
    ASSERT_NE(state_.farmSettings.get(), nullptr);
    ASSERT_EQ(state_.farmSettings->get_MaxConnectionsPerUser(&limit), S_OK);
    EXPECT_EQ(limit, 9);
}

TEST_F(DefinitionsWindowTest, ServerCommandsWithoutASelectedServerOnlyShowTheNotice) {
    choose("mnuViewServers");
    choose("mnuToolsExport");
    choose("mnuToolsImport");
    EXPECT_TRUE(dialog_.requests.empty());
    const auto boxes = recorder_.boxes();
    ASSERT_EQ(boxes.size(), 2u);
    for (const auto& box : boxes) {
        EXPECT_EQ(box.caption, u"Clone");
        EXPECT_EQ(box.text, u"Sorry: \r\nNo Server Selected");
        EXPECT_EQ(box.icon, static_cast<UINT>(MB_ICONINFORMATION));
    }
    expectTidy();
}

TEST_F(DefinitionsWindowTest, TakeOfflineAndBringOnlineTheSelectedServer) {
    choose("mnuViewServers");
    selectServer("SRV2");
    dialog_.answer = windowsFile("Server_SRV2");
    choose("mnuToolsExport");
    ASSERT_EQ(dialog_.requests.size(), 1u);
    EXPECT_EQ(dialog_.requests[0].kind, FileDialogRequest::Kind::Save);
    EXPECT_EQ(dialog_.requests[0].title, u"Export Server Applications");
    EXPECT_EQ(dialog_.requests[0].fileName, u"Server_SRV2");
    EXPECT_EQ(dialog_.requests[0].filter, u"INI Files (*.ini)|*.ini");
    EXPECT_EQ(fileText(work_ / "Server_SRV2"),
              "[Servers]\r\nServerName=SRV2\r\nWindows NT Version=5.2\r\n\r\n[Applications]\r\n"
              "\r\n\r\n");
    expectTidy();

    choose("mnuToolsImport");
    ASSERT_EQ(dialog_.requests.size(), 2u);
    EXPECT_EQ(dialog_.requests[1].kind, FileDialogRequest::Kind::Open);
    EXPECT_EQ(dialog_.requests[1].title, u"Import Server Applications");
    EXPECT_EQ(dialog_.requests[1].fileName, windowsFile("Server_SRV2"));
    EXPECT_TRUE(recorder_.boxes().empty());
    expectTidy();
}

// A save the farm refuses is passed over and the run goes on; its end says in an information box
// how many applications are not back. A run without refusals shows nothing.
TEST_F(DefinitionsWindowTest, BringOnlineCountsTheApplicationsItCouldNotPutBack) {
    std::ofstream(work_ / "Server_SRV2", std::ios::binary)
        << "[Applications]\r\nDistinguishedName=Applications/Calc\r\n";
    choose("mnuViewServers");
    selectServer("SRV2");
    dialog_.answer = windowsFile("Server_SRV2");
    {
        // Another program holds the farm store: the save waits for it and fails.
        testing::StoreHold hold;
        choose("mnuToolsImport");
    }
    const std::vector<sky::RecordingPresenter::Box> boxes = recorder_.boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, u"Bring online");
    EXPECT_EQ(boxes[0].text, u"1 applications could not be brought online");
    EXPECT_EQ(boxes[0].icon, static_cast<UINT>(MB_ICONINFORMATION));
    expectTidy();

    choose("mnuToolsImport");
    EXPECT_EQ(recorder_.boxes().size(), 1u) << "a run without refusals shows nothing";
    expectTidy();
}

TEST_F(DefinitionsWindowTest, ApplicationViewOffersNeitherCommand) {
    choose("mnuViewApps");
    QAction* exporting = main_->findChild<QAction*>("mnuToolsExport");
    QAction* importing = main_->findChild<QAction*>("mnuToolsImport");
    EXPECT_FALSE(exporting->isVisible());
    EXPECT_FALSE(importing->isVisible());
    exporting->trigger();
    importing->trigger();
    EXPECT_TRUE(dialog_.requests.empty());
    EXPECT_TRUE(recorder_.boxes().empty());
    expectTidy();
}

TEST_F(DefinitionsWindowTest, FailedExportShowsTheReportAndTidiesUp) {
    dialog_.answer = windowsFile("missing\\farm.ini");
    choose("mnuToolsExport");
    const auto boxes = recorder_.boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, u"Error");
    EXPECT_EQ(boxes[0].text, unexpectedErrorText(76, u"Path not found"));
    expectTidy();
}

} // namespace
} // namespace brask
