#include "shell/screenshots.h"

#include <QDir>
#include <QPainter>
#include <QPixmap>
#include <QWidget>

#include "shell/look.h"

namespace brask {

namespace {

constexpr int kTitleBarHeight = 20;
constexpr int kBorder = 3;

void drawTitleBar(QPainter& painter, const QRect& bar, const QString& caption) {
    QLinearGradient gradient(bar.topLeft(), bar.topRight());
    gradient.setColorAt(0, QColor(0x00, 0x00, 0x80));
    gradient.setColorAt(1, QColor(0x10, 0x84, 0xD0));
    painter.fillRect(bar, gradient);

    QFont font = formFont();
    font.setBold(true);
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(bar.adjusted(4, 0, -kTitleBarHeight, 0), Qt::AlignVCenter | Qt::AlignLeft,
                     caption);

    // The close box; the windows have no minimize or maximize box.
    const QRect box(bar.right() - kTitleBarHeight + 3, bar.top() + 2, kTitleBarHeight - 4,
                    kTitleBarHeight - 4);
    painter.fillRect(box, QColor(0xD4, 0xD0, 0xC8));
    painter.setPen(QPen(Qt::black, 1.5));
    painter.drawLine(box.topLeft() + QPoint(4, 4), box.bottomRight() - QPoint(4, 4));
    painter.drawLine(box.topRight() + QPoint(-4, 4), box.bottomLeft() + QPoint(4, -4));
}

// The widget laid out and polished as on screen, but never shown there.
QPixmap grabOffScreen(QWidget* widget) {
    const bool wasVisible = widget->isVisible();
    if (!wasVisible) {
        widget->setAttribute(Qt::WA_DontShowOnScreen);
        widget->show();
    }
    const QPixmap picture = widget->grab();
    if (!wasVisible) {
        widget->hide();
    }
    return picture;
}

} // namespace

QImage renderWindow(QWidget* window) {
    const QPixmap body = grabOffScreen(window);

    QImage image(body.width() + 2 * kBorder, body.height() + kTitleBarHeight + 2 * kBorder,
                 QImage::Format_RGB32);
    image.fill(QColor(0xD4, 0xD0, 0xC8));
    QPainter painter(&image);
    painter.setPen(QColor(0x40, 0x40, 0x40));
    painter.drawRect(image.rect().adjusted(0, 0, -1, -1));
    drawTitleBar(painter, QRect(kBorder, kBorder, body.width(), kTitleBarHeight),
                 window->windowTitle());
    painter.drawPixmap(kBorder, kBorder + kTitleBarHeight, body);
    return image;
}

bool saveMenuScreenshot(QWidget* menu, const QString& folder, const QString& name) {
    menu->adjustSize();
    return grabOffScreen(menu).save(QDir(folder).filePath(name + ".png"), "PNG");
}

bool saveScreenshot(QWidget* window, const QString& folder, const QString& name) {
    return renderWindow(window).save(QDir(folder).filePath(name + ".png"), "PNG");
}

} // namespace brask
