#pragma once
// The settings window (".cfg", TForm4): the engine list and its entry box,
// the proxy, the options and the scheduler's pace. It renders
// shell::SettingsModel and forwards every change to it at once.

#include "shell/settings_window.h"

#include <QWidget>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QSlider;

namespace gui {

// The title of the file dialog for the external FTP program.
inline constexpr const char* ManualfindTitle =
    "Where's CuteFTP? Find the external FTP program (cutftp32.exe)";

class SettingsWindow : public QWidget {
    Q_OBJECT
public:
    SettingsWindow(shell::SettingsModel& cfg, QWidget* parent = nullptr);

    static constexpr int ClientWidth = 448, ClientHeight = 357;

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
    QLabel* found_;
    QLabel* foundPath_;
    bool loading_ = false;
};

} // namespace gui
