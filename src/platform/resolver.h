#pragma once
// Host name lookup, IPv4 only. The asynchronous lookup runs on a worker
// thread and delivers its answer from the event loop; it can be cancelled
// at any time before that. Resolver failures become the socket-layer codes
// (11001 host not found, 11002 try again, 11003 non-recoverable, 11004 no
// data). Names under ".invalid" fail at once, without asking any server.

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace platform {

// Resolver result (getaddrinfo code plus errno for system errors) -> code.
int resolverCode(int gaiResult, int err);

// Blocking lookup; answers 0 and the addresses (dotted, in the resolver's
// order, without repeats) or a code.
int resolveHost(const std::string& name, std::vector<std::string>& addresses);

class LookupRequest {
public:
    using Done = std::function<void(int error, const std::vector<std::string>& addresses)>;
    // Starts the lookup; done runs later from the event loop, never inside
    // the constructor, and never after cancel() or destruction.
    LookupRequest(const std::string& name, Done done);
    ~LookupRequest();
    LookupRequest(const LookupRequest&) = delete;
    LookupRequest& operator=(const LookupRequest&) = delete;
    void cancel();
    bool pending() const;

    struct Shared; // state shared with the worker thread

private:
    std::shared_ptr<Shared> shared_;
};

} // namespace platform
