// The main window's file dialog (ComDlg1): an open or save dialog with a title, a filter, a
// starting folder and a proposed file name, that keeps the chosen path for its next use and raises
// the cancel error (32755) when the user cancels and CancelError is set.
//
// The dialog itself is shown by a presenter, as message boxes are: the program installs one that
// shows a Qt file dialog, a test installs one that records the request and answers it.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include <QStringList>

class QFileDialog;
class QWidget;

namespace brask {

struct FileDialogRequest {
    enum class Kind { Open, Save };
    Kind kind = Kind::Open;
    QWidget* owner = nullptr;
    std::u16string title;
    // Pairs of description and patterns, separated by "|": "INI Files (*.ini)|*.ini".
    std::u16string filter;
    // Windows paths, as the program sees them.
    std::u16string initialFolder;
    std::u16string fileName;
};

class FileDialogPresenter {
public:
    // Shows the dialog; the chosen file as a Windows path, or nothing when the user cancels.
    virtual std::optional<std::u16string> show(const FileDialogRequest& request) = 0;

protected:
    ~FileDialogPresenter() = default;
};

// Installs a presenter for the whole process and returns the one it replaces. Until one is
// installed, every dialog counts as cancelled.
FileDialogPresenter* setFileDialogPresenter(FileDialogPresenter* presenter);

class ScopedFileDialogPresenter {
public:
    explicit ScopedFileDialogPresenter(FileDialogPresenter& presenter)
        : previous_(setFileDialogPresenter(&presenter)) {}
    ~ScopedFileDialogPresenter() { setFileDialogPresenter(previous_); }
    ScopedFileDialogPresenter(const ScopedFileDialogPresenter&) = delete;
    ScopedFileDialogPresenter& operator=(const ScopedFileDialogPresenter&) = delete;

private:
    FileDialogPresenter* previous_;
};

// The filter as Qt's name filters: "INI Files (*.ini)|*.ini" gives "INI Files (*.ini)"; a
// description without its patterns gets them in parentheses.
QStringList qtNameFilters(std::u16string_view filter);

// Shows a modal Qt file dialog (Qt's own, the same on every desktop), with the ordinary arrow
// pointer over it even while a command shows the hourglass.
class QtFileDialogPresenter final : public FileDialogPresenter {
public:
    std::optional<std::u16string> show(const FileDialogRequest& request) override;
};

// The dialog as a Qt widget, set up for a request but not shown (for the presenter and for
// pictures of it).
std::unique_ptr<QFileDialog> buildFileDialog(const FileDialogRequest& request);

// The common dialog control of a form.
class CommonDialog {
public:
    std::u16string DialogTitle;
    std::u16string Filter;
    std::u16string InitDir;
    // The proposed name before a dialog is shown, the chosen path after it; kept between uses.
    std::u16string FileName;
    // When set, a cancel raises the cancel error (ToolError 32755) instead of returning quietly.
    bool CancelError = false;

    void ShowOpen(QWidget* owner) { show(FileDialogRequest::Kind::Open, owner); }
    void ShowSave(QWidget* owner) { show(FileDialogRequest::Kind::Save, owner); }

private:
    void show(FileDialogRequest::Kind kind, QWidget* owner);
};

} // namespace brask
