// Geometry and fonts of the forms. Positions and sizes are given in twips, 15 to the pixel, and
// every form uses 8-point "MS Sans Serif" unless a control says otherwise.
#pragma once

#include <QColor>
#include <QFont>
#include <QIcon>
#include <QRect>
#include <QString>

class QWidget;

namespace brask {

inline constexpr int kTwipsPerPixel = 15;

constexpr int twips(int value) {
    return value / kTwipsPerPixel;
}
constexpr QRect twipsRect(int left, int top, int width, int height) {
    return QRect(twips(left), twips(top), twips(width), twips(height));
}

// "MS Sans Serif" at the given size; where the family is missing, the closest sans-serif face with
// similar widths stands in for it.
QFont formFont(qreal pointSize = 8);

// BraskAdmin's icon, the drawing its desktop entry shows (packaging/braskadmin/braskadmin.svg),
// rendered at build time at each size a window or task bar asks for and held as Qt resources.
QIcon braskIcon();

// Gives the application BraskAdmin's icon, which every window without one of its own shows.
void setApplicationIcon();

// The window flags of a fixed-size window with a title and a close box, without minimize or
// maximize box.
Qt::WindowFlags fixedWindowFlags(Qt::WindowType type);

// Gives a form its name, caption and font.
void setUpForm(QWidget* form, const QString& name, const QString& caption);

// Fixes the client area (the form itself, or a main window's central widget) at the given size.
void fixClientSize(QWidget* client, int widthTwips, int heightTwips);

// Controls that share a name, as a control array, carry their place in the array in this
// property.
inline constexpr char kIndexProperty[] = "index";

// One line of an etched rule: a 1-pixel line across the parent at `topTwips`.
QWidget* addRuleLine(QWidget* parent, const QString& name, int index, int topTwips,
                     const QColor& color);

// An etched rule as the forms draw it: a grey line with a white line right below it.
void addEtchedRule(QWidget* parent, const QString& name, int firstIndex, int greyTopTwips,
                   int whiteTopTwips);

} // namespace brask
