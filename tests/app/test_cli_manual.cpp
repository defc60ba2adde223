// The manual page and the bash completion of wavetrap-cli: both come from the
// program's own --help, so every command and every option it takes is on the
// page and completes.

#include "support/cli_run.h"
#include "support/tempdir.h"

#include <QProcess>
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <set>
#include <string>
#include <vector>

namespace {

std::string help(const std::vector<std::string>& args) {
    const testsupport::TempDir config;
    return testsupport::runCli(args, config.path()).out;
}

std::vector<std::string> commands() {
    const std::string text = help({"--help"});
    std::vector<std::string> out;
    const std::regex line("\n  ([a-z][-a-z]*)");
    for (auto it = std::sregex_iterator(text.begin(), text.end(), line); it != std::sregex_iterator(); ++it)
        out.push_back((*it)[1]);
    return out;
}

std::set<std::string> optionsOf(const std::string& command) {
    const std::string text = help({command, "--help"});
    std::set<std::string> out;
    const std::regex option("(^|[\\[ ,])(--?[A-Za-z][-A-Za-z]*)");
    for (auto it = std::sregex_iterator(text.begin(), text.end(), option); it != std::sregex_iterator(); ++it)
        out.insert((*it)[2]);
    return out;
}

TEST(CliManual, EveryCommandAndEveryOptionIsOnTheManualPage) {
#ifndef WAVETRAP_MANPAGE
    GTEST_SKIP() << "built without help2man: no manual page";
#else
    std::string page = testsupport::readFile(WAVETRAP_MANPAGE);
    ASSERT_FALSE(page.empty());
    // roff writes a minus sign as "\-".
    for (std::size_t at = page.find("\\-"); at != std::string::npos; at = page.find("\\-", at))
        page.erase(at, 1);
    EXPECT_NE(page.find(".TH WAVETRAP-CLI \"1\""), std::string::npos);
    const std::vector<std::string> all = commands();
    ASSERT_GE(all.size(), 6u);
    for (const std::string& c : all) {
        EXPECT_NE(page.find(".SS \"wavetrap-cli " + c + "\""), std::string::npos) << c;
        for (const std::string& o : optionsOf(c))
            EXPECT_NE(page.find(o), std::string::npos) << c << " " << o;
    }
    // The compressed copy that is installed is the same page.
    QProcess gunzip;
    gunzip.start("gzip", {"-dc", WAVETRAP_MANPAGE ".gz"});
    ASSERT_TRUE(gunzip.waitForFinished(10000));
    EXPECT_EQ(gunzip.readAllStandardOutput().toStdString(), testsupport::readFile(WAVETRAP_MANPAGE));
#endif
}

// What bash offers after the words typed so far (the last one being completed).
std::string complete(const std::vector<std::string>& words, const std::string& cwd) {
    std::string script = "source '" + std::string(WAVETRAP_TEST_SOURCE_DIR) +
                         "/../data/wavetrap-cli.bash-completion'\nCOMP_WORDS=(";
    for (const auto& w : words)
        script += " '" + w + "'";
    script +=
        " )\nCOMP_CWORD=" + std::to_string(words.size() - 1) +
        "\n_wavetrap_cli\n((${#COMPREPLY[@]})) && printf '%s\\n' \"${COMPREPLY[@]}\" | sort | tr '\\n' ' '\n";
    QProcess bash;
    bash.setWorkingDirectory(QString::fromStdString(cwd));
    auto env = QProcessEnvironment::systemEnvironment();
    const std::string dir = std::filesystem::path(WAVETRAP_CLI_PATH).parent_path().string();
    env.insert("PATH", QString::fromStdString(dir) + ":" + env.value("PATH"));
    bash.setProcessEnvironment(env);
    bash.start("bash", {"--norc", "--noprofile", "-c", QString::fromStdString(script)});
    bash.waitForFinished(20000);
    return bash.readAllStandardOutput().toStdString();
}

TEST(CliCompletion, CommandsOptionsAndTheirValuesComeFromTheProgramsHelp) {
    testsupport::TempDir dir;
    std::filesystem::create_directory(dir.file("music"));
    testsupport::writeFile(dir.file("mirror.pem"), "x");
    testsupport::writeFile(dir.file("page.html"), "x");
    struct Case {
        std::vector<std::string> words;
        std::string offered;
    };
    std::string everyCommand;
    for (const std::string& c : commands())
        everyCommand += c + " ";
    const Case cases[] = {
        {{"wavetrap-cli", ""}, everyCommand},
        {{"wavetrap-cli", "re"}, "resume "},
        {{"wavetrap-cli", "--"}, "--help --version "},
        {{"wavetrap-cli", "get", "--"},
         "--cacert --directory --ftp-tls --help --limit-rate --no-verify --pace --verbose "},
        {{"wavetrap-cli", "search", "--ti"}, "--timeout "},
        {{"wavetrap-cli", "get", "--ftp-tls", "o"}, "off offered "},
        {{"wavetrap-cli", "resume", "--ftp-tls", "=", "r"}, "required "},
        {{"wavetrap-cli", "get", "-C", "m"}, "music "},
        {{"wavetrap-cli", "get", "--cacert", "mi"}, "mirror.pem "},
        {{"wavetrap-cli", "search", "--timeout", ""}, ""},
        {{"wavetrap-cli", "extract", "pa"}, "page.html "},
        {{"wavetrap-cli", "get", "ftp"}, ""},
    };
    for (const Case& c : cases) {
        std::string typed;
        for (const auto& w : c.words)
            typed += w + " ";
        EXPECT_EQ(complete(c.words, dir.path()), c.offered) << typed;
    }
    // Every option of every command completes.
    for (const std::string& c : commands())
        for (const std::string& o : optionsOf(c))
            EXPECT_NE(complete({"wavetrap-cli", c, o}, dir.path()).find(o + " "), std::string::npos)
                << c << " " << o;
}

} // namespace
