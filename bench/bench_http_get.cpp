// HTTP client measurements as whole-program runs:
//   bench_http_get URL [--proxy HOST:PORT] [--out FILE]
//       fetch one document with THttpCli, print its size, the time and the rate
//   bench_http_get --session URL FILE [URL FILE ...]
//       download each URL into its FILE at once with download::HttpSession (the
//       download road's transfer), print each outcome and size, and the time
//   bench_http_get --idle CLIENTS SECONDS
//       CLIENTS HTTP clients with requests open on a server that never answers,
//       plus one idle connected TWSocket pair; print the process CPU time used
//       while the event loop waits SECONDS
// Without arguments it runs the Google Benchmark cases below (header parsing
// and body delivery against an in-process server).
#include "download/transfer.h"
#include "idle_server.h"
#include "net/httpprot.h"
#include "net/wsocket.h"
#include "platform/eventloop.h"
#include "process_stats.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <sys/resource.h>
#include <vector>

namespace {

using benchsupport::cpuSeconds;
using benchsupport::runLoopFor;

int fetch(const std::string& url, const std::string& proxy, const std::string& out) {
    net::THttpCli c;
    c.URL = url;
    c.Proxy = proxy;
    std::ofstream file;
    if (!out.empty()) {
        file.open(out, std::ios::binary);
        c.RcvdStream = &file;
    }
    bool done = false;
    long long bytes = 0;
    c.OnDocData.connect([&](net::THttpCli*, const char*, std::int32_t len) { bytes += len; });
    c.OnRequestDone.connect([&](net::THttpCli*, net::THttpRequest, std::uint16_t) {
        done = true;
        QCoreApplication::quit();
    });
    QElapsedTimer clock;
    clock.start();
    const double cpu0 = cpuSeconds();
    c.StartGet();
    if (!done) QCoreApplication::exec();
    const double secs = static_cast<double>(clock.nsecsElapsed()) / 1e9;
    std::printf("status %d bytes %lld seconds %.3f MB/s %.1f cpu %.3f\n", c.StatusCode(), bytes, secs,
                static_cast<double>(bytes) / 1e6 / secs, cpuSeconds() - cpu0);
    return c.StatusCode() == 200 ? 0 : 1;
}

int idle(int clients, int seconds) {
    IdleServer server;
    std::vector<std::unique_ptr<net::THttpCli>> http;
    for (int i = 0; i < clients; ++i) {
        auto c = std::make_unique<net::THttpCli>();
        c->URL = "http://127.0.0.1:" + server.port() + "/never";
        c->StartGet();
        http.push_back(std::move(c));
    }
    net::TWSocket plain;
    plain.OnDataAvailable = [](net::TWSocket* s, std::uint16_t) { s->ReceiveStr(); };
    plain.setAddr("127.0.0.1");
    plain.setPort(server.port());
    plain.Connect();
    // Let every connection and request settle, then measure the quiet loop.
    QElapsedTimer settle;
    settle.start();
    while (settle.elapsed() < 2000) {
        bool ready =
            plain.State() == net::wsConnected && server.conns.size() == static_cast<std::size_t>(clients + 1);
        for (auto& c : http)
            ready = ready && c->State() == net::httpWaitingHeader;
        if (ready) break;
        runLoopFor(10);
    }
    const double cpu0 = cpuSeconds();
    runLoopFor(seconds * 1000);
    const double used = cpuSeconds() - cpu0;
    int waiting = 0;
    for (auto& c : http)
        waiting += c->State() == net::httpWaitingHeader;
    std::printf("idle clients %d (waiting for header: %d) + 1 socket, %d s: cpu %.4f s\n", clients, waiting,
                seconds, used);
    return 0;
}

// --- Google Benchmark cases ------------------------------------------------------

void BM_HttpGetInProcess(benchmark::State& state) {
    // A server in this process writes a reply of the given size; the client reads it.
    const auto size = static_cast<std::size_t>(state.range(0));
    const std::string reply =
        "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\nContent-Length: " + std::to_string(size) + "\r\n\r\n" +
        std::string(size, 'b');
    net::TWSocket listener;
    listener.setAddr("127.0.0.1");
    listener.setPort("0");
    std::vector<std::unique_ptr<net::TWSocket>> conns;
    listener.OnSessionAvailable = [&](net::TWSocket* l, std::uint16_t) {
        auto s = std::make_unique<net::TWSocket>();
        net::TWSocket* raw = s.get();
        auto replied = std::make_shared<bool>(false);
        s->OnDataAvailable = [raw, replied, &reply](net::TWSocket*, std::uint16_t) {
            if (!*replied && raw->ReceiveStr().find("\r\n\r\n") != std::string::npos) {
                *replied = true;
                raw->SendStr(reply);
            }
        };
        // The whole reply handed over: end it, as an HTTP/1.0 server does.
        s->OnDataSent = [raw, replied](net::TWSocket*, std::uint16_t) {
            if (*replied && raw->AllSent()) raw->ShutDown(1);
        };
        s->Dup(l->Accept());
        conns.push_back(std::move(s));
    };
    listener.Listen();
    const std::string url = "http://127.0.0.1:" + listener.GetLocalPort() + "/doc";
    for (auto _ : state) {
        net::THttpCli c;
        c.URL = url;
        bool done = false;
        long long bytes = 0;
        c.OnDocData.connect([&](net::THttpCli*, const char*, std::int32_t len) { bytes += len; });
        c.OnRequestDone.connect([&](net::THttpCli*, net::THttpRequest, std::uint16_t) { done = true; });
        c.StartGet();
        while (!done)
            platform::processEvents();
        if (bytes != static_cast<long long>(size)) state.SkipWithError("short body");
        conns.clear();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(size));
}
BENCHMARK(BM_HttpGetInProcess)->Arg(64 * 1024)->Arg(4 * 1024 * 1024)->Unit(benchmark::kMillisecond);

int sessions(int count, char** args) {
    std::vector<std::unique_ptr<download::HttpSession>> all;
    int running = 0, failed = 0;
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i + 1 < count; i += 2) {
        auto s = std::make_unique<download::HttpSession>();
        download::HttpSession* raw = s.get();
        const std::string file = args[i + 1];
        s->finished.connect([&, raw, file](const download::TransferResult& r) {
            std::printf("%s: %s %lld bytes %s\n", file.c_str(), download::outcomeName(r.outcome),
                        static_cast<long long>(raw->byteCount()), r.detail.c_str());
            if (r.outcome != download::Outcome::Done) ++failed;
            --running;
        });
        download::HttpSession::Request rq;
        rq.url = args[i];
        rq.localName = file;
        s->start(rq);
        ++running;
        all.push_back(std::move(s));
    }
    while (running > 0)
        platform::pumpMessages(1000);
    std::printf("seconds %.3f\n", static_cast<double>(timer.nsecsElapsed()) / 1e9);
    return failed == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc >= 2 && std::strcmp(argv[1], "--idle") == 0) {
        const int clients = argc > 2 ? std::atoi(argv[2]) : 7;
        const int seconds = argc > 3 ? std::atoi(argv[3]) : 5;
        return idle(clients, seconds);
    }
    if (argc >= 4 && std::strcmp(argv[1], "--session") == 0) return sessions(argc - 2, argv + 2);
    if (argc >= 2 && std::strncmp(argv[1], "--", 2) != 0) {
        std::string proxy, out;
        for (int i = 2; i + 1 < argc; i += 2) {
            if (std::strcmp(argv[i], "--proxy") == 0) proxy = argv[i + 1];
            if (std::strcmp(argv[i], "--out") == 0) out = argv[i + 1];
        }
        return fetch(argv[1], proxy, out);
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
