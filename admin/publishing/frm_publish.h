// The Publish and Unpublish dialogs: the same server picker and run, with their own texts, main
// button and step. The applications handed over from the main window's selection stand in
// lstApps, which the user does not see.
#pragma once

#include <string>

#include "publishing/runs.h"
#include "publishing/server_picker_form.h"

namespace brask {

class PairsForm : public ServerPickerForm {
    Q_OBJECT
public:
    // Appends an application's distinguished name to lstApps.
    void handOver(const std::u16string& appDN);

    // The step each pair runs; tests put a watcher around the real one.
    void setStep(PairStep step) { step_ = std::move(step); }

protected:
    PairsForm(AdminState& state, QWidget* owner, const PairCommand& command, const QString& name,
              const QString& caption, const QString& explanation, const QString& buttonName,
              const QString& buttonCaption);

private:
    // The run: every configured server, in list order, with every application of lstApps; then
    // the completion message and the dialog closes. A failure that ends the run leaves the
    // dialog open.
    void mainButton_Click();

    const PairCommand& command_;
    PairStep step_;
    ListBox* lstApps;
};

// "Publish to Server": publishes every handed-over application on every configured server.
class frmPublish final : public PairsForm {
    Q_OBJECT
public:
    frmPublish(AdminState& state, QWidget* owner);
};

// "Unpublish from Server": unpublishes them.
class frmUnPublish final : public PairsForm {
    Q_OBJECT
public:
    frmUnPublish(AdminState& state, QWidget* owner);
};

} // namespace brask
