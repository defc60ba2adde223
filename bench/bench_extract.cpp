// compileClick over 64 MB of generated result pages, fed in network-sized
// blocks. Run with --write-corpus FILE to write the corpus instead (used by
// bench/extract_vs_rg.sh).

#include "result_pages.h"
#include "shell/wavetrap.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <fstream>
#include <iostream>

namespace {

constexpr std::size_t CorpusBytes = 64u << 20;

const std::string& theCorpus(std::vector<std::size_t>** offsets = nullptr) {
    static std::vector<std::size_t> starts;
    static const std::string c = benchdata::corpus(CorpusBytes, &starts);
    if (offsets) *offsets = &starts;
    return c;
}

// A table already holding 150 links: the scan runs to the end of every block
// (with 149 it would stop at every candidate) and addlink refuses at once.
void fill(shell::Wavetrap& w) {
    for (int i = 0; w.table.linklist.size() < results::ResultTable::MaxLinks; ++i)
        w.table.addlink("ftp://prefill.example/" + std::to_string(i) + ".mp3");
}

// Scan speed: every page scanned in blocks of the given size with its own state.
void BM_compileClick_pages(benchmark::State& state) {
    std::vector<std::size_t>* starts = nullptr;
    const std::string& c = theCorpus(&starts);
    const std::size_t block = static_cast<std::size_t>(state.range(0));
    shell::Wavetrap w;
    fill(w);
    for (auto _ : state) {
        for (std::size_t i = 0; i < starts->size(); ++i) {
            const std::size_t from = (*starts)[i];
            const std::size_t to = i + 1 < starts->size() ? (*starts)[i + 1] : c.size();
            search::ScanState st;
            for (std::size_t at = from; at < to; at += block)
                w.extractor.compileClick(std::string_view(c).substr(at, std::min(block, to - at)), st);
            w.extractor.endPage(st);
        }
    }
    benchmark::DoNotOptimize(w.table.List.Count());
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * c.size()));
    state.counters["pages"] = static_cast<double>(starts->size());
}
BENCHMARK(BM_compileClick_pages)->Arg(1460)->Arg(8192)->Arg(65536)->Unit(benchmark::kMillisecond);

// The whole corpus as one block.
void BM_compileClick_oneBlock(benchmark::State& state) {
    const std::string& c = theCorpus();
    shell::Wavetrap w;
    fill(w);
    for (auto _ : state)
        w.extractor.compileClick(c);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * c.size()));
}
BENCHMARK(BM_compileClick_oneBlock)->Unit(benchmark::kMillisecond);

// The scan itself: a table that never fills (every link is counted and
// dropped), so every block of every page is scanned to its end. Argument:
// http links off (0) or on (1).
void BM_scan_pages(benchmark::State& state) {
    std::vector<std::size_t>* starts = nullptr;
    const std::string& c = theCorpus(&starts);
    std::size_t links = 0;
    search::LinkExtractor x([] { return std::size_t{0}; });
    x.linkFound.connect([&](const std::string&) { ++links; });
    const bool http = state.range(0) != 0;
    x.offerHttpLinks([http] { return http; });
    for (auto _ : state) {
        for (std::size_t i = 0; i < starts->size(); ++i) {
            const std::size_t from = (*starts)[i];
            const std::size_t to = i + 1 < starts->size() ? (*starts)[i + 1] : c.size();
            search::ScanState st;
            for (std::size_t at = from; at < to; at += 8192)
                x.compileClick(std::string_view(c).substr(at, std::min<std::size_t>(8192, to - at)), st);
            x.endPage(st);
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * c.size()));
    state.counters["links/page"] =
        static_cast<double>(links) / static_cast<double>(state.iterations() * starts->size());
}
BENCHMARK(BM_scan_pages)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// Every page as a new search: the table is emptied before each page, so each
// page's links go through addlink (splitting, scoring, insertion) as well.
// Argument: the setting httplinks.
void BM_compileClick_freshTablePerPage(benchmark::State& state) {
    std::vector<std::size_t>* starts = nullptr;
    const std::string& c = theCorpus(&starts);
    shell::Wavetrap w;
    w.settings.httplinks = state.range(0) != 0;
    std::size_t rows = 0;
    for (auto _ : state) {
        for (std::size_t i = 0; i < starts->size(); ++i) {
            const std::size_t from = (*starts)[i];
            const std::size_t to = i + 1 < starts->size() ? (*starts)[i + 1] : c.size();
            w.table.ClearList1Click();
            search::ScanState st;
            for (std::size_t at = from; at < to; at += 8192)
                w.extractor.compileClick(std::string_view(c).substr(at, std::min<std::size_t>(8192, to - at)),
                                         st);
            w.extractor.endPage(st);
            rows += static_cast<std::size_t>(w.table.List.Count());
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * c.size()));
    state.counters["rows/page"] =
        static_cast<double>(rows) / static_cast<double>(state.iterations() * starts->size());
}
BENCHMARK(BM_compileClick_freshTablePerPage)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--write-corpus") == 0) {
        std::ofstream out(argv[2], std::ios::binary);
        const std::string& c = theCorpus();
        out.write(c.data(), static_cast<std::streamsize>(c.size()));
        if (!out.flush()) {
            std::cerr << "cannot write " << argv[2] << "\n";
            return 2;
        }
        return 0;
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
