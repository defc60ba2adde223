#pragma once
// The texts both front ends show: what an update check came to, why the
// settings cannot be saved, the TLS modes of ftp:// links and a trust file
// that cannot be read. The window puts them in its status bar and message
// boxes, the command line on standard error, each with its own prefix.

#include "net/wsocket.h"
#include "shell/update.h"

#include <cstddef>
#include <string>

namespace shell {

// What an update check came to, for people.
struct UpdateReport {
    enum Result {
        Applied,    // a reply arrived and was applied
        NoReply,    // nothing arrived: nothing changed
        TooLarge,   // the reply was too large: nothing applied
        TimedOut,   // no complete reply in time: nothing changed
        NotStarted, // the check could not start (the host cannot be looked up, one runs already)
        Cancelled,  // ended on request: nothing to say
    };
    Result result = Cancelled;
    std::string text; // without prefix; empty when cancelled

    bool failed() const { return result != Applied && result != Cancelled; }
    // The window's status bar: "Update check done: ..." or "Update check failed: ...";
    // empty when cancelled.
    std::string statusLine() const;
};

// where: the address the check asked ("http://host/path"), shown printable;
// engines: the number of entries of the engine list after the reply.
UpdateReport updateReport(UpdateOutcome outcome, const std::string& where, int connectError,
                          std::size_t engines);
UpdateReport updateNotStarted(const std::string& why);
UpdateReport updateTimedOut(const std::string& where, double seconds);

// The settings directory could not be written (the profile's own reason).
std::string settingsProblem(const std::string& why);

// The TLS modes of ftp:// links, by the names the settings file, the
// settings window and --ftp-tls use: "off", "offered", "required".
const platform::StringList& ftpTlsModeNames();
const char* ftpTlsModeName(net::FtpTls mode);
bool parseFtpTlsMode(const std::string& text, net::FtpTls& mode);
// The problem with a TLS mode given by name, after the name of the option
// that gave it: "needs off, offered or required, not 'x'" (empty: none).
std::string ftpTlsModeProblem(const std::string& given);

// Trusts the certificates of a PEM file besides the system's; answers the
// problem, naming the file (empty: taken).
std::string trustCertificateFile(const std::string& file);

} // namespace shell
