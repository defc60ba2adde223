#include "shell/search_report.h"

#include "net/httpprot.h"
#include "platform/text.h"

namespace shell {

namespace {

std::string count(int n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

} // namespace

std::string engineOf(const std::string& queryUrl) {
    std::size_t from = 0;
    if (const std::size_t sep = queryUrl.find("://"); sep != std::string::npos && sep <= 5) from = sep + 3;
    const std::size_t end = queryUrl.find_first_of("/?", from);
    return queryUrl.substr(from, end == std::string::npos ? std::string::npos : end - from);
}

std::string searchStartedText(int engines) {
    return "Searching " + count(engines, "engine", "engines") + "...";
}

std::string searchReportText(const SearchOutcome& o) {
    std::string text = o.cancelled ? "Search cancelled: found " : "Found ";
    text += o.files == 0 ? std::string("no files") : count(o.files, "file", "files");
    if (o.answered == 0 && !o.failed.empty())
        text += o.engines == 1 ? ": the engine failed" : ": no engine answered";
    else if (o.answered == o.engines)
        text += " from " + count(o.engines, "engine", "engines");
    else
        text += " from " + std::to_string(o.answered) + " of " + count(o.engines, "engine", "engines");
    if (o.failed.empty()) return text;
    text += o.answered == 0 ? "; " : "; failed: ";
    for (std::size_t i = 0; i < o.failed.size() && i < SearchReport::NamedFailures; ++i) {
        if (i > 0) text += ", ";
        text += o.failed[i].engine + " (" + o.failed[i].reason + ")";
    }
    if (o.failed.size() > SearchReport::NamedFailures)
        text += " and " + std::to_string(o.failed.size() - SearchReport::NamedFailures) +
                " more (Windows > Details)";
    return text;
}

SearchReport::SearchReport(search::SearchDispatch& dispatch, results::ResultTable& table)
    : dispatch_(dispatch) {
    startedBefore_ = dispatch_.queriesStarted();
    dispatch_.changed.connect(receiver_, [this] { dispatchChanged(); });
    dispatch_.queryEnded.connect(receiver_, [this](const search::QueryEnd& end) { queryEnded(end); });
    table.List.rowsInserted.connect(receiver_, [this](int first, int last) {
        if (running_) outcome_.files += last - first + 1;
    });
}

void SearchReport::dispatchChanged() {
    const int started = static_cast<int>(dispatch_.queriesStarted() - startedBefore_);
    if (!running_) {
        if (dispatch_.clientlist.empty()) return;
        running_ = true;
        outcome_ = SearchOutcome{};
        outcome_.engines = started;
        ended_ = 0;
        statusLine(searchStartedText(started));
        return;
    }
    outcome_.engines = started; // a second search joined this one
    if (!dispatch_.clientlist.empty()) return;
    running_ = false;
    startedBefore_ = dispatch_.queriesStarted();
    // Queries cancelled leave the list before (or without) telling their end.
    if (ended_ < outcome_.engines) outcome_.cancelled = true;
    statusLine(searchReportText(outcome_));
}

void SearchReport::queryEnded(const search::QueryEnd& end) {
    if (!running_) return;
    ++ended_;
    if (end.error == net::THttpCli::AbortedError || end.failure == net::HttpFailure::Aborted) {
        outcome_.cancelled = true;
        return;
    }
    if (end.status == 200 && end.error == 0 && end.failure == net::HttpFailure::None) {
        ++outcome_.answered;
        return;
    }
    // A reply's status and reason, or the client's reason when none came;
    // the server's words shown as text.
    const std::string why = platform::printable(
        end.failure == net::HttpFailure::None ? std::to_string(end.status) + " " + end.reason : end.reason);
    outcome_.failed.push_back({platform::printable(engineOf(end.url)), why});
    detailLine("Search: " + platform::printable(end.url) + ": " + why);
}

} // namespace shell
