#pragma once
// A loopback server for measuring idle clients: it takes every connection,
// says `greeting` once (nothing when empty), then reads and drops whatever
// comes and never answers.

#include "net/wsocket.h"

#include <memory>
#include <string>
#include <utility>
#include <vector>

struct IdleServer {
    net::TWSocket listener;
    std::vector<std::unique_ptr<net::TWSocket>> conns;
    explicit IdleServer(std::string greeting = {}) {
        listener.setAddr("127.0.0.1");
        listener.setPort("0");
        listener.OnSessionAvailable = [this, greeting = std::move(greeting)](net::TWSocket* l,
                                                                             std::uint16_t) {
            auto s = std::make_unique<net::TWSocket>();
            s->OnDataAvailable = [](net::TWSocket* sock, std::uint16_t) { sock->ReceiveStr(); };
            s->Dup(l->Accept());
            if (!greeting.empty()) s->SendStr(greeting);
            conns.push_back(std::move(s));
        };
        listener.Listen();
    }
    std::string port() { return listener.GetLocalPort(); }
};
