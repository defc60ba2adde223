#pragma once
// The local file a download writes: opened without following a link and
// without blocking on a FIFO (which would hold the whole program until a
// reader came), refused unless it is a regular file; written whole.

#include <cstddef>
#include <string>

namespace platform {

// Opens name for writing (made when create is set and it does not exist,
// created then says so). -1 with the cause ("not a regular file", or the
// system's text) otherwise. The descriptor blocks as usual once open.
int openLocalFile(const std::string& name, bool create, bool& created, std::string& cause);
// Why name cannot be used after an error err: "not a regular file" for a name
// that is something else (a link, a FIFO, a device, a directory), else the
// system's text.
std::string localFileCause(const std::string& name, int err);
// Writes all of p[0, n) to fd; false (errno set) when the file takes no more.
bool writeAll(int fd, const char* p, std::size_t n);

} // namespace platform
