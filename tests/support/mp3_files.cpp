#include "support/mp3_files.h"

#include "support/tempdir.h"

#include <QProcess>
#include <QStringList>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

namespace testsupport {

namespace {

const std::string Script = std::string(WAVETRAP_TEST_SOURCE_DIR) + "/peers/make_mp3.py";

bool runScript(const std::vector<std::string>& args) {
    QStringList list{QString::fromStdString(Script)};
    for (const auto& a : args)
        list << QString::fromStdString(a);
    QProcess p;
    p.start("/usr/bin/python3", list);
    if (!p.waitForStarted(10000) || !p.waitForFinished(120000)) {
        ADD_FAILURE() << "make_mp3.py did not run";
        return false;
    }
    if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        ADD_FAILURE() << "make_mp3.py failed: " << p.readAllStandardError().toStdString();
        return false;
    }
    return true;
}

} // namespace

std::string mp3Corpus() {
    const std::string dir = std::string(WAVETRAP_TEST_BUILD_DIR) + "/mp3-corpus";
    const std::string stamp = std::to_string(std::hash<std::string>{}(readFile(Script)));
    const int lock = ::open((dir + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (lock < 0 || ::flock(lock, LOCK_EX) != 0) {
        ADD_FAILURE() << "cannot lock " << dir << ".lock";
        if (lock >= 0) ::close(lock);
        return {};
    }
    bool ok = readFile(dir + "/.stamp") == stamp;
    if (!ok) {
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
        ok = runScript({"corpus", dir}) && std::filesystem::exists(dir + "/.made");
        if (ok) writeFile(dir + "/.stamp", stamp);
    }
    ::close(lock);
    return ok ? dir : std::string();
}

bool makeMp3(const std::string& out, const std::vector<std::string>& args) {
    std::vector<std::string> all{"tone", out};
    all.insert(all.end(), args.begin(), args.end());
    return runScript(all);
}

} // namespace testsupport
