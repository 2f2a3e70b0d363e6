// The QApplication of the window tests: one per test program, on Qt's offscreen platform.
#pragma once

#include <QApplication>

namespace brask::testing {

inline QApplication& qtTestApp() {
    static QApplication* application = [] {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        static int argc = 1;
        static char name[] = "braskshell_test";
        static char* argv[] = {name, nullptr};
        return new QApplication(argc, argv);
    }();
    return *application;
}

} // namespace brask::testing
