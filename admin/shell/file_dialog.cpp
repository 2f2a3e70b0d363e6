#include "shell/file_dialog.h"

#include <QApplication>
#include <QFileDialog>

#include "core/runtime_errors.h"
#include "shell/busy_cursor.h"
#include "shell/look.h"
#include "sky/machine.h"

namespace brask {

namespace {

FileDialogPresenter* installedPresenter = nullptr;

QString qtText(std::u16string_view text) {
    return QString::fromStdU16String(std::u16string(text));
}

// A Windows path as the host's, for Qt; empty when it names nothing the machine has.
QString hostPathText(std::u16string_view windowsPath) {
    if (windowsPath.empty()) {
        return {};
    }
    const std::optional<std::filesystem::path> host = sky::machine::toHostPath(windowsPath);
    return host ? QString::fromStdString(host->string()) : QString();
}

} // namespace

FileDialogPresenter* setFileDialogPresenter(FileDialogPresenter* presenter) {
    return std::exchange(installedPresenter, presenter);
}

QStringList qtNameFilters(std::u16string_view filter) {
    const QStringList parts = qtText(filter).split('|');
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        const QString patterns = QString(parts[i + 1]).replace(';', ' ');
        const QString description = parts[i];
        filters << (description.endsWith("(" + patterns + ")")
                        ? description
                        : description + " (" + patterns + ")");
    }
    return filters;
}

std::unique_ptr<QFileDialog> buildFileDialog(const FileDialogRequest& request) {
    auto dialog = std::make_unique<QFileDialog>(request.owner);
    dialog->setObjectName("ComDlg1");
    dialog->setOption(QFileDialog::DontUseNativeDialog);
    dialog->setFont(formFont());
    dialog->setWindowTitle(qtText(request.title));
    dialog->setAcceptMode(request.kind == FileDialogRequest::Kind::Save ? QFileDialog::AcceptSave
                                                                        : QFileDialog::AcceptOpen);
    dialog->setFileMode(request.kind == FileDialogRequest::Kind::Save ? QFileDialog::AnyFile
                                                                      : QFileDialog::ExistingFile);
    dialog->setNameFilters(qtNameFilters(request.filter));
    // No default suffix: a name accepted without ".ini" is used without it.
    dialog->setDefaultSuffix(QString());
    const QString folder = hostPathText(request.initialFolder);
    if (!folder.isEmpty()) {
        dialog->setDirectory(folder);
    }
    if (!request.fileName.empty()) {
        // A full path from an earlier use opens in its own folder.
        const QString file = request.fileName.find_first_of(u"\\/") != std::u16string::npos
                                 ? hostPathText(request.fileName)
                                 : qtText(request.fileName);
        dialog->selectFile(file);
    }
    return dialog;
}

std::optional<std::u16string> QtFileDialogPresenter::show(const FileDialogRequest& request) {
    ArrowPointer arrow;
    std::unique_ptr<QFileDialog> dialog = buildFileDialog(request);
    if (dialog->exec() != QDialog::Accepted || dialog->selectedFiles().isEmpty()) {
        return std::nullopt;
    }
    return sky::machine::toWindowsPath(dialog->selectedFiles().front().toStdString());
}

void CommonDialog::show(FileDialogRequest::Kind kind, QWidget* owner) {
    FileDialogRequest request{kind, owner, DialogTitle, Filter, InitDir, FileName};
    std::optional<std::u16string> chosen =
        installedPresenter ? installedPresenter->show(request) : std::nullopt;
    if (!chosen) {
        if (CancelError) {
            throw runtimeError(kCancelError);
        }
        return;
    }
    FileName = std::move(*chosen);
}

} // namespace brask
