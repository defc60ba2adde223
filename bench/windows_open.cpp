// How long the settings window, the download timer and the download log take
// to open from their menu commands, and how long the update check holds the
// window with the reserved default update host. Prints milliseconds.
//
//   QT_QPA_PLATFORM=offscreen build/bench/windows_open [rounds]
//   build/bench/windows_open --show SECONDS   (opens the three windows side by side and
//                                              keeps them open, for a look or a screenshot)

#include "gui/clockwindow.h"
#include "gui/logwindow.h"
#include "gui/mainwindow.h"
#include "gui/settingswindow.h"
#include "platform/eventloop.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace {

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// Runs open() then pumps events until the widget is exposed and painted.
double timeOpen(const std::function<void()>& open, QWidget* w) {
    QElapsedTimer t;
    t.start();
    open();
    QApplication::processEvents();
    const double ms = static_cast<double>(t.nsecsElapsed()) / 1e6;
    if (!w->isVisible()) std::fprintf(stderr, "window %s did not open\n", qPrintable(w->objectName()));
    return ms;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const bool showOnly = argc > 2 && std::string(argv[1]) == "--show";
    const int rounds = argc > 1 && !showOnly ? std::max(1, std::atoi(argv[1])) : 20;
    QTemporaryDir config;
    qputenv("WAVETRAP_CONFIG_DIR", config.path().toUtf8());

    gui::MainWindow main;
    main.show();
    platform::runUntil([&] { return main.startupDone(); }, 5000);
    auto* settings = main.findChild<gui::SettingsWindow*>();
    auto* clock = main.findChild<gui::ClockWindow*>();
    auto* log = main.findChild<gui::LogWindow*>();
    for (int i = 0; i < 200; ++i)
        main.core().downloadLog.append("ftp://bench.test/pub/file" + std::to_string(i) + ".mp3");

    if (showOnly) {
        main.move(0, 0);
        main.showSettings();
        main.showAlarmClock();
        main.showLog();
        settings->move(10, 10);
        clock->move(480, 10);
        log->move(480, 300);
        main.core().downloadTimer.Image1MouseDown(60, 102); // 21:00
        platform::runUntil([] { return false; }, std::atoi(argv[2]) * 1000);
        return 0;
    }

    struct Row {
        const char* name;
        std::function<void()> open;
        QWidget* w;
        std::vector<double> again;
    };
    std::vector<Row> rows = {{"settings window (.cfg)", [&] { main.showSettings(); }, settings, {}},
                             {"download timer (Alarm Clock)", [&] { main.showAlarmClock(); }, clock, {}},
                             {"download log (Log, 200 entries)", [&] { main.showLog(); }, log, {}}};
    for (Row& r : rows) {
        for (int i = 0; i < rounds; ++i) {
            r.again.push_back(timeOpen(r.open, r.w));
            r.w->close();
            QApplication::processEvents();
        }
    }
    for (const Row& r : rows)
        std::printf("%-34s open: first %.2f ms, median %.2f ms, max %.2f ms over %d rounds\n", r.name,
                    r.again.front(), median(r.again), *std::max_element(r.again.begin(), r.again.end()),
                    rounds);

    // The update check with the reserved default host: the blocking lookup fails at once.
    std::vector<double> check;
    for (int i = 0; i < rounds; ++i) {
        QElapsedTimer t;
        t.start();
        main.checkForUpdate();
        check.push_back(static_cast<double>(t.nsecsElapsed()) / 1e6);
        for (QWidget* w : QApplication::topLevelWidgets())
            if (qobject_cast<QMessageBox*>(w)) w->close();
        QApplication::processEvents();
    }
    std::printf("%-34s blocks: median %.3f ms, max %.3f ms over %d rounds\n",
                "update check (update.wavetrap.invalid)", median(check),
                *std::max_element(check.begin(), check.end()), rounds);
    return 0;
}
