// The hourglass pointer for the length of a scope, and the ordinary arrow over a box or dialog
// shown while the hourglass is up.
#pragma once

#include <QApplication>

namespace brask {

class BusyCursor {
public:
    BusyCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~BusyCursor() { QApplication::restoreOverrideCursor(); }
    BusyCursor(const BusyCursor&) = delete;
    BusyCursor& operator=(const BusyCursor&) = delete;
};

// The ordinary arrow while a message box or dialog is open, also when a command shows the
// hourglass; the hourglass comes back when the scope ends, if the command goes on.
class ArrowPointer {
public:
    ArrowPointer() : busy_(QApplication::overrideCursor() != nullptr) {
        if (busy_) {
            QApplication::setOverrideCursor(Qt::ArrowCursor);
        }
    }
    ~ArrowPointer() {
        if (busy_) {
            QApplication::restoreOverrideCursor();
        }
    }
    ArrowPointer(const ArrowPointer&) = delete;
    ArrowPointer& operator=(const ArrowPointer&) = delete;

private:
    bool busy_;
};

} // namespace brask
