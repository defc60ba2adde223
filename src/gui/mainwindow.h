#pragma once
// The main window: toolbar with the search and manual-add boxes, the result
// table, the by-site view and the download status over one client area, the
// menus and the status bar. It renders the core's models through item-model
// adapters and forwards every command to the core; it owns the core.

#include "shell/mainviews.h"
#include "shell/wavetrap.h"

#include <QMainWindow>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <memory>

class QComboBox;
class QLabel;
class QLineEdit;
class QListView;
class QMenu;
class QModelIndex;
class QProgressBar;
class QStackedWidget;
class QToolBar;
class QToolButton;
class QTreeView;

namespace shell {
class DesktopNotifier;
class DownloadNotices;
} // namespace shell

namespace gui {

class BurstRepaint;
class ClockWindow;
class DetailsWindow;
class GradientCaption;
class GuideWindow;
class HelpWindow;
class ListViewModel;
class LogWindow;
class SearchBar;
class SettingsWindow;
class SortFilterRows;
class StatusPage;
class TroubleshootingWindow;

// The window's caption, and the product text of its header strip.
inline constexpr const char* WindowCaption = "Wavetrap 98";
// The check item of the "Links" menu for the setting httplinks.
inline constexpr const char* HttpLinksCaption = "Offer http:// and https:// links";
QString versionCaption();

class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    // FormCreate: builds the core and the windows and restores the stored properties.
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    shell::Wavetrap& core() { return *core_; }
    shell::MainViews& views() { return *views_; }

    // ---- Windows of their own (filled in by their files) ---------------------
    void showSettings();   // "&Windows" -> "Configuration", the toolbar's "Settings"
    void showAlarmClock(); // "&Windows" -> "Download Timer"
    void showLog();        // "&Windows" -> "Log"
    void checkForUpdate(); // "&Help" -> "Check for updates to search engines && Wavetrap"

    // ---- Handlers ------------------------------------------------------------
    void Timer3Timer(); // the start-up sequence, 200 ms after the first display
    void searchKeyDown();
    void RxSpeedButton5Click(); // the display menu
    void haulfilesClick();
    // A double-click on a file of the table or of the by-site view: that file downloads.
    void fileDblClick(const QModelIndex& index);
    void ManualaddKeyDown();
    void Writelisttofile1Click();
    void RxSpeedButton1Click();
    void liststatusMouseUp(const QPoint& pos);
    void showGuide();
    void showDetails();
    void showHelp();
    void showTroubleshooting();

    // Saves the settings and the stored properties: when the window closes,
    // the program quits (SIGTERM too) or the desktop session ends (force: even
    // when saved already, since the session may go on).
    void saveAll(bool force = false);

    // The controls, for the tests.
    QComboBox* searchBox() const;
    QComboBox* manualAddBox() const;
    QTreeView* resultView() const { return List_; }
    QLineEdit* filterBox() const { return filter_; }
    QListView* sitesView() const { return sites_; }
    QTreeView* siteView() const { return site_; }
    StatusPage* statusView() const { return liststatus_; }
    QStackedWidget* pages() const { return pages_; }
    QProgressBar* progressBar() const;
    QToolButton* cancelButton() const;
    SearchBar* toolBar() const { return SpeedBar1_; }
    QMenu* displayMenu() const { return displaypopup_; }
    QMenu* downloadMenu() const;
    SettingsWindow* settingsWindow() const { return Form4_; }
    QString statusText() const;
    DetailsWindow* details() const { return Form2_; }
    GuideWindow* guide() const { return Guide_; }
    HelpWindow* help() const { return helpform_; }
    TroubleshootingWindow* troubleshooting() const { return troublehelp_; }
    bool startupDone() const { return startupDone_; }
    // Stands in for the "Save to list" file dialog when set (answers the
    // chosen file name, empty when cancelled); it gets the folder the dialog
    // would open in.
    std::function<QString(const QString& folder)> askSaveFileName;
    // The notices of the downloads for the desktop (the tests listen here).
    shell::DownloadNotices& downloadNotices() { return *notices_; }
    // The question asked when the window closes while files are under way,
    // while it is shown.
    QWidget* closeQuestion() const { return closeQuestion_; }

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void buildToolbar();
    void buildViews();
    void buildMenus();
    void createWindows();
    void wireShellWindows(); // the settings window, the timer, the log and the update check
    void wireCore();
    void FormShow();
    void restoreStoredProperties();
    void storeProperties();
    void SpeedBar1PosChanged();
    void showPage();
    void refreshSearchControls();
    // A search was asked for: the results show as they arrive.
    void searchStarted(const shell::SearchStart& result);
    // An update check that could not start, or ended.
    void showUpdateReport(const shell::UpdateReport& report);
    void startSearch();
    void sortResults(int column);
    // The window may close: nothing is under way, or the user chose to stop it.
    bool mayClose();
    void setStatusText(const std::string& text);
    void setStatusText(const QString& text);
    void showError(const QString& text);
    QTreeView* reportView(const char* name, ListViewModel* model, const std::vector<int>& widths);

    std::unique_ptr<shell::Wavetrap> core_;
    std::unique_ptr<shell::MainViews> views_;

    SearchBar* SpeedBar1_ = nullptr;
    GradientCaption* header_ = nullptr;
    QLabel* StatusBar1_ = nullptr;
    QStackedWidget* pages_ = nullptr;
    QWidget* sitePage_ = nullptr;
    QTreeView* List_ = nullptr;
    QLineEdit* filter_ = nullptr; // narrows the rows of List_
    SortFilterRows* listRows_ = nullptr;
    QListView* sites_ = nullptr;
    QTreeView* site_ = nullptr;
    StatusPage* liststatus_ = nullptr;
    QMenu* displaypopup_ = nullptr;
    QAction* httpLinksItem_ = nullptr; // "Links" -> the setting httplinks
    ListViewModel* listModel_ = nullptr;
    BurstRepaint* listRepaint_ = nullptr;
    BurstRepaint* sitesRepaint_ = nullptr;
    ListViewModel* sitesModel_ = nullptr;
    ListViewModel* siteModel_ = nullptr;

    SettingsWindow* Form4_ = nullptr;
    DetailsWindow* Form2_ = nullptr;
    ClockWindow* Form3_ = nullptr;
    LogWindow* Log_ = nullptr;
    HelpWindow* helpform_ = nullptr;
    GuideWindow* Guide_ = nullptr;
    TroubleshootingWindow* troublehelp_ = nullptr;
    QWidget* closeQuestion_ = nullptr;

    std::unique_ptr<shell::DesktopNotifier> notifier_;
    std::unique_ptr<shell::DownloadNotices> notices_;

    QTimer Timer3;
    bool shown_ = false;
    bool startupDone_ = false;
    bool saved_ = false;
    bool closing_ = false;        // the user chose to stop the downloads and close
    platform::Receiver receiver_; // last: the core's connections end first
};

} // namespace gui
