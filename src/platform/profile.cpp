#include "platform/profile.h"

#include "platform/prefetch.h"
#include "platform/text.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <set>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {
namespace {

std::string lower(const std::string& s) {
    std::string r = s;
    for (char& c : r)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return r;
}

// The settings files this process wrote where none was.
class CreatedFiles {
public:
    bool contains(const std::string& path) {
        const std::lock_guard<std::mutex> hold(m_);
        return paths_.contains(path);
    }
    void insert(const std::string& path) {
        const std::lock_guard<std::mutex> hold(m_);
        paths_.insert(path);
    }

private:
    std::mutex m_;
    std::set<std::string> paths_;
};
CreatedFiles& createdByThisRun() {
    static CreatedFiles files;
    return files;
}

std::string_view trimView(std::string_view s) {
    std::size_t b = 0, e = s.size();
    while (b < e && (s[b] == ' ' || s[b] == '\t' || s[b] == '\r'))
        ++b;
    while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t' || s[e - 1] == '\r'))
        --e;
    return s.substr(b, e - b);
}

std::string trim(const std::string& s) {
    return std::string(trimView(s));
}

// Values are read without the blanks around them (so "key = value" written
// by hand reads "value"). A value that begins or ends with a blank is written
// between double quotes, which reading takes off again, and so is one that
// begins and ends with a quote itself: every value reads back as written.
bool quotedOnDisk(std::string_view v) {
    if (v.empty()) return false;
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
    return blank(v.front()) || blank(v.back()) || (v.size() >= 2 && v.front() == '"' && v.back() == '"');
}

std::string_view unquoted(std::string_view v) {
    if (v.size() >= 2 && v.front() == '"' && v.back() == '"') return v.substr(1, v.size() - 2);
    return v;
}

// Lower-cases s into out, reusing out's storage.
void lowerInto(std::string_view s, std::string& out) {
    out.assign(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
}

// A line break inside a name or value would forge new lines in the file.
void toOneLine(char* p, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i)
        if (p[i] == '\n') p[i] = ' '; // a lone CR ends no line: it is kept
}

std::string oneLine(const std::string& s) {
    std::string r = s;
    toOneLine(r.data(), r.size());
    return r;
}

char* copyOf(std::string_view s) {
    char* p = new char[s.size()];
    std::memcpy(p, s.data(), s.size());
    return p;
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

inline char lowerChar(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// A hash of the key with the case bit of every character set (keys that
// differ only in case hash alike; so do a few others, told apart by sameKey),
// eight characters at a time.
std::uint32_t keyHash(std::string_view key) {
    constexpr std::uint64_t caseBits = 0x2020202020202020ull, mul = 0xff51afd7ed558ccdull;
    std::uint64_t h = key.size() * 0x9e3779b97f4a7c15ull;
    const char* p = key.data();
    std::size_t n = key.size();
    for (; n >= 8; p += 8, n -= 8) {
        std::uint64_t w;
        std::memcpy(&w, p, 8);
        h = (h ^ (w | caseBits)) * mul;
        h ^= h >> 32;
    }
    if (n > 0) {
        std::uint64_t w = 0;
        std::memcpy(&w, p, n);
        h = (h ^ (w | caseBits)) * mul;
    }
    h ^= h >> 33;
    h *= mul;
    h ^= h >> 33;
    return static_cast<std::uint32_t>(h);
}

bool sameKey(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    if (a == b) return true; // mostly written alike
    for (std::size_t i = 0; i < a.size(); ++i)
        if (lowerChar(a[i]) != lowerChar(b[i])) return false;
    return true;
}

// Whether the file at path (whose lstat is st) is a regular file of mode
// 0600 that holds exactly text.
bool holdsAlready(const std::string& path, const struct stat& st, std::string_view text) {
    if (!S_ISREG(st.st_mode) || (st.st_mode & 07777) != 0600 || st.st_size != static_cast<off_t>(text.size()))
        return false;
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return false;
    std::string onDisk(text.size() + 1, '\0'); // one more: a file grown since reads longer
    std::size_t got = 0;
    while (got < onDisk.size()) {
        const ssize_t n = ::read(fd, onDisk.data() + got, onDisk.size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += static_cast<std::size_t>(n);
    }
    ::close(fd);
    return got == text.size() && std::string_view(onDisk.data(), got) == text;
}

} // namespace

TIniFile::Text TIniFile::Text::borrow(std::string_view s) noexcept {
    Text t;
    t.p_ = s.data();
    t.n_ = s.size();
    return t;
}

TIniFile::Text TIniFile::Text::written(std::string_view s) {
    Text t;
    if (s.empty()) return t;
    char* p = copyOf(s);
    toOneLine(p, s.size());
    t.p_ = p;
    t.n_ = s.size() | Owned;
    return t;
}

TIniFile::Text::Text(const Text& o) : p_(o.p_), n_(o.n_) {
    if (n_ & Owned) p_ = copyOf(o.view());
}

std::size_t TIniFile::KeyIndex::find(const std::vector<Entry>& entries, std::string_view key) const {
    if (slots_.empty()) return None;
    if (!repeats_ && !key.empty() && next_ < entries.size() && sameKey(entries[next_].key.view(), key))
        return next_++;
    const std::uint32_t hash = keyHash(key);
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t at = hash & mask;; at = (at + 1) & mask) {
        const Slot& slot = slots_[at];
        if (slot.entry == 0) return None;
        if (slot.hash == hash && sameKey(entries[slot.entry - 1].key.view(), key)) {
            next_ = slot.entry;
            return slot.entry - 1;
        }
    }
}

void TIniFile::KeyIndex::add(const std::vector<Entry>& entries, std::size_t i) {
    if ((count_ + 1) * 2 > slots_.size()) reserve(count_ + 1);
    insert(entries, i, keyHash(entries[i].key.view()));
}

void TIniFile::KeyIndex::rebuild(const std::vector<Entry>& entries) {
    clear();
    reserve(entries.size());
    const std::size_t mask = slots_.size() - 1;
    fillIndexAhead(
        entries.size(), [&](std::size_t i) { return keyHash(entries[i].key.view()); },
        [&](std::uint32_t hash) { return &slots_[hash & mask]; },
        [&](std::size_t i, std::uint32_t hash) {
            if (!entries[i].key.empty()) insert(entries, i, hash);
        });
}

void TIniFile::KeyIndex::insert(const std::vector<Entry>& entries, std::size_t i, std::uint32_t hash) {
    const std::string_view key = entries[i].key.view();
    const std::size_t mask = slots_.size() - 1;
    std::size_t at = hash & mask;
    for (; slots_[at].entry != 0; at = (at + 1) & mask) {
        const Slot& slot = slots_[at];
        if (slot.hash == hash && sameKey(entries[slot.entry - 1].key.view(), key)) {
            repeats_ = true;
            return; // the first of repeated keys wins
        }
    }
    slots_[at] = Slot{static_cast<std::uint32_t>(i + 1), hash};
    ++count_;
}

void TIniFile::KeyIndex::reserve(std::size_t n) {
    std::size_t size = 16;
    while (size < 2 * (n + 1))
        size *= 2;
    if (size <= slots_.size()) return;
    const std::vector<Slot> old = std::move(slots_);
    slots_.assign(size, Slot{});
    const std::size_t mask = size - 1;
    for (const Slot& slot : old) {
        if (slot.entry == 0) continue;
        std::size_t at = slot.hash & mask;
        while (slots_[at].entry != 0)
            at = (at + 1) & mask;
        slots_[at] = slot;
    }
}

void TIniFile::KeyIndex::clear() {
    slots_.clear();
    count_ = 0;
    repeats_ = false;
    next_ = 0;
}

std::string configDir() {
    if (const char* d = std::getenv("WAVETRAP_CONFIG_DIR"); d && *d) return d;
    if (const char* x = std::getenv("XDG_CONFIG_HOME"); x && *x) return std::string(x) + "/wavetrap";
    const char* home = std::getenv("HOME");
    return std::string(home && *home ? home : ".") + "/.config/wavetrap";
}

int parseProfileInt(const std::string& text, int def) {
    const std::string t = trim(text);
    if (t.size() > 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X')) {
        if (t.size() > 10) return def;
        std::uint32_t v = 0;
        for (std::size_t i = 2; i < t.size(); ++i) {
            const int d = hexDigit(t[i]);
            if (d < 0) return def;
            v = v * 16 + static_cast<std::uint32_t>(d);
        }
        return static_cast<int>(v);
    }
    return parseDecimalInt(t, def);
}

TIniFile::TIniFile(const std::string& name) {
    path_ = name.find('/') == std::string::npos ? configDir() + "/" + name : name;
    sections_.push_back(Section{});
    load();
}

void TIniFile::load() {
    std::ifstream in(path_, std::ios::binary);
    if (!in) return;
    in.seekg(0, std::ios::end);
    const std::streamoff size = in.tellg();
    in.seekg(0, std::ios::beg);
    if (size <= 0) return;
    // Not cleared first: every byte is read over.
    std::shared_ptr<char[]> file(new char[static_cast<std::size_t>(size)]);
    in.read(file.get(), size);
    const std::string_view text(file.get(), static_cast<std::size_t>(in.gcount()));
    text_ = std::move(file);
    // One pass over the text; names and values stay where they are in it.
    std::size_t cur = 0;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t nl = text.find('\n', pos);
        if (nl == std::string_view::npos) nl = text.size();
        std::string_view line = text.substr(pos, nl - pos);
        pos = nl + 1;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        const std::string_view t = trimView(line);
        if (t.size() >= 2 && t.front() == '[') {
            const std::size_t close = t.find(']');
            if (close != std::string_view::npos) {
                const std::string name(t.substr(1, close - 1));
                const std::string key = lower(name);
                auto it = sectionIndex_.find(key);
                if (it == sectionIndex_.end()) {
                    sections_.push_back(Section{name, {}, {}});
                    cur = sections_.size() - 1;
                    sectionIndex_.emplace(key, cur);
                } else {
                    cur = it->second; // a repeated header continues the first section
                }
                // Room for the lines up to the next header at once: a list of
                // many entries would otherwise be moved again and again.
                std::size_t end = std::min(text.find("\n[", pos), text.size());
                const std::string_view body = text.substr(std::min(pos, end), end - std::min(pos, end));
                const auto lines = static_cast<std::size_t>(std::count(body.begin(), body.end(), '\n'));
                std::vector<Entry>& entries = sections_[cur].entries;
                if (entries.size() + lines + 1 > entries.capacity()) // still doubling for repeated headers
                    entries.reserve(std::max(entries.size() + lines + 1, 2 * entries.capacity()));
                continue;
            }
        }
        Section& s = sections_[cur];
        const std::size_t eq = t.find('=');
        if (t.empty() || t[0] == ';' || eq == std::string_view::npos || eq == 0) {
            if (!t.empty()) s.entries.push_back(Entry{Text(), Text::borrow(line)});
            continue;
        }
        s.entries.push_back(Entry{Text::borrow(trimView(t.substr(0, eq))),
                                  Text::borrow(unquoted(trimView(t.substr(eq + 1))))});
    }
    for (Section& s : sections_) // each index made once at its full size
        reindex(s);
}

const TIniFile::Entry* TIniFile::find(const std::string& section, const std::string& key) const {
    if (lastSectionAt_ == 0 || section != lastSection_) {
        lowerInto(section, lookupBuf_);
        auto sit = sectionIndex_.find(lookupBuf_);
        if (sit == sectionIndex_.end()) return nullptr;
        lastSection_ = section;
        lastSectionAt_ = sit->second;
    }
    const Section& s = sections_[lastSectionAt_];
    const std::size_t k = s.index.find(s.entries, key);
    return k == KeyIndex::None ? nullptr : &s.entries[k];
}

std::string TIniFile::ReadString(const std::string& section, const std::string& key,
                                 const std::string& def) const {
    const Entry* e = find(section, key);
    if (!e) return def.size() > MaxValueLength ? def.substr(0, MaxValueLength) : def;
    return std::string(e->value.view().substr(0, MaxValueLength));
}

int TIniFile::ReadInteger(const std::string& section, const std::string& key, int def) const {
    const Entry* e = find(section, key);
    if (!e) return def;
    // Read through the same 1023-character window as text.
    return parseProfileInt(std::string(e->value.view().substr(0, MaxValueLength)), def);
}

bool TIniFile::ReadBool(const std::string& section, const std::string& key, bool def) const {
    return ReadInteger(section, key, def ? 1 : 0) != 0;
}

bool TIniFile::SectionExists(const std::string& section) const {
    return sectionIndex_.count(lower(section)) != 0;
}

bool TIniFile::ValueExists(const std::string& section, const std::string& key) const {
    return find(section, key) != nullptr;
}

std::size_t TIniFile::KeyCount(const std::string& section) const {
    auto sit = sectionIndex_.find(lower(section));
    return sit == sectionIndex_.end() ? 0 : sections_[sit->second].index.size();
}

std::vector<std::string> TIniFile::ReadSection(const std::string& section) const {
    std::vector<std::string> keys;
    auto sit = sectionIndex_.find(lower(section));
    if (sit == sectionIndex_.end()) return keys;
    for (const Entry& e : sections_[sit->second].entries)
        if (!e.key.empty()) keys.emplace_back(e.key.view());
    return keys;
}

TIniFile::Section& TIniFile::sectionFor(const std::string& section) {
    const std::string key = lower(section);
    auto it = sectionIndex_.find(key);
    if (it != sectionIndex_.end()) return sections_[it->second];
    sections_.push_back(Section{oneLine(section), {}, {}});
    sectionIndex_.emplace(key, sections_.size() - 1);
    return sections_.back();
}

void TIniFile::WriteString(const std::string& section, const std::string& key, const std::string& value) {
    Section& s = sectionFor(section);
    const std::size_t k = s.index.find(s.entries, key);
    if (k != KeyIndex::None) {
        s.entries[k].value = Text::written(value);
    } else {
        s.entries.push_back(Entry{Text::written(key), Text::written(value)});
        s.index.add(s.entries, s.entries.size() - 1);
    }
    changed();
}

void TIniFile::WriteInteger(const std::string& section, const std::string& key, int value) {
    WriteString(section, key, std::to_string(value));
}

void TIniFile::WriteBool(const std::string& section, const std::string& key, bool value) {
    WriteString(section, key, value ? "1" : "0");
}

void TIniFile::reindex(Section& s) {
    s.index.rebuild(s.entries);
}

void TIniFile::EraseSection(const std::string& section) {
    auto it = sectionIndex_.find(lower(section));
    if (it == sectionIndex_.end()) return;
    sections_.erase(sections_.begin() + static_cast<std::ptrdiff_t>(it->second));
    lastSectionAt_ = 0;
    sectionIndex_.clear();
    for (std::size_t i = 1; i < sections_.size(); ++i)
        sectionIndex_.emplace(lower(sections_[i].name), i);
    changed();
}

void TIniFile::DeleteKey(const std::string& section, const std::string& key) {
    auto sit = sectionIndex_.find(lower(section));
    if (sit == sectionIndex_.end()) return;
    Section& s = sections_[sit->second];
    const std::size_t k = s.index.find(s.entries, key);
    if (k == KeyIndex::None) return;
    s.entries.erase(s.entries.begin() + static_cast<std::ptrdiff_t>(k));
    reindex(s);
    changed();
}

void TIniFile::changed() {
    dirty_ = true;
    if (batch_ == 0) flush();
}

void TIniFile::endUpdate() {
    if (batch_ > 0) --batch_;
    if (batch_ == 0 && dirty_) flush();
}

void TIniFile::flush() {
    std::string out;
    bool first = true;
    for (const Section& s : sections_) {
        if (&s != &sections_[0]) {
            if (!first) out += '\n';
            out += '[' + s.name + "]\n";
        }
        for (const Entry& e : s.entries) {
            const std::string_view value = e.value.view();
            if (e.key.empty()) {
                out += value; // a line kept as it stood
            } else if (quotedOnDisk(value)) {
                out += e.key.view();
                out += "=\"";
                out += value;
                out += '"';
            } else {
                out += e.key.view();
                out += '=';
                out += value;
            }
            out += '\n';
        }
        if (!out.empty()) first = false;
    }
    const std::string fail = "Unable to write to " + path_;
    std::error_code ec;
    const std::filesystem::path target(path_);
    if (target.has_parent_path()) std::filesystem::create_directories(target.parent_path(), ec);
    // Replacing a file waits until the new text is on the disk, so that a
    // crash leaves the old text or the new one. A file that did not exist
    // before this run (the first start) is not waited for: a crash can leave
    // it empty at worst, which reads as no file, and nothing that was there
    // before is lost.
    struct stat before {};
    const bool exists = ::lstat(path_.c_str(), &before) == 0;
    // A file that already holds exactly this text, as a regular file only
    // the user may read, is left as it is: nothing new would reach the disk,
    // and a run that changes no setting (a search) waits for no disk at exit.
    if (exists && holdsAlready(path_, before, out)) {
        dirty_ = false;
        return;
    }
    const bool replacing = exists && !createdByThisRun().contains(path_);
    const std::string tmp = path_ + ".tmp." + std::to_string(::getpid());
    // Only the user may read the file: URLs in it may carry passwords. The
    // mode is set on every rewrite (a left-over temporary file keeps its own).
    const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) throw EProfileError(fail);
    FILE* f = ::fchmod(fd, 0600) == 0 ? ::fdopen(fd, "wb") : nullptr;
    if (!f) {
        ::close(fd);
        std::remove(tmp.c_str());
        throw EProfileError(fail);
    }
    const bool wrote = std::fwrite(out.data(), 1, out.size(), f) == out.size();
    const bool synced = std::fflush(f) == 0 && (!replacing || ::fsync(fileno(f)) == 0);
    const bool closed = std::fclose(f) == 0;
    if (!wrote || !synced || !closed || std::rename(tmp.c_str(), path_.c_str()) != 0) {
        std::remove(tmp.c_str());
        throw EProfileError(fail);
    }
    if (!replacing) createdByThisRun().insert(path_);
    dirty_ = false;
}

} // namespace platform
