#pragma once
// The settings window (".cfg") as a model: its options, the engine list and
// proxy fields it edits, and its handlers. The widgets render this model and
// forward the user's actions to the handlers.

#include "download/scheduler.h"
#include "platform/signal.h"
#include "search/engines.h"
#include "search/proxy_controls.h"
#include "shell/formstorage.h"
#include "shell/settings.h"

#include <functional>
#include <string>

namespace shell {

// Where the uninstaller of the external FTP program is registered.
inline constexpr const char* CuteFtpUninstallKey =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\CuteFTP";
inline constexpr const char* CuteFtpProgram = "cutftp32.exe";

// The program's path from its uninstall string: the directory of the
// uninstaller (the text before the separator that precedes the first "UNWI")
// followed by "\cutftp32". A string without "UNWI", or with no directory
// before it, names no usable path and answers "" (then the file dialog decides).
std::string pathFromUninstallString(const std::string& uninstall);

class SettingsModel {
public:
    static constexpr int Key_Return = 13;
    static constexpr int Key_Delete = 46;

    SettingsModel(Settings& settings, search::EngineList& startlinks, search::ProxyControls& proxyControls,
                  std::string storageFile = FormStorageFile);

    search::EngineList& startlinks;
    search::ProxyControls& proxy; // useproxy, proxynamein, proxyportin
    std::string Edit1;            // the entry box under the engine list

    // Options. Setting a check box runs its click handler when the value
    // changes; moving the track bar runs dfatimeChange when it changes.
    bool checkupdate() const { return checkupdate_; }
    bool usecute() const { return usecute_; }
    bool Guideshow() const { return guideshow_; }
    int dfatime() const { return dfatime_; } // 1 ("High") .. 10 ("Low")
    bool ontop() const { return ontop_; }
    void setCheckupdate(bool on) { checkupdate_ = on; }
    void setUsecute(bool on) { usecute_ = on; }
    void setGuideshow(bool on) { guideshow_ = on; }
    void setDfatime(int position); // held to 1..10
    void setOntop(bool on);
    // The TLS of ftp:// links (the setting "ftptls"); a change is announced
    // through OnFtpTls and written with the settings.
    net::FtpTls ftptls() const { return settings_.ftptls; }
    void setFtptls(net::FtpTls mode);
    // The same by the mode's name ("off", "offered", "required"); false for
    // another name, which changes nothing.
    bool setFtptlsName(const std::string& name);
    // The folder the window's downloads go to. A new one is made when missing
    // and tried for writing: answers why it cannot take downloads (and keeps
    // the folder before), else empty.
    const std::string& downloadfolder() const { return settings_.downloadfolder; }
    std::string setDownloadfolder(const std::string& path);
    // The speed limit of all transfers in KiB/s (0: none); held to 0..MaxLimitRate,
    // a change announced through OnLimitRate.
    static constexpr int MaxLimitRate = 1024 * 1024; // 1 GiB/s
    int limitrate() const { return settings_.limitrate; }
    void setLimitrate(int kib);
    // Fetched files are checked as MP3 (a change announced through OnVerify).
    bool verify() const { return settings_.verify; }
    void setVerify(bool on) {
        settings_.verify = on;
        OnVerify(on);
    }

    // The hidden "Found!!!" label and the label showing the located path.
    bool foundVisible = false;
    std::string foundPathLabel;
    // The file dialog "manualfind": its current file name.
    std::string manualfindFileName = CuteFtpProgram;

    // Announced to the rest of the program.
    platform::Signal<int /*ms*/> OnSchedulerInterval; // dfatimeChange: the scheduler's new interval
    platform::Signal<bool /*on*/> OnStayOnTop;        // ontopClick: the main window in front or not
    platform::Signal<net::FtpTls /*mode*/> OnFtpTls;  // the ftptls mode changed
    platform::Signal<int /*KiB/s*/> OnLimitRate;      // the speed limit changed (0: none)
    platform::Signal<bool /*on*/> OnVerify;           // the check of fetched files turned on or off
    // The file dialog, which the window provides; answers whether confirmed.
    std::function<bool(std::string& fileName)> ShowFileDialog; // manualfind

    // Handlers.
    void Edit1KeyDown(int key);
    void addbutClick();
    void startlinksKeyDown(int key);
    void FormClose();
    void proxynameinKeyUp() { settings_.copyProxyFromControls(); }
    void proxyportinKeyUp() { settings_.copyProxyFromControls(); }
    void useproxyMouseMove() { settings_.copyProxyFromControls(); }
    void dfatimeChange();
    void ontopClick();
    // Locates the external FTP program and stores its path.
    void Button1Click();

    // The scheduler interval for a track bar position (the scheduler's pace).
    static int schedulerInterval(int position) { return download::Scheduler::intervalForPace(position); }

    // Showing and hiding the window restores and saves its stored options.
    void Show();
    void Hide() { visible_ = false; }
    bool Visible() const { return visible_; }
    void Destroy() { storage.FormDestroy(); }

    WindowPlacement placement;
    FormStorage storage;

private:
    Settings& settings_;
    bool checkupdate_ = false;
    bool usecute_ = false;
    bool guideshow_ = true;
    int dfatime_ = 1;
    bool ontop_ = false;
    bool visible_ = false;
};

} // namespace shell
