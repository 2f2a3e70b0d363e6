#include "shell/frm_main.h"

#include <filesystem>

#include <QCoreApplication>
#include <QLabel>
#include <QLayout>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>

#include "core/admin_state.h"
#include "core/tool_error.h"
#include "core/views.h"
#include "publishing/tools_commands.h"
#include "shell/busy_cursor.h"
#include "shell/frm_about.h"
#include "shell/list_box.h"
#include "shell/look.h"
#include "shell/window_feedback.h"
#include "sky/machine.h"

namespace brask {

namespace {

QLabel* addLabel(QWidget* parent, const QString& name, const QString& caption, const QRect& where) {
    auto* label = new QLabel(caption, parent);
    label->setObjectName(name);
    label->setGeometry(where);
    return label;
}

QMenu* addMenu(QMenuBar* bar, const QString& name, const QString& caption) {
    QMenu* menu = bar->addMenu(caption);
    menu->setObjectName(name);
    menu->menuAction()->setObjectName(name);
    return menu;
}

QAction* addItem(QMenu* menu, const QString& name, const QString& caption,
                 const QKeySequence& shortcut = {}) {
    QAction* item = menu->addAction(caption);
    item->setObjectName(name);
    item->setShortcut(shortcut);
    return item;
}

struct ViewText {
    const char* title;
    const char* info;
};

// lblView and lblInfo of the farm, application and server views.
constexpr ViewText kViewTexts[] = {
    {"Server Farm", "Import or export all applications and farm settings"},
    {"Applications", "Select applications to publish on new servers"},
    {"Servers", "Select server to bring online take offline or to clone applications from"},
};

bool isView(int view) {
    return view >= kFarmView && view <= kServerView;
}

} // namespace

frmMain::frmMain(AdminState& state, QWidget* parent)
    : QMainWindow(parent, fixedWindowFlags(Qt::Window)), state_(state) {
    setUpForm(this, "frmMain", "Brask Tool");
    auto* client = new QWidget(this);
    client->setObjectName("client");
    fixClientSize(client, 6630, 5505);
    setCentralWidget(client);
    createControls(client);
    createMenus();
    layout()->setSizeConstraint(QLayout::SetFixedSize);
    feedback_ = std::make_unique<StatusFeedback>(this, pbStatus, lblStatus);
}

frmMain::~frmMain() = default;

Feedback& frmMain::feedback() {
    return *feedback_;
}

void frmMain::createControls(QWidget* client) {
    lblView = addLabel(client, "lblView", "View", twipsRect(240, 120, 6255, 495));
    lblView->setFont(formFont(18));
    lblInfo = addLabel(client, "lblInfo", "Info", twipsRect(240, 840, 6255, 255));

    // The three lists lie on top of each other; only the list of the view on show is visible.
    const QRect listPlace = twipsRect(120, 1200, 6375, 3375);
    lstFarm = new ListBox("lstFarm", ListBox::Order::Unsorted, QAbstractItemView::SingleSelection,
                          client);
    lstApps = new ListBox("lstApps", ListBox::Order::Sorted, QAbstractItemView::ExtendedSelection,
                          client);
    lstServers = new ListBox("lstServers", ListBox::Order::Sorted,
                             QAbstractItemView::SingleSelection, client);
    for (ListBox* list : {lstFarm, lstServers, lstApps}) {
        list->setGeometry(listPlace);
    }

    pbStatus = new QProgressBar(client);
    pbStatus->setObjectName("pbStatus");
    pbStatus->setRange(0, 100);
    pbStatus->setTextVisible(false);
    pbStatus->setGeometry(twipsRect(120, 5100, 2895, 255));
    lblStatus = addLabel(client, "lblStatus", "Status", twipsRect(240, 5100, 4695, 255));

    cmdQuit = new QPushButton("&Quit", client);
    cmdQuit->setObjectName("cmdQuit");
    cmdQuit->setGeometry(twipsRect(5160, 5040, 1335, 375));
    connect(cmdQuit, &QPushButton::clicked, this, &QWidget::close);
    pbStatus->hide();
    lblStatus->hide();

    addEtchedRule(client, "Line1", 0, 720, 735);
    addEtchedRule(client, "Line1", 2, 4920, 4935);

    setTabOrder(lstFarm, lstApps);
    setTabOrder(lstApps, lstServers);
    setTabOrder(lstServers, cmdQuit);
}

void frmMain::createMenus() {
    QMenuBar* bar = menuBar();
    bar->setFont(formFont());

    mnfFile = addMenu(bar, "mnfFile", "&File");
    mnuFileExit = addItem(mnfFile, "mnuFileExit", "E&xit");
    connect(mnuFileExit, &QAction::triggered, this, &QWidget::close);

    mnuEdit = addMenu(bar, "mnuEdit", "&Edit");
    mnuEditSelAll = addItem(mnuEdit, "mnuEditSelAll", "Select &All", QKeySequence("Ctrl+A"));
    connect(mnuEditSelAll, &QAction::triggered, this, &frmMain::mnuEditSelAll_Click);

    mnuView = addMenu(bar, "mnuView", "&View");
    mnuViewFarm = addItem(mnuView, "mnuViewFarm", "&Farm");
    mnuViewApps = addItem(mnuView, "mnuViewApps", "&Applications");
    mnuViewServers = addItem(mnuView, "mnuViewServers", "&Servers");
    mnuView->addSeparator();
    mnuViewRefresh = addItem(mnuView, "mnuViewRefresh", "&Refresh", QKeySequence(Qt::Key_F5));
    connect(mnuViewFarm, &QAction::triggered, this, [this] { showView(kFarmView); });
    connect(mnuViewApps, &QAction::triggered, this, [this] { showView(kApplicationView); });
    connect(mnuViewServers, &QAction::triggered, this, [this] { showView(kServerView); });
    connect(mnuViewRefresh, &QAction::triggered, this, &frmMain::mnuViewRefresh_Click);

    mnuTools = addMenu(bar, "mnuTools", "&Tools");
    mnuToolsPublish = addItem(mnuTools, "mnuToolsPublish", "&Publish");
    mnuToolsUnpublish = addItem(mnuTools, "mnuToolsUnpublish", "&Unpublish");
    mnuToolsOptions = addItem(mnuTools, "mnuToolsOptions", "&Options");
    mnuToolsClone = addItem(mnuTools, "mnuToolsClone", "&Clone");
    mnuToolsImport = addItem(mnuTools, "mnuToolsImport", "Import");
    mnuToolsExport = addItem(mnuTools, "mnuToolsExport", "Export");
    connect(mnuToolsExport, &QAction::triggered, this, &frmMain::mnuToolsExport_Click);
    connect(mnuToolsImport, &QAction::triggered, this, &frmMain::mnuToolsImport_Click);
    connect(mnuToolsPublish, &QAction::triggered, this,
            [this] { publishCommand(this, state_, *feedback_, *lstApps); });
    connect(mnuToolsUnpublish, &QAction::triggered, this,
            [this] { unpublishCommand(this, state_, *feedback_, *lstApps); });
    connect(mnuToolsOptions, &QAction::triggered, this,
            [this] { optionsCommand(this, state_, *feedback_, *lstApps); });
    connect(mnuToolsClone, &QAction::triggered, this,
            [this] { cloneCommand(this, state_, *feedback_, *lstServers); });

    mnuHelp = addMenu(bar, "mnuHelp", "&Help");
    mnuHelpContent = addItem(mnuHelp, "mnuHelpContent", "&Content");
    mnuHelpContent->setVisible(false);
    mnuHelpContent->setEnabled(false);
    mnuHelp->addSeparator();
    mnuHelpAbout = addItem(mnuHelp, "mnuHelpAbout", "&About");
    connect(mnuHelpContent, &QAction::triggered, this, &frmMain::mnuHelpContent_Click);
    connect(mnuHelpAbout, &QAction::triggered, this, &frmMain::mnuHelpAbout_Click);
}

ListBox* frmMain::listOf(int view) const {
    ListBox* const lists[] = {lstFarm, lstApps, lstServers};
    return lists[view];
}

void frmMain::load() {
    BusyCursor busy;
    pbStatus->hide();
    pbStatus->setValue(0);
    lblStatus->hide();
    lblStatus->setText(QString());
    const QRect listPlace = twipsRect(120, 1200, 6375, 3375);
    for (ListBox* list : {lstFarm, lstServers, lstApps}) {
        list->setGeometry(listPlace);
    }
    mnuViewRefresh_Click();
}

void frmMain::showView(int view) {
    BusyCursor busy;
    state_.currentView = view;
    ListBox* list = listOf(view);
    list->clear();
    for (int other = kFarmView; other <= kServerView; ++other) {
        listOf(other)->setVisible(other == view);
    }
    lblInfo->setText(kViewTexts[view].info);
    lblView->setText(kViewTexts[view].title);

    if (view == kFarmView) {
        mnuToolsExport->setText("&Export Farm");
        mnuToolsImport->setText("&Import Farm");
    } else if (view == kServerView) {
        mnuToolsExport->setText("&Take offline");
        mnuToolsImport->setText("&Bring online");
    }
    mnuToolsImport->setVisible(view != kApplicationView);
    mnuToolsExport->setVisible(view != kApplicationView);
    mnuToolsPublish->setVisible(view == kApplicationView);
    mnuToolsUnpublish->setVisible(view == kApplicationView);
    mnuToolsOptions->setVisible(view == kApplicationView);
    mnuToolsClone->setVisible(view == kServerView);

    // A failed fill reports the error and leaves the list empty; the window stays usable.
    withErrorPath(*feedback_, [&] { list->setEntries(viewItems(state_, view)); });
}

void frmMain::mnuViewRefresh_Click() {
    if (isView(state_.currentView)) {
        showView(state_.currentView);
    }
}

void frmMain::mnuEditSelAll_Click() {
    if (isView(state_.currentView)) {
        listOf(state_.currentView)->selectEveryEntry();
    }
}

void frmMain::mnuHelpContent_Click() {
    const std::filesystem::path programFolder =
        QCoreApplication::applicationDirPath().toStdString();
    state_.helpFile = sky::machine::toWindowsPath(programFolder) + u"\\brasktool.chm";
}

void frmMain::mnuHelpAbout_Click() {
    frmAbout::showModal(this);
}

} // namespace brask
