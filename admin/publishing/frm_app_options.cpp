#include "publishing/frm_app_options.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>

#include <windows.h>

#include "publishing/runs.h"
#include "shell/busy_cursor.h"
#include "shell/list_box.h"
#include "shell/look.h"
#include "shell/message_box.h"

namespace brask {

namespace {

// The form's size and the places of its two columns and rows, in twips.
constexpr int kFormWidth = 6630;
constexpr int kFormHeight = 4020;
constexpr int kBand = 735;
constexpr int kLeftColumn = 240;
constexpr int kRightColumn = 3495;
constexpr int kColumnWidth = 2895;
constexpr int kUpperRow = 960;
constexpr int kBoxRow = 1650;
constexpr int kLowerRow = 2400;

void fill(QComboBox* box, const OptionList& list) {
    box->clear();
    for (const OptionEntry& entry : list.entries) {
        box->addItem(QString::fromStdU16String(std::u16string(entry.text)), entry.value);
    }
    box->setCurrentIndex(list.initial);
}

std::int32_t valueOf(const QComboBox* box) {
    return box->currentData().toInt();
}

} // namespace

frmAppOptions::frmAppOptions(AdminState& state, QWidget* owner)
    : PublishingForm(state, owner, "frmAppOptions", "Application Options", kFormWidth,
                     kFormHeight) {
    lblAppOptions = addHeading("lblAppOptions", "Application Options", kBand);

    WindowColorList = addList(kWindowColorList, "lblColors", "Colors:", kLeftColumn, kUpperRow);
    WindowSizeList =
        addList(kWindowSizeList, "lblSize", "Session Window Size:", kRightColumn, kUpperRow);
    txtWidth = addBox("txtWidth", lblWidth, "lblWidth", "Width:", kRightColumn);
    txtHeight = addBox("txtHeight", lblHeight, "lblHeight", "Height:", kRightColumn + 1560);
    txtPercent = addBox("txtPercent", lblPercent, "lblPercent", "Percent", kRightColumn);
    EncryptionList =
        addList(kEncryptionList, "lblEncryption", "Encryption:", kLeftColumn, kLowerRow);
    AudioList = addList(kAudioList, "lblAudio", "Audio:", kRightColumn, kLowerRow);

    lstApps =
        new ListBox("lstApps", ListBox::Order::Unsorted, QAbstractItemView::NoSelection, this);
    lstApps->hide();

    addEtchedRule(this, "Line1", 2, 3240, 3255);
    btnSetOptions = addButton("btnSetOptions", "&Set", twipsRect(3780, 3480, 1215, 375));
    addStatusAndCancel(twipsRect(240, 3540, 2895, 255), twipsRect(5175, 3480, 1215, 375));

    connect(WindowSizeList, &QComboBox::currentIndexChanged, this,
            &frmAppOptions::WindowSizeList_Click);
    connect(btnSetOptions, &QPushButton::clicked, this, &frmAppOptions::btnSetOptions_Click);

    setTabOrder(WindowColorList, WindowSizeList);
    setTabOrder(WindowSizeList, txtWidth);
    setTabOrder(txtWidth, txtHeight);
    setTabOrder(txtHeight, txtPercent);
    setTabOrder(txtPercent, EncryptionList);
    setTabOrder(EncryptionList, AudioList);
    setTabOrder(AudioList, btnSetOptions);
    setTabOrder(btnSetOptions, btnCancel);
    finishForm();
}

QComboBox* frmAppOptions::addList(const OptionList& list, const QString& labelName,
                                  const QString& caption, int left, int top) {
    addLabel(labelName, caption, twipsRect(left, top, kColumnWidth, 255));
    auto* box = new QComboBox(this);
    box->setObjectName(QString::fromLatin1(list.name.data(), list.name.size()));
    box->setGeometry(twipsRect(left, top + 255, kColumnWidth, 315));
    return box;
}

QLineEdit* frmAppOptions::addBox(const QString& name, QLabel*& label, const QString& labelName,
                                 const QString& caption, int left) {
    label = addLabel(labelName, caption, twipsRect(left, kBoxRow, 1335, 255));
    auto* box = new QLineEdit(this);
    box->setObjectName(name);
    box->setGeometry(twipsRect(left, kBoxRow + 255, 1335, 315));
    return box;
}

void frmAppOptions::load() {
    BusyCursor busy;
    pbStatus->hide();
    pbStatus->setValue(0);
    fill(WindowColorList, kWindowColorList);
    fill(WindowSizeList, kWindowSizeList);
    fill(EncryptionList, kEncryptionList);
    fill(AudioList, kAudioList);
    txtHeight->setText(QString::fromStdU16String(std::u16string(kInitialHeight)));
    txtWidth->setText(QString::fromStdU16String(std::u16string(kInitialWidth)));
    txtPercent->setText(QString::fromStdU16String(std::u16string(kInitialPercent)));
    for (QWidget* control :
         {static_cast<QWidget*>(txtWidth), static_cast<QWidget*>(lblWidth),
          static_cast<QWidget*>(txtHeight), static_cast<QWidget*>(lblHeight),
          static_cast<QWidget*>(txtPercent), static_cast<QWidget*>(lblPercent)}) {
        control->hide();
    }
}

void frmAppOptions::handOver(const std::u16string& appDN) {
    lstApps->addEntry(QString::fromStdU16String(appDN));
}

void frmAppOptions::WindowSizeList_Click() {
    const int position = WindowSizeList->currentIndex();
    const bool custom = position == kCustomSizePosition;
    const bool percent = position == kPercentSizePosition;
    for (QWidget* control : {static_cast<QWidget*>(txtWidth), static_cast<QWidget*>(lblWidth),
                             static_cast<QWidget*>(txtHeight), static_cast<QWidget*>(lblHeight)}) {
        control->setVisible(custom);
    }
    txtPercent->setVisible(percent);
    lblPercent->setVisible(percent);
}

std::optional<OptionValues> frmAppOptions::chosenValues() {
    struct Box {
        QLineEdit* box;
        std::u16string_view name;
        std::u16string_view shownBy;
    };
    const Box boxes[] = {{txtWidth, u"Width", u"Custom..."},
                         {txtHeight, u"Height", u"Custom..."},
                         {txtPercent, u"Percent", u"Percent of client desktop..."}};
    std::int16_t numbers[3] = {};
    for (int i = 0; i < 3; ++i) {
        if (std::optional<std::int16_t> number =
                parseBoxNumber(boxes[i].box->text().toStdU16String())) {
            numbers[i] = *number;
            continue;
        }
        std::u16string text = boxNumberRefusal(boxes[i].name);
        if (boxes[i].box->isHidden()) {
            // A hidden box keeps its text: say how to get at it.
            text += u"\r\nChoose \"" + std::u16string(boxes[i].shownBy) + u"\" to change it.";
        }
        MessageBoxW(platformHandle(this), text.c_str(), u"Options", MB_OK | MB_ICONEXCLAMATION);
        boxes[i].box->setFocus();
        boxes[i].box->selectAll();
        return std::nullopt;
    }
    return OptionValues{valueOf(WindowSizeList),
                        valueOf(WindowColorList),
                        valueOf(EncryptionList),
                        valueOf(AudioList),
                        numbers[2],
                        numbers[1],
                        numbers[0]};
}

void frmAppOptions::btnSetOptions_Click() {
    const std::optional<OptionValues> values = chosenValues();
    if (!values) {
        return;
    }
    std::vector<std::u16string> applications;
    for (int row = 0; row < lstApps->count(); ++row) {
        applications.push_back(lstApps->item(row)->text().toStdU16String());
    }
    RunOutcome outcome;
    {
        BusyCursor busy;
        outcome = runOptions(state_, feedback(), applications, *values);
    }
    if (!outcome.ranToEnd) {
        return;
    }
    showFinished(
        completionText(kChangedVerb, applications.size(), kApplicationsUnit, outcome.lost.size()));
    feedback().progressDone();
    close();
}

} // namespace brask
