#include "publishing/frm_clone.h"

#include <QLabel>
#include <QPushButton>

#include "shell/busy_cursor.h"
#include "shell/look.h"

namespace brask {

frmClone::frmClone(AdminState& state, QWidget* owner)
    : ServerPickerForm(state, owner, "frmClone", "Clone Server",
                       "Choose the servers on which published applications will run.", "btnClone",
                       "C&lone") {
    lblSrcServer = addLabel("lblSrcServer", "Source Server:", twipsRect(4350, 150, 2775, 255));
    srcServer = addLabel("srcServer", QString(), twipsRect(4350, 405, 2775, 255));
    srcServer->setTextFormat(Qt::PlainText);
    connect(mainButton, &QPushButton::clicked, this, &frmClone::btnClone_Click);
    finishForm();
}

void frmClone::setSourceServer(const QString& name) {
    srcServer->setText(name);
}

void frmClone::btnClone_Click() {
    const std::vector<std::u16string> targets = configuredServers();
    RunOutcome outcome;
    {
        BusyCursor busy;
        outcome = runClone(state_, feedback(), srcServer->text().toStdU16String(), targets, step_);
    }
    if (!outcome.ranToEnd) {
        return;
    }
    showFinished(completionText(kClonedVerb, targets.size(), kServersUnit));
    close();
}

} // namespace brask
