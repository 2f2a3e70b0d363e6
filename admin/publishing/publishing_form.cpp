#include "publishing/publishing_form.h"

#include <string>

#include <QGuiApplication>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>

#include <windows.h>

#include "publishing/runs.h"
#include "shell/key_preview.h"
#include "shell/look.h"
#include "shell/message_box.h"
#include "shell/window_feedback.h"

namespace brask {

PublishingForm::PublishingForm(AdminState& state, QWidget* owner, const QString& name,
                               const QString& caption, int widthTwips, int heightTwips)
    : QDialog(owner, fixedWindowFlags(Qt::Dialog)), state_(state) {
    setUpForm(this, name, caption);
    fixClientSize(this, widthTwips, heightTwips);
    setModal(true);
}

PublishingForm::~PublishingForm() = default;

Feedback& PublishingForm::feedback() {
    return *feedback_;
}

QLabel* PublishingForm::addHeading(const QString& name, const QString& text, int bandTwips) {
    auto* band = new QWidget(this);
    band->setObjectName("picHeading");
    band->setGeometry(0, 0, width(), twips(bandTwips));
    band->setAutoFillBackground(true);
    QPalette palette = band->palette();
    palette.setColor(QPalette::Window, Qt::white);
    band->setPalette(palette);
    addEtchedRule(this, "Line1", 0, bandTwips, bandTwips + kTwipsPerPixel);

    QLabel* heading = addLabel(name, text, twipsRect(240, 120, 4215, 495));
    heading->setFont(formFont(18));
    return heading;
}

QLabel* PublishingForm::addLabel(const QString& name, const QString& text, const QRect& where) {
    auto* label = new QLabel(text, this);
    label->setObjectName(name);
    label->setGeometry(where);
    return label;
}

QPushButton* PublishingForm::addButton(const QString& name, const QString& caption,
                                       const QRect& where) {
    auto* button = new QPushButton(caption, this);
    button->setObjectName(name);
    button->setGeometry(where);
    button->setAutoDefault(false);
    return button;
}

void PublishingForm::addStatusAndCancel(const QRect& statusPlace, const QRect& cancelPlace) {
    pbStatus = new QProgressBar(this);
    pbStatus->setObjectName("pbStatus");
    pbStatus->setRange(0, 100);
    pbStatus->setTextVisible(false);
    pbStatus->setGeometry(statusPlace);
    pbStatus->setValue(0);
    pbStatus->hide();
    btnCancel = addButton("btnCancel", "&Cancel", cancelPlace);
    connect(btnCancel, &QPushButton::clicked, this, &QWidget::close);
    feedback_ = std::make_unique<StatusFeedback>(this, pbStatus, nullptr);
}

void PublishingForm::finishForm() {
    new EscapeKeyPreview(this, btnCancel);
    move(QGuiApplication::primaryScreen()->availableGeometry().center() - rect().center());
}

void PublishingForm::showFinished(std::u16string_view text) {
    const std::u16string message(text);
    const std::u16string title(kFinishedTitle);
    MessageBoxW(platformHandle(this), message.c_str(), title.c_str(), MB_OK | MB_ICONINFORMATION);
}

} // namespace brask
