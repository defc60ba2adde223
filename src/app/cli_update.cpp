// wavetrap-cli update [--from HOST[:PORT][/PATH]]: fetches the update file,
// applies it to the saved engine list and prints its notices.

#include "app/cli_commands.h"
#include "platform/eventloop.h"
#include "platform/text.h"
#include "shell/messages.h"
#include "shell/wavetrap.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <iostream>

namespace cli {
namespace {

constexpr const char* Usage = "update [--from HOST[:PORT][/PATH]] [--timeout SECONDS] [--cacert FILE]";

void help() {
    std::cout
        << "Usage: wavetrap-cli " << Usage
        << "\n\n"
           "Fetches the update file with an HTTP/1.0 GET from the saved update address (or through\n"
           "the saved proxy) and applies it: \"--:kill\" empties the engine list, \"--:ENTRY\" adds an\n"
           "engine entry, \"--URL\" moves the update address, and every notice (\"--MESSAGE\", a newer\n"
           "build) is printed on standard output. The changed engine list and address are saved.\n\n"
           "Options:\n"
           "  --from HOST[:PORT][/PATH]  fetch from here this time (port 80 and the saved path\n"
           "                             unless given)\n"
           "  --timeout SECONDS          give up on a server that has not finished by then (30)\n"
           "  --cacert FILE              trust the certificates in FILE (PEM) as well as the system's\n"
           "  --help                     show this help\n\n"
           "Exit status: 0 when a reply was applied, 1 when nothing was received, 2 on an error.\n";
}

bool clean(const std::string& s) {
    return std::none_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20; });
}

struct UpdateOptions {
    bool from = false;
    std::string host, path; // host may carry ":PORT"
    double timeout = 30;
};

std::string parse(const std::vector<std::string>& args, UpdateOptions& opt, bool& helpOnly) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&](const char* name, std::string& out) {
            const std::string eq = std::string(name) + "=";
            if (a.rfind(eq, 0) == 0) {
                out = a.substr(eq.size());
                return true;
            }
            if (a != name || i + 1 >= args.size()) return false;
            out = args[++i];
            return true;
        };
        std::string v;
        if (a == "--help" || a == "-h") {
            helpOnly = true;
            return {};
        } else if (value("--from", v)) {
            const std::size_t slash = v.find('/');
            opt.host = v.substr(0, slash);
            if (slash != std::string::npos) opt.path = v.substr(slash);
            std::string host, port;
            shell::UpdateCheck::splitHostPort(opt.host, host, port);
            const int p = port.empty() ? 80 : std::atoi(port.c_str());
            if (host.empty() || (host.find(':') != std::string::npos && host.front() != '[') || !clean(v) ||
                p < 1 || p > 65535 || v.find(' ') != std::string::npos)
                return "--from: '" + v + "' is not HOST[:PORT][/PATH]";
            opt.from = true;
        } else if (value("--timeout", v)) {
            char* end = nullptr;
            opt.timeout = std::strtod(v.c_str(), &end);
            if (v.empty() || *end || !std::isfinite(opt.timeout) || opt.timeout <= 0 || opt.timeout > 86400)
                return "--timeout: '" + v + "' is not a positive number of seconds";
        } else if (value("--cacert", v)) {
            if (const std::string why = shell::trustCertificateFile(v); !why.empty())
                return "--cacert: " + why;
        } else if (a == "--from" || a == "--timeout" || a == "--cacert") {
            return a + " needs a value";
        } else {
            return "unknown argument '" + a + "' (see wavetrap-cli update --help)";
        }
    }
    return {};
}

// CR LF inside a notice is a line break on the terminal.
std::string plainLines(std::string text) {
    for (std::size_t at; (at = text.find("\r\n")) != std::string::npos;)
        text.erase(at, 1);
    return text;
}

int runUpdate(const std::vector<std::string>& args) {
    UpdateOptions opt;
    bool helpOnly = false;
    if (const std::string err = parse(args, opt, helpOnly); !err.empty()) return fail("update: " + err);
    if (helpOnly) {
        help();
        return ExitRows;
    }

    platform::SettingsLock lock;
    if (int rc = lockSettings(lock); rc >= 0) return rc;
    shell::Wavetrap w;
    w.loadSettingsAtStartup();
    shell::MainWindowStorage& m = w.mainStorage;
    const std::string savedHost = m.updateIP_Caption, savedPath = m.updatefile_Caption;
    if (opt.from) {
        m.updateIP_Caption = opt.host;
        if (!opt.path.empty()) m.updatefile_Caption = opt.path;
    }
    const std::string usedHost = m.updateIP_Caption, usedPath = m.updatefile_Caption;

    shell::UpdateCheck& check = w.updatecheck;
    bool ended = false;
    shell::UpdateOutcome outcome = shell::UpdateOutcome::NoReply;
    check.OnMessage.connect(
        [](const std::string&, const std::string& text) { std::cout << plainLines(text) << std::endl; });
    check.OnFinished.connect([&](shell::UpdateOutcome o) {
        ended = true;
        outcome = o;
    });
    // The reports name the address asked (it may have come from an earlier reply's "--URL").
    if (const auto report = w.checkForUpdates()) return fail("update: " + report->text); // it names the host
    if (!platform::runUntil([&] { return ended; }, static_cast<int>(std::ceil(opt.timeout * 1000)))) {
        check.cancel();
        std::cerr << "wavetrap-cli: update: "
                  << shell::updateTimedOut("http://" + usedHost + usedPath, opt.timeout).text << "\n";
        return ExitNone;
    }
    // Cancelled only by the time-out above: like no reply.
    const shell::UpdateReport report =
        w.updateReport(outcome == shell::UpdateOutcome::Cancelled ? shell::UpdateOutcome::NoReply : outcome);
    switch (report.result) {
    case shell::UpdateReport::TooLarge:
        return fail("update: " + report.text);
    case shell::UpdateReport::Applied:
        break;
    default:
        std::cerr << "wavetrap-cli: update: " << report.text << "\n";
        return ExitNone;
    }
    // --from is for this run only; an address the reply moved is kept.
    if (opt.from && m.updateIP_Caption == usedHost && m.updatefile_Caption == usedPath) {
        m.updateIP_Caption = savedHost;
        m.updatefile_Caption = savedPath;
    }
    try {
        w.saveSettingsAtExit();
    } catch (const std::exception& e) {
        return fail("update: " + std::string(e.what()));
    }
    std::cerr << "wavetrap-cli: update: applied; " << report.text << "\n";
    return ExitRows;
}

const CliCommand command("update", Usage, "fetch the update file and apply it to the engine list", runUpdate);

} // namespace
} // namespace cli
