#pragma once
// What the program remembers of the files it fetched, across runs: each file
// that arrived whole (its URL, where it was written, its size and SHA-256),
// and each URL that served something other than a song. With it a URL asked
// for again is "already here" while its file is there unchanged, and a URL
// that served a web page instead of a song is not fetched again.
//
// The records live in one text file of the settings directory ("files.txt"),
// a line each, appended as files end; a later line for a URL replaces an
// earlier one:
//
//     fetched<TAB>URL<TAB>SIZE<TAB>SHA256<TAB>PATH
//     notaudio<TAB>URL<TAB>WHY
//
// Tabs, line ends and "%" in a field are written as %09, %0A, %0D and %25.

#include <cstdint>
#include <map>
#include <optional>
#include <string>

namespace download {

// The SHA-256 of a local file in lower-case hexadecimal; empty (and error set)
// when the file cannot be read.
std::string sha256OfFile(const std::string& path, std::string* error = nullptr);

// Moves a fetched file judged not to be a song out of the way of music
// players: "DIR/Name.mp3" becomes "DIR/rejected/Name.mp3.rejected" (a free name
// "Name (2).mp3.rejected" when that is taken). Returns the new path, or empty
// with error set when the file could not be moved (it then stays where it is).
std::string moveToRejected(const std::string& path, std::string& error);

struct FetchedFile {
    std::string path; // absolute
    std::int64_t size = 0;
    std::string sha256;
};

class FileRecords {
public:
    // A name without "/" is a file of the settings directory.
    explicit FileRecords(std::string file = "files.txt");

    // The file of url arrived whole at path: its size and digest are taken
    // now. False (and error set) when the file cannot be read or the record
    // not written.
    bool fetched(const std::string& url, const std::string& path, std::string& error);
    // url served something other than a song (why: "an HTML page").
    bool notAudio(const std::string& url, const std::string& why, std::string& error);

    // Why url is not to be fetched again (empty: it may be).
    std::string refusedBecause(const std::string& url) const;
    // The local file url was fetched to, when it is still in folder dir (its
    // absolute path there) with the size and digest it arrived with.
    std::optional<std::string> alreadyHere(const std::string& url, const std::string& dir) const;
    std::optional<FetchedFile> lastFetched(const std::string& url) const;

    const std::string& fileName() const { return file_; }

private:
    void load() const;
    bool append(const std::string& line, std::string& error);

    std::string file_;
    mutable bool loaded_ = false;
    mutable std::map<std::string, FetchedFile> fetched_;
    mutable std::map<std::string, std::string> refused_;
};

} // namespace download
