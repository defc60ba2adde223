// Site statistics of 100 000 sites (years of use): score lookups and counts
// never scan the lists; a count with its rescoring of a full result table;
// reading the lists from the settings file.

#include "platform/profile.h"
#include "shell/wavetrap.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int Sites = 100000;

long minorFaults() {
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return ru.ru_minflt;
}

std::string site(int i) {
    return "ftp" + std::to_string(i) + ".mirror.example.com";
}

void fillStats(shell::Wavetrap& w) {
    platform::StringList ip, good, bad;
    for (int i = 0; i < Sites; ++i) {
        ip.push_back(site(i));
        good.push_back(std::to_string(1 + 25 * (i % 7)));
        bad.push_back(std::to_string(5 + i % 11));
    }
    w.stats.setLists(std::move(ip), std::move(good), std::move(bad));
}

void BM_ip_to_score(benchmark::State& state) {
    shell::Wavetrap w;
    fillStats(w);
    int i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(w.stats.ip_to_score(site(i)));
        i = (i + 7919) % Sites;
    }
}
BENCHMARK(BM_ip_to_score);

// The same loop with the name built but not looked up, to subtract.
void BM_site_name_only(benchmark::State& state) {
    int i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(site(i));
        i = (i + 7919) % Sites;
    }
}
BENCHMARK(BM_site_name_only);

// addgood / addbad with an empty result table (rescoring costs nothing).
void BM_addgood(benchmark::State& state) {
    shell::Wavetrap w;
    fillStats(w);
    int i = 0;
    for (auto _ : state) {
        w.stats.addgood(site(i));
        i = (i + 7919) % Sites;
    }
}
BENCHMARK(BM_addgood);

void BM_addbad(benchmark::State& state) {
    shell::Wavetrap w;
    fillStats(w);
    int i = 0;
    for (auto _ : state) {
        w.stats.addbad(site(i));
        i = (i + 7919) % Sites;
    }
}
BENCHMARK(BM_addbad);

// addgood, whose cacheinit rescores a full table of 150 rows from 150 sites.
void BM_addgood_full_table(benchmark::State& state) {
    shell::Wavetrap w;
    fillStats(w);
    for (int i = 0; i < 150; ++i)
        w.table.addlink("ftp://" + site(i * 13) + "/pub/song" + std::to_string(i) + ".mp3");
    int i = 0;
    for (auto _ : state) {
        w.stats.addgood(site((i++ % 150) * 13));
    }
    state.counters["rows"] = w.table.List.Count();
}
BENCHMARK(BM_addgood_full_table)->Unit(benchmark::kMicrosecond);

// Reading 100 000 rows of each list from the settings file "wavbin" with the
// main window's stored properties (parsing the file, then the three lists).
void BM_load_100000_rows(benchmark::State& state) {
    char dir[] = "/tmp/wavetrap-bench-XXXXXX";
    if (!mkdtemp(dir)) {
        state.SkipWithError("no temporary directory");
        return;
    }
    const std::string file = std::string(dir) + "/wavbin";
    {
        std::ofstream out(file);
        const char* sections[] = {"items.stats_ip_Items", "items.stats_good_Items", "items.stats_bad_Items"};
        for (int s = 0; s < 3; ++s) {
            out << "[" << sections[s] << "]\nCount=" << Sites << "\n";
            for (int i = 0; i < Sites; ++i)
                out << "Item" << i << "=" << (s == 0 ? site(i) : std::to_string(s == 1 ? 26 : 5)) << "\n";
        }
    }
    setenv("WAVETRAP_CONFIG_DIR", dir, 1);
    shell::Wavetrap w;
    const long faultsBefore = minorFaults();
    for (auto _ : state) {
        w.stats.Statistics1Click();
        w.mainStorage.storage.Restore();
        if (w.stats.stats_ip.size() != static_cast<std::size_t>(Sites))
            state.SkipWithError("lists not loaded");
    }
    // Pages touched for the first time (fewer than in a fresh process, which
    // cannot reuse memory freed by the load before).
    state.counters["page_faults"] = benchmark::Counter(static_cast<double>(minorFaults() - faultsBefore),
                                                       benchmark::Counter::kAvgIterations);
    unsetenv("WAVETRAP_CONFIG_DIR");
    std::remove(file.c_str());
    rmdir(dir);
}
BENCHMARK(BM_load_100000_rows)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
