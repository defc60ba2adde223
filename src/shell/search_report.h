#pragma once
// What a search came to, told in one line: when it starts, how many engines
// it asks; when its last query has ended, how many files it added to the
// table from how many engines, and which engines failed and why. Every failed
// query also gets a line of its own for the details window.

#include "platform/signal.h"
#include "results/result_table.h"
#include "search/dispatch.h"

#include <cstdint>
#include <string>
#include <vector>

namespace shell {

struct SearchOutcome {
    int engines = 0;  // queries started
    int answered = 0; // ... that brought a page (status 200)
    int files = 0;    // rows the search added to the table
    bool cancelled = false;
    struct Failure {
        std::string engine; // host[:port] of the query
        std::string reason; // "404 Not Found", "Connection refused (Error #10061)", ...
    };
    std::vector<Failure> failed;
};

// The line for the status bar.
std::string searchStartedText(int engines);
std::string searchReportText(const SearchOutcome& outcome);
// The engine a query URL went to: its host and port, without scheme and path.
std::string engineOf(const std::string& queryUrl);

class SearchReport {
public:
    // At most this many failed engines are named in the line; the details
    // window has every one.
    static constexpr std::size_t NamedFailures = 3;

    SearchReport(search::SearchDispatch& dispatch, results::ResultTable& table);
    SearchReport(const SearchReport&) = delete;
    SearchReport& operator=(const SearchReport&) = delete;

    bool running() const { return running_; }
    // The search under way, or the last one.
    const SearchOutcome& outcome() const { return outcome_; }

    platform::Signal<const std::string&> statusLine; // a search started or ended
    platform::Signal<const std::string&> detailLine; // a query failed: "Search: URL: reason"

private:
    void dispatchChanged();
    void queryEnded(const search::QueryEnd& end);

    search::SearchDispatch& dispatch_;
    SearchOutcome outcome_;
    std::uint64_t startedBefore_ = 0;
    int ended_ = 0; // queries of this search that told their end
    bool running_ = false;
    platform::Receiver receiver_;
};

} // namespace shell
