#include "shell/frm_about.h"

#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>

#include "shell/look.h"
#include "shell/version.h"

namespace brask {

namespace {

QLabel* addLabel(QWidget* parent, const QString& name, const QString& text, const QFont& font,
                 const QRect& where) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(name);
    label->setFont(font);
    label->setGeometry(where);
    return label;
}

} // namespace

frmAbout::frmAbout(QWidget* owner) : QDialog(owner, fixedWindowFlags(Qt::Dialog)) {
    const QString name = QString::fromLatin1(kProgramName);
    setUpForm(this, "frmAbout", "About " + name);
    fixClientSize(this, 5400, 2400);
    setModal(true);

    lblTitle = addLabel(this, "lblTitle", name, formFont(18), twipsRect(240, 240, 4920, 495));
    lblVersion = addLabel(this, "lblVersion", "Version " + QString::fromLatin1(kProgramVersion),
                          formFont(), twipsRect(240, 840, 4920, 255));
    lblDescription = addLabel(this, "lblDescription", "Skyloom server farm administration",
                              formFont(), twipsRect(240, 1140, 4920, 255));
    addEtchedRule(this, "Line1", 0, 1560, 1575);

    cmdOK = new QPushButton("OK", this);
    cmdOK->setObjectName("cmdOK");
    cmdOK->setGeometry(twipsRect(4020, 1800, 1140, 390));
    cmdOK->setDefault(true);
    connect(cmdOK, &QPushButton::clicked, this, &QDialog::accept);
}

void frmAbout::showModal(QWidget* owner) {
    frmAbout box(owner);
    // The owner may not be on screen yet (the logon window at start-up): centre on the screen.
    const QWidget* anchor = owner && owner->isVisible() ? owner : nullptr;
    const QRect area =
        anchor ? anchor->frameGeometry() : QGuiApplication::primaryScreen()->availableGeometry();
    box.move(area.center() - box.rect().center());
    box.exec();
}

} // namespace brask
