#include "publishing/tools_commands.h"

#include "core/feedback.h"
#include "core/messages.h"
#include "core/names.h"
#include "publishing/frm_app_options.h"
#include "publishing/frm_clone.h"
#include "publishing/frm_publish.h"
#include "shell/list_box.h"

namespace brask {

namespace {

// The list's selection, from its last entry to its first, handed to a dialog loaded afresh and
// shown modally; with nothing selected, the notice.
template <class Dialog, class HandOver>
void openForSelection(QWidget* main, AdminState& state, Feedback& feedback, const ListBox& list,
                      std::u16string_view reason, std::u16string_view title, HandOver&& handOver) {
    const QStringList selected = list.selectedEntriesFromEnd();
    if (selected.isEmpty()) {
        feedback.notice(reason, title);
        return;
    }
    Dialog dialog(state, main);
    dialog.load();
    handOver(dialog, selected);
    dialog.exec();
}

template <class Dialog>
void openForApplications(QWidget* main, AdminState& state, Feedback& feedback,
                         const ListBox& applications) {
    openForSelection<Dialog>(main, state, feedback, applications, kNoApplicationsSelected,
                             kPublishTitle, [](Dialog& dialog, const QStringList& selected) {
                                 for (const QString& entry : selected) {
                                     dialog.handOver(
                                         applicationDistinguishedName(entry.toStdU16String()));
                                 }
                             });
}

} // namespace

void publishCommand(QWidget* main, AdminState& state, Feedback& feedback,
                    const ListBox& applications) {
    openForApplications<frmPublish>(main, state, feedback, applications);
}

void unpublishCommand(QWidget* main, AdminState& state, Feedback& feedback,
                      const ListBox& applications) {
    openForApplications<frmUnPublish>(main, state, feedback, applications);
}

void optionsCommand(QWidget* main, AdminState& state, Feedback& feedback,
                    const ListBox& applications) {
    openForApplications<frmAppOptions>(main, state, feedback, applications);
}

void cloneCommand(QWidget* main, AdminState& state, Feedback& feedback, const ListBox& servers) {
    // The first selected entry from the end is the source.
    openForSelection<frmClone>(main, state, feedback, servers, kNoServerSelected, kCloneTitle,
                               [](frmClone& dialog, const QStringList& selected) {
                                   dialog.setSourceServer(selected.front());
                               });
}

} // namespace brask
