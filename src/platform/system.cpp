#include "platform/system.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QProcess>
#include <QStringList>
#include <random>

namespace platform {
namespace {

std::function<std::uint32_t()>& tickSource() {
    static std::function<std::uint32_t()> fn;
    return fn;
}
std::function<int()>& hourSource() {
    static std::function<int()> fn;
    return fn;
}
std::function<int(int)>& randomSource() {
    static std::function<int(int)> fn;
    return fn;
}

} // namespace

std::uint32_t GetTickCount() {
    if (tickSource()) return tickSource()();
    static QElapsedTimer clock = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    return static_cast<std::uint32_t>(clock.elapsed());
}

int localHour() {
    if (hourSource()) return hourSource()();
    return QDateTime::currentDateTime().time().hour();
}

int Random(int n) {
    if (n <= 0) return 0;
    if (randomSource()) return randomSource()(n);
    static std::mt19937 gen{std::random_device{}()};
    return std::uniform_int_distribution<int>(0, n - 1)(gen);
}

void setTickSource(std::function<std::uint32_t()> fn) {
    tickSource() = std::move(fn);
}
void setHourSource(std::function<int()> fn) {
    hourSource() = std::move(fn);
}
void setRandomSource(std::function<int(int)> fn) {
    randomSource() = std::move(fn);
}

bool startProgram(const std::string& program, const std::vector<std::string>& args) {
    QStringList list;
    for (const auto& a : args)
        list << QString::fromLocal8Bit(a.c_str());
    return QProcess::startDetached(QString::fromLocal8Bit(program.c_str()), list);
}

bool openUrl(const std::string& url) {
    return startProgram("xdg-open", {url});
}

bool registryReadString(const std::string&, const std::string&, std::string&) {
    return false;
}

} // namespace platform
