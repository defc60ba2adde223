// FTP client measurements as whole-program runs:
//   bench_ftp_get HOST PORT FILE [--user NAME --pass WORD] [--no-splice]
//                 [--tls [--cacert PEM]] [--passive]
//       log in, TYPE I, fetch FILE with Get into the current directory (under
//       its own name); print bytes, time, rate and CPU time (--no-splice: the
//       data through read and write; --tls: explicit FTPS, AUTH TLS, with
//       the certificates of PEM trusted too; --passive: EPSV instead of PORT)
//   bench_ftp_get --idle CLIENTS SECONDS
//       CLIENTS FTP clients connected to an in-process server that welcomes
//       them and then never answers their USER; print the process CPU time
//       used while the event loop waits SECONDS
// Without arguments it runs the Google Benchmark cases below (reply parsing).
#include "idle_server.h"
#include "net/ftpcli.h"
#include "net/ftpreply.h"
#include "net/tls.h"
#include "net/wsocket.h"
#include "platform/eventloop.h"
#include "process_stats.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <sys/resource.h>
#include <vector>

namespace {

using benchsupport::cpuSeconds;
using benchsupport::runLoopFor;

// Runs one request to its completion; answers the error.
int runRequest(net::TFtpClient& c, void (net::TFtpClient::*req)()) {
    bool done = false;
    int error = -1;
    const platform::ScopedConnection waiting =
        c.OnRequestDone.connect([&](net::TFtpClient&, net::TFtpRequest, std::uint16_t e) {
            done = true;
            error = e;
        });
    (c.*req)();
    platform::runUntil([&] { return done; }, 24 * 3600 * 1000);
    return error;
}

int fetch(const std::string& host, const std::string& port, const std::string& file, const std::string& user,
          const std::string& pass, bool tls, bool passive) {
    net::TFtpClient c;
    if (tls) c.Tls = net::FtpTls::Explicit;
    c.Passive = passive;
    c.HostName = host;
    c.Port = port;
    c.UserName = user;
    c.PassWord = pass;
    c.HostFileName = file;
    c.LocalFileName = file.substr(file.rfind('/') + 1);
    c.Timeout = 25;
    for (auto req : {&net::TFtpClient::Open, &net::TFtpClient::User, &net::TFtpClient::Pass,
                     &net::TFtpClient::TypeSet}) {
        if (const int e = runRequest(c, req); e != 0) {
            std::fprintf(stderr, "bench_ftp_get: error %d: %s\n", e, c.LastReply().c_str());
            return 1;
        }
    }
    long long progressCalls = 0;
    c.OnProgress.connect([&](net::TFtpClient&, std::int64_t, bool&) { ++progressCalls; });
    QElapsedTimer clock;
    clock.start();
    const double cpu0 = cpuSeconds();
    const int e = runRequest(c, &net::TFtpClient::Get);
    const double secs = static_cast<double>(clock.nsecsElapsed()) / 1e9;
    std::printf("error %d bytes %lld seconds %.3f MB/s %.1f cpu %.3f progress %lld spliced %lld\n", e,
                static_cast<long long>(c.ByteCount()), secs, static_cast<double>(c.ByteCount()) / 1e6 / secs,
                cpuSeconds() - cpu0, progressCalls, static_cast<long long>(net::splicedBytes()));
    return e == 0 ? 0 : 1;
}

int idle(int clients, int seconds) {
    IdleServer server("220 ready\r\n");
    std::vector<std::unique_ptr<net::TFtpClient>> list;
    int opened = 0;
    for (int i = 0; i < clients; ++i) {
        auto c = std::make_unique<net::TFtpClient>();
        c->HostName = "127.0.0.1";
        c->Port = server.port();
        c->UserName = "anonymous";
        c->OnRequestDone.connect([&](net::TFtpClient& s, net::TFtpRequest rq, std::uint16_t) {
            if (rq == net::ftpOpenAsync) {
                ++opened;
                s.User(); // never answered: the client waits for its reply
            }
        });
        // One after the other: the listener's backlog is 5.
        const int before = opened;
        c->Open();
        platform::runUntil([&] { return opened > before; }, 5000);
        list.push_back(std::move(c));
    }
    platform::runUntil([&] { return opened == clients; }, 10000);
    runLoopFor(200); // let the USER commands go out
    const double cpu0 = cpuSeconds();
    QElapsedTimer clock;
    clock.start();
    runLoopFor(seconds * 1000);
    const double cpu = cpuSeconds() - cpu0;
    std::printf("idle: %d FTP clients waiting for a reply (%d connected), %.2f s wall, %.4f s CPU (%.3f%%)\n",
                clients, opened, static_cast<double>(clock.elapsed()) / 1000.0, cpu,
                100.0 * cpu / (static_cast<double>(clock.elapsed()) / 1000.0));
    return opened == clients ? 0 : 1;
}

void BM_ReplyCode(benchmark::State& state) {
    const std::string lines[] = {"220-Welcome to the archive", "213 104857600", "150 Opening BINARY mode",
                                 "226 Transfer complete."};
    for (auto _ : state) {
        for (const auto& l : lines) {
            benchmark::DoNotOptimize(net::ftp::ReplyCode(l));
            benchmark::DoNotOptimize(net::ftp::IsContinuation(l));
        }
    }
}
BENCHMARK(BM_ReplyCode);

void BM_SecondNumber(benchmark::State& state) {
    const std::string line = "213 104857600";
    for (auto _ : state)
        benchmark::DoNotOptimize(net::ftp::SecondNumber(line));
}
BENCHMARK(BM_SecondNumber);

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc >= 4 && std::strcmp(argv[1], "--idle") == 0) return idle(std::atoi(argv[2]), std::atoi(argv[3]));
    if (argc >= 4 && argv[1][0] != '-') {
        std::string user = "anonymous", pass = "bench@example.com";
        bool tls = false, passive = false;
        for (int i = 4; i < argc; ++i) {
            if (std::strcmp(argv[i], "--tls") == 0) tls = true;
            if (std::strcmp(argv[i], "--passive") == 0) passive = true;
            if (i + 1 < argc && std::strcmp(argv[i], "--cacert") == 0) {
                std::string error;
                if (!net::tlsAddTrustFile(argv[++i], error)) {
                    std::fprintf(stderr, "bench_ftp_get: --cacert: %s\n", error.c_str());
                    return 2;
                }
            }
            if (std::strcmp(argv[i], "--no-splice") == 0) net::setSpliceReceive(false);
            if (i + 1 < argc && std::strcmp(argv[i], "--user") == 0) user = argv[++i];
            if (i + 1 < argc && std::strcmp(argv[i], "--pass") == 0) pass = argv[++i];
        }
        return fetch(argv[1], argv[2], argv[3], user, pass, tls, passive);
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
