// The publishing dialogs as the screenshot mode renders them: each loaded from the machine's farm
// as its command opens it.
#pragma once

#include <QString>

class QWidget;

namespace brask {

class AdminState;

// Writes frmPublish.png, frmUnPublish.png, frmClone.png, frmAppOptions.png and
// frmAppOptions-custom.png (with "Custom..." chosen) into `folder`; false when one cannot be
// written.
bool saveDialogScreenshots(AdminState& state, QWidget* main, const QString& folder);

} // namespace brask
