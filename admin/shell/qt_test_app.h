// The QApplication of the window tests: one per test program, on Qt's offscreen platform.
#pragma once

#include <ostream>

#include <QApplication>
#include <QStringList>

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

// GoogleTest prints Qt's texts as text.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}
inline void PrintTo(const QStringList& texts, std::ostream* out) {
    *out << '{';
    for (const QString& text : texts) {
        *out << ' ';
        PrintTo(text, out);
    }
    *out << " }";
}
