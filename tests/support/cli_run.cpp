#include "support/cli_run.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <gtest/gtest.h>

namespace testsupport {

CliRun runCli(const std::vector<std::string>& args, const std::string& configDir, const std::string& input) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("WAVETRAP_CONFIG_DIR", QString::fromStdString(configDir));
    p.setProcessEnvironment(env);
    QStringList list;
    for (const auto& a : args)
        list << QString::fromStdString(a);
    p.start(WAVETRAP_CLI_PATH, list);
    EXPECT_TRUE(p.waitForStarted(10000));
    p.write(input.data(), static_cast<qint64>(input.size()));
    p.closeWriteChannel();
    EXPECT_TRUE(p.waitForFinished(60000));
    CliRun r;
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = p.readAllStandardOutput().toStdString();
    r.err = p.readAllStandardError().toStdString();
    return r;
}

} // namespace testsupport
