#include "platform/resolver.h"

#include "platform/socket.h"

#include <QCoreApplication>

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <netdb.h>
#include <sys/socket.h>
#include <thread>

namespace platform {

int resolverCode(int gaiResult, int err) {
    switch (gaiResult) {
    case 0:
        return 0;
    case EAI_NONAME:
        return 11001;
    case EAI_AGAIN:
        return 11002;
    case EAI_FAIL:
        return 11003;
#ifdef EAI_NODATA
    case EAI_NODATA:
        return 11004;
#endif
#ifdef EAI_ADDRFAMILY
    case EAI_ADDRFAMILY:
        return 11004;
#endif
    case EAI_MEMORY:
        return 10055;
    case EAI_SYSTEM:
        return err ? socketCodeFromErrno(err) : 11003;
    default:
        return 11003;
    }
}

namespace {

// Names reserved never to resolve (RFC 6761): answered here, at once.
bool reservedInvalid(const std::string& name) {
    std::string n = name;
    while (!n.empty() && n.back() == '.')
        n.pop_back();
    std::transform(n.begin(), n.end(), n.begin(), [](unsigned char c) { return std::tolower(c); });
    return n == "invalid" || (n.size() > 8 && n.compare(n.size() - 8, 8, ".invalid") == 0);
}

} // namespace

int resolveHost(const std::string& name, std::vector<std::string>& addresses) {
    addresses.clear();
    if (name.empty() || reservedInvalid(name)) return 11001;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* res = nullptr;
    const int rc = ::getaddrinfo(name.c_str(), nullptr, &hints, &res);
    if (rc != 0) return resolverCode(rc, errno);
    // In the system's order of preference, the two families taking turns
    // (the first of the preferred one first), so a connection that tries
    // them in turn soon reaches the other family when one does not answer.
    std::vector<std::string> byFamily[2];
    int first = -1;
    for (addrinfo* ai = res; ai; ai = ai->ai_next) {
        if (ai->ai_family != AF_INET && ai->ai_family != AF_INET6) continue;
        SockAddr a;
        std::memcpy(&a.storage, ai->ai_addr, std::min<std::size_t>(ai->ai_addrlen, sizeof a.storage));
        const int f = ai->ai_family == AF_INET6 ? 1 : 0;
        if (first < 0) first = f;
        std::string text = addressText(a);
        auto& list = byFamily[f];
        if (std::find(list.begin(), list.end(), text) == list.end()) list.push_back(std::move(text));
    }
    if (first >= 0) {
        const auto& a = byFamily[first];
        const auto& b = byFamily[1 - first];
        for (std::size_t i = 0; i < std::max(a.size(), b.size()); ++i) {
            if (i < a.size()) addresses.push_back(a[i]);
            if (i < b.size()) addresses.push_back(b[i]);
        }
    }
    ::freeaddrinfo(res);
    return addresses.empty() ? 11004 : 0;
}

struct LookupRequest::Shared {
    std::atomic<bool> cancelled{false};
    bool delivered = false; // touched on the loop's thread only
    Done done;
};

namespace {

// Answers travel to the application object's thread. A lookup thread that
// outlives the application (a name server that keeps it waiting while the
// program ends) finds the door closed instead of a destroyed object; the
// program never waits for it.
std::mutex& postMutex() {
    static std::mutex m;
    return m;
}
bool& appAlive() {
    static bool alive = false;
    return alive;
}
void watchApplication() {
    static const bool once = [] {
        if (!QCoreApplication::instance()) return false;
        std::lock_guard<std::mutex> lock(postMutex());
        appAlive() = true;
        qAddPostRoutine([] {
            std::lock_guard<std::mutex> l(postMutex());
            appAlive() = false;
        });
        return true;
    }();
    (void)once;
}

void deliver(const std::shared_ptr<LookupRequest::Shared>& shared, int code, std::vector<std::string> addrs) {
    std::lock_guard<std::mutex> lock(postMutex());
    if (!appAlive()) return;
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [shared, code, addrs = std::move(addrs)] {
            if (shared->cancelled.load() || shared->delivered) return;
            shared->delivered = true;
            auto done = std::move(shared->done);
            if (done) done(code, addrs);
        },
        Qt::QueuedConnection);
}

} // namespace

LookupRequest::LookupRequest(const std::string& name, Done done) : shared_(std::make_shared<Shared>()) {
    shared_->done = std::move(done);
    watchApplication();
    if (name.empty() || reservedInvalid(name)) {
        deliver(shared_, 11001, {});
        return;
    }
    auto shared = shared_;
    std::thread([shared, name] {
        if (shared->cancelled.load()) return;
        std::vector<std::string> addrs;
        const int code = resolveHost(name, addrs);
        if (shared->cancelled.load()) return;
        deliver(shared, code, std::move(addrs));
    }).detach();
}

LookupRequest::~LookupRequest() {
    cancel();
}

void LookupRequest::cancel() {
    shared_->cancelled.store(true);
    shared_->done = nullptr;
}

bool LookupRequest::pending() const {
    return !shared_->cancelled.load() && !shared_->delivered;
}

} // namespace platform
