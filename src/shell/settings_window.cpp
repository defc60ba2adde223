#include "shell/settings_window.h"

#include "platform/system.h"
#include "shell/messages.h"

#include <algorithm>

namespace shell {

std::string pathFromUninstallString(const std::string& uninstall) {
    const std::size_t unwi = uninstall.find("UNWI");
    if (unwi == std::string::npos || unwi < 2) return "";
    return uninstall.substr(0, unwi - 1) + "\\cutftp32";
}

SettingsModel::SettingsModel(Settings& settings, search::EngineList& startlinks_,
                             search::ProxyControls& proxyControls, std::string storageFile)
    : startlinks(startlinks_), proxy(proxyControls), storage(SettingsWindowLayout(), std::move(storageFile)),
      settings_(settings) {
    // Centred on a 1024 x 768 screen until a stored position says otherwise.
    placement.NormPos = {288, 205, 288 + 448, 205 + 357};
    storage.bindBoolean(
        "checkupdate.Checked", [this] { return checkupdate_; }, [this](bool v) { setCheckupdate(v); });
    storage.bindBoolean(
        "usecute.Checked", [this] { return usecute_; }, [this](bool v) { setUsecute(v); });
    storage.bindBoolean(
        "Guideshow.Checked", [this] { return guideshow_; }, [this](bool v) { setGuideshow(v); });
    storage.bindInteger(
        "dfatime.Position", [this] { return dfatime_; }, [this](int v) { setDfatime(v); });
    storage.bindBoolean(
        "ontop.Checked", [this] { return ontop_; }, [this](bool v) { setOntop(v); });
    storage.bindPlacement(placement);
}

void SettingsModel::setDfatime(int position) {
    const int p = std::clamp(position, 1, 10);
    if (p == dfatime_) return;
    dfatime_ = p;
    dfatimeChange();
}

void SettingsModel::setOntop(bool on) {
    if (on == ontop_) return;
    ontop_ = on;
    ontopClick();
}

bool SettingsModel::setFtptlsName(const std::string& name) {
    net::FtpTls mode = net::FtpTls::Off;
    if (!parseFtpTlsMode(name, mode)) return false;
    setFtptls(mode);
    return true;
}

void SettingsModel::setFtptls(net::FtpTls mode) {
    if (mode == settings_.ftptls) return;
    settings_.ftptls = mode;
    OnFtpTls(mode);
}

void SettingsModel::Edit1KeyDown(int key) {
    if (key == Key_Return) addbutClick();
}

void SettingsModel::addbutClick() {
    if (!Edit1.empty()) startlinks.addengine(Edit1);
    Edit1.clear();
}

void SettingsModel::startlinksKeyDown(int key) {
    if (key == Key_Delete && startlinks.ItemIndex() >= 0) startlinks.Delete(startlinks.ItemIndex());
}

void SettingsModel::FormClose() {
    settings_.copyProxyFromControls();
    visible_ = false;
    storage.FormClose();
}

void SettingsModel::dfatimeChange() {
    OnSchedulerInterval(schedulerInterval(dfatime_));
}

void SettingsModel::ontopClick() {
    OnStayOnTop(ontop_);
}

void SettingsModel::Button1Click() {
    std::string result;
    std::string uninstall;
    if (platform::registryReadString(CuteFtpUninstallKey, "Uninstallstring", uninstall))
        result = pathFromUninstallString(uninstall);
    if (result.empty()) {
        if (usecute_ && ShowFileDialog) ShowFileDialog(manualfindFileName);
        // Confirmed or not, the dialog's current file name is taken.
        result = manualfindFileName;
        if (const std::size_t exe = result.find(".exe"); exe != std::string::npos) result.erase(exe);
        foundPathLabel = result;
    }
    settings_.path = result;
    if (!result.empty()) {
        foundVisible = true;
        settings_.savecfg();
    }
}

void SettingsModel::Show() {
    storage.Restore();
    visible_ = true;
}

} // namespace shell
