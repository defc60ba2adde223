// The main window's own figures, in one plain program (no benchmark library);
// bench/window.sh runs it against local servers and prints the summary.
//
//   window_bench startup [ROUNDS]
//       starts itself ROUNDS times as a new process that opens the main window
//       with stored properties to restore (150 statistics rows, a full manual-add
//       history) and a 150-row result table, and prints the milliseconds from
//       the process start to the window drawn with its event loop idle, and to
//       the end of the start-up sequence (which begins 200 ms after the first display)
//   window_bench search [--get URL]... [--size BYTES] ENGINE...
//       opens the window, searches the given engine entries for "bench" (the
//       phrase typed and Enter pressed), prints the time until the last page is
//       read and the rows are drawn, the rows, and the longest stall of the event loop meanwhile; then
//       downloads each --get URL through the manual-add box (one slot each),
//       waits until each file has BYTES, and prints the peak memory (RSS) of the process.
//
// Every engine and URL must be on loopback; the default engine list is never used.

#include "gui/mainwindow.h"
#include "platform/eventloop.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QKeyEvent>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
#include <QTreeView>
#include <QWindow>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <string>
#include <sys/resource.h>
#include <vector>

namespace {

long long monotonicNs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<long long>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

void writeFile(const QString& path, const QByteArray& text) {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly)) std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
    f.write(text);
}

// A settings directory: one loopback engine (so the default list is never
// filled in), no guide, no update check, and stored properties to restore.
void prepareConfig(const QString& dir) {
    writeFile(dir + "/wavbin.Ini", "[Settings]\npath=cutftp32\n[Links]\n0=127.0.0.1:9/none?q=\n");
    QByteArray forms =
        "[cfg]\nGuideshow_Checked=False\ncheckupdate_Checked=False\n[items]\nNormPos=0,0,900,600\n";
    for (const char* list : {"stats_ip", "stats_good", "stats_bad"}) {
        forms += QByteArray("[items.") + list + "_Items]\nCount=150\n";
        for (int i = 0; i < 150; ++i) {
            const QByteArray v = std::string(list) == "stats_ip"
                                     ? "ftp" + QByteArray::number(i) + ".bench.test"
                                     : QByteArray::number(i % 7 + 1);
            forms += "Item" + QByteArray::number(i) + "=" + v + "\n";
        }
    }
    forms += "[items.manualadd_Items]\nCount=15\n";
    for (int i = 0; i < 15; ++i)
        forms += "Item" + QByteArray::number(i) + "=ftp://127.0.0.2/pub/earlier" + QByteArray::number(i) +
                 ".mp3\n";
    writeFile(dir + "/wavbin", forms);
}

// The child of "startup": prints "<drawn-ns> <startup-done-ns>".
int startupChild() {
    gui::MainWindow w;
    for (int i = 0; i < 150; ++i)
        w.core().table.addlink("ftp://ftp" + std::to_string(i % 40) + ".bench.test/pub/music/song_" +
                               std::to_string(i) + ".mp3");
    w.show();
    platform::runUntil([&] { return w.windowHandle() && w.windowHandle()->isExposed(); }, 10000);
    QApplication::processEvents();
    // The queue is empty once a zero-time timer fires.
    bool idle = false;
    QTimer::singleShot(0, [&] { idle = true; });
    platform::runUntil([&] { return idle; }, 10000);
    const long long drawn = monotonicNs();
    platform::runUntil([&] { return w.startupDone(); }, 10000);
    std::printf("%lld %lld %d\n", drawn, monotonicNs(), w.resultView()->model()->rowCount());
    return 0;
}

int startup(const char* self, int rounds) {
    QTemporaryDir config;
    prepareConfig(config.path());
    std::vector<double> drawn, done;
    int rows = 0;
    for (int r = 0; r < rounds; ++r) {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("WAVETRAP_CONFIG_DIR", config.path());
        p.setProcessEnvironment(env);
        p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        const long long t0 = monotonicNs();
        p.start(self, {"--startup-child"});
        if (!p.waitForFinished(30000)) return 1;
        long long a = 0, b = 0;
        if (std::sscanf(p.readAllStandardOutput().constData(), "%lld %lld %d", &a, &b, &rows) != 3) return 1;
        drawn.push_back(static_cast<double>(a - t0) / 1e6);
        done.push_back(static_cast<double>(b - t0) / 1e6);
    }
    std::sort(drawn.begin(), drawn.end());
    std::sort(done.begin(), done.end());
    std::printf(
        "startup: process start to the window drawn and idle (%d rows): median %.1f ms, best %.1f ms\n", rows,
        drawn[drawn.size() / 2], drawn.front());
    std::printf("startup: process start to the start-up sequence done: median %.1f ms, best %.1f ms\n",
                done[done.size() / 2], done.front());
    return 0;
}

long peakRssKb() {
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return ru.ru_maxrss;
}

int searchAndDownload(const std::vector<std::string>& engines, const std::vector<std::string>& gets,
                      qint64 getSize) {
    QTemporaryDir config, work;
    prepareConfig(config.path());
    qputenv("WAVETRAP_CONFIG_DIR", config.path().toUtf8());
    QDir::setCurrent(work.path());
    gui::MainWindow w;
    w.show();
    if (!platform::runUntil([&] { return w.startupDone(); }, 10000)) return 1;
    auto& list = w.core().startlinks;
    list.Clear();
    for (const auto& e : engines)
        list.addengine(e);

    // The longest gap between two ticks of a 1 ms timer is the longest stall.
    QElapsedTimer clock;
    qint64 last = 0, stall = 0;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    tick.setInterval(1);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        stall = std::max(stall, now - last);
        last = now;
    });

    w.searchBox()->setEditText("bench");
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    clock.start();
    tick.start();
    QApplication::sendEvent(w.searchBox(), &enter);
    const auto& dispatch = w.core().dispatch;
    bool finished = platform::runUntil([&] { return dispatch.clientlist.empty(); }, 120000);
    const double readMs = static_cast<double>(clock.nsecsElapsed()) / 1e6;
    // The search counts until its rows are drawn (while rows arrive, the table
    // is drawn at most once per interval).
    QWidget* table = w.resultView()->viewport();
    finished = finished && platform::runUntil([&] { return table->updatesEnabled(); }, 10000);
    QApplication::sendPostedEvents();
    QApplication::processEvents();
    const double ms = static_cast<double>(clock.nsecsElapsed()) / 1e6;
    tick.stop();
    std::printf(
        "search: %zu engines (%llu queries) in the window: %.1f ms%s, last page read at %.1f ms, %d rows, "
        "longest event-loop stall %.1f ms\n",
        engines.size(), static_cast<unsigned long long>(dispatch.queriesStarted()), ms,
        finished ? "" : " (NOT finished)", readMs, w.resultView()->model()->rowCount(),
        static_cast<double>(stall) / 1e6);

    if (!gets.empty()) {
        for (const auto& u : gets) {
            w.manualAddBox()->setEditText(QString::fromStdString(u));
            QApplication::sendEvent(w.manualAddBox(), &enter);
        }
        QElapsedTimer t;
        t.start();
        auto complete = [&] {
            int n = 0;
            for (const auto& u : gets) {
                const QString name = QString::fromStdString(u.substr(u.rfind('/') + 1));
                n += QFileInfo(work.filePath(name)).size() == getSize ? 1 : 0;
            }
            return n;
        };
        const bool all =
            platform::runUntil([&] { return complete() == static_cast<int>(gets.size()); }, 300000);
        std::printf("download: %zu files through the manual-add box: %.1f s%s\n", gets.size(),
                    static_cast<double>(t.elapsed()) / 1000.0, all ? "" : " (NOT all arrived)");
    }
    std::printf("memory: peak RSS of the window process %.1f MB\n",
                static_cast<double>(peakRssKb()) / 1024.0);
    w.close();
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "--startup-child") return startupChild();
    if (mode == "startup") return startup(argv[0], argc > 2 ? std::max(1, std::atoi(argv[2])) : 9);
    if (mode == "search") {
        std::vector<std::string> engines, gets;
        qint64 getSize = 0;
        for (int i = 2; i < argc; ++i) {
            if (std::string(argv[i]) == "--get" && i + 1 < argc)
                gets.push_back(argv[++i]);
            else if (std::string(argv[i]) == "--size" && i + 1 < argc)
                getSize = std::atoll(argv[++i]);
            else
                engines.push_back(argv[i]);
        }
        return engines.empty() ? 2 : searchAndDownload(engines, gets, getSize);
    }
    std::fprintf(stderr,
                 "usage: window_bench startup [ROUNDS] | search [--get URL]... [--size BYTES] ENGINE...\n");
    return 2;
}
