#pragma once
// A search: the phrase goes to every engine of the list at once, one HTTP
// client per query, all started together; each result page is scanned block
// by block as it arrives (one scan state per query, so a link cut between two
// blocks is still found); the progress bar grows by 10 per finished query and
// disappears with the cancel button when the last one has ended.

#include "platform/listview.h"
#include "platform/signal.h"
#include "search/engines.h"
#include "search/link_extraction.h"
#include "search/proxy_controls.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace net {
class THttpCli;
enum class HttpFailure;
} // namespace net

namespace search {

// How one query of a search ended.
struct QueryEnd {
    std::string url;
    int status = 0;     // the HTTP status (404 too when no reply came)
    std::string reason; // the server's reason phrase, or the client's
    int error = 0;      // the completion's error code
    std::int64_t bytes = 0;
    net::HttpFailure failure{}; // None: a reply came
};

class SearchDispatch {
public:
    static constexpr int Key_Return = 13;
    static constexpr int PbarMax = 150; // the progress bar's maximum
    static constexpr int PbarStep = 10; // added per finished query

    SearchDispatch(EngineList& startlinks, const ProxyControls& proxy, LinkExtractor& extractor);
    // Clients still in flight are aborted quietly and released.
    ~SearchDispatch();
    SearchDispatch(const SearchDispatch&) = delete;
    SearchDispatch& operator=(const SearchDispatch&) = delete;

    SearchBox search;                       // the phrase and its history
    platform::StringList htmlbuf;           // query URLs built and not yet sent
    std::vector<net::THttpCli*> clientlist; // clients whose query is in flight, in order of creation

    // The progress display: pbar (0 .. 150) and the cancel button.
    int pbarPosition() const { return pbarPosition_; }
    bool pbarVisible() const { return pbarVisible_; }
    bool cancelbutVisible() const { return cancelbutVisible_; }

    // Queries started and finished since start (for a progress line).
    std::uint64_t queriesStarted() const { return started_; }
    std::uint64_t queriesFinished() const { return finished_; }
    // Clients created and not yet released.
    std::size_t clientsAlive() const { return queries_.size() + releasing_; }

    // Every change of the queue, the client list or the progress display.
    platform::Signal<> changed;
    // Every query's outcome when it ends: its URL, the HTTP status and reason
    // (status 404 and the client's reason when it failed before or without
    // an answer), the completion's error code and the bytes of the page.
    platform::Signal<const std::string&, int, const std::string&, int, std::int64_t> queryDone;
    // The same as one value, with whether a reply came at all.
    platform::Signal<const QueryEnd&> queryEnded;

    // Search box: on Enter, the phrase joins the top of the history (it is
    // always added again) and the search starts.
    void searchKeyDown(int key);
    // Builds one query per engine entry (the phrase with "+" for spaces
    // appended to the entry), writes the changed phrase back into the box and
    // dispatches.
    void Start_search_butClick();
    // The same with other engine entries than the list's.
    void Start_search_butClick(const platform::StringList& engines);
    // Starts one client per queued query, through the proxy when "Use proxy:"
    // is checked. A query whose client refuses to start is dropped and the
    // others still go; the first such error is thrown once all are handled.
    void ExecSimultaneous();

    // A block of a result page (all of it, zero bytes included).
    void HttpCli1DocData(net::THttpCli* sender, const char* buffer, int len);
    // A query has ended, however: the client leaves the list and is released
    // after its event has returned; the bar grows; the last one hides it.
    void HttpCliItemRequestDone(net::THttpCli* sender, int rqType, int error);
    // Empties the queue and aborts every query in flight.
    void cancelbutClick();

private:
    struct Query;
    Query* find(net::THttpCli* client);
    void setPbar(int position);

    EngineList& startlinks_;
    const ProxyControls& proxy_;
    LinkExtractor& extractor_;
    std::vector<std::unique_ptr<Query>> queries_;
    std::size_t lastFound_ = 0; // where find() last found its query: blocks come in runs
    std::size_t releasing_ = 0;
    int pbarPosition_ = 0;
    bool pbarVisible_ = false;
    bool cancelbutVisible_ = false;
    std::uint64_t started_ = 0;
    std::uint64_t finished_ = 0;
    platform::Lifetime lifetime_; // the posted release of a client looks at it
};

} // namespace search
