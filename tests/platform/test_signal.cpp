// The observer mechanism: several listeners, connections ending from either
// side, and emissions that survive listeners changing or destroying things.

#include "platform/signal.h"

#include <gtest/gtest.h>

#include <QObject>

#include <memory>
#include <string>
#include <vector>

using platform::Signal;

TEST(Signal, EveryListenerHearsInConnectOrderAndReferencesPassThrough) {
    Signal<int, std::string&> sig;
    std::vector<std::string> heard;
    sig.connect([&](int n, std::string& s) { heard.push_back("a" + std::to_string(n) + s), s += "!"; });
    sig.connect([&](int n, std::string& s) { heard.push_back("b" + std::to_string(n) + s); });
    std::string text = "x";
    sig(7, text);
    EXPECT_EQ(heard, (std::vector<std::string>{"a7x", "b7x!"}));
    EXPECT_EQ(text, "x!");
}

TEST(Signal, ConnectionsEndFromEitherSide) {
    Signal<> sig;
    int calls = 0;
    platform::Connection plain = sig.connect([&] { ++calls; });
    {
        platform::ScopedConnection scoped = sig.connect([&] { calls += 10; });
        platform::Receiver receiver;
        sig.connect(receiver, [&] { calls += 100; });
        auto object = std::make_unique<QObject>();
        sig.connect(object.get(), [&] { calls += 1000; });
        sig();
        EXPECT_EQ(calls, 1111);
        object.reset();
        sig();
        EXPECT_EQ(calls, 1111 + 111);
    } // the scoped connection and the receiver end here
    sig();
    EXPECT_EQ(calls, 1111 + 111 + 1);
    plain.disconnect();
    sig();
    EXPECT_EQ(calls, 1111 + 111 + 1);
    EXPECT_TRUE(sig.empty());

    auto owned = std::make_unique<Signal<>>();
    platform::Connection c = owned->connect([] {});
    EXPECT_TRUE(c.connected());
    owned.reset();
    EXPECT_FALSE(c.connected());
    c.disconnect(); // harmless once the signal is gone
}

TEST(Signal, ListenersMayDisconnectConnectOrDestroyTheEmitterDuringAnEmission) {
    struct Emitter {
        Signal<int> done;
    };
    auto emitter = std::make_unique<Emitter>();
    std::vector<std::string> heard;
    platform::Connection second;
    emitter->done.connect([&](int) {
        heard.push_back("first");
        second.disconnect();
        emitter->done.connect([&](int) { heard.push_back("late"); });
    });
    second = emitter->done.connect([&](int) { heard.push_back("second"); });
    emitter->done(1);
    EXPECT_EQ(heard, (std::vector<std::string>{"first"}));
    emitter->done(2);
    EXPECT_EQ(heard, (std::vector<std::string>{"first", "first", "late"}));

    // A listener that destroys the emitter: the ones after it are not called.
    auto e2 = std::make_unique<Emitter>();
    int after = 0;
    e2->done.connect([&](int) { e2.reset(); });
    e2->done.connect([&](int) { ++after; });
    e2->done(3);
    EXPECT_EQ(e2, nullptr);
    EXPECT_EQ(after, 0);
}

TEST(Lifetime, AWatchTellsWhetherItsOwnerIsGone) {
    auto owner = std::make_unique<platform::Lifetime>();
    auto watch = owner->watch();
    EXPECT_TRUE(watch);
    owner.reset();
    EXPECT_FALSE(watch);
}
