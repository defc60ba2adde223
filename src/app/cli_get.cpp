// wavetrap-cli get URL... and wavetrap-cli resume: the download road without a window.

#include "app/cli_get.h"
#include "app/cli_commands.h"
#include "app/cli_signals.h"
#include "download/fileurl.h"
#include "download/progress.h"
#include "download/queue.h"
#include "download/status.h"
#include "net/rate_limit.h"
#include "platform/eventloop.h"
#include "platform/profile.h"
#include "platform/system.h"
#include "shell/messages.h"
#include "shell/wavetrap.h"
#include "url/urlinfo.h"

#include "platform/text.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <map>
#include <set>
#include <unistd.h>

namespace cli {

namespace {

// Draws the rows of the busy slots on standard error, over the previous ones:
// each running file with its percent, rate and time left, then a total line.
class StatusRows {
public:
    explicit StatusRows(bool on) : on_(on) {}
    void draw(const download::Scheduler& s, int fetched, int wanted) {
        if (!on_) return;
        const std::int64_t now = platform::GetTickCount();
        std::string out = erase();
        lines_ = 0;
        int running = 0;
        std::int64_t left = 0;
        bool sizesKnown = true;
        for (int n = 1; n <= download::SlotCount; ++n) {
            const download::Slot& slot = s.slot(n);
            Meter& m = meters_[static_cast<std::size_t>(n)];
            if (slot.phase == download::Phase::Idle) {
                m = {};
                continue;
            }
            if (m.url != slot.record.url) m = {slot.record.url, download::RateMeter()};
            m.rate.sample(now, slot.byteCount);
            const std::int64_t size = slot.remoteSize();
            if (slot.byteCount > 0) ++running;
            if (size > 0)
                left += std::max<std::int64_t>(0, size - slot.byteCount);
            else if (slot.byteCount > 0)
                sizesKnown = false;
            const std::string progress =
                slot.byteCount > 0 ? download::progressLine(slot.byteCount, size, m.rate.bytesPerSecond())
                                   : "";
            char buf[512];
            std::snprintf(buf, sizeof buf, "%2d  %-18.18s  %-20.20s  %-52.52s  %.50s\n", n,
                          platform::printable(slot.record.site).c_str(), download::stateText(slot),
                          progress.c_str(), platform::printable(slot.record.fname).c_str());
            out += buf;
            ++lines_;
        }
        total_.sample(now, s.receivedSoFar());
        const double rate = total_.bytesPerSecond();
        std::string line = "    " + std::to_string(fetched) + " of " + std::to_string(wanted) + " files, " +
                           std::to_string(running) + " running, " + download::formatBytes(s.receivedSoFar()) +
                           (rate < 0 ? "" : ", " + download::formatRate(rate));
        const std::string timeLeft = sizesKnown ? download::formatTimeLeft(left, rate) : "";
        if (!timeLeft.empty() && left > 0) line += ", " + timeLeft + " left";
        out += line + "\n";
        ++lines_;
        std::fputs(out.c_str(), stderr);
        std::fflush(stderr);
    }
    void clear() {
        if (!on_) return;
        std::fputs(erase().c_str(), stderr);
        lines_ = 0;
    }

private:
    struct Meter {
        std::string url;
        download::RateMeter rate;
    };
    std::string erase() const {
        if (lines_ == 0) return {};
        return "\033[" + std::to_string(lines_) + "A\r\033[J";
    }
    bool on_;
    int lines_ = 0;
    std::array<Meter, download::SlotCount + 1> meters_;
    download::RateMeter total_;
};

// The program's state and settings as start-up restores them and exit keeps them.
struct Program {
    shell::Wavetrap w;

    // Start-up: stored properties, the settings, the download log (restored
    // as if its window were shown, so the entries of this run join the stored ones).
    void start() {
        shell::StartOptions options;
        options.downloadLog = true;
        warn(w.start(options).settingsProblem);
    }
    // Exit: the settings and the stored properties, the download log with them.
    // A settings directory that cannot be written costs the saved state, not
    // the downloads: said once.
    void exit() { warn(w.stop()); }
    static void warn(const std::string& problem) {
        if (!problem.empty()) std::cerr << "wavetrap-cli: warning: " << problem << "\n";
    }
};

struct GetOptions {
    std::string dir;
    int pace = 0; // 0: the saved position
    bool verbose = false;
    std::vector<std::string> urls;
    bool ftpTlsGiven = false; // --ftp-tls: the mode of ftp:// links for this run
    net::FtpTls ftpTls = net::FtpTls::Off;
    std::int64_t limitRate = -1; // --limit-rate in bytes per second (-1: not given)
    bool noVerify = false;       // --no-verify: the files are not checked as MP3, this run
};

// Parses [-C DIR] [--pace N] and, when wantUrls, the URLs; answers an exit
// status when the command must end at once, -1 otherwise.
// The options get and resume share, for --help.
constexpr const char* GetOptionsHelp =
    "Options:\n"
    "  -C, --directory DIR  download into DIR instead of the current directory\n"
    "  --pace N             the scheduler's pace, 1 (fast) to 10 (default: the setting)\n"
    "  --limit-rate RATE    at most RATE bytes per second for all files together, with k,\n"
    "                       M or G for units of 1024 (500k, 2M); 0: no limit\n"
    "  --cacert FILE        trust the certificates in FILE (PEM) as well as the system's\n"
    "  --ftp-tls MODE       the TLS of ftp:// links for this run: off, offered (AUTH TLS\n"
    "                       when the server has it, else plain) or required (never a\n"
    "                       log-in in clear); default: the setting ftptls, else off\n"
    "  --no-verify          keep what arrives without checking it as MP3 (this run)\n"
    "  -v, --verbose        show every change of a slot's state and each file's check\n"
    "  --help               show this help\n\n"
    "A URL is pending from the moment it is accepted until its file is complete: what\n"
    "is not complete at the end (interrupted, or its site gave up) is kept for resume.\n"
    "Each file that arrives is checked as MP3 audio: one that is no song (a web page,\n"
    "zeros, another format) or a damaged one is moved to rejected/NAME.mp3.rejected and\n"
    "counts as not fetched; its URL, when it served no song, is not fetched again. A\n"
    "URL whose file is still here as it arrived is \"already here\" and not fetched.\n"
    "While standard error is a terminal, the slots' progress is shown there.\n\n"
    "Exit status: 0 when every URL was fetched, 1 when one was not, 2 on an error.\n";

// "--name VALUE" (the value is the next argument) or "--name=VALUE": true and
// the value in v when args[i] is the option; i is moved past what was taken,
// and is args.size() when the value is missing.
bool optionValue(const std::vector<std::string>& args, std::size_t& i, const std::string& name,
                 std::string& v) {
    const std::string& a = args[i];
    if (a.size() > name.size() && a.compare(0, name.size(), name) == 0 && a[name.size()] == '=') {
        v = a.substr(name.size() + 1);
        return true;
    }
    if (a != name) return false;
    if (++i < args.size()) v = args[i];
    return true;
}

int parseOptions(const std::vector<std::string>& args, bool wantUrls, const char* usage, GetOptions& o) {
    bool onlyUrls = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (!onlyUrls && (a == "--help" || a == "-h")) {
            std::cout
                << "Usage: wavetrap-cli " << usage << "\n\n"
                << (wantUrls
                        ? "Downloads the ftp://, ftpes://, ftps://, http:// and https:// URLs through the\n"
                          "fourteen slots, one session per site, resuming partial files.\n\n"
                        : "Downloads again every file whose transfer was under way at the last exit.\n\n")
                << GetOptionsHelp;
            return ExitRows;
        }
        if (!onlyUrls && a == "--") {
            onlyUrls = true;
        } else if (!onlyUrls && (a == "-v" || a == "--verbose")) {
            o.verbose = true;
        } else if (!onlyUrls && a == "--no-verify") {
            o.noVerify = true;
        } else if (!onlyUrls && (a == "-C" || a == "--directory")) {
            if (++i >= args.size()) return fail(a + " needs a directory");
            o.dir = args[i];
        } else if (!onlyUrls && a.rfind("-C", 0) == 0 && a.size() > 2) {
            o.dir = a.substr(2);
        } else if (std::string v; !onlyUrls && optionValue(args, i, "--cacert", v)) {
            if (i >= args.size()) return fail("--cacert needs a file");
            if (const std::string why = shell::trustCertificateFile(v); !why.empty())
                return fail("--cacert: " + why);
        } else if (!onlyUrls && optionValue(args, i, "--ftp-tls", v)) {
            if (i >= args.size()) return fail("--ftp-tls " + shell::ftpTlsModeProblem(""));
            if (!shell::parseFtpTlsMode(v, o.ftpTls)) return fail("--ftp-tls " + shell::ftpTlsModeProblem(v));
            o.ftpTlsGiven = true;
        } else if (!onlyUrls && optionValue(args, i, "--pace", v)) {
            if (i >= args.size()) return fail("--pace needs a number from 1 to 10");
            if (!parsePace(v, o.pace)) return fail("--pace needs a number from 1 to 10, not '" + v + "'");
        } else if (!onlyUrls && optionValue(args, i, "--limit-rate", v)) {
            if (i >= args.size()) return fail("--limit-rate needs a rate such as 500k or 2M");
            if (!net::parseRate(v, o.limitRate))
                return fail("--limit-rate needs a rate such as 500k or 2M, not '" + platform::printable(v) +
                            "'");
        } else if (!onlyUrls && a.size() > 1 && a[0] == '-') {
            return fail("unknown option '" + a + "'");
        } else if (wantUrls) {
            if (const std::string why = download::fileUrlProblem(a); !why.empty())
                return fail(why + ": " + platform::printable(a));
            o.urls.push_back(a);
        } else {
            return fail("unexpected argument '" + a + "'");
        }
    }
    if (wantUrls && o.urls.empty()) return fail("no URL given\nUsage: wavetrap-cli " + std::string(usage));
    return -1;
}

// The settings directory is fixed before the working directory changes, so a
// relative WAVETRAP_CONFIG_DIR keeps naming the same place.
int enterDirectory(const std::string& dir) {
    const std::string config = platform::configDir();
    if (!config.empty() && config[0] != '/') {
        char* cwd = ::getcwd(nullptr, 0);
        if (cwd) {
            ::setenv("WAVETRAP_CONFIG_DIR", (std::string(cwd) + "/" + config).c_str(), 1);
            std::free(cwd);
        }
    }
    if (!dir.empty() && ::chdir(dir.c_str()) != 0)
        return fail("cannot change to directory " + dir + ": " + std::strerror(errno));
    return -1;
}

int runProgram(const GetOptions& o, bool resume) {
    if (int rc = enterDirectory(o.dir); rc >= 0) return rc;
    platform::SettingsLock lock;
    if (int rc = lockSettings(lock); rc >= 0) return rc;
    Program p;
    p.start();
    if (o.ftpTlsGiven) p.w.scheduler.setFtpTls(o.ftpTls); // this run only: the setting stays
    if (o.noVerify) p.w.scheduler.setVerify(false);       // this run only
    const platform::ScopedConnection refusing = reportRefused(p.w.scheduler);
    DownloadRun run;
    run.pace = o.pace > 0 ? o.pace : p.w.cfg.dfatime();
    run.statusRows = ::isatty(STDERR_FILENO) == 1 && !o.verbose;
    run.verbose = o.verbose;
    run.limitRate = o.limitRate;
    if (resume) {
        run.urls = p.w.pending.downloading;
        run.launch = [&p] { p.w.resumePendingDownloads(); };
    } else {
        run.urls = o.urls;
        run.launch = [&p, &o] {
            for (const std::string& url : o.urls)
                p.w.scheduler.launchftp(p.w.urlinfo.info(url));
        };
    }
    if (resume && run.urls.empty()) std::cerr << "wavetrap-cli: no pending downloads\n";
    const int rc = run.urls.empty() ? ExitNone : runDownloads(p.w, run);
    p.exit();
    return rc;
}

constexpr const char* GetUsage = "get [-v] [-C DIR] [--pace N] [--limit-rate RATE] [--cacert FILE] "
                                 "[--ftp-tls off|offered|required] [--no-verify] URL...";
constexpr const char* ResumeUsage =
    "resume [-v] [-C DIR] [--pace N] [--limit-rate RATE] [--cacert FILE] [--ftp-tls off|offered|required] "
    "[--no-verify]";

int getCommand(const std::vector<std::string>& args) {
    GetOptions o;
    if (int rc = parseOptions(args, true, GetUsage, o); rc >= 0) return rc;
    return runProgram(o, false);
}

int resumeCommand(const std::vector<std::string>& args) {
    GetOptions o;
    if (int rc = parseOptions(args, false, ResumeUsage, o); rc >= 0) return rc;
    return runProgram(o, true);
}

const CliCommand getRegistration{
    "get", GetUsage,
    "download FTP and HTTP(S) URLs through the fourteen slots into the current directory "
    "(or DIR), resuming partial files; --pace 1..10 sets the scheduler tick; "
    "--ftp-tls sets the TLS of ftp:// links for this run (default: the "
    "setting ftptls, else off)",
    getCommand};
const CliCommand resumeRegistration{"resume", ResumeUsage,
                                    "download again every file whose transfer was under way at the last exit",
                                    resumeCommand};

} // namespace

bool parsePace(const std::string& text, int& pace) {
    if (text.empty() || text.size() > 2 || !std::all_of(text.begin(), text.end(), ::isdigit)) return false;
    const int v = std::stoi(text);
    if (v < 1 || v > 10) return false;
    pace = v;
    return true;
}

platform::ScopedConnection reportRefused(download::Scheduler& scheduler) {
    return scheduler.hooks.refused.connect([](const std::string& url, const std::string& why) {
        std::cerr << "wavetrap-cli: refused: " << why << ": " << platform::printable(url) << "\n";
    });
}

int runDownloads(shell::Wavetrap& w, const DownloadRun& run) {
    download::Scheduler& scheduler = w.scheduler;
    std::map<std::string, int> wanted; // URL -> copies still to arrive
    for (const std::string& url : run.urls)
        ++wanted[url];
    // A file that arrives stands for its own URL and for every URL whose file
    // was tried at its site instead (the next site, once or more in a row).
    const auto standsFor = [&w](const std::string& want, const std::string& url) {
        std::string at = want;
        for (int i = 0; i <= shell::NextSite::MaxOthers && !at.empty(); ++i) {
            if (at == url) return true;
            at = w.nextSite.triedInstead(at);
        }
        return false;
    };
    std::set<std::string> here;     // wanted URLs that were already here
    std::set<std::string> passedBy; // wanted URLs passed over, told why at once
    int alreadyHere = 0, verified = 0, rejected = 0;
    const auto arrived = [&](const std::string& url, bool isHere) {
        for (auto& [want, left] : wanted) {
            if (left <= 0 || !standsFor(want, url)) continue;
            --left;
            if (isHere && left == 0) here.insert(want);
        }
    };
    const platform::ScopedConnection counting =
        scheduler.hooks.fileDone.connect([&arrived](const std::string& url, bool fetched) {
            if (fetched) arrived(url, false);
        });
    const platform::ScopedConnection skipping =
        w.skipped.connect([&](const std::string& url, const shell::Skip& skip) {
            std::cerr << "wavetrap-cli: " << shell::skipLine(url, skip) << "\n";
            if (skip.kind == shell::Skip::AlreadyHere) {
                ++alreadyHere;
                arrived(url, true);
            } else {
                passedBy.insert(url);
            }
        });
    const platform::ScopedConnection counted =
        w.verified.connect([&verified](const std::string&, const std::string&) { ++verified; });
    // The next site's tries, for the status line and -v.
    const platform::ScopedConnection trying = w.nextSite.status.connect(
        [](const std::string& line) { std::cerr << "wavetrap-cli: " << line << "\n"; });

    const auto fetchedSoFar = [&] {
        int n = 0;
        for (const auto& [url, left] : wanted)
            n += left <= 0 ? 1 : 0;
        return n;
    };

    const StopSignals catching;
    QElapsedTimer took;
    took.start();
    const std::int64_t bytesBefore = scheduler.receivedSoFar();

    // Why each file was not fetched (the latest reason; refused URLs: reportRefused).
    std::map<std::string, std::string> why;
    std::set<std::string> told; // rejected files, said when they were
    const platform::ScopedConnection failing =
        scheduler.hooks.fileFailed.connect([&](const std::string& url, const download::TransferResult& r) {
            why[url] = r.detail;
            if (r.outcome == download::Outcome::NotAudio || r.outcome == download::Outcome::Damaged) {
                // Said at once: the file may yet come from another site.
                ++rejected;
                told.insert(url);
                std::cerr << "wavetrap-cli: rejected: " << platform::printable(url) << ": "
                          << platform::printable(r.detail) << "\n";
            }
        });

    StatusRows rows(run.statusRows);
    platform::ScopedConnection showing, tracing;
    if (run.verbose) {
        showing =
            scheduler.hooks.statusmemo.connect([](const std::string& line) { std::cerr << line << "\n"; });
        tracing = scheduler.hooks.trace.connect(
            [](const std::string& line) { std::cerr << "state " << line << "\n"; });
    }
    const std::size_t errorsBefore = scheduler.errorlog().size();
    scheduler.setPace(run.pace);
    if (run.limitRate >= 0) net::RateLimit::shared().setBytesPerSecond(run.limitRate);
    // For tests: a scheduler tick shorter than any track-bar position.
    if (const char* tick = std::getenv("WAVETRAP_TICK_MS")) {
        const int ms = std::atoi(tick);
        if (ms > 0) scheduler.dfatimer.setInterval(ms);
    }
    if (run.launch) run.launch();
    scheduler.dfatimer.setEnabled(true);
    // Asleep between events; a look every 100 ms at a signal and the rows.
    // The end is seen as soon as the last slot went idle, once the calls of
    // that moment are done (a slot's step may hand it new work).
    QEventLoop loop;
    QTimer look;
    int looks = 0;
    QObject::connect(&look, &QTimer::timeout, &loop, [&] {
        if (scheduler.idle() || stopSignal != 0) {
            loop.quit();
            return;
        }
        if (++looks % 5 == 0) rows.draw(scheduler, fetchedSoFar(), static_cast<int>(run.urls.size()));
    });
    bool endLookQueued = false;
    const platform::ScopedConnection ending = scheduler.hooks.slotChanged.connect([&](int n) {
        if (endLookQueued || scheduler.slot(n).phase != download::Phase::Idle) return;
        endLookQueued = true;
        QTimer::singleShot(0, &loop, [&] {
            endLookQueued = false;
            if (scheduler.idle()) loop.quit();
        });
    });
    look.start(100);
    if (!scheduler.idle()) loop.exec();
    look.stop();
    scheduler.dfatimer.setEnabled(false);
    rows.clear();

    showing.disconnect();
    tracing.disconnect();
    if (run.verbose)
        for (std::size_t i = std::min(errorsBefore, scheduler.errorlog().size());
             i < scheduler.errorlog().size(); ++i)
            std::cerr << "error: " << platform::printable(scheduler.errorlog()[i]) << "\n";

    int missing = 0, fetched = 0;
    for (const auto& [url, left] : wanted) {
        if (left <= 0) continue;
        ++missing;
        if (passedBy.count(url) > 0 || told.count(url) > 0) continue; // said when it happened
        const auto it = why.find(url);
        const std::string reason = it != why.end() ? it->second : stopSignal ? "interrupted" : "not started";
        std::cerr << "wavetrap-cli: not fetched: " << platform::printable(url) << ": "
                  << platform::printable(reason) << "\n";
    }
    fetched = static_cast<int>(wanted.size()) - missing - static_cast<int>(here.size());
    if (stopSignal) std::cerr << "wavetrap-cli: interrupted; the downloads under way are kept for 'resume'\n";
    char summary[256];
    std::snprintf(
        summary, sizeof summary,
        "wavetrap-cli: %d %s fetched, %lld bytes received in %.1f s, %d not fetched, %d verified, %d "
        "rejected, %d already here\n",
        fetched, fetched == 1 ? "file" : "files",
        static_cast<long long>(scheduler.receivedSoFar() - bytesBefore), took.elapsed() / 1000.0, missing,
        verified, rejected, alreadyHere);
    std::cerr << summary;
    return missing == 0 && !stopSignal ? ExitRows : ExitNone;
}

} // namespace cli
