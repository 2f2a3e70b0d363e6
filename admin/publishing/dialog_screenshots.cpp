#include "publishing/dialog_screenshots.h"

#include <QComboBox>

#include "publishing/frm_app_options.h"
#include "publishing/frm_clone.h"
#include "publishing/frm_publish.h"
#include "shell/list_box.h"
#include "shell/screenshots.h"

namespace brask {

namespace {

template <class Dialog> bool saveLoaded(AdminState& state, QWidget* main, const QString& folder) {
    Dialog dialog(state, main);
    dialog.load();
    return saveScreenshot(&dialog, folder, dialog.objectName());
}

} // namespace

bool saveDialogScreenshots(AdminState& state, QWidget* main, const QString& folder) {
    bool written = saveLoaded<frmPublish>(state, main, folder);
    written &= saveLoaded<frmUnPublish>(state, main, folder);

    frmClone clone(state, main);
    clone.load();
    auto* available = clone.findChild<ListBox*>("lstServers");
    if (available->count() > 0) {
        clone.setSourceServer(available->item(0)->text());
    }
    written &= saveScreenshot(&clone, folder, "frmClone");

    frmAppOptions options(state, main);
    options.load();
    written &= saveScreenshot(&options, folder, "frmAppOptions");
    options.findChild<QComboBox*>("WindowSizeList")->setCurrentIndex(kCustomSizePosition);
    written &= saveScreenshot(&options, folder, "frmAppOptions-custom");
    return written;
}

} // namespace brask
