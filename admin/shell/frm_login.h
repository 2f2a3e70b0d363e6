// The logon window: asks the farm whether the user is a farm administrator and opens the main
// window when they are; otherwise the user names a server of another farm and passes through.
#pragma once

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;

namespace brask {

class AdminState;

class frmLogin : public QDialog {
    Q_OBJECT
public:
    explicit frmLogin(AdminState& state, QWidget* parent = nullptr);

    // Set to false before each administrator check and to its result right after it.
    bool LoginSucceeded = false;

    // The load step at program start: the About box, then the administrator check. An
    // administrator goes straight on to the main window; anyone else, and every failure, gets the
    // refusal and then this window.
    void load();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;

private:
    void cmdPasstrough_Click();
    void cmdCancel_Click();
    // Sets LoginSucceeded from a fresh farm's administrator check.
    void checkAdministrator();
    void openMainWindow();
    // Escape, anywhere in the window: the window sees the key before its controls do.
    bool previewKey(QKeyEvent* event);

    AdminState& state_;
    QLabel* lblLabels[2];
    QLineEdit* Server;
    QPushButton* cmdPasstrough;
    QPushButton* cmdCancel;
};

} // namespace brask
