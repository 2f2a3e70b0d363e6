// The forms as a user meets them: names, captions, places, keys and the Tools menu of each view.
#include <functional>

#include <QAction>
#include <QApplication>
#include <QCoreApplication>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

#include <windows.h>

#include "core/admin_state.h"
#include "shell/frm_about.h"
#include "shell/frm_login.h"
#include "shell/frm_main.h"
#include "shell/list_box.h"
#include "shell/look.h"
#include "shell/message_box.h"
#include "shell/qt_test_app.h"
#include "sky/machine.h"
#include "sky/messagebox.h"

namespace brask {
namespace {

template <typename T> T* child(QWidget* form, const char* name) {
    T* found = form->findChild<T*>(name);
    EXPECT_NE(found, nullptr) << name;
    return found;
}

// The controls of a control array, by their index.
template <typename T> std::vector<T*> controlArray(QWidget* form, const char* name) {
    std::vector<T*> controls;
    for (T* control : form->findChildren<T*>(name)) {
        const int index = control->property(kIndexProperty).toInt();
        if (controls.size() <= static_cast<size_t>(index)) {
            controls.resize(index + 1);
        }
        controls[index] = control;
    }
    return controls;
}

// The names of the controls that Tab visits, in order.
QStringList tabOrder(QWidget* form) {
    QStringList names;
    for (QWidget* w = form->nextInFocusChain(); w != form; w = w->nextInFocusChain()) {
        if ((w->focusPolicy() & Qt::TabFocus) && !w->objectName().isEmpty()) {
            names << w->objectName();
        }
    }
    return names;
}

// Places and sizes as the forms are designed, in twips: 1440 to the inch, which the platform
// draws at 96 pixels, so 15 twips to the pixel.
constexpr int pixelsOf(int value) {
    return value / (1440 / 96);
}
QRect rectOfTwips(int left, int top, int width, int height) {
    return QRect(pixelsOf(left), pixelsOf(top), pixelsOf(width), pixelsOf(height));
}
QSize sizeOfTwips(int width, int height) {
    return QSize(pixelsOf(width), pixelsOf(height));
}

QStringList visibleItems(QMenu* menu) {
    QStringList texts;
    for (QAction* item : menu->actions()) {
        if (item->isVisible()) {
            texts << (item->isSeparator() ? QString("-") : item->text());
        }
    }
    return texts;
}

class FormsTest : public ::testing::Test {
protected:
    FormsTest() : installed_(recorder_) { testing::qtTestApp(); }

    // Answers the boxes of view fills that find no farm on this machine.
    sky::RecordingPresenter recorder_;
    sky::ScopedMessageBoxPresenter installed_;
};

TEST_F(FormsTest, LogonWindowLayout) {
    AdminState state;
    frmLogin login(state);
    EXPECT_EQ(login.objectName(), "frmLogin");
    EXPECT_EQ(login.windowTitle(), "Log on to Server Farm");
    EXPECT_EQ(login.size(), sizeOfTwips(5685, 1920));
    EXPECT_EQ(login.minimumSize(), login.maximumSize());
    EXPECT_FALSE(login.windowFlags() &
                 (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint));
    EXPECT_EQ(login.windowFlags() & Qt::WindowType_Mask, Qt::Tool) << "no task-bar button";

    auto labels = controlArray<QLabel>(&login, "lblLabels");
    ASSERT_EQ(labels.size(), 2u);
    EXPECT_EQ(labels[0]->text(),
              "Enter the name of a server that is in the farm to which you want to connect.");
    EXPECT_EQ(labels[0]->geometry(), rectOfTwips(120, 120, 5520, 255));
    EXPECT_EQ(labels[1]->text(), "Skyloom Server:");
    EXPECT_EQ(labels[1]->geometry(), rectOfTwips(240, 360, 1440, 270));

    auto* server = child<QLineEdit>(&login, "Server");
    EXPECT_EQ(server->geometry(), rectOfTwips(360, 600, 3855, 315));
    EXPECT_TRUE(server->text().isEmpty());

    auto lines = controlArray<QWidget>(&login, "Line1");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0]->geometry(), QRect(0, pixelsOf(1320), pixelsOf(5685), 1));
    EXPECT_EQ(lines[1]->geometry(), QRect(0, pixelsOf(1335), pixelsOf(5685), 1));
    EXPECT_EQ(lines[0]->palette().color(QPalette::Window), QColor(0x80, 0x80, 0x80));
    EXPECT_EQ(lines[1]->palette().color(QPalette::Window), QColor(Qt::white));

    auto* passtrough = child<QPushButton>(&login, "cmdPasstrough");
    EXPECT_EQ(passtrough->text(), "&Passtrough");
    EXPECT_EQ(passtrough->geometry(), rectOfTwips(3120, 1440, 1140, 390));
    EXPECT_TRUE(passtrough->isDefault());
    auto* cancel = child<QPushButton>(&login, "cmdCancel");
    EXPECT_EQ(cancel->text(), "&Cancel");
    EXPECT_EQ(cancel->geometry(), rectOfTwips(4440, 1440, 1140, 390));

    EXPECT_EQ(tabOrder(&login), (QStringList{"Server", "cmdCancel", "cmdPasstrough"}));
}

TEST_F(FormsTest, WindowsShowBraskAdminsIcon) {
    const QIcon icon = braskIcon();
    ASSERT_FALSE(icon.isNull()) << "the rendered icon is missing from the resources";
    for (const int size : {16, 22, 24, 32, 48, 64, 128, 256})
        EXPECT_TRUE(icon.availableSizes().contains(QSize(size, size))) << size;
    // The drawing itself, not a blank: most of the 48-pixel picture is painted.
    const QImage picture =
        icon.pixmap(QSize(48, 48)).toImage().convertToFormat(QImage::Format_ARGB32);
    ASSERT_EQ(picture.size(), QSize(48, 48));
    int painted = 0;
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x)
            painted += qAlpha(picture.pixel(x, y)) > 0 ? 1 : 0;
    EXPECT_GT(painted, 48 * 48 / 3);

    // Every window without an icon of its own shows the application's.
    setApplicationIcon();
    EXPECT_FALSE(QApplication::windowIcon().isNull());
    AdminState state;
    frmLogin login(state);
    EXPECT_EQ(login.windowIcon().cacheKey(), QApplication::windowIcon().cacheKey());
    EXPECT_EQ(login.windowIcon().availableSizes(), icon.availableSizes());
}

TEST_F(FormsTest, CancelAndEscapeCloseTheLogonWindow) {
    // Each way out: the window closes and the check counts as not passed.
    const std::function<void(frmLogin&)> ways[] = {
        [](frmLogin& login) {
            QTest::mouseClick(child<QPushButton>(&login, "cmdCancel"), Qt::LeftButton);
        },
        // Escape pressed in the text box: the cancel button answers it.
        [](frmLogin& login) {
            QTest::keyClick(child<QLineEdit>(&login, "Server"), Qt::Key_Escape);
        },
        // The window sees the release of Escape before the control with the focus.
        [](frmLogin& login) {
            QTest::keyRelease(child<QPushButton>(&login, "cmdPasstrough"), Qt::Key_Escape);
        },
    };
    AdminState state;
    for (const auto& way : ways) {
        frmLogin login(state);
        login.show();
        way(login);
        EXPECT_FALSE(login.isVisible());
    }
    frmLogin login(state);
    login.show();
    login.LoginSucceeded = true;
    child<QPushButton>(&login, "cmdCancel")->click();
    EXPECT_FALSE(login.LoginSucceeded);
}

TEST_F(FormsTest, MainWindowLayout) {
    AdminState state;
    frmMain main(state);
    EXPECT_EQ(main.objectName(), "frmMain");
    EXPECT_EQ(main.windowTitle(), "Brask Tool");
    EXPECT_FALSE(main.windowFlags() &
                 (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint));
    EXPECT_EQ(main.centralWidget()->size(), sizeOfTwips(6630, 5505));
    EXPECT_EQ(main.centralWidget()->minimumSize(), main.centralWidget()->maximumSize());

    auto* view = child<QLabel>(&main, "lblView");
    EXPECT_EQ(view->text(), "View");
    EXPECT_EQ(view->geometry(), rectOfTwips(240, 120, 6255, 495));
    EXPECT_EQ(view->font().pointSize(), 18);
    EXPECT_EQ(view->font().family(), "MS Sans Serif");
    EXPECT_EQ(child<QLabel>(&main, "lblInfo")->text(), "Info");
    EXPECT_EQ(child<QLabel>(&main, "lblInfo")->geometry(), rectOfTwips(240, 840, 6255, 255));

    auto* farm = child<ListBox>(&main, "lstFarm");
    auto* apps = child<ListBox>(&main, "lstApps");
    auto* servers = child<ListBox>(&main, "lstServers");
    EXPECT_FALSE(farm->sorted());
    EXPECT_EQ(farm->selectionMode(), QAbstractItemView::SingleSelection);
    EXPECT_TRUE(apps->sorted());
    EXPECT_EQ(apps->selectionMode(), QAbstractItemView::ExtendedSelection);
    EXPECT_TRUE(servers->sorted());
    EXPECT_EQ(servers->selectionMode(), QAbstractItemView::SingleSelection);
    for (ListBox* list : {farm, apps, servers}) {
        EXPECT_EQ(list->geometry(), rectOfTwips(120, 1200, 6375, 3375));
    }

    auto* progress = child<QProgressBar>(&main, "pbStatus");
    EXPECT_TRUE(progress->isHidden());
    EXPECT_EQ(progress->minimum(), 0);
    EXPECT_EQ(progress->maximum(), 100);
    EXPECT_EQ(progress->geometry(), rectOfTwips(120, 5100, 2895, 255));
    auto* status = child<QLabel>(&main, "lblStatus");
    EXPECT_TRUE(status->isHidden());
    EXPECT_EQ(status->geometry(), rectOfTwips(240, 5100, 4695, 255));
    auto* quit = child<QPushButton>(&main, "cmdQuit");
    EXPECT_EQ(quit->text(), "&Quit");
    EXPECT_EQ(quit->geometry(), rectOfTwips(5160, 5040, 1335, 375));

    auto lines = controlArray<QWidget>(&main, "Line1");
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0]->y(), pixelsOf(720));
    EXPECT_EQ(lines[1]->y(), pixelsOf(720) + 1);
    EXPECT_EQ(lines[2]->y(), pixelsOf(4920));
    EXPECT_EQ(lines[3]->y(), pixelsOf(4920) + 1);
    EXPECT_EQ(lines[3]->width(), pixelsOf(6630));

    EXPECT_EQ(tabOrder(&main), (QStringList{"lstFarm", "lstApps", "lstServers", "cmdQuit"}));
}

TEST_F(FormsTest, MenusWithAccessKeysAndShortcuts) {
    AdminState state;
    frmMain main(state);
    QStringList menus;
    for (QAction* menu : main.menuBar()->actions()) {
        menus << menu->objectName() + "=" + menu->text();
    }
    EXPECT_EQ(menus, (QStringList{"mnfFile=&File", "mnuEdit=&Edit", "mnuView=&View",
                                  "mnuTools=&Tools", "mnuHelp=&Help"}));

    EXPECT_EQ(visibleItems(child<QMenu>(&main, "mnfFile")), QStringList{"E&xit"});
    EXPECT_EQ(visibleItems(child<QMenu>(&main, "mnuEdit")), QStringList{"Select &All"});
    EXPECT_EQ(visibleItems(child<QMenu>(&main, "mnuView")),
              (QStringList{"&Farm", "&Applications", "&Servers", "-", "&Refresh"}));
    EXPECT_EQ(child<QAction>(&main, "mnuEditSelAll")->shortcut(), QKeySequence("Ctrl+A"));
    EXPECT_EQ(child<QAction>(&main, "mnuViewRefresh")->shortcut(), QKeySequence(Qt::Key_F5));

    auto* content = child<QAction>(&main, "mnuHelpContent");
    EXPECT_EQ(content->text(), "&Content");
    EXPECT_FALSE(content->isVisible());
    EXPECT_FALSE(content->isEnabled());
    EXPECT_EQ(visibleItems(child<QMenu>(&main, "mnuHelp")), (QStringList{"-", "&About"}));
}

TEST_F(FormsTest, ToolsMenuFollowsTheView) {
    AdminState state;
    frmMain main(state);
    auto* tools = child<QMenu>(&main, "mnuTools");
    auto* exportItem = child<QAction>(&main, "mnuToolsExport");
    auto* importItem = child<QAction>(&main, "mnuToolsImport");

    child<QAction>(&main, "mnuViewFarm")->trigger();
    EXPECT_EQ(state.currentView, kFarmView);
    EXPECT_EQ(visibleItems(tools), (QStringList{"&Import Farm", "&Export Farm"}));
    EXPECT_EQ(child<QLabel>(&main, "lblView")->text(), "Server Farm");
    EXPECT_EQ(child<QLabel>(&main, "lblInfo")->text(),
              "Import or export all applications and farm settings");
    EXPECT_FALSE(child<ListBox>(&main, "lstFarm")->isHidden());

    child<QAction>(&main, "mnuViewApps")->trigger();
    EXPECT_EQ(state.currentView, kApplicationView);
    EXPECT_EQ(visibleItems(tools), (QStringList{"&Publish", "&Unpublish", "&Options"}));
    EXPECT_EQ(child<QLabel>(&main, "lblView")->text(), "Applications");
    EXPECT_EQ(child<QLabel>(&main, "lblInfo")->text(),
              "Select applications to publish on new servers");
    EXPECT_FALSE(child<ListBox>(&main, "lstApps")->isHidden());
    EXPECT_TRUE(child<ListBox>(&main, "lstFarm")->isHidden());
    // Hidden, the Export and Import items keep the captions the farm view gave them.
    EXPECT_EQ(exportItem->text(), "&Export Farm");
    EXPECT_EQ(importItem->text(), "&Import Farm");

    child<QAction>(&main, "mnuViewServers")->trigger();
    EXPECT_EQ(state.currentView, kServerView);
    EXPECT_EQ(visibleItems(tools), (QStringList{"&Clone", "&Bring online", "&Take offline"}));
    EXPECT_EQ(child<QLabel>(&main, "lblView")->text(), "Servers");
    EXPECT_EQ(child<QLabel>(&main, "lblInfo")->text(),
              "Select server to bring online take offline or to clone applications from");
    EXPECT_FALSE(child<ListBox>(&main, "lstServers")->isHidden());
    EXPECT_TRUE(child<ListBox>(&main, "lstApps")->isHidden());

    child<QAction>(&main, "mnuViewApps")->trigger();
    EXPECT_EQ(exportItem->text(), "&Take offline");
    EXPECT_EQ(importItem->text(), "&Bring online");
    EXPECT_FALSE(exportItem->isVisible());
}

TEST_F(FormsTest, ShortcutsReachTheirItems) {
    AdminState state;
    frmMain main(state);
    main.show();
    main.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&main));
    child<QAction>(&main, "mnuViewServers")->trigger();
    auto* servers = child<ListBox>(&main, "lstServers");
    servers->setEntries({u"SRV03", u"SRV01", u"SRV02"});
    servers->setFocus();

    QTest::keyClick(servers, Qt::Key_A, Qt::ControlModifier);
    ASSERT_EQ(servers->selectedItems().size(), 1);
    EXPECT_EQ(servers->selectedItems()[0]->text(), "SRV03");

    // F5 fills the same view again, from a fresh farm: here one with no object model, so the
    // refill reports its failure once more and the list is left empty.
    const std::size_t reports = recorder_.boxes().size();
    QTest::keyClick(servers, Qt::Key_F5);
    EXPECT_EQ(state.currentView, kServerView);
    EXPECT_EQ(recorder_.boxes().size(), reports + 1);
    EXPECT_EQ(servers->count(), 0);
    main.close();
}

TEST_F(FormsTest, FailedFillReportsAndLeavesTheWindowUsable) {
    AdminState state;
    frmMain main(state);
    main.load();
    const auto boxes = recorder_.boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, u"Error");
    EXPECT_EQ(boxes[0].icon, static_cast<UINT>(MB_ICONERROR));
    EXPECT_TRUE(boxes[0].text.starts_with(std::u16string(80, u' ') + u"\rUnexpected error."));
    EXPECT_EQ(boxes[0].owner, platformHandle(&main));
    EXPECT_EQ(child<ListBox>(&main, "lstFarm")->count(), 0);
    EXPECT_EQ(child<QLabel>(&main, "lblView")->text(), "Server Farm");
    EXPECT_TRUE(child<QAction>(&main, "mnuToolsExport")->isVisible());
    EXPECT_TRUE(child<QProgressBar>(&main, "pbStatus")->isHidden());
}

TEST_F(FormsTest, HelpContentSetsTheHelpFileBesideTheProgram) {
    AdminState state;
    frmMain main(state);
    child<QAction>(&main, "mnuHelpContent")->setEnabled(true);
    child<QAction>(&main, "mnuHelpContent")->trigger();
    const std::u16string expected =
        sky::machine::toWindowsPath(QCoreApplication::applicationDirPath().toStdString()) +
        u"\\brasktool.chm";
    EXPECT_EQ(state.helpFile, expected);
    EXPECT_TRUE(state.helpFile.starts_with(u"Z:\\")) << "a Windows path";
}

TEST_F(FormsTest, AboutBoxNamesTheProgramAndItsVersion) {
    AdminState state;
    frmMain owner(state);
    frmAbout about(&owner);
    EXPECT_EQ(about.parentWidget(), &owner);
    EXPECT_TRUE(about.isModal());
    EXPECT_EQ(child<QLabel>(&about, "lblTitle")->text(), "BraskAdmin");
    EXPECT_TRUE(child<QLabel>(&about, "lblVersion")->text().startsWith("Version "));
    EXPECT_FALSE(about.windowFlags() &
                 (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint));
}

} // namespace
} // namespace brask
