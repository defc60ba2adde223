#pragma once
// The settings files: INI text with [sections] and key=value lines, read and
// written in the manner of the desktop's profile functions.
//
//  - section and key names match without regard to case;
//  - a value reads back as it was written, with at most 1023 characters (a
//    line break inside it becomes a blank); blanks around it in the file are
//    not part of it, and a value that begins or ends with a blank (or begins
//    and ends with a double quote) is written between double quotes;
//  - integers are decimal, or hexadecimal after "0x"/"0X"; text that is not a
//    number gives the caller's default; truth values are written "1"/"0";
//  - a bare file name lives in the settings directory (configDir());
//  - every write replaces the file atomically (temporary file, then rename),
//    so a crash or a full disk never leaves half a file behind. A failed
//    write throws EProfileError "Unable to write to <file>". A write whose
//    text the file already holds (a regular file of mode 0600) leaves it as
//    it is.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace platform {

// $WAVETRAP_CONFIG_DIR, else $XDG_CONFIG_HOME/wavetrap, else ~/.config/wavetrap.
std::string configDir();

class EProfileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Integer parsing of the profile functions: optional sign and decimal digits,
// or "0x"/"0X" and up to eight hexadecimal digits; anything else gives def.
int parseProfileInt(const std::string& text, int def);

class TIniFile {
public:
    static constexpr std::size_t MaxValueLength = 1023;

    // A name without "/" is taken inside configDir(); a name with one is a path.
    explicit TIniFile(const std::string& name);

    const std::string& FileName() const { return path_; }

    std::string ReadString(const std::string& section, const std::string& key, const std::string& def) const;
    int ReadInteger(const std::string& section, const std::string& key, int def) const;
    bool ReadBool(const std::string& section, const std::string& key, bool def) const;
    bool SectionExists(const std::string& section) const;
    bool ValueExists(const std::string& section, const std::string& key) const;
    // The keys of a section, in file order, and their number.
    std::vector<std::string> ReadSection(const std::string& section) const;
    std::size_t KeyCount(const std::string& section) const;

    void WriteString(const std::string& section, const std::string& key, const std::string& value);
    void WriteInteger(const std::string& section, const std::string& key, int value);
    void WriteBool(const std::string& section, const std::string& key, bool value);
    void EraseSection(const std::string& section);
    void DeleteKey(const std::string& section, const std::string& key);

    // Between beginUpdate and endUpdate writes are kept in memory; endUpdate
    // writes the file once (and throws like any write when that fails).
    void beginUpdate() { ++batch_; }
    void endUpdate();

private:
    // A name or value: a view into the file text as loaded (which the store
    // keeps unchanged as long as it lives), or a copy of its own once written.
    class Text {
    public:
        Text() noexcept = default;
        static Text borrow(std::string_view s) noexcept;
        // A copy of s as it is written to the file: a line break inside a
        // name or value would forge new lines, so it becomes a space.
        static Text written(std::string_view s);
        Text(const Text& o);
        Text(Text&& o) noexcept : p_(o.p_), n_(o.n_) {
            o.p_ = nullptr;
            o.n_ = 0;
        }
        Text& operator=(Text o) noexcept {
            std::swap(p_, o.p_);
            std::swap(n_, o.n_);
            return *this;
        }
        ~Text() {
            if (n_ & Owned) delete[] p_;
        }
        std::string_view view() const noexcept { return {p_, n_ & ~Owned}; }
        bool empty() const noexcept { return (n_ & ~Owned) == 0; }

    private:
        static constexpr std::size_t Owned = ~(~std::size_t{0} >> 1); // the top bit of n_
        const char* p_ = nullptr;
        std::size_t n_ = 0;
    };
    struct Entry {
        Text key; // empty for a line kept as it stood (comment, stray text)
        Text value;
    };
    // The entries of a section by key, without regard to case: open
    // addressing over the entries themselves (no copy of the keys), at most
    // half full.
    class KeyIndex {
    public:
        static constexpr std::size_t None = static_cast<std::size_t>(-1);
        std::size_t find(const std::vector<Entry>& entries, std::string_view key) const;
        // Indexes entry i unless an entry with the same key is indexed already.
        void add(const std::vector<Entry>& entries, std::size_t i);
        // Indexes every entry with a key, the first of repeated keys winning.
        void rebuild(const std::vector<Entry>& entries);
        void clear();
        std::size_t size() const { return count_; }

    private:
        void reserve(std::size_t n); // room for n keys without growing
        void insert(const std::vector<Entry>& entries, std::size_t i, std::uint32_t hash);
        struct Slot {
            std::uint32_t entry = 0; // entry number + 1; 0: free
            std::uint32_t hash = 0;
        };
        std::vector<Slot> slots_;
        std::size_t count_ = 0;
        // Lists are read key after key in the order they were written: the
        // entry after the last one found is tried first. Only while no key
        // repeats (then the first of them must win, not the one next in line).
        bool repeats_ = false;
        mutable std::size_t next_ = 0;
    };
    struct Section {
        std::string name;
        std::vector<Entry> entries;
        KeyIndex index;
    };

    void load();
    void flush();
    void changed();
    const Entry* find(const std::string& section, const std::string& key) const;
    Section& sectionFor(const std::string& section);
    static void reindex(Section& s);

    std::string path_;
    // The file as read; entries not written since point into it. Shared by
    // copies of the store, never changed.
    std::shared_ptr<const char[]> text_;
    std::vector<Section> sections_; // sections_[0] holds the lines before the first header, unnamed
    std::unordered_map<std::string, std::size_t> sectionIndex_;
    mutable std::string lookupBuf_; // spares an allocation per lookup
    // The section name last looked up, as given, and its place in sections_
    // (0: none): a list is read key after key from one section.
    mutable std::string lastSection_;
    mutable std::size_t lastSectionAt_ = 0;
    int batch_ = 0;
    bool dirty_ = false;
};

// Runs beginUpdate/endUpdate around a scope.
class IniBatch {
public:
    explicit IniBatch(TIniFile& f) : f_(f) { f_.beginUpdate(); }
    ~IniBatch() noexcept(false) { f_.endUpdate(); }
    IniBatch(const IniBatch&) = delete;
    IniBatch& operator=(const IniBatch&) = delete;

private:
    TIniFile& f_;
};

} // namespace platform
