// info: a URL answered from the cache, and URLs split every time.

#include "url/urlinfo.h"

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

namespace {

// A URL of 20 to 100 characters asked again: answered from the cache.
void BM_info_cached(benchmark::State& state) {
    url::UrlInfo ui;
    const std::string url = "ftp://ftp.example.com/pub/music/jazz/Blue_Train.mp3";
    ui.info(url);
    for (auto _ : state)
        benchmark::DoNotOptimize(ui.info(url));
}
BENCHMARK(BM_info_cached);

// Many different URLs of cached lengths: most miss, are split and stored.
void BM_info_uncached(benchmark::State& state) {
    url::UrlInfo ui;
    std::vector<std::string> urls;
    for (int i = 0; i < 4096; ++i)
        urls.push_back("ftp://u:p@192.0.2." + std::to_string(i % 250) + ":2121/pub/mp3/song_" +
                       std::to_string(i) + ".mp3");
    std::size_t i = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(ui.info(urls[i++ & 4095]));
}
BENCHMARK(BM_info_uncached);

// A URL longer than 100 characters is never cached.
void BM_info_long(benchmark::State& state) {
    url::UrlInfo ui;
    const std::string url =
        "ftp://ftp.example.com/pub/music/jazz/collections/the_complete_blue_note_recordings/"
        "disc_01/Blue_Train_(alternate_take).mp3";
    for (auto _ : state)
        benchmark::DoNotOptimize(ui.info(url));
}
BENCHMARK(BM_info_long);

} // namespace

BENCHMARK_MAIN();
