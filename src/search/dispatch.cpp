// Building the queries of a search and sending them all at once.

#include "search/dispatch.h"

#include "search/dispatch_query.h"
#include "url/urlinfo.h"

#include <exception>

namespace search {

SearchDispatch::SearchDispatch(EngineList& startlinks, const ProxyControls& proxy, LinkExtractor& extractor)
    : startlinks_(startlinks), proxy_(proxy), extractor_(extractor) {}

SearchDispatch::~SearchDispatch() {
    for (auto& q : queries_) {
        q->client->OnDocData.disconnectAll();
        q->client->OnRequestDone.disconnectAll();
        try {
            q->client->Abort();
        } catch (const std::exception&) { // a client that cannot abort is released all the same
        }
    }
}

void SearchDispatch::setPbar(int position) {
    pbarPosition_ = std::min(position, PbarMax);
}

void SearchDispatch::searchKeyDown(int key) {
    if (key != Key_Return) return;
    if (url::findname(search.Text, search.Items) == -1)
        search.Items.insert(search.Items.begin(), search.Text);
    Start_search_butClick();
}

void SearchDispatch::Start_search_butClick() {
    Start_search_butClick(startlinks_.Items());
}

void SearchDispatch::Start_search_butClick(const platform::StringList& engines) {
    setPbar(0);
    search.Text = queryPhrase(search.Text);
    for (const std::string& entry : engines)
        htmlbuf.push_back(entry + search.Text);
    changed();
    ExecSimultaneous();
}

void SearchDispatch::ExecSimultaneous() {
    const std::size_t n = htmlbuf.size();
    if (n == 0) return;
    std::exception_ptr firstError;
    for (std::size_t i = 0; i < n && !htmlbuf.empty(); ++i) {
        auto q = std::make_unique<Query>();
        net::THttpCli* cli = q->client.get();
        if (proxy_.useproxy) {
            cli->Proxy = proxy_.proxynamein;
            cli->ProxyPort = proxy_.proxyportin;
        }
        cli->URL = htmlbuf.front();
        htmlbuf.erase(htmlbuf.begin());
        cli->OnRequestDone.connect([this](net::THttpCli* s, net::THttpRequest rq, std::uint16_t err) {
            HttpCliItemRequestDone(s, rq, err);
        });
        cli->OnDocData.connect(
            [this](net::THttpCli* s, const char* b, std::int32_t len) { HttpCli1DocData(s, b, len); });
        clientlist.push_back(cli);
        queries_.push_back(std::move(q));
        try {
            cli->GetASync();
            ++started_;
        } catch (...) {
            // A query that cannot even start (an entry without a host, say)
            // is dropped; the rest of the search still goes out.
            std::erase(clientlist, cli);
            std::erase_if(queries_, [cli](const auto& p) { return p->client.get() == cli; });
            if (!firstError) firstError = std::current_exception();
        }
    }
    if (!clientlist.empty()) {
        pbarVisible_ = true;
        cancelbutVisible_ = true;
    }
    changed();
    if (firstError) std::rethrow_exception(firstError);
}

} // namespace search
