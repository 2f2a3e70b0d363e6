// The main window: the farm, application and server views, the menus, and the Tools commands that
// fit the view on show.
#pragma once

#include <memory>

#include <QMainWindow>

#include "core/feedback.h"

class QAction;
class QLabel;
class QMenu;
class QProgressBar;
class QPushButton;

namespace brask {

class AdminState;
class ListBox;
class StatusFeedback;

class frmMain : public QMainWindow {
    Q_OBJECT
public:
    explicit frmMain(AdminState& state, QWidget* parent = nullptr);
    ~frmMain() override;

    // How a command run from this window reports: pbStatus, lblStatus and message boxes.
    Feedback& feedback();

    // The window's load step: hides the status controls and shows the current view.
    void load();

    // Shows a view: its list, texts and Tools items, then fills its list from a fresh farm.
    void showView(int view);

private:
    void mnuViewRefresh_Click();
    void mnuEditSelAll_Click();
    void mnuHelpContent_Click();
    void mnuHelpAbout_Click();
    ListBox* listOf(int view) const;

    void createControls(QWidget* client);
    void createMenus();

    AdminState& state_;
    std::unique_ptr<StatusFeedback> feedback_;

    QLabel* lblView;
    QLabel* lblInfo;
    ListBox* lstFarm;
    ListBox* lstApps;
    ListBox* lstServers;
    QProgressBar* pbStatus;
    QLabel* lblStatus;
    QPushButton* cmdQuit;

    QMenu* mnfFile;
    QAction* mnuFileExit;
    QMenu* mnuEdit;
    QAction* mnuEditSelAll;
    QMenu* mnuView;
    QAction* mnuViewFarm;
    QAction* mnuViewApps;
    QAction* mnuViewServers;
    QAction* mnuViewRefresh;
    QMenu* mnuTools;
    QAction* mnuToolsPublish;
    QAction* mnuToolsUnpublish;
    QAction* mnuToolsOptions;
    QAction* mnuToolsClone;
    QAction* mnuToolsImport;
    QAction* mnuToolsExport;
    QMenu* mnuHelp;
    QAction* mnuHelpContent;
    QAction* mnuHelpAbout;
};

} // namespace brask
