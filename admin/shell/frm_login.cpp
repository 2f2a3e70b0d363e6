#include "shell/frm_login.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>

#include "core/admin_state.h"
#include "core/farm.h"
#include "core/messages.h"
#include "core/registration.h"
#include "core/tool_error.h"
#include "shell/busy_cursor.h"
#include "shell/frm_about.h"
#include "shell/frm_main.h"
#include "shell/look.h"
#include "shell/message_box.h"
#include "shell/window_feedback.h"

namespace brask {

namespace {

QPushButton* addButton(QWidget* parent, const QString& name, const QString& caption,
                       const QRect& where) {
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(name);
    button->setGeometry(where);
    return button;
}

} // namespace

frmLogin::frmLogin(AdminState& state, QWidget* parent)
    : QDialog(parent, fixedWindowFlags(Qt::Tool)), state_(state) {
    setUpForm(this, "frmLogin", "Log on to Server Farm");
    fixClientSize(this, 5685, 1920);
    // A tool window has no task-bar button; it still ends the program when it is the last window.
    setAttribute(Qt::WA_QuitOnClose, true);

    const QString texts[] = {
        "Enter the name of a server that is in the farm to which you want to connect.",
        "Skyloom Server:"};
    const QRect places[] = {twipsRect(120, 120, 5520, 255), twipsRect(240, 360, 1440, 270)};
    for (int index = 0; index < 2; ++index) {
        lblLabels[index] = new QLabel(texts[index], this);
        lblLabels[index]->setObjectName("lblLabels");
        lblLabels[index]->setProperty(kIndexProperty, index);
        lblLabels[index]->setGeometry(places[index]);
    }

    Server = new QLineEdit(this);
    Server->setObjectName("Server");
    Server->setGeometry(twipsRect(360, 600, 3855, 315));

    addEtchedRule(this, "Line1", 0, 1320, 1335);

    cmdPasstrough =
        addButton(this, "cmdPasstrough", "&Passtrough", twipsRect(3120, 1440, 1140, 390));
    cmdPasstrough->setDefault(true);
    cmdCancel = addButton(this, "cmdCancel", "&Cancel", twipsRect(4440, 1440, 1140, 390));
    connect(cmdPasstrough, &QPushButton::clicked, this, &frmLogin::cmdPasstrough_Click);
    connect(cmdCancel, &QPushButton::clicked, this, &frmLogin::cmdCancel_Click);

    setTabOrder(Server, cmdCancel);
    setTabOrder(cmdCancel, cmdPasstrough);
    Server->setFocus();

    for (QWidget* control : findChildren<QWidget*>()) {
        control->installEventFilter(this);
    }
    move(QGuiApplication::primaryScreen()->availableGeometry().center() - rect().center());
}

void frmLogin::checkAdministrator() {
    BusyCursor busy;
    LoginSucceeded = false;
    LoginSucceeded = isFarmAdministrator(state_);
}

void frmLogin::openMainWindow() {
    auto* main = new frmMain(state_);
    main->setAttribute(Qt::WA_DeleteOnClose);
    main->load();
    main->show();
    close();
}

void frmLogin::load() {
    frmAbout::showModal(this);
    try {
        checkAdministrator();
    } catch (const sky::ComError&) {
        // Every failure up to and including the check counts as a refusal; no report is shown.
    }
    if (LoginSucceeded) {
        openMainWindow();
        return;
    }
    showRefusal(platformHandle(this));
    Server->clear();
    show();
}

void frmLogin::cmdPasstrough_Click() {
    const QString server = Server->text();
    if (server.isEmpty()) {
        return;
    }
    MessageBoxFeedback report(this);
    const bool checked = withErrorPath(report, [&] {
        reregisterForServer(server.toStdU16String());
        checkAdministrator();
    });
    if (!checked) {
        return;
    }
    if (LoginSucceeded) {
        openMainWindow();
        return;
    }
    showRefusal(platformHandle(this));
    close();
}

void frmLogin::cmdCancel_Click() {
    LoginSucceeded = false;
    close();
}

bool frmLogin::previewKey(QKeyEvent* event) {
    if (event->key() != Qt::Key_Escape) {
        return false;
    }
    if (event->type() == QEvent::KeyPress) {
        // The cancel button answers Escape.
        cmdCancel->click();
    } else {
        close();
    }
    return true;
}

bool frmLogin::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease) {
        if (previewKey(static_cast<QKeyEvent*>(event))) {
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void frmLogin::keyPressEvent(QKeyEvent* event) {
    if (!previewKey(event)) {
        QDialog::keyPressEvent(event);
    }
}

void frmLogin::keyReleaseEvent(QKeyEvent* event) {
    if (!previewKey(event)) {
        QDialog::keyReleaseEvent(event);
    }
}

} // namespace brask
