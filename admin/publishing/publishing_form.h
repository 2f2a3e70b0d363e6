// What the four publishing dialogs have in common: a fixed-size modal window owned by the main
// window and centred on the screen, a white heading band with its 18-point heading closed by an
// etched rule, the progress bar pbStatus (hidden except during a run), btnCancel, and Escape
// handled before any control sees it. A dialog reports through message boxes that it owns.
#pragma once

#include <memory>
#include <string_view>

#include <QDialog>

#include "core/feedback.h"

class QLabel;
class QProgressBar;
class QPushButton;

namespace brask {

class AdminState;
class StatusFeedback;

class PublishingForm : public QDialog {
    Q_OBJECT
public:
    ~PublishingForm() override;

    // How a run reports: message boxes owned by the dialog, progress in pbStatus.
    Feedback& feedback();

protected:
    PublishingForm(AdminState& state, QWidget* owner, const QString& name, const QString& caption,
                   int widthTwips, int heightTwips);

    // The heading band across the top, `bandTwips` high, with the heading at its left.
    QLabel* addHeading(const QString& name, const QString& text, int bandTwips);
    QLabel* addLabel(const QString& name, const QString& text, const QRect& where);
    QPushButton* addButton(const QString& name, const QString& caption, const QRect& where);
    // pbStatus and btnCancel at the bottom.
    void addStatusAndCancel(const QRect& statusPlace, const QRect& cancelPlace);

    // Call once every control exists: key preview, and the place on the screen.
    void finishForm();

    // The completion message of a run: information icon, title "Finished".
    void showFinished(std::u16string_view text);

    AdminState& state_;
    QProgressBar* pbStatus = nullptr;
    QPushButton* btnCancel = nullptr;

private:
    std::unique_ptr<StatusFeedback> feedback_;
};

} // namespace brask
