// The main window's views over a real farm: the object model module registered on the test's
// machine, the farm loaded with qvfarm, every view filled through a fresh farm object.
#include <QAction>
#include <QLabel>
#include <QTest>
#include <gtest/gtest.h>

#include "core/admin_state.h"
#include "core/views.h"
#include "shell/frm_main.h"
#include "shell/list_box.h"
#include "shell/qt_test_app.h"
#include "shell/test_farm.h"
#include "sky/messagebox.h"

namespace brask {
namespace {

QStringList entries(const ListBox* list) {
    QStringList texts;
    for (int row = 0; row < list->count(); ++row) {
        texts << list->item(row)->text();
    }
    return texts;
}

class ViewsTest : public ::testing::Test {
protected:
    ViewsTest() : installed_(recorder_) {
        testing::qtTestApp();
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    }
    void SetUp() override {
        ASSERT_TRUE(testing::objectModelBuilt())
            << "the object model module (qvcomsrv.dll) is missing from the build";
        testing::registerObjectModel();
    }
    ~ViewsTest() override {
        state_ = AdminState();
        CoUninitialize();
    }

    // A main window after its load step, on the farm view.
    frmMain& openMainWindow() {
        main_ = std::make_unique<frmMain>(state_);
        main_->load();
        return *main_;
    }

    ListBox* list(const char* name) { return main_->findChild<ListBox*>(name); }
    void choose(const char* item) { main_->findChild<QAction*>(item)->trigger(); }

    sky::RecordingPresenter recorder_;
    sky::ScopedMessageBoxPresenter installed_;
    AdminState state_;
    std::unique_ptr<frmMain> main_;
};

TEST_F(ViewsTest, FarmWithoutZonesShowsTwoItems) {
    testing::TestFarm farm;
    farm.name = "Quiet";
    testing::installFarm(farm);
    openMainWindow();
    EXPECT_EQ(entries(list("lstFarm")),
              (QStringList{"Farm name\t: Quiet", "Number of servers\t: 0"}));
    EXPECT_TRUE(recorder_.boxes().empty());
}

TEST_F(ViewsTest, FarmWithTwoZonesShowsSixItemsInOrder) {
    testing::TestFarm farm;
    farm.name = "Brask Farm";
    farm.zones = {{"East", "SRV-E1"}, {"West", "SRV-W1"}};
    farm.servers = {"SRV-E1", "SRV-W1", "SRV-X"};
    testing::installFarm(farm);
    openMainWindow();
    EXPECT_EQ(entries(list("lstFarm")), (QStringList{
                                            "Farm name\t: Brask Farm",
                                            "Zone name\t: East",
                                            "   Data collector\t:    SRV-E1",
                                            "Zone name\t: West",
                                            "   Data collector\t:    SRV-W1",
                                            "Number of servers\t: 3",
                                        }));
}

TEST_F(ViewsTest, ApplicationsShowAsSortedEntries) {
    testing::TestFarm farm;
    farm.applications = {"Applications/word", "Applications/Tools/Applications/Setup",
                         "Applications/Office/Excel", "Applications/Notepad"};
    testing::installFarm(farm);
    openMainWindow();
    choose("mnuViewApps");
    EXPECT_EQ(entries(list("lstApps")),
              (QStringList{"Notepad", "Office\\Excel", "Tools\\Applications\\Setup", "word"}));
    EXPECT_EQ(state_.currentView, kApplicationView);
    // The farm view's list keeps its items while hidden.
    EXPECT_EQ(list("lstFarm")->count(), 2);
    EXPECT_TRUE(recorder_.boxes().empty());
}

TEST_F(ViewsTest, SelectAllInTheServerViewLeavesTheLastServerSelected) {
    testing::TestFarm farm;
    farm.zones = {{"Main", "SRV02"}};
    farm.servers = {"SRV02", "srv03", "SRV01"};
    testing::installFarm(farm);
    openMainWindow();
    choose("mnuViewServers");
    EXPECT_EQ(entries(list("lstServers")), (QStringList{"SRV01", "SRV02", "srv03"}));
    choose("mnuEditSelAll");
    ASSERT_EQ(list("lstServers")->selectedItems().size(), 1);
    EXPECT_EQ(list("lstServers")->selectedItems()[0]->text(), "srv03");
}

TEST_F(ViewsTest, RefreshKeepsTheViewAndRefillsFromAFreshFarm) {
    testing::TestFarm farm;
    farm.applications = {"Applications/One"};
    testing::installFarm(farm);
    openMainWindow();
    choose("mnuViewApps");
    const ISkyloomFarm6* first = state_.farm.get();
    ASSERT_NE(first, nullptr);
    sky::ComPtr<ISkyloomFarm6> keep = state_.farm; // so a new object cannot reuse the address

    farm.applications = {"Applications/One", "Applications/Two"};
    testing::installFarm(farm);
    choose("mnuViewRefresh");
    EXPECT_EQ(state_.currentView, kApplicationView);
    EXPECT_NE(state_.farm.get(), first);
    EXPECT_EQ(entries(list("lstApps")), (QStringList{"One", "Two"}));
    EXPECT_FALSE(list("lstApps")->isHidden());
}

TEST_F(ViewsTest, CommandLineListsTheSameEntries) {
    testing::TestFarm farm;
    farm.applications = {"Applications/b/c", "Applications/A"};
    testing::installFarm(farm);
    EXPECT_EQ(viewListEntries(state_, kApplicationView),
              (std::vector<std::u16string>{u"A", u"b\\c"}));
    EXPECT_EQ(viewListEntries(state_, kFarmView),
              (std::vector<std::u16string>{u"Farm name\t: Farm1", u"Number of servers\t: 0"}));
}

} // namespace
} // namespace brask
