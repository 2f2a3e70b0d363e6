// Renders BraskAdmin's windows to PNG files without putting them on screen, so that a reviewer
// sees what a user sees: each window with its caption drawn above it as a plain title bar.
#pragma once

#include <QImage>
#include <QString>

class QWidget;

namespace brask {

// The window's client area and menu bar, under a title bar that shows its caption and close box.
QImage renderWindow(QWidget* window);

// Renders the window and writes <folder>/<name>.png; false when the file cannot be written.
bool saveScreenshot(QWidget* window, const QString& folder, const QString& name);

// Renders a drop-down menu as it opens (no title bar) to <folder>/<name>.png.
bool saveMenuScreenshot(QWidget* menu, const QString& folder, const QString& name);

} // namespace brask
