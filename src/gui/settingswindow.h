#pragma once
// The settings window (".cfg", TForm4): the engine list and its entry box,
// the proxy, the options and the scheduler's pace. It renders
// shell::SettingsModel and forwards every change to it at once.

#include "shell/settings_window.h"

#include <QWidget>
#include <functional>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QSlider;
class QSpinBox;

namespace gui {

// The title of the file dialog for the external FTP program.
inline constexpr const char* ManualfindTitle =
    "Where's CuteFTP? Find the external FTP program (cutftp32.exe)";

class SettingsWindow : public QWidget {
    Q_OBJECT
public:
    SettingsWindow(shell::SettingsModel& cfg, QWidget* parent = nullptr);

    // The window of old was 357 high; the strip of the download settings
    // (folder, speed limit, check) lies below it.
    static constexpr int ClientWidth = 448, DesignHeight = 357, ClientHeight = DesignHeight + 92;

    // Shows the window: its stored options are restored, then shown.
    void showSettings();
    // Shows the model's values again (an option changed elsewhere).
    void reload() { load(); }
    // The file dialog "manualfind", titled with what it asks for; answers whether it was confirmed and
    // leaves the chosen (or initial) name in fileName.
    static bool manualfind(QWidget* parent, std::string& fileName);

    QListWidget* startlinks() const { return startlinks_; }
    QLineEdit* Edit1() const { return Edit1_; }
    QPushButton* addbut() const { return addbut_; }
    QCheckBox* useproxy() const { return useproxy_; }
    QLineEdit* proxynamein() const { return proxynamein_; }
    QLineEdit* proxyportin() const { return proxyportin_; }
    QCheckBox* checkupdate() const { return checkupdate_; }
    QCheckBox* usecute() const { return usecute_; }
    QCheckBox* Guideshow() const { return Guideshow_; }
    QSlider* dfatime() const { return dfatime_; }
    QCheckBox* ontop() const { return ontop_; }
    QComboBox* ftptls() const { return ftptls_; } // off, offered, required
    QLineEdit* downloadfolder() const { return downloadfolder_; }
    QPushButton* chooseFolder() const { return chooseFolder_; }
    QSpinBox* limitrate() const { return limitrate_; } // KiB/s, 0: no limit
    QCheckBox* verify() const { return verify_; }
    QLabel* folderMessage() const { return folderMessage_; }
    // The folder dialog (answers the chosen folder, empty when cancelled); the
    // tests put their own here. It gets the folder it opens in.
    std::function<QString(const QString& start)> askFolder;
    // "Choose...": the folder the user picks, when it can take downloads.
    void chooseFolderClick();

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void load();        // the model's values into the controls
    void loadEngines(); // the engine list into startlinks

    shell::SettingsModel& cfg_;
    QListWidget* startlinks_;
    QLineEdit* Edit1_;
    QPushButton* addbut_;
    QCheckBox* useproxy_;
    QLineEdit* proxynamein_;
    QLineEdit* proxyportin_;
    QCheckBox* checkupdate_;
    QCheckBox* usecute_;
    QCheckBox* Guideshow_;
    QSlider* dfatime_;
    QCheckBox* ontop_;
    QComboBox* ftptls_;
    QLineEdit* downloadfolder_;
    QPushButton* chooseFolder_;
    QSpinBox* limitrate_;
    QCheckBox* verify_;
    QLabel* folderMessage_;
    QLabel* found_;
    QLabel* foundPath_;
    bool loading_ = false;
};

} // namespace gui
