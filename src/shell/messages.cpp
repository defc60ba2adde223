#include "shell/messages.h"

#include "download/fileurl.h"
#include "net/tls.h"
#include "platform/text.h"

#include <sstream>

namespace shell {

std::string UpdateReport::statusLine() const {
    switch (result) {
    case Applied:
        return "Update check done: " + text;
    case Cancelled:
        return {};
    case NoReply:
    case TooLarge:
    case TimedOut:
    case NotStarted:
        break;
    }
    return "Update check failed: " + text;
}

UpdateReport updateReport(UpdateOutcome outcome, const std::string& where, int connectError,
                          std::size_t engines) {
    const std::string at = platform::printable(where);
    switch (outcome) {
    case UpdateOutcome::Applied:
        return {UpdateReport::Applied,
                "the engine list holds " + std::to_string(engines) + (engines == 1 ? " entry" : " entries")};
    case UpdateOutcome::TooLarge:
        return {UpdateReport::TooLarge, "the reply from " + at + " is larger than 1 MB; nothing was applied"};
    case UpdateOutcome::NoReply: {
        std::string text = "nothing received from " + at;
        if (connectError) text += " (" + net::WSocketErrorDesc(connectError) + ")";
        return {UpdateReport::NoReply, text + "; nothing changed"};
    }
    case UpdateOutcome::Cancelled:
        break;
    }
    return {UpdateReport::Cancelled, {}};
}

UpdateReport updateNotStarted(const std::string& why) {
    return {UpdateReport::NotStarted, platform::printable(why)};
}

UpdateReport updateTimedOut(const std::string& where, double seconds) {
    std::ostringstream s; // the shortest form: 30, 0.5
    s << "no complete reply from " << platform::printable(where) << " within " << seconds
      << " s; nothing changed";
    return {UpdateReport::TimedOut, s.str()};
}

std::string settingsProblem(const std::string& why) {
    return "the settings cannot be saved: " + why;
}

const platform::StringList& ftpTlsModeNames() {
    static const platform::StringList names{"off", "offered", "required"};
    return names;
}

const char* ftpTlsModeName(net::FtpTls mode) {
    return download::ftpTlsModeName(mode);
}

bool parseFtpTlsMode(const std::string& text, net::FtpTls& mode) {
    return download::parseFtpTlsMode(text, mode);
}

std::string ftpTlsModeProblem(const std::string& given) {
    net::FtpTls mode;
    if (parseFtpTlsMode(given, mode)) return {};
    std::string text = "needs off, offered or required";
    if (!given.empty()) text += ", not '" + platform::printable(given) + "'";
    return text;
}

std::string trustCertificateFile(const std::string& file) {
    std::string error;
    if (net::tlsAddTrustFile(file, error)) return {};
    return error;
}

} // namespace shell
