#include "shell/file_dialog.h"

#include <filesystem>

#include <QFileDialog>
#include <gtest/gtest.h>

#include "core/runtime_errors.h"
#include "shell/qt_test_app.h"
#include "sky/machine.h"

namespace brask {
namespace {

class Answering final : public FileDialogPresenter {
public:
    std::optional<std::u16string> show(const FileDialogRequest& request) override {
        asked.push_back(request);
        return answer;
    }
    std::vector<FileDialogRequest> asked;
    std::optional<std::u16string> answer;
};

TEST(FileDialogTest, FilterPairsBecomeQtNameFilters) {
    EXPECT_EQ(qtNameFilters(u"INI Files (*.ini)|*.ini"), QStringList{"INI Files (*.ini)"});
    EXPECT_EQ(qtNameFilters(u"Text|*.txt;*.log|All Files (*.*)|*.*"),
              (QStringList{"Text (*.txt *.log)", "All Files (*.*)"}));
    EXPECT_EQ(qtNameFilters(u""), QStringList{});
}

TEST(FileDialogTest, CancelRaisesTheCancelErrorOnlyWhenAskedTo) {
    Answering presenter;
    ScopedFileDialogPresenter installed(presenter);
    CommonDialog dialog;
    dialog.FileName = u"Farm_A";
    dialog.ShowSave(nullptr);
    EXPECT_EQ(dialog.FileName, u"Farm_A");

    dialog.CancelError = true;
    try {
        dialog.ShowOpen(nullptr);
        ADD_FAILURE() << "no cancel error";
    } catch (const ToolError& error) {
        EXPECT_EQ(error.number(), 32755);
    }
    ASSERT_EQ(presenter.asked.size(), 2u);
    EXPECT_EQ(presenter.asked[0].kind, FileDialogRequest::Kind::Save);
    EXPECT_EQ(presenter.asked[1].kind, FileDialogRequest::Kind::Open);
}

TEST(FileDialogTest, ChosenPathIsKeptForTheNextUse) {
    Answering presenter;
    ScopedFileDialogPresenter installed(presenter);
    CommonDialog dialog;
    dialog.DialogTitle = u"Export Farm Applications";
    dialog.Filter = u"INI Files (*.ini)|*.ini";
    dialog.InitDir = u"C:\\Program Files\\BraskAdmin";
    dialog.FileName = u"Farm_A";
    presenter.answer = u"C:\\farms\\a.ini";
    dialog.ShowSave(nullptr);
    EXPECT_EQ(dialog.FileName, u"C:\\farms\\a.ini");
    presenter.answer.reset();
    dialog.ShowOpen(nullptr);
    EXPECT_EQ(presenter.asked[1].fileName, u"C:\\farms\\a.ini");
    EXPECT_EQ(presenter.asked[1].title, u"Export Farm Applications");
    EXPECT_EQ(presenter.asked[1].initialFolder, u"C:\\Program Files\\BraskAdmin");
}

TEST(FileDialogTest, QtDialogShowsTheRequest) {
    testing::qtTestApp();
    const std::filesystem::path folder = sky::machine::driveC() / "Program Files" / "BraskAdmin";
    std::filesystem::create_directories(folder);
    FileDialogRequest request{FileDialogRequest::Kind::Save,    nullptr,
                              u"Export Farm Applications",      u"INI Files (*.ini)|*.ini",
                              u"C:\\Program Files\\BraskAdmin", u"Farm_A"};
    auto dialog = buildFileDialog(request);
    EXPECT_EQ(dialog->objectName(), "ComDlg1");
    EXPECT_EQ(dialog->windowTitle(), "Export Farm Applications");
    EXPECT_EQ(dialog->acceptMode(), QFileDialog::AcceptSave);
    EXPECT_EQ(dialog->nameFilters(), QStringList{"INI Files (*.ini)"});
    EXPECT_EQ(dialog->defaultSuffix(), "");
    EXPECT_EQ(std::filesystem::path(dialog->directory().absolutePath().toStdString()),
              std::filesystem::canonical(folder));

    request.kind = FileDialogRequest::Kind::Open;
    request.fileName.clear();
    EXPECT_EQ(buildFileDialog(request)->acceptMode(), QFileDialog::AcceptOpen);
    EXPECT_EQ(buildFileDialog(request)->fileMode(), QFileDialog::ExistingFile);
}

} // namespace
} // namespace brask
