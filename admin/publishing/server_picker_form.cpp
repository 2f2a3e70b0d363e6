#include "publishing/server_picker_form.h"

#include <QProgressBar>
#include <QPushButton>

#include "core/farm.h"
#include "core/tool_error.h"
#include "core/views.h"
#include "shell/busy_cursor.h"
#include "shell/list_box.h"
#include "shell/look.h"

namespace brask {

namespace {

// The picker's size and places, in twips.
constexpr int kFormWidth = 7365;
constexpr int kFormHeight = 5040;
constexpr int kBand = 735;

} // namespace

ServerPickerForm::ServerPickerForm(AdminState& state, QWidget* owner, const QString& name,
                                   const QString& caption, const QString& explanation,
                                   const QString& mainButtonName, const QString& mainButtonCaption)
    : PublishingForm(state, owner, name, caption, kFormWidth, kFormHeight) {
    addHeading("lblHeading", "Specify Servers", kBand);
    addLabel("lblExplanation", explanation, twipsRect(240, 870, 6885, 255));

    addLabel("lblServers", "Available Servers", twipsRect(240, 1260, 2775, 255));
    addLabel("lblDestServers", "Configured Servers", twipsRect(4350, 1260, 2775, 255));
    lstServers = new ListBox("lstServers", ListBox::Order::Sorted,
                             QAbstractItemView::ExtendedSelection, this);
    lstServers->setGeometry(twipsRect(240, 1530, 2775, 2550));
    btnAdd = addButton("btnAdd", "&Add  >>", twipsRect(3135, 2220, 1095, 375));
    btnRemove = addButton("btnRemove", "<<  &Remove", twipsRect(3135, 2760, 1095, 375));
    lstDestServers = new ListBox("lstDestServers", ListBox::Order::Sorted,
                                 QAbstractItemView::ExtendedSelection, this);
    lstDestServers->setGeometry(twipsRect(4350, 1530, 2775, 2550));

    addEtchedRule(this, "Line1", 2, 4320, 4335);
    mainButton = addButton(mainButtonName, mainButtonCaption, twipsRect(4530, 4500, 1215, 375));
    addStatusAndCancel(twipsRect(240, 4560, 2775, 255), twipsRect(5910, 4500, 1215, 375));

    connect(btnAdd, &QPushButton::clicked, this, &ServerPickerForm::btnAdd_Click);
    connect(btnRemove, &QPushButton::clicked, this, &ServerPickerForm::btnRemove_Click);

    setTabOrder(lstServers, btnAdd);
    setTabOrder(btnAdd, lstDestServers);
    setTabOrder(lstDestServers, btnRemove);
    setTabOrder(btnRemove, mainButton);
    setTabOrder(mainButton, btnCancel);
}

void ServerPickerForm::load() {
    BusyCursor busy;
    mainButton->setEnabled(false);
    pbStatus->setValue(0);
    pbStatus->hide();
    withErrorPath(feedback(), [&] {
        for (const std::u16string& server : serverViewItems(state_)) {
            lstServers->addEntry(QString::fromStdU16String(server));
        }
    });
}

std::vector<std::u16string> ServerPickerForm::configuredServers() const {
    std::vector<std::u16string> servers;
    for (int row = 0; row < lstDestServers->count(); ++row) {
        servers.push_back(lstDestServers->item(row)->text().toStdU16String());
    }
    return servers;
}

void ServerPickerForm::btnAdd_Click() {
    moveSelected(lstServers, lstDestServers);
}

void ServerPickerForm::btnRemove_Click() {
    moveSelected(lstDestServers, lstServers);
}

void ServerPickerForm::moveSelected(ListBox* from, ListBox* to) {
    if (from->currentRow() == -1) {
        return;
    }
    for (int row = from->count() - 1; row >= 0; --row) {
        if (from->item(row)->isSelected()) {
            to->addEntry(from->item(row)->text());
            delete from->takeItem(row);
        }
    }
    mainButton->setEnabled(lstDestServers->count() > 0);
}

} // namespace brask
