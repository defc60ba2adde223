#pragma once
// The search road of wavetrap-cli, in pieces another subcommand or option can
// reuse: run a search to its end, then format the result table.

#include "results/result_table.h"
#include "shell/wavetrap.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace cli {

struct SearchOptions {
    std::string phrase;               // the words joined by single spaces
    bool useEngines = false;          // search these entries instead of the saved list
    std::vector<std::string> engines; // --engine, in the given order
    bool useProxy = false;            // --proxy HOST[:PORT]
    std::string proxyHost, proxyPort; // proxyPort empty: the saved port
    long long timeoutMs = 60000;      // --timeout; 0 = wait for every query
    bool download = false;            // --download: then fetch every row of the table
    int pace = 0;                     // --pace 1..10 for the download; 0 = the saved position
    std::int64_t limitRate = -1;      // --limit-rate in bytes per second (-1: not given)
    bool noVerify = false;            // --no-verify: the fetched files are not checked, this run
    bool ftpTlsGiven = false;         // --ftp-tls: the TLS of ftp:// links for the download
    net::FtpTls ftpTls = net::FtpTls::Off;
    bool verbose = false;   // -v: every query's outcome on standard error
    bool httpLinks = false; // --http-links: offer http:// and https:// links too (this run)
};

// Dispatches the search and runs until every query has ended (or cancels the
// rest at the time-out, or at SIGINT/SIGTERM: see stopSignal in cli_signals.h). started hears
// the number of queries sent. A query that failed is told on standard error
// (with verbose, every query's outcome). Answers false when a query could not
// be started (the message is on standard error).
bool searchAll(shell::Wavetrap& w, const SearchOptions& opt,
               const std::function<void(std::uint64_t)>& started);

// The table as printed: Filename, Score, Site, URL separated by tabs, one row
// per line, in table order.
std::string formatTable(const results::ResultTable& table);
// Prints it on standard output; answers false when it could not be written.
bool printTable(const results::ResultTable& table);

} // namespace cli
