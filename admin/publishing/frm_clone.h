// "Clone Server": the server picker with the source server named in the heading band. The run
// makes every configured server run every application the source runs; the source itself, if
// configured, is skipped but counted.
#pragma once

#include "publishing/runs.h"
#include "publishing/server_picker_form.h"

class QLabel;

namespace brask {

class frmClone final : public ServerPickerForm {
    Q_OBJECT
public:
    frmClone(AdminState& state, QWidget* owner);

    // The source server's name: it exists only as the caption of srcServer.
    void setSourceServer(const QString& name);

    // The step each target runs; tests put a watcher around the real one.
    void setStep(CloneStep step) { step_ = std::move(step); }

private:
    // The run: every configured server in list order; then the completion message and the
    // dialog closes. The first failure ends the run with its report and leaves the dialog open.
    void btnClone_Click();

    CloneStep step_ = CloneServerApplications;
    QLabel* lblSrcServer;
    QLabel* srcServer;
};

} // namespace brask
