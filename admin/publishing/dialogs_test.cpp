// The publishing dialogs on Qt's offscreen platform over a real farm: the main window's Tools
// items open them with the selection handed over, the controls are driven as a user drives them,
// and the farm is read back with qvfarm. Message boxes are answered by a watcher that also notes
// whether the progress bar of the box's owner was on show.
#include <algorithm>
#include <functional>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <gtest/gtest.h>

#include "core/admin_state.h"
#include "publishing/frm_app_options.h"
#include "publishing/frm_clone.h"
#include "publishing/frm_publish.h"
#include "publishing/publishing_test_support.h"
#include "shell/frm_main.h"
#include "shell/list_box.h"
#include "shell/message_box.h"
#include "shell/qt_test_app.h"
#include "sky/messagebox.h"
#include "skyloom_results.h"

namespace brask {
namespace {

using Pair = std::pair<std::u16string, std::u16string>;

// Answers every box with OK and notes what it showed.
class BoxWatcher final : public sky::MessageBoxPresenter {
public:
    struct Box {
        UINT icon;
        std::u16string caption;
        std::u16string text;
        bool progressShown; // the owner's pbStatus was visible
    };

    int show(HWND owner, std::u16string_view text, std::u16string_view caption,
             UINT type) override {
        QWidget* window = windowFromHandle(owner);
        auto* bar = window ? window->findChild<QProgressBar*>("pbStatus") : nullptr;
        boxes.push_back(Box{type & MB_ICONMASK, std::u16string(caption), std::u16string(text),
                            bar && bar->isVisible()});
        return IDOK;
    }

    std::vector<Box> boxes;
};

QStringList entries(const QListWidget* list) {
    QStringList texts;
    for (int row = 0; row < list->count(); ++row) {
        texts << list->item(row)->text();
    }
    return texts;
}

// Selects the entries with these texts, as ctrl-clicks do.
void select(QListWidget* list, const QStringList& texts) {
    for (const QString& text : texts) {
        const QList<QListWidgetItem*> found = list->findItems(text, Qt::MatchExactly);
        ASSERT_EQ(found.size(), 1) << text.toStdString();
        list->setCurrentItem(found.front(), QItemSelectionModel::Select);
    }
}

void click(QWidget* form, const char* button) {
    auto* found = form->findChild<QPushButton*>(button);
    ASSERT_NE(found, nullptr) << button;
    found->click();
}

// Every server of the available list to the configured list.
void configureEveryServer(QWidget* form) {
    auto* available = form->findChild<ListBox*>("lstServers");
    available->selectAll();
    available->setCurrentRow(0, QItemSelectionModel::Select);
    click(form, "btnAdd");
}

void configure(QWidget* form, const QStringList& servers) {
    select(form->findChild<ListBox*>("lstServers"), servers);
    click(form, "btnAdd");
}

class PublishingDialogsTest : public ::testing::Test {
protected:
    PublishingDialogsTest() : installed_(watcher_) {
        testing::qtTestApp();
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    }
    void SetUp() override {
        ASSERT_TRUE(testing::objectModelBuilt())
            << "the object model module (qvcomsrv.dll) is not in " << sky::testing::buildBin();
        testing::registerObjectModel();
    }
    ~PublishingDialogsTest() override {
        main_.reset();
        state_ = AdminState();
        CoUninitialize();
    }

    // The main window on a view.
    frmMain& openView(int view) {
        main_ = std::make_unique<frmMain>(state_);
        main_->load();
        main_->show();
        main_->showView(view);
        return *main_;
    }
    ListBox* mainList(const char* name) { return main_->findChild<ListBox*>(name); }

    // Chooses a Tools item; `work` runs on the dialog it opens, which is closed afterwards if
    // still open. False when no dialog opened.
    template <class Dialog>
    bool withDialog(const char* item, const std::function<void(Dialog&)>& work) {
        bool opened = false;
        bool ran = false;
        QTimer::singleShot(0, [&] {
            ran = true;
            QWidget* modal = QApplication::activeModalWidget();
            auto* dialog = qobject_cast<Dialog*>(modal);
            if (!dialog) {
                if (modal) {
                    modal->close();
                }
                return;
            }
            opened = true;
            work(*dialog);
            if (dialog->isVisible()) {
                dialog->close();
            }
        });
        main_->findChild<QAction*>(item)->trigger();
        while (!ran) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        }
        return opened;
    }

    // The boxes with this caption.
    std::vector<BoxWatcher::Box> boxes(std::u16string_view caption) const {
        std::vector<BoxWatcher::Box> found;
        for (const BoxWatcher::Box& box : watcher_.boxes) {
            if (box.caption == caption) {
                found.push_back(box);
            }
        }
        return found;
    }

    BoxWatcher watcher_;
    sky::ScopedMessageBoxPresenter installed_;
    AdminState state_;
    std::unique_ptr<frmMain> main_;
};

// Every value pbStatus takes, and whether it is on show at the end.
struct ProgressWatch {
    explicit ProgressWatch(QWidget* form) : bar(form->findChild<QProgressBar*>("pbStatus")) {
        QObject::connect(bar, &QProgressBar::valueChanged,
                         [this](int value) { values.push_back(value); });
    }
    int highest() const {
        return values.empty() ? -1 : *std::max_element(values.begin(), values.end());
    }
    QProgressBar* bar;
    std::vector<int> values;
};

TEST_F(PublishingDialogsTest, PublishHandsOverTheSelectionAndRunsServersThenApplications) {
    const testing::TestFarm farm = testing::farmOf(
        {"S2", "S1"}, {"Applications/Alpha", "Applications/Beta", "Applications/Gamma"});
    testing::installFarm(farm);
    openView(kApplicationView);
    select(mainList("lstApps"), {"Alpha", "Gamma"});

    std::vector<Pair> pairs;
    bool closed = false;
    ASSERT_TRUE(withDialog<frmPublish>("mnuToolsPublish", [&](frmPublish& dialog) {
        EXPECT_EQ(dialog.windowTitle(), "Publish to Server");
        EXPECT_EQ(dialog.parentWidget(), main_.get());
        EXPECT_TRUE(dialog.isModal());
        EXPECT_EQ(entries(dialog.findChild<ListBox*>("lstApps")),
                  (QStringList{"Applications/Gamma", "Applications/Alpha"}));
        EXPECT_EQ(entries(dialog.findChild<ListBox*>("lstServers")), (QStringList{"S1", "S2"}));
        EXPECT_FALSE(dialog.findChild<QPushButton*>("btnPublish")->isEnabled());
        EXPECT_TRUE(dialog.findChild<QProgressBar*>("pbStatus")->isHidden());

        dialog.setStep([&](AdminState& state, std::u16string_view app, std::u16string_view server) {
            pairs.emplace_back(app, server);
            return PublishApplication(state, app, server);
        });
        configure(&dialog, {"S2"});
        configure(&dialog, {"S1"});
        EXPECT_EQ(entries(dialog.findChild<ListBox*>("lstDestServers")), (QStringList{"S1", "S2"}));
        ProgressWatch progress(&dialog);
        click(&dialog, "btnPublish");
        EXPECT_EQ(progress.highest(), 99);
        EXPECT_TRUE(progress.bar->isHidden());
        EXPECT_EQ(progress.bar->value(), 0);
        closed = !dialog.isVisible();
    }));
    EXPECT_EQ(pairs, (std::vector<Pair>{{u"Applications/Gamma", u"S1"},
                                        {u"Applications/Alpha", u"S1"},
                                        {u"Applications/Gamma", u"S2"},
                                        {u"Applications/Alpha", u"S2"}}));
    EXPECT_TRUE(closed);
    ASSERT_EQ(watcher_.boxes.size(), 1u);
    EXPECT_EQ(watcher_.boxes[0].caption, u"Finished");
    EXPECT_EQ(watcher_.boxes[0].text, u"Published 2 applications");
    EXPECT_EQ(watcher_.boxes[0].icon, static_cast<UINT>(MB_ICONINFORMATION));
    EXPECT_FALSE(watcher_.boxes[0].progressShown);

    const nlohmann::json dump = testing::dumpFarm();
    EXPECT_EQ(testing::serversOf(dump, "Applications/Alpha"),
              (std::vector<std::string>{"S1", "S2"}));
    EXPECT_EQ(testing::serversOf(dump, "Applications/Beta"), std::vector<std::string>{});
    EXPECT_EQ(testing::serversOf(dump, "Applications/Gamma"),
              (std::vector<std::string>{"S1", "S2"}));
}

TEST_F(PublishingDialogsTest, AFolderEntryIsHandedOverAsItsDistinguishedName) {
    const testing::TestFarm farm = testing::farmOf(
        {"S1"}, {"Applications/Office/Word", "Applications/Tools/Applications/Setup"});
    testing::installFarm(farm);
    openView(kApplicationView);
    mainList("lstApps")->selectEveryEntry();
    ASSERT_TRUE(withDialog<frmUnPublish>("mnuToolsUnpublish", [&](frmUnPublish& dialog) {
        EXPECT_EQ(dialog.windowTitle(), "Unpublish from Server");
        EXPECT_EQ(
            entries(dialog.findChild<ListBox*>("lstApps")),
            (QStringList{"Applications/Tools/Applications/Setup", "Applications/Office/Word"}));
    }));
}

TEST_F(PublishingDialogsTest, NothingSelectedGivesTheNoticeAndNoDialog) {
    const testing::TestFarm farm = testing::farmOf({"S1"}, {"Applications/Alpha"});
    testing::installFarm(farm);
    openView(kApplicationView);
    EXPECT_FALSE(withDialog<QDialog>("mnuToolsUnpublish", [](QDialog&) {}));
    EXPECT_FALSE(withDialog<QDialog>("mnuToolsOptions", [](QDialog&) {}));
    openView(kServerView);
    EXPECT_FALSE(withDialog<QDialog>("mnuToolsClone", [](QDialog&) {}));

    ASSERT_EQ(watcher_.boxes.size(), 3u);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(watcher_.boxes[i].caption, u"Publish");
        EXPECT_EQ(watcher_.boxes[i].text, u"Sorry: \r\nNo Applications Selected");
        EXPECT_EQ(watcher_.boxes[i].icon, static_cast<UINT>(MB_ICONINFORMATION));
    }
    EXPECT_EQ(watcher_.boxes[2].caption, u"Clone");
    EXPECT_EQ(watcher_.boxes[2].text, u"Sorry: \r\nNo Server Selected");
}

TEST_F(PublishingDialogsTest, AFarmWithoutServersNeverEnablesTheMainButtonAndEscapeLeaves) {
    const testing::TestFarm farm = testing::farmOf({}, {"Applications/Alpha"});
    testing::installFarm(farm);
    openView(kApplicationView);
    select(mainList("lstApps"), {"Alpha"});
    bool closedByEscape = false;
    ASSERT_TRUE(withDialog<frmPublish>("mnuToolsPublish", [&](frmPublish& dialog) {
        EXPECT_EQ(dialog.findChild<ListBox*>("lstServers")->count(), 0);
        click(&dialog, "btnAdd");
        click(&dialog, "btnRemove");
        EXPECT_FALSE(dialog.findChild<QPushButton*>("btnPublish")->isEnabled());
        // Escape reaches the form whichever control has the focus.
        QWidget* focused = dialog.findChild<ListBox*>("lstDestServers");
        QKeyEvent press(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        QApplication::sendEvent(focused, &press);
        QKeyEvent release(QEvent::KeyRelease, Qt::Key_Escape, Qt::NoModifier);
        QApplication::sendEvent(focused, &release);
        closedByEscape = !dialog.isVisible();
    }));
    EXPECT_TRUE(closedByEscape);
    EXPECT_TRUE(watcher_.boxes.empty());
}

TEST_F(PublishingDialogsTest, TheMainButtonFollowsTheConfiguredList) {
    const testing::TestFarm farm = testing::farmOf({"S3", "s1", "S2"}, {"Applications/Alpha"});
    testing::installFarm(farm);
    openView(kApplicationView);
    select(mainList("lstApps"), {"Alpha"});
    ASSERT_TRUE(withDialog<frmUnPublish>("mnuToolsUnpublish", [&](frmUnPublish& dialog) {
        auto* available = dialog.findChild<ListBox*>("lstServers");
        auto* configured = dialog.findChild<ListBox*>("lstDestServers");
        auto* unpublish = dialog.findChild<QPushButton*>("btnUnPublish");
        configure(&dialog, {"S3", "s1"});
        EXPECT_TRUE(unpublish->isEnabled());
        EXPECT_EQ(entries(available), QStringList{"S2"});
        EXPECT_EQ(entries(configured), (QStringList{"s1", "S3"}));

        // Remove with no current entry in the configured list moves nothing.
        configured->setCurrentRow(-1);
        configured->clearSelection();
        click(&dialog, "btnRemove");
        EXPECT_EQ(configured->count(), 2);
        EXPECT_TRUE(unpublish->isEnabled());

        configured->selectAll();
        configured->setCurrentRow(0, QItemSelectionModel::Select);
        click(&dialog, "btnRemove");
        EXPECT_FALSE(unpublish->isEnabled());
        EXPECT_EQ(entries(available), (QStringList{"s1", "S2", "S3"}));
        click(&dialog, "btnCancel");
        EXPECT_FALSE(dialog.isVisible());
    }));
    EXPECT_TRUE(watcher_.boxes.empty());
}

TEST_F(PublishingDialogsTest, UnpublishPassesOverAServerTheApplicationDoesNotRunOn) {
    const testing::TestFarm farm =
        testing::farmOf({"S1", "S2"}, {"Applications/Alpha", "Applications/Beta"});
    testing::installPublishedFarm(
        farm, {{"Applications/Alpha", {"S1", "S2"}}, {"Applications/Beta", {"S2"}}});
    openView(kApplicationView);
    mainList("lstApps")->selectEveryEntry();
    ASSERT_TRUE(withDialog<frmUnPublish>("mnuToolsUnpublish", [&](frmUnPublish& dialog) {
        configureEveryServer(&dialog);
        click(&dialog, "btnUnPublish");
    }));
    ASSERT_EQ(watcher_.boxes.size(), 1u);
    EXPECT_EQ(watcher_.boxes[0].text, u"Unpublished 2 applications");
    const nlohmann::json dump = testing::dumpFarm();
    EXPECT_EQ(testing::serversOf(dump, "Applications/Alpha"), std::vector<std::string>{});
    EXPECT_EQ(testing::serversOf(dump, "Applications/Beta"), std::vector<std::string>{});
}

TEST_F(PublishingDialogsTest, ALostChangeIsCountedAndAnAlreadyPublishedOneIsNot) {
    const testing::TestFarm farm =
        testing::farmOf({"S1"}, {"Applications/Alpha", "Applications/Beta"});
    testing::installPublishedFarm(farm, {{"Applications/Alpha", {"S1"}}});
    openView(kApplicationView);
    mainList("lstApps")->selectEveryEntry();
    ASSERT_TRUE(withDialog<frmPublish>("mnuToolsPublish", [&](frmPublish& dialog) {
        configureEveryServer(&dialog);
        // Another program holds the farm store: Beta's save waits for it and fails; Alpha is
        // on S1 already and has nothing to save.
        testing::StoreHold hold;
        click(&dialog, "btnPublish");
    }));
    ASSERT_EQ(watcher_.boxes.size(), 1u);
    EXPECT_EQ(watcher_.boxes[0].caption, u"Finished");
    EXPECT_EQ(watcher_.boxes[0].text, u"Published 2 applications\r\n1 changes could not be saved");
    EXPECT_EQ(testing::serversOf(testing::dumpFarm(), "Applications/Beta"),
              std::vector<std::string>{});
}

TEST_F(PublishingDialogsTest, CloneCountsTheSkippedSourceAndClonesInListOrder) {
    const testing::TestFarm farm = testing::farmOf(
        {"S3", "S1", "S2"}, {"Applications/Alpha", "Applications/Beta", "Applications/Gamma"});
    testing::installPublishedFarm(farm,
                                  {{"Applications/Alpha", {"S1"}}, {"Applications/Beta", {"S1"}}});
    openView(kServerView);
    select(mainList("lstServers"), {"S1"});
    std::vector<Pair> clones;
    ASSERT_TRUE(withDialog<frmClone>("mnuToolsClone", [&](frmClone& dialog) {
        EXPECT_EQ(dialog.windowTitle(), "Clone Server");
        EXPECT_EQ(dialog.findChild<QLabel*>("srcServer")->text(), "S1");
        EXPECT_EQ(dialog.findChild<QLabel*>("lblSrcServer")->text(), "Source Server:");
        // The source is listed too.
        EXPECT_EQ(entries(dialog.findChild<ListBox*>("lstServers")),
                  (QStringList{"S1", "S2", "S3"}));
        dialog.setStep(
            [&](AdminState& state, std::u16string_view source, std::u16string_view target) {
                clones.emplace_back(source, target);
                CloneServerApplications(state, source, target);
            });
        configure(&dialog, {"S3"});
        configure(&dialog, {"S1", "S2"});
        ProgressWatch progress(&dialog);
        click(&dialog, "btnClone");
        // The bar advanced for the skipped source too, and went back to 0 when hidden.
        EXPECT_EQ(progress.values, (std::vector<int>{33, 66, 99, 0}));
    }));
    EXPECT_EQ(clones, (std::vector<Pair>{{u"S1", u"S2"}, {u"S1", u"S3"}}));
    ASSERT_EQ(watcher_.boxes.size(), 1u);
    EXPECT_EQ(watcher_.boxes[0].caption, u"Finished");
    EXPECT_EQ(watcher_.boxes[0].text, u"Cloned 3 servers");
    EXPECT_FALSE(watcher_.boxes[0].progressShown);
    const nlohmann::json dump = testing::dumpFarm();
    EXPECT_EQ(testing::serversOf(dump, "Applications/Alpha"),
              (std::vector<std::string>{"S1", "S2", "S3"}));
    EXPECT_EQ(testing::serversOf(dump, "Applications/Beta"),
              (std::vector<std::string>{"S1", "S2", "S3"}));
    EXPECT_EQ(testing::serversOf(dump, "Applications/Gamma"), std::vector<std::string>{});
}

TEST_F(PublishingDialogsTest, AFailingCloneStepEndsTheRunWithTheReportAndKeepsTheDialog) {
    const testing::TestFarm farm =
        testing::farmOf({"S1", "S2", "S3"}, {"Applications/Alpha", "Applications/Beta"});
    // S2 runs Beta already: adding it there again is refused, and the clone stops there.
    testing::installPublishedFarm(
        farm, {{"Applications/Alpha", {"S1"}}, {"Applications/Beta", {"S1", "S2"}}});
    openView(kServerView);
    select(mainList("lstServers"), {"S1"});
    ASSERT_TRUE(withDialog<frmClone>("mnuToolsClone", [&](frmClone& dialog) {
        configure(&dialog, {"S3", "S2"});
        click(&dialog, "btnClone");
        EXPECT_TRUE(dialog.isVisible());
        EXPECT_TRUE(dialog.findChild<QProgressBar*>("pbStatus")->isHidden());
        EXPECT_TRUE(dialog.findChild<QPushButton*>("btnCancel")->isEnabled());
        click(&dialog, "btnCancel");
        EXPECT_FALSE(dialog.isVisible());
    }));
    ASSERT_EQ(watcher_.boxes.size(), 1u);
    EXPECT_EQ(watcher_.boxes[0].caption, u"Error");
    EXPECT_EQ(watcher_.boxes[0].icon, static_cast<UINT>(MB_ICONERROR));
    const std::u16string& report = watcher_.boxes[0].text;
    EXPECT_NE(report.find(u"     Error :-2147220991\r"), std::u16string::npos);
    EXPECT_NE(report.find(u"already published on server S2"), std::u16string::npos);
    EXPECT_TRUE(boxes(u"Finished").empty());

    // S2 came first and got Alpha before the refusal; S3 was never reached.
    const nlohmann::json dump = testing::dumpFarm();
    EXPECT_EQ(testing::serversOf(dump, "Applications/Alpha"),
              (std::vector<std::string>{"S1", "S2"}));
    EXPECT_EQ(testing::serversOf(dump, "Applications/Beta"),
              (std::vector<std::string>{"S1", "S2"}));
}

// The seven settings the options editor writes, as the farm keeps them.
struct WrittenOptions {
    int color, type, encryption, sound, scale, height, width;
    bool operator==(const WrittenOptions&) const = default;
};

std::ostream& operator<<(std::ostream& out, const WrittenOptions& o) {
    return out << "colour " << o.color << ", type " << o.type << ", encryption " << o.encryption
               << ", sound " << o.sound << ", scale " << o.scale << ", height " << o.height
               << ", width " << o.width;
}

WrittenOptions writtenOptions(const nlohmann::json& dump, const std::string& dn) {
    const nlohmann::json& settings = testing::dumpedApplication(dump, dn)["settings"];
    const auto value = [&](const char* name) { return settings.value(name, -1); };
    return {value("DefaultWindowColor"), value("DefaultWindowType"),  value("DefaultEncryption"),
            value("DefaultSoundType"),   value("DefaultWindowScale"), value("DefaultWindowHeight"),
            value("DefaultWindowWidth")};
}

// Applications that start with settings none of the editor's choices gives.
const nlohmann::json kOtherSettings = {{"DefaultWindowColor", 4},  {"DefaultWindowType", 7},
                                       {"DefaultEncryption", 5},   {"DefaultSoundType", 1},
                                       {"DefaultWindowScale", 50}, {"DefaultWindowHeight", 100},
                                       {"DefaultWindowWidth", 200}};

class OptionsDialogTest : public PublishingDialogsTest {
protected:
    void SetUp() override {
        PublishingDialogsTest::SetUp();
        const testing::TestFarm farm = testing::farmOf(
            {"S1"}, {"Applications/Alpha", "Applications/Beta", "Applications/Gamma"});
        testing::installPublishedFarm(farm, {}, kOtherSettings);
        openView(kApplicationView);
        mainList("lstApps")->selectEveryEntry();
    }

    // Opens the editor on every application and runs `work` on it.
    void withEditor(const std::function<void(frmAppOptions&)>& work) {
        ASSERT_TRUE(withDialog<frmAppOptions>("mnuToolsOptions", work));
    }
};

TEST_F(OptionsDialogTest, AcceptedAsItOpensItWritesTheInitialChoicesToEveryApplication) {
    withEditor([&](frmAppOptions& dialog) {
        EXPECT_EQ(dialog.windowTitle(), "Application Options");
        EXPECT_EQ(dialog.findChild<QComboBox*>("WindowColorList")->currentText(), "256 colors");
        EXPECT_EQ(dialog.findChild<QComboBox*>("WindowSizeList")->currentText(), "640x480");
        EXPECT_EQ(dialog.findChild<QComboBox*>("EncryptionList")->currentText(), "Basic");
        EXPECT_EQ(dialog.findChild<QComboBox*>("AudioList")->currentText(), "Audio on");
        for (const char* box :
             {"txtWidth", "txtHeight", "txtPercent", "lblWidth", "lblHeight", "lblPercent"}) {
            EXPECT_TRUE(dialog.findChild<QWidget*>(box)->isHidden()) << box;
        }
        click(&dialog, "btnSetOptions");
        EXPECT_FALSE(dialog.isVisible());
        EXPECT_TRUE(dialog.findChild<QProgressBar*>("pbStatus")->isHidden());
    });
    ASSERT_EQ(watcher_.boxes.size(), 1u);
    EXPECT_EQ(watcher_.boxes[0].caption, u"Finished");
    EXPECT_EQ(watcher_.boxes[0].text, u"Changed  3 applications");
    // Unlike publishing, the bar is still on show behind the message.
    EXPECT_TRUE(watcher_.boxes[0].progressShown);
    const nlohmann::json dump = testing::dumpFarm();
    for (const char* dn : {"Applications/Alpha", "Applications/Beta", "Applications/Gamma"}) {
        EXPECT_EQ(writtenOptions(dump, dn), (WrittenOptions{2, 1, 1, 2, 90, 480, 640})) << dn;
    }
}

TEST_F(OptionsDialogTest, ASizeWithoutBoxesStillWritesTheHiddenBoxes) {
    withEditor([&](frmAppOptions& dialog) {
        dialog.findChild<QComboBox*>("WindowSizeList")->setCurrentIndex(1);
        dialog.findChild<QComboBox*>("AudioList")->setCurrentIndex(1);
        click(&dialog, "btnSetOptions");
    });
    EXPECT_EQ(writtenOptions(testing::dumpFarm(), "Applications/Beta"),
              (WrittenOptions{2, 2, 1, 1, 90, 480, 640}));
}

TEST_F(OptionsDialogTest, HiddenBoxesKeepTheirTexts) {
    withEditor([&](frmAppOptions& dialog) {
        auto* size = dialog.findChild<QComboBox*>("WindowSizeList");
        auto* width = dialog.findChild<QLineEdit*>("txtWidth");
        auto* height = dialog.findChild<QLineEdit*>("txtHeight");
        auto* percent = dialog.findChild<QLineEdit*>("txtPercent");
        size->setCurrentIndex(4);
        EXPECT_EQ(size->currentText(), "Custom...");
        EXPECT_FALSE(width->isHidden());
        EXPECT_FALSE(height->isHidden());
        EXPECT_TRUE(percent->isHidden());
        width->setText("1152");
        height->setText("864");
        size->setCurrentIndex(5);
        EXPECT_TRUE(width->isHidden());
        EXPECT_TRUE(height->isHidden());
        EXPECT_FALSE(percent->isHidden());
        EXPECT_FALSE(dialog.findChild<QLabel*>("lblPercent")->isHidden());
        percent->setText("75");
        click(&dialog, "btnSetOptions");
    });
    EXPECT_EQ(writtenOptions(testing::dumpFarm(), "Applications/Gamma"),
              (WrittenOptions{2, 6, 1, 2, 75, 864, 1152}));
}

TEST_F(OptionsDialogTest, ATextThatIsNoSixteenBitNumberIsRefusedBeforeAnythingIsWritten) {
    withEditor([&](frmAppOptions& dialog) {
        dialog.findChild<QComboBox*>("WindowSizeList")->setCurrentIndex(4);
        auto* height = dialog.findChild<QLineEdit*>("txtHeight");
        height->setText("32768");
        click(&dialog, "btnSetOptions");
        EXPECT_TRUE(dialog.isVisible());
        EXPECT_EQ(dialog.focusWidget(), height);
        ASSERT_EQ(watcher_.boxes.size(), 1u);
        EXPECT_EQ(watcher_.boxes[0].caption, u"Options");
        EXPECT_EQ(watcher_.boxes[0].icon, static_cast<UINT>(MB_ICONEXCLAMATION));
        EXPECT_EQ(watcher_.boxes[0].text, u"Height must be a whole number from -32768 to 32767.");

        // A hidden box is checked too, and the message says how to get at it.
        height->setText("-32768");
        dialog.findChild<QLineEdit*>("txtPercent")->setText("9.5");
        click(&dialog, "btnSetOptions");
        ASSERT_EQ(watcher_.boxes.size(), 2u);
        EXPECT_EQ(watcher_.boxes[1].text,
                  u"Percent must be a whole number from -32768 to 32767.\r\nChoose \"Percent of "
                  u"client desktop...\" to change it.");
        EXPECT_TRUE(dialog.isVisible());
    });
    const nlohmann::json dump = testing::dumpFarm();
    EXPECT_EQ(writtenOptions(dump, "Applications/Alpha"),
              (WrittenOptions{4, 7, 5, 1, 50, 100, 200}));
}

// The same work done in the windows and on the command line leaves the same farm.
TEST_F(PublishingDialogsTest, TheCommandLineGivesTheSameFarmAsTheWindows) {
    const testing::TestFarm farm =
        testing::farmOf({"S1", "S2", "S3"}, {"Applications/Alpha", "Applications/Beta",
                                             "Applications/Gamma", "Applications/Office/Word"});
    const std::map<std::string, std::vector<std::string>> published{
        {"Applications/Beta", {"S3"}}, {"Applications/Office/Word", {"S1", "S2"}}};
    testing::installPublishedFarm(farm, published, kOtherSettings);

    openView(kApplicationView);
    select(mainList("lstApps"), {"Alpha", "Gamma"});
    ASSERT_TRUE(withDialog<frmPublish>("mnuToolsPublish", [&](frmPublish& dialog) {
        configure(&dialog, {"S2", "S1"});
        click(&dialog, "btnPublish");
    }));
    mainList("lstApps")->clearSelection();
    select(mainList("lstApps"), {"Gamma", "Office\\Word"});
    ASSERT_TRUE(withDialog<frmUnPublish>("mnuToolsUnpublish", [&](frmUnPublish& dialog) {
        configure(&dialog, {"S1"});
        click(&dialog, "btnUnPublish");
    }));
    mainList("lstApps")->clearSelection();
    select(mainList("lstApps"), {"Beta", "Office\\Word"});
    ASSERT_TRUE(withDialog<frmAppOptions>("mnuToolsOptions", [&](frmAppOptions& dialog) {
        dialog.findChild<QComboBox*>("WindowColorList")->setCurrentIndex(3);
        dialog.findChild<QComboBox*>("WindowSizeList")->setCurrentIndex(4);
        dialog.findChild<QLineEdit*>("txtWidth")->setText("1152");
        dialog.findChild<QLineEdit*>("txtHeight")->setText(" -864 ");
        click(&dialog, "btnSetOptions");
    }));
    openView(kServerView);
    select(mainList("lstServers"), {"S3"});
    ASSERT_TRUE(withDialog<frmClone>("mnuToolsClone", [&](frmClone& dialog) {
        configure(&dialog, {"S1", "S3"});
        click(&dialog, "btnClone");
    }));
    EXPECT_EQ(boxes(u"Finished").size(), 4u);
    const nlohmann::json windows = testing::dumpFarm();

    testing::installPublishedFarm(farm, published, kOtherSettings);
    EXPECT_NE(testing::dumpFarm(), windows);
    for (const char* command :
         {"publish --server S2 --server S1 Alpha Gamma",
          "unpublish --server S1 Gamma 'Office\\Word'",
          "options --colors 3 --size custom... --width 1152 --height ' -864 ' Beta 'office\\word'",
          "clone S3 --to S1 --to S3"}) {
        const testing::ProgramRun run = testing::runProgram("braskadmin", command);
        EXPECT_EQ(run.exitCode, 0) << command << "\n" << run.errors;
    }
    EXPECT_EQ(testing::dumpFarm(), windows);
}

} // namespace
} // namespace brask
