#include "publishing/frm_publish.h"

#include <QPushButton>

#include "shell/busy_cursor.h"
#include "shell/list_box.h"

namespace brask {

PairsForm::PairsForm(AdminState& state, QWidget* owner, const PairCommand& command,
                     const QString& name, const QString& caption, const QString& explanation,
                     const QString& buttonName, const QString& buttonCaption)
    : ServerPickerForm(state, owner, name, caption, explanation, buttonName, buttonCaption),
      command_(command), step_(command.step) {
    lstApps =
        new ListBox("lstApps", ListBox::Order::Unsorted, QAbstractItemView::NoSelection, this);
    lstApps->hide();
    connect(mainButton, &QPushButton::clicked, this, &PairsForm::mainButton_Click);
    finishForm();
}

void PairsForm::handOver(const std::u16string& appDN) {
    lstApps->addEntry(QString::fromStdU16String(appDN));
}

void PairsForm::mainButton_Click() {
    std::vector<std::u16string> applications;
    for (int row = 0; row < lstApps->count(); ++row) {
        applications.push_back(lstApps->item(row)->text().toStdU16String());
    }
    RunOutcome outcome;
    {
        BusyCursor busy;
        outcome = runPairs(state_, feedback(), configuredServers(), applications, step_);
    }
    if (!outcome.ranToEnd) {
        return;
    }
    showFinished(completionText(command_.completionVerb, applications.size(), kApplicationsUnit,
                                outcome.lost.size()));
    close();
}

frmPublish::frmPublish(AdminState& state, QWidget* owner)
    : PairsForm(state, owner, kPublishCommand, "frmPublish", "Publish to Server",
                "Choose the servers on which selected published applications will run.",
                "btnPublish", "&Publish") {}

frmUnPublish::frmUnPublish(AdminState& state, QWidget* owner)
    : PairsForm(state, owner, kUnpublishCommand, "frmUnPublish", "Unpublish from Server",
                "Choose the servers of which selected applications will be unpublished",
                "btnUnPublish", "&Unpublish") {}

} // namespace brask
