#pragma once
// The one way to observe in the core: a multi-subscriber event.
//
//   platform::Signal<int, const std::string&> changed;
//   auto c = changed.connect([](int n, const std::string& s) { ... });
//   changed(3, "x");            // or changed.fire(3, "x"): every listener, in the order they connected
//
// A connection ends when either side goes:
//   - the signal is destroyed (its Connections then answer connected() false);
//   - Connection::disconnect(), or a ScopedConnection going out of scope;
//   - the listener's Receiver is destroyed (connect(receiver, fn)), or its
//     QObject is (connect(qobject, fn)), so a window's adapter needs no bookkeeping.
//
// Emitting is safe when a listener disconnects itself or others (they are not
// called any more), connects new listeners (they first hear the next emission)
// or destroys the object that owns the signal (no further listener is called,
// and nothing of the signal is touched afterwards).
//
// Lifetime is the plain "is this object still alive" guard for code that must
// not go on after a call that may have destroyed `this`.

#include <QObject>

#include <cstddef>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

namespace platform {

namespace detail {
struct ListenerBase {
    bool connected = true;
    virtual ~ListenerBase() = default;
};
} // namespace detail

// A handle on one connection; copies refer to the same connection.
class Connection {
public:
    Connection() = default;
    explicit Connection(std::weak_ptr<detail::ListenerBase> l) : listener_(std::move(l)) {}
    void disconnect() {
        if (auto l = listener_.lock()) l->connected = false;
        listener_.reset();
    }
    bool connected() const {
        auto l = listener_.lock();
        return l && l->connected;
    }

private:
    std::weak_ptr<detail::ListenerBase> listener_;
};

// Ends its connection when it goes out of scope.
class ScopedConnection {
public:
    ScopedConnection() = default;
    ScopedConnection(Connection c) : c_(std::move(c)) {} // NOLINT: implicit on purpose
    ScopedConnection(ScopedConnection&& o) noexcept : c_(std::exchange(o.c_, Connection())) {}
    ScopedConnection& operator=(ScopedConnection&& o) noexcept {
        if (this != &o) {
            c_.disconnect();
            c_ = std::exchange(o.c_, Connection());
        }
        return *this;
    }
    ScopedConnection(const ScopedConnection&) = delete;
    ScopedConnection& operator=(const ScopedConnection&) = delete;
    ~ScopedConnection() { c_.disconnect(); }
    void disconnect() { c_.disconnect(); }
    bool connected() const { return c_.connected(); }

private:
    Connection c_;
};

// A listener object's side: every connection made through it ends when it is
// destroyed. Declare it as the last member, so it goes before the members the
// listeners use.
class Receiver {
public:
    Receiver() = default;
    Receiver(const Receiver&) = delete;
    Receiver& operator=(const Receiver&) = delete;
    ~Receiver() { disconnectAll(); }
    void track(Connection c) {
        // Forget ended connections now and then, so a long-lived receiver stays small.
        if (conns_.size() >= 32 && conns_.size() == conns_.capacity()) {
            std::erase_if(conns_, [](const Connection& k) { return !k.connected(); });
        }
        conns_.push_back(std::move(c));
    }
    void disconnectAll() {
        for (auto& c : conns_)
            c.disconnect();
        conns_.clear();
    }

private:
    std::vector<Connection> conns_;
};

template <class... Args> class Signal {
public:
    using Function = std::function<void(Args...)>;

    Signal() = default;
    Signal(const Signal&) = delete;
    Signal& operator=(const Signal&) = delete;
    ~Signal() {
        core_->alive = false;
        for (auto& l : core_->listeners)
            l->connected = false;
    }

    Connection connect(Function fn) {
        auto l = std::make_shared<Listener>();
        l->fn = std::move(fn);
        core_->listeners.push_back(l);
        return Connection(l);
    }
    Connection connect(Receiver& receiver, Function fn) {
        Connection c = connect(std::move(fn));
        receiver.track(c);
        return c;
    }
    Connection connect(const QObject* context, Function fn) {
        Connection c = connect(std::move(fn));
        QObject::connect(context, &QObject::destroyed, [c]() mutable { c.disconnect(); });
        return c;
    }

    void disconnectAll() {
        for (auto& l : core_->listeners)
            l->connected = false;
        if (core_->emitting == 0) core_->listeners.clear();
    }

    // The number of live connections.
    std::size_t listenerCount() const {
        std::size_t n = 0;
        for (const auto& l : core_->listeners)
            n += l->connected ? 1 : 0;
        return n;
    }
    bool empty() const { return listenerCount() == 0; }

    // A listener's exception ends the emission and reaches the caller.
    void fire(Args... args) const {
        struct Emitting {
            std::shared_ptr<Core> core; // outlives the signal if a listener destroys it
            explicit Emitting(std::shared_ptr<Core> c) : core(std::move(c)) { ++core->emitting; }
            ~Emitting() {
                if (--core->emitting == 0 && core->alive)
                    std::erase_if(core->listeners, [](const auto& l) { return !l->connected; });
            }
        } e(core_);
        Core& core = *e.core;
        const std::size_t n = core.listeners.size(); // listeners added now hear the next one
        for (std::size_t i = 0; i < n && core.alive; ++i) {
            std::shared_ptr<Listener> l = core.listeners[i]; // held while it runs
            if (l->connected) l->fn(args...);
        }
    }
    void operator()(Args... args) const { fire(std::forward<Args>(args)...); }

private:
    struct Listener : detail::ListenerBase {
        Function fn;
    };
    struct Core {
        bool alive = true;
        int emitting = 0;
        std::vector<std::shared_ptr<Listener>> listeners;
    };
    std::shared_ptr<Core> core_ = std::make_shared<Core>();
};

// "Is this object still alive?" Take a Watch before a call that may destroy
// the owner; afterwards `if (!watch) return;`.
class Lifetime {
public:
    class Watch {
    public:
        explicit Watch(std::weak_ptr<char> w) : w_(std::move(w)) {}
        explicit operator bool() const { return !w_.expired(); }

    private:
        std::weak_ptr<char> w_;
    };
    Lifetime() = default;
    Lifetime(const Lifetime&) = delete;
    Lifetime& operator=(const Lifetime&) = delete;
    Watch watch() const { return Watch(token_); }

private:
    std::shared_ptr<char> token_ = std::make_shared<char>(0);
};

} // namespace platform
