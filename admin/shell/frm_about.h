// The About box: the program's name and version. Shown modally, owned by the window that opens it.
#pragma once

#include <QDialog>

class QLabel;
class QPushButton;

namespace brask {

class frmAbout : public QDialog {
    Q_OBJECT
public:
    explicit frmAbout(QWidget* owner);

    // Shows the box modally and returns when the user has closed it.
    static void showModal(QWidget* owner);

private:
    QLabel* lblTitle;
    QLabel* lblVersion;
    QLabel* lblDescription;
    QPushButton* cmdOK;
};

} // namespace brask
