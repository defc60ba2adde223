// The settings-file store: the input is a file; it is loaded, every value of
// every section is read, written back, and the file re-read: every value
// read must read the same afterwards (also from a fresh file holding only
// those values). The fresh file gets each value with blanks around it when
// the input's first byte is odd: every value must read back as written.
#include "platform/profile.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <string_view>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

// In $TMPDIR (run-all points it at a memory file system: every write syncs).
std::string tempPath(const char* what) {
    const char* tmp = std::getenv("TMPDIR");
    return std::string(tmp && *tmp ? tmp : "/tmp") + "/wavetrap-fuzz-profile-" + std::to_string(::getpid()) +
           "-" + what;
}

// The section names of the text, found the way the store finds them.
std::vector<std::string> sectionNames(std::string_view text) {
    std::vector<std::string> names;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t nl = text.find('\n', pos);
        if (nl == std::string_view::npos) nl = text.size();
        std::string_view t = text.substr(pos, nl - pos);
        pos = nl + 1;
        while (!t.empty() && (t.front() == ' ' || t.front() == '\t' || t.front() == '\r'))
            t.remove_prefix(1);
        while (!t.empty() && (t.back() == ' ' || t.back() == '\t' || t.back() == '\r'))
            t.remove_suffix(1);
        if (t.size() >= 2 && t.front() == '[') {
            const std::size_t close = t.find(']');
            if (close != std::string_view::npos) names.emplace_back(t.substr(1, close - 1));
        }
    }
    return names;
}

using Values = std::vector<std::pair<std::pair<std::string, std::string>, std::string>>;

Values readAll(const platform::TIniFile& ini, const std::vector<std::string>& sections) {
    Values v;
    for (const std::string& s : sections)
        for (const std::string& k : ini.ReadSection(s))
            v.push_back({{s, k}, ini.ReadString(s, k, "\x01none")});
    return v;
}

void check(const platform::TIniFile& ini, const Values& values) {
    for (const auto& [where, value] : values)
        if (ini.ReadString(where.first, where.second, "\x01none") != value) std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string path = tempPath("a"), fresh = tempPath("b");
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    std::remove(fresh.c_str());
    const std::vector<std::string> sections =
        sectionNames(std::string_view(reinterpret_cast<const char*>(data), size));

    platform::TIniFile ini(path);
    const Values values = readAll(ini, sections);
    const bool padded = size > 0 && (data[0] & 1);
    Values written = values;
    if (padded)
        for (auto& [where, value] : written)
            if (value.size() + 2 <= platform::TIniFile::MaxValueLength) value = " " + value + "\t";
    {
        platform::IniBatch batch(ini);
        platform::TIniFile copy(fresh);
        platform::IniBatch copyBatch(copy);
        for (std::size_t i = 0; i < values.size(); ++i) {
            ini.WriteString(values[i].first.first, values[i].first.second, values[i].second);
            copy.WriteString(written[i].first.first, written[i].first.second, written[i].second);
        }
        if (values.empty()) ini.WriteString("fuzz", "written", "1");
    }
    check(platform::TIniFile(path), values);
    if (!values.empty()) check(platform::TIniFile(fresh), written);
    return 0;
}
