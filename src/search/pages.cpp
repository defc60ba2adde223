// The result pages of a search as they arrive, the end of each query and the
// cancelling of the whole search.

#include "platform/eventloop.h"
#include "search/dispatch.h"
#include "search/dispatch_query.h"

namespace search {

SearchDispatch::Query* SearchDispatch::find(net::THttpCli* client) {
    if (lastFound_ < queries_.size() && queries_[lastFound_]->client.get() == client)
        return queries_[lastFound_].get();
    for (std::size_t i = 0; i < queries_.size(); ++i) {
        if (queries_[i]->client.get() == client) {
            lastFound_ = i;
            return queries_[i].get();
        }
    }
    return nullptr;
}

void SearchDispatch::HttpCli1DocData(net::THttpCli* sender, const char* buffer, int len) {
    Query* q = find(sender);
    if (!q || !buffer || len <= 0) return;
    // The whole block: a zero byte in it must not hide the links after it.
    extractor_.compileClick(std::string_view(buffer, static_cast<std::size_t>(len)), q->scan);
}

void SearchDispatch::HttpCliItemRequestDone(net::THttpCli* sender, int /*rqType*/, int error) {
    if (auto it = std::find(clientlist.begin(), clientlist.end(), sender); it != clientlist.end())
        clientlist.erase(it);
    // Release the client once its own event has returned.
    auto pos = std::find_if(queries_.begin(), queries_.end(),
                            [sender](const auto& q) { return q->client.get() == sender; });
    if (pos != queries_.end()) {
        queryDone(sender->URL, sender->StatusCode(), sender->ReasonPhrase(), error, sender->RcvdCount());
        queryEnded(QueryEnd{sender->URL, sender->StatusCode(), sender->ReasonPhrase(), error,
                            sender->RcvdCount(), sender->Failure()});
        std::shared_ptr<Query> done(std::move(*pos));
        queries_.erase(pos);
        // A page cut short by Abort is not settled: its unfinished end is no link.
        if (error != net::THttpCli::AbortedError) extractor_.endPage(done->scan);
        ++releasing_;
        platform::post([done, alive = lifetime_.watch(), this]() mutable {
            done.reset();
            if (!alive) return;
            --releasing_;
            changed();
        });
    }
    ++finished_;
    setPbar(pbarPosition_ + PbarStep);
    if (clientlist.empty()) {
        pbarVisible_ = false;
        cancelbutVisible_ = false;
    }
    changed();
}

void SearchDispatch::cancelbutClick() {
    htmlbuf.clear();
    const std::size_t n = clientlist.size();
    for (std::size_t i = 0; i < n && !clientlist.empty(); ++i) {
        net::THttpCli* first = clientlist.front();
        first->Abort();
        if (!clientlist.empty() && clientlist.front() == first) clientlist.erase(clientlist.begin());
    }
    changed();
}

} // namespace search
