#pragma once
// The local file a download writes, whatever the protocol: opened without
// following a link and without blocking on a FIFO (which would hold the whole
// program until a reader came), refused unless it is a regular file; written
// whole, from a buffer or from a pipe by splice, never past a size limit.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace platform {

// What is at a local name now, without following a link.
struct LocalFileInfo {
    bool exists = false;
    bool regular = false;   // a regular file (not a link, FIFO, device, directory)
    std::int64_t size = -1; // of a regular file
};
LocalFileInfo inspectLocalFile(const std::string& name);

// Why name cannot be used after an error err: "not a regular file" for a name
// that is something else (a link, a FIFO, a device, a directory), else the
// system's text.
std::string localFileCause(const std::string& name, int err);

// Receives a download's bytes into one local file.
//
// open() holds the file: an existing one is opened untouched, a missing one
// is made now or, deferred, only by begin(). Bytes are taken only after
// begin(), the moment the sender has accepted the transfer, so a refusal
// before it leaves an existing file as it was and makes none. cut() and
// seek() place the bytes (a transfer from the start, a resume). Every
// failure keeps its cause() ("not a regular file", or the system's text, e.g.
// "No space left on device").
class LocalFileSink {
public:
    enum class Missing {
        Fail,   // a missing file is an error
        Create, // made now
        Defer,  // made by begin(); the folder must let it be made
    };

    LocalFileSink();
    ~LocalFileSink();
    LocalFileSink(const LocalFileSink&) = delete;
    LocalFileSink& operator=(const LocalFileSink&) = delete;

    // Opens name (closing a file held before); the offset is 0 and nothing is
    // taken yet. false with cause().
    bool open(const std::string& name, Missing missing);
    // The sender accepted: a deferred file is made (false with cause() when it
    // cannot be), and write() takes bytes from now on.
    bool begin();
    // The file ends at `at` and bytes go on from there.
    bool cut(std::int64_t at);
    // Bytes go on from `at`; what lies after it stays.
    bool seek(std::int64_t at);

    // The file may grow to maxSize bytes at most (0 or less: no limit).
    void setLimit(std::int64_t maxSize) { limit_ = maxSize; }
    // Bytes the file may still take from the offset cut() or seek() set; -1: no limit.
    std::int64_t room() const;
    // Writes p[0, n) at the current offset, the part that fits the limit:
    // the bytes taken, or -1 when the file takes no more (cause()).
    std::int64_t write(const char* p, std::size_t n);
    // Moves the first n bytes of a pipe into the file (by splice, by read
    // and write where this file takes none), the part that fits the limit:
    // the bytes taken (what is past the limit stays in the pipe), or -1 when
    // the file takes no more (cause()). spliced counts what went by splice.
    std::int64_t writeFromPipe(int pipeFd, std::size_t n, std::int64_t& spliced);
    // The file refused splice since it was opened.
    bool spliceRefused() const { return noSplice_; }

    bool isOpen() const { return fd_ >= 0; }
    bool deferred() const { return deferred_; }
    bool began() const { return began_; }
    // This sink made the file (open with Create, or begin after Defer).
    bool created() const { return created_; }
    // The file's size now; -1 when unknown.
    std::int64_t size() const;
    // The current offset: where the next byte goes; -1 when unknown.
    std::int64_t position() const;
    const std::string& name() const { return name_; }
    const std::string& cause() const { return cause_; }

    void close();
    // Closes, and removes the file when this sink made it.
    void discard();

private:
    bool fail(int err);           // false, the cause kept
    std::int64_t broken(int err); // -1, the cause kept
    bool adopt();
    bool makeNow();

    int fd_ = -1;
    std::string name_, cause_;
    bool deferred_ = false, began_ = false, created_ = false, noSplice_ = false;
    std::int64_t limit_ = 0, start_ = 0, taken_ = 0;
    std::unique_ptr<char[]> copyBuf_; // the read-and-write path from a pipe
};

} // namespace platform
