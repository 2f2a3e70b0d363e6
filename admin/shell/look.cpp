#include "shell/look.h"

#include <QApplication>
#include <QWidget>

// The resources of a static library are registered by hand, outside any namespace.
static void initIconResources() {
    Q_INIT_RESOURCE(braskadmin_icon);
}

namespace brask {

namespace {

constexpr char kFormFamily[] = "MS Sans Serif";

void substituteFormFamily() {
    static const bool done = [] {
        QFont::insertSubstitutions(kFormFamily,
                                   {"Microsoft Sans Serif", "Nimbus Sans", "Liberation Sans",
                                    "Arial", "DejaVu Sans Condensed"});
        return true;
    }();
    (void)done;
}

} // namespace

QIcon braskIcon() {
    static const bool registered = [] {
        initIconResources();
        return true;
    }();
    (void)registered;
    QIcon icon;
    for (const int size : {16, 22, 24, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/braskadmin/icons/%1.png").arg(size), QSize(size, size));
    return icon;
}

void setApplicationIcon() {
    QApplication::setWindowIcon(braskIcon());
}

QFont formFont(qreal pointSize) {
    substituteFormFamily();
    QFont font(kFormFamily);
    font.setPointSizeF(pointSize);
    font.setStyleHint(QFont::SansSerif);
    return font;
}

Qt::WindowFlags fixedWindowFlags(Qt::WindowType type) {
    return type | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
           Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint;
}

void setUpForm(QWidget* form, const QString& name, const QString& caption) {
    form->setObjectName(name);
    form->setWindowTitle(caption);
    form->setFont(formFont());
}

void fixClientSize(QWidget* client, int widthTwips, int heightTwips) {
    client->setFixedSize(twips(widthTwips), twips(heightTwips));
}

QWidget* addRuleLine(QWidget* parent, const QString& name, int index, int topTwips,
                     const QColor& color) {
    auto* line = new QWidget(parent);
    line->setObjectName(name);
    line->setProperty(kIndexProperty, index);
    line->setGeometry(0, twips(topTwips), parent->width(), 1);
    line->setAutoFillBackground(true);
    QPalette palette = line->palette();
    palette.setColor(QPalette::Window, color);
    line->setPalette(palette);
    return line;
}

void addEtchedRule(QWidget* parent, const QString& name, int firstIndex, int greyTopTwips,
                   int whiteTopTwips) {
    addRuleLine(parent, name, firstIndex, greyTopTwips, QColor(0x80, 0x80, 0x80));
    addRuleLine(parent, name, firstIndex + 1, whiteTopTwips, Qt::white);
}

} // namespace brask
