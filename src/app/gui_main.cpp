// wavetrap: the program's window.

#include "gui/mainwindow.h"
#include "platform/dirlock.h"
#include "platform/profile.h"

#include <QApplication>
#include <QMessageBox>
#include <QSessionManager>
#include <QSocketNotifier>
#include <csignal>
#include <cstring>
#include <iostream>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int signalPipe[2] = {-1, -1};

void onSignal(int) {
    const char c = 1;
    [[maybe_unused]] const ssize_t n = ::write(signalPipe[1], &c, 1);
}

// SIGTERM, SIGINT and SIGHUP end the program through the event loop, so the
// settings are saved as on a normal exit.
void quitOnSignals(QApplication& app) {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) != 0) return;
    auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, [&app] {
        char c;
        [[maybe_unused]] const ssize_t n = ::read(signalPipe[0], &c, 1);
        app.quit();
    });
    struct sigaction sa;
    std::memset(&sa, 0, sizeof sa);
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (int sig : {SIGTERM, SIGINT, SIGHUP})
        ::sigaction(sig, &sa, nullptr);
}

} // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0) {
            std::cout << "wavetrap " << WAVETRAP_VERSION << "\n";
            return 0;
        }
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::cout
                << "Usage: wavetrap [Qt options]\n\n"
                   "Finds MP3 files on FTP sites through search engines and fetches them, in a window.\n"
                   "Downloads go to the current directory. Settings live in $WAVETRAP_CONFIG_DIR, else\n"
                   "$XDG_CONFIG_HOME/wavetrap (~/.config/wavetrap). wavetrap-cli does the same without a "
                   "window.\n";
            return 0;
        }
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName("Wavetrap");
    QApplication::setApplicationVersion(WAVETRAP_VERSION);
    QGuiApplication::setDesktopFileName("wavetrap");
    quitOnSignals(app);
    // A file past the size limit fails its write (and says so) instead of ending the program.
    std::signal(SIGXFSZ, SIG_IGN);
    // One running Wavetrap writes a settings directory at a time.
    platform::SettingsLock lock;
    if (!lock.acquire(platform::configDir())) {
        std::cerr << "wavetrap: " << lock.why() << "\n";
        QMessageBox::critical(nullptr, "Wavetrap", QString::fromStdString(lock.why()));
        return 2;
    }

    gui::MainWindow window;
    // A desktop session that ends, and every way out of the event loop, save too.
    QObject::connect(&app, &QGuiApplication::commitDataRequest, &window,
                     [&window](QSessionManager&) { window.saveAll(true); });
    QObject::connect(&app, &QCoreApplication::aboutToQuit, &window, [&window] { window.saveAll(); });
    window.show();
    return app.exec();
}
