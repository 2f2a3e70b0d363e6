// The logon window: asks the farm whether the user is a farm administrator and opens the main
// window when they are; otherwise the user names a server of another farm and passes through.
#pragma once

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;

namespace brask {

class frmLogin : public QDialog {
    Q_OBJECT
public:
    explicit frmLogin(QWidget* parent = nullptr);

    // Set to false before each administrator check and to its result right after it.
    bool LoginSucceeded = false;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;

private:
    void cmdCancel_Click();
    // Escape, anywhere in the window: the window sees the key before its controls do.
    bool previewKey(QKeyEvent* event);

    QLabel* lblLabels[2];
    QLineEdit* Server;
    QPushButton* cmdPasstrough;
    QPushButton* cmdCancel;
};

} // namespace brask
