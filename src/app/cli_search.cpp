// wavetrap-cli search [OPTIONS] PHRASE...: sends the phrase to every search
// engine of the list at once, scans the result pages as they arrive and
// prints the result table.

#include "app/cli_search.h"
#include "app/cli_commands.h"
#include "app/cli_get.h"
#include "app/cli_signals.h"
#include "download/fileurl.h"
#include "download/queue.h"
#include "net/httpprot.h"
#include "net/rate_limit.h"
#include "platform/profile.h"
#include "platform/signal.h"
#include "platform/text.h"
#include "search/engines.h"
#include "shell/messages.h"

#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <exception>
#include <iostream>
#include <limits>
#include <set>
#include <unistd.h>

namespace cli {

namespace {

constexpr const char* Usage = "search [OPTIONS] PHRASE...";

void help() {
    std::cout << "Usage: wavetrap-cli search [OPTIONS] PHRASE...\n\n"
                 "Sends PHRASE (its words joined by single spaces; every space is sent as \"+\") to every\n"
                 "search engine of the engine list at once, scans the result pages as they arrive for\n"
                 "quoted ftp:// links to .mp3 files and prints the result table: one row per line, the\n"
                 "cells Filename, Score, Site and URL separated by tabs, highest score first.\n\n"
                 "Options:\n"
                 "  --engine ENTRY      search this engine entry (host/path?field=) instead of the saved\n"
                 "                      list; repeat it for several, they are queried in the given order\n"
                 "  --proxy HOST[:PORT] go through this HTTP proxy (PORT defaults to the saved proxy port)\n"
                 "  --cacert FILE       trust the certificates in FILE (PEM) as well as the system's, for\n"
                 "                      https:// engines (and FTPS with --download)\n"
                 "  --timeout SECONDS   cancel the queries still running after SECONDS (default 60) and\n"
                 "                      print what was found so far\n"
                 "  --download          then download every file of the table into the current directory,\n"
                 "                      as wavetrap-cli get does (exit status as get's): the best row of\n"
                 "                      each file name, the others tried when it fails for good\n"
                 "  --limit-rate RATE   at most RATE bytes per second for --download (500k, 2M; 0: none)\n"
                 "  --no-verify         --download keeps what arrives without checking it as MP3, this run\n"
                 "  --pace N            the scheduler's pace for --download, 1 (fast) to 10\n"
                 "  --ftp-tls MODE      the TLS of ftp:// links for --download: off, offered (AUTH TLS\n"
                 "                      when the server has it, else plain) or required (never a log-in\n"
                 "                      in clear); default: the setting ftptls, else off\n"
                 "  --http-links        offer quoted http:// and https:// links to .mp3 files too, this\n"
                 "                      run (default: the setting httplinks, else off)\n"
                 "  -v, --verbose       show every query's outcome (a failed one is always shown)\n"
                 "  --help              show this help\n\n"
                 "The engine list, the proxy and the site statistics come from the settings directory\n"
                 "($WAVETRAP_CONFIG_DIR, else $XDG_CONFIG_HOME/wavetrap, else ~/.config/wavetrap); an empty\n"
                 "list is filled with the built-in engines. The settings files are left as the program\n"
                 "leaves them at exit. While standard error is a terminal, progress is shown there.\n"
                 "SIGINT or SIGTERM ends the search: the rows found so far are printed and saved.\n\n"
                 "Exit status: 0 when at least one row was printed, 1 when none, 2 on an error,\n"
                 "130 or 143 after SIGINT or SIGTERM.\n";
}

// A line break would end the request line of every query early and turn the
// rest into lines of the server's (or proxy's) choosing.
bool hasLineBreak(const std::string& text) {
    return text.find_first_of("\r\n") != std::string::npos;
}

bool parsePort(const std::string& text) {
    if (text.empty() || text.size() > 5) return false;
    if (!std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) return false;
    const int port = std::stoi(text);
    return port >= 1 && port <= 65535;
}

// Answers an error message, or an empty text.
std::string parse(const std::vector<std::string>& args, SearchOptions& opt, bool& helpOnly) {
    std::vector<std::string> words;
    bool options = true;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&](std::string& out) {
            const std::size_t eq = a.find('=');
            if (eq != std::string::npos) {
                out = a.substr(eq + 1);
                return true;
            }
            if (i + 1 >= args.size()) return false;
            out = args[++i];
            return true;
        };
        auto is = [&](const char* name) { return a == name || (a.rfind(std::string(name) + "=", 0) == 0); };
        if (!options || a == "-" || a.empty() || a[0] != '-') {
            words.push_back(a);
        } else if (a == "--") {
            options = false;
        } else if (a == "--help" || a == "-h") {
            helpOnly = true;
            return {};
        } else if (is("--engine")) {
            std::string e;
            if (!value(e)) return "--engine needs an engine entry";
            if (e.empty()) return "--engine needs a non-empty engine entry";
            if (hasLineBreak(e)) return "--engine: an engine entry cannot hold a line break";
            opt.engines.push_back(e);
            opt.useEngines = true;
        } else if (is("--cacert")) {
            std::string file;
            if (!value(file) || file.empty()) return "--cacert needs a file";
            if (const std::string why = shell::trustCertificateFile(file); !why.empty())
                return "--cacert: " + why;
        } else if (is("--proxy")) {
            std::string p;
            if (!value(p)) return "--proxy needs HOST[:PORT]";
            std::size_t colon = p.rfind(':');
            if (const std::size_t close = p.rfind(']'); close != std::string::npos && colon < close)
                colon = std::string::npos; // "[::1]": the colons are the address's
            opt.proxyHost = colon == std::string::npos ? p : p.substr(0, colon);
            opt.proxyPort = colon == std::string::npos ? std::string() : p.substr(colon + 1);
            if (opt.proxyHost.empty()) return "--proxy needs a host name: '" + p + "'";
            if (colon != std::string::npos && !parsePort(opt.proxyPort))
                return "--proxy: '" + opt.proxyPort + "' is not a port number (1 to 65535)";
            opt.useProxy = true;
        } else if (a == "-v" || a == "--verbose") {
            opt.verbose = true;
        } else if (a == "--http-links") {
            opt.httpLinks = true;
        } else if (a == "--download") {
            opt.download = true;
        } else if (a == "--no-verify") {
            opt.noVerify = true;
        } else if (is("--ftp-tls")) {
            std::string v;
            if (!value(v)) return "--ftp-tls " + shell::ftpTlsModeProblem("");
            if (!shell::parseFtpTlsMode(v, opt.ftpTls)) return "--ftp-tls " + shell::ftpTlsModeProblem(v);
            opt.ftpTlsGiven = true;
        } else if (is("--limit-rate")) {
            std::string v;
            if (!value(v) || !net::parseRate(v, opt.limitRate))
                return "--limit-rate needs a rate such as 500k or 2M";
        } else if (is("--pace")) {
            std::string v;
            if (!value(v) || !parsePace(v, opt.pace)) return "--pace needs a number from 1 to 10";
        } else if (is("--timeout")) {
            std::string t;
            if (!value(t)) return "--timeout needs a number of seconds";
            char* end = nullptr;
            errno = 0;
            const double s = std::strtod(t.c_str(), &end);
            if (t.empty() || *end != '\0' || errno != 0 || !std::isfinite(s) || s <= 0 || s > 31536000)
                return "--timeout: '" + t + "' is not a positive number of seconds";
            opt.timeoutMs = static_cast<long long>(std::ceil(s * 1000));
        } else {
            return "unknown option '" + a + "' (see wavetrap-cli search --help)";
        }
    }
    if (words.empty()) return "no search phrase given (see wavetrap-cli search --help)";
    if (std::any_of(words.begin(), words.end(), hasLineBreak)) return "the phrase cannot hold a line break";
    for (std::size_t i = 0; i < words.size(); ++i)
        opt.phrase += (i ? " " : "") + words[i];
    return {};
}

// The progress line on standard error: queries finished of total, links found.
class Progress {
public:
    explicit Progress(shell::Wavetrap& w) : w_(w), on_(::isatty(STDERR_FILENO) == 1) {
        if (!on_) return;
        w_.dispatch.changed.connect(receiver_, [this] { show(); });
        w_.table.List.rowsInserted.connect(receiver_, [this](int, int) { show(); });
    }
    ~Progress() {
        if (!on_) return;
        if (!last_.empty()) std::fputs("\r\033[K", stderr);
    }
    void total(std::uint64_t n) {
        total_ = n;
        counting_ = true;
        show();
    }

private:
    void show() {
        if (!on_ || !counting_) return;
        const std::uint64_t done = w_.dispatch.queriesFinished();
        const std::string text = "search: " + std::to_string(std::min(done, total_)) + "/" +
                                 std::to_string(total_) + " queries finished, " +
                                 std::to_string(w_.table.List.Count()) + " links found";
        if (text == last_) return;
        last_ = text;
        std::fprintf(stderr, "\r\033[K%s", text.c_str());
        std::fflush(stderr);
    }

    shell::Wavetrap& w_;
    bool on_;
    std::uint64_t total_ = 0;
    bool counting_ = false; // the number of queries is known
    std::string last_;
    platform::Receiver receiver_;
};

int runSearch(const std::vector<std::string>& args) {
    SearchOptions opt;
    bool helpOnly = false;
    if (const std::string err = parse(args, opt, helpOnly); !err.empty()) return fail("search: " + err);
    if (helpOnly) {
        help();
        return ExitRows;
    }

    platform::SettingsLock lock;
    if (int rc = lockSettings(lock); rc >= 0) return rc;
    shell::Wavetrap w;
    // A settings directory that cannot be written costs the saved state, not
    // the rows: said once, and the search stands.
    auto warn = [](const std::string& problem) {
        if (!problem.empty()) std::cerr << "wavetrap-cli: warning: " << problem << "\n";
    };
    shell::StartOptions options;
    options.downloadLog = opt.download; // the download log, as get keeps it
    warn(w.start(options).settingsProblem);

    bool errors = false;
    {
        Progress progress(w);
        errors = !searchAll(w, opt, [&](std::uint64_t queries) { progress.total(queries); });
    }

    bool failed = errors;
    const int stopped = stopSignal;
    if (!printTable(w.table)) {
        fail(std::string("search: cannot write the table: ") + std::strerror(errno));
        failed = true;
    }
    int downloaded = ExitNone;
    if (opt.download && !failed && !stopped && w.table.List.Count() > 0) {
        // Every file of the table once: the best row of each name (the table
        // is in the order of the scores); the other rows of the name are the
        // sites it is tried at next when that one fails for good.
        // A row that served no song before is passed over here, so the next
        // row of its name is the one fetched.
        if (opt.noVerify) w.scheduler.setVerify(false); // this run only
        DownloadRun run;
        std::set<std::string> names;
        for (const platform::ListItem& row : w.table.List.Items()) {
            std::string name = row.cell(results::ResultTable::ColFilename);
            std::transform(name.begin(), name.end(), name.begin(),
                           [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
            const std::string url = row.cell(results::ResultTable::ColUrl);
            if (names.count(name) > 0) continue;
            if (const auto skip = w.skipOf(url); skip && skip->kind == shell::Skip::ServedNoSong) {
                std::cerr << "wavetrap-cli: " << shell::skipLine(url, *skip) << "\n";
                continue;
            }
            names.insert(name);
            run.urls.push_back(url);
        }
        run.limitRate = opt.limitRate;
        run.pace = opt.pace > 0 ? opt.pace : w.cfg.dfatime();
        run.statusRows = ::isatty(STDERR_FILENO) == 1;
        if (opt.ftpTlsGiven) w.scheduler.setFtpTls(opt.ftpTls); // this run only
        const platform::ScopedConnection refusing = reportRefused(w.scheduler);
        run.launch = [&w, &run] {
            for (const std::string& url : run.urls)
                w.scheduler.launchftp(w.urlinfo.info(url));
        };
        downloaded = run.urls.empty() ? ExitNone : runDownloads(w, run);
    }
    try {
        warn(w.stop());
    } catch (const std::exception& e) {
        fail(std::string("search: ") + e.what());
        failed = true;
    }
    if (stopped) return 128 + stopped;
    if (failed) return ExitError;
    if (opt.download) return downloaded;
    return w.table.List.Count() > 0 ? ExitRows : ExitNone;
}

const CliCommand command("search", Usage, "send a phrase to every search engine and print the result table",
                         runSearch);

} // namespace

namespace {

// Runs the event loop, asleep between events, until done() holds, a stop
// signal came or ms milliseconds have passed (ms <= 0: no limit); answers done().
bool waitFor(search::SearchDispatch& d, const std::function<bool()>& done, long long ms) {
    if (done()) return true;
    QEventLoop loop;
    const platform::ScopedConnection watching = d.changed.connect([&] {
        if (done()) loop.quit();
    });
    QTimer limit;
    limit.setSingleShot(true);
    limit.setTimerType(Qt::PreciseTimer); // a coarse timer may end a 60 s limit 3 s early
    QObject::connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
    if (ms > 0) limit.start(static_cast<int>(std::min<long long>(ms, std::numeric_limits<int>::max())));
    QTimer look; // a signal only sets a flag
    QObject::connect(&look, &QTimer::timeout, &loop, [&] {
        if (stopSignal != 0) loop.quit();
    });
    look.start(100);
    loop.exec();
    return done();
}

// The outcome of one query as told on standard error. cutAtMs: the query was
// cancelled at that time limit.
std::string outcome(const std::string& url, int status, const std::string& reason, int error,
                    std::int64_t bytes, long long cutAtMs) {
    if (cutAtMs > 0) {
        char limit[32];
        std::snprintf(limit, sizeof limit, "%g", static_cast<double>(cutAtMs) / 1000);
        return "search: " + url + ": no complete answer within the time limit of " + limit + " s (" +
               std::to_string(bytes) + " bytes received); cancelled";
    }
    std::string text = "search: " + url + ": " + std::to_string(status) + " " + reason;
    if (error != 0) text += " (error " + std::to_string(error) + ")";
    if (status == 200) text += ", " + std::to_string(bytes) + " bytes";
    return text;
}

} // namespace

bool searchAll(shell::Wavetrap& w, const SearchOptions& opt,
               const std::function<void(std::uint64_t)>& started) {
    if (opt.useProxy) { // as if "Use proxy:" were checked with these values
        w.proxyControls.useproxy = true;
        w.proxyControls.proxynamein = opt.proxyHost;
        if (!opt.proxyPort.empty()) w.proxyControls.proxyportin = opt.proxyPort;
    }
    if (opt.httpLinks) w.extractor.offerHttpLinks([] { return true; }); // this run only
    search::SearchDispatch& d = w.dispatch;
    bool ok = true;
    const StopSignals catching;
    // A query that failed says why (an engine that answers 404, a proxy that
    // refuses, a name that does not resolve); -v tells every outcome.
    // Through a proxy, the proxy is named: its refusal reads like the engine's.
    const search::ProxyControls& proxy = w.proxyControls;
    const std::string via = proxy.useproxy
                                ? " (through the proxy " + proxy.proxynamein +
                                      (proxy.proxyportin.empty() ? "" : ":" + proxy.proxyportin) + ")"
                                : "";
    bool timedOut = false;
    platform::ScopedConnection outcomes = d.queryDone.connect(
        [&opt, &via, &timedOut](const std::string& url, int status, const std::string& reason, int error,
                                std::int64_t bytes) {
            const bool aborted = error == net::THttpCli::AbortedError;
            const bool failedQuery = status != 200 || (error != 0 && !aborted);
            // The reason is the server's text (or holds it: a banner, a relocation).
            if (opt.verbose || failedQuery)
                std::cerr << "wavetrap-cli: "
                          << platform::printable(outcome(url, status, reason, error, bytes,
                                                         timedOut && aborted ? opt.timeoutMs : 0) +
                                                 via)
                          << "\n";
        });
    const std::uint64_t before = d.queriesStarted();
    d.search.Text = opt.phrase;
    d.search.Items.insert(d.search.Items.begin(), d.search.Text);
    try {
        if (opt.useEngines)
            d.Start_search_butClick(opt.engines);
        else
            d.Start_search_butClick();
    } catch (const std::exception& e) {
        fail("search: " + platform::printable(e.what())); // it may name an engine's host
        ok = false;
    }
    if (started) started(d.queriesStarted() - before);

    if (!waitFor(
            d, [&d] { return d.clientlist.empty(); }, opt.timeoutMs)) {
        timedOut = stopSignal == 0;
        d.cancelbutClick(); // as Cancel does
    }
    // Every client reports its end (an aborted one at once) and is released.
    const int stopped = stopSignal;
    stopSignal = 0;
    waitFor(
        d, [&d] { return d.clientlist.empty() && d.clientsAlive() == 0; }, 10000);
    stopSignal = stopped;
    return ok;
}

std::string formatTable(const results::ResultTable& table) {
    std::string out;
    for (const platform::ListItem& row : table.List.Items()) {
        for (std::size_t c = 0; c < 4; ++c) {
            if (c) out += '\t';
            out += platform::printable(row.cell(c)); // page text: no control reaches the terminal
        }
        out += '\n';
    }
    return out;
}

bool printTable(const results::ResultTable& table) {
    const std::string out = formatTable(table);
    return (out.empty() || std::fwrite(out.data(), 1, out.size(), stdout) == out.size()) &&
           std::fflush(stdout) == 0;
}

} // namespace cli
