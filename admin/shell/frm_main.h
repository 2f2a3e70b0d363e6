// The main window: the farm, application and server views, the menus, and the Tools commands that
// fit the view on show.
#pragma once

#include <functional>
#include <memory>

#include <QMainWindow>

#include "core/feedback.h"
#include "shell/file_dialog.h"

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

    // Export and Import of the Tools menu: export and import of the farm in the farm view, take
    // offline and bring online of the selected server in the server view.
    void mnuToolsExport_Click();
    void mnuToolsImport_Click();
    void exportFarmCommand();
    void importFarmCommand();
    void takeOfflineCommand();
    void bringOnlineCommand();
    // The selected server nearest the end of lstServers; empty when none is selected.
    std::u16string selectedServer() const;
    // Asks through ComDlg1 for the file of a command (title, cancel error, filter, the program's
    // folder, and the proposed name for a save), then runs `operation` on the chosen path under
    // the hourglass. A failure shows the report; a cancel ends it silently.
    void runOnChosenFile(std::u16string_view title, FileDialogRequest::Kind kind,
                         const std::u16string* proposedName,
                         const std::function<void(const std::u16string&)>& operation);

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
    CommonDialog ComDlg1;

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
