#include "shell/key_preview.h"

#include <QAbstractButton>
#include <QKeyEvent>
#include <QWidget>

namespace brask {

EscapeKeyPreview::EscapeKeyPreview(QWidget* form, QAbstractButton* cancel)
    : QObject(form), form_(form), cancel_(cancel) {
    form->installEventFilter(this);
    for (QWidget* control : form->findChildren<QWidget*>()) {
        control->installEventFilter(this);
    }
}

bool EscapeKeyPreview::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress && event->type() != QEvent::KeyRelease) {
        return QObject::eventFilter(watched, event);
    }
    if (static_cast<QKeyEvent*>(event)->key() != Qt::Key_Escape) {
        return false;
    }
    if (event->type() == QEvent::KeyPress) {
        cancel_->click();
    } else {
        form_->close();
    }
    return true;
}

} // namespace brask
