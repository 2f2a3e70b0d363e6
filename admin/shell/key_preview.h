// Key preview for a form: the form sees Escape before any of its controls. Pressing Escape presses
// the form's cancel button; releasing it closes the form.
#pragma once

#include <QObject>

class QAbstractButton;
class QWidget;

namespace brask {

class EscapeKeyPreview final : public QObject {
public:
    // Watches the form and every control it has now; create it after the controls.
    EscapeKeyPreview(QWidget* form, QAbstractButton* cancel);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* form_;
    QAbstractButton* cancel_;
};

} // namespace brask
