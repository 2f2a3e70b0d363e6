// "Application Options": one choice each for window colours, window size, encryption and audio,
// the width and height boxes (shown for "Custom...") and the percent box (shown for "Percent of
// client desktop..."). The run writes the same seven values to every handed-over application.
#pragma once

#include <optional>
#include <string>

#include "publishing/options.h"
#include "publishing/publishing_form.h"

class QComboBox;
class QLineEdit;

namespace brask {

class ListBox;

class frmAppOptions final : public PublishingForm {
    Q_OBJECT
public:
    frmAppOptions(AdminState& state, QWidget* owner);

    // The dialog's load: the four lists filled and their initial entries chosen, the boxes'
    // initial texts, the boxes hidden.
    void load();

    // Appends an application's distinguished name to lstApps.
    void handOver(const std::u16string& appDN);

private:
    // Shows and hides the boxes for the size chosen; hiding a box keeps its text.
    void WindowSizeList_Click();
    // Checks the boxes, then the run; the completion message shows while pbStatus is still
    // visible, and the dialog closes.
    void btnSetOptions_Click();
    // The seven values; after a message naming the first box whose text is not a 16-bit
    // number, with that box focused, nothing.
    std::optional<OptionValues> chosenValues();

    QComboBox* addList(const OptionList& list, const QString& labelName, const QString& caption,
                       int left, int top);
    QLineEdit* addBox(const QString& name, QLabel*& label, const QString& labelName,
                      const QString& caption, int left);

    QLabel* lblAppOptions;
    QComboBox* WindowColorList;
    QComboBox* EncryptionList;
    QComboBox* WindowSizeList;
    QComboBox* AudioList;
    QLineEdit* txtWidth;
    QLineEdit* txtHeight;
    QLineEdit* txtPercent;
    QLabel* lblWidth;
    QLabel* lblHeight;
    QLabel* lblPercent;
    ListBox* lstApps;
    QPushButton* btnSetOptions;
};

} // namespace brask
