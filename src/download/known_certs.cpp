#include "download/known_certs.h"

#include "platform/profile.h"

#include <cerrno>
#include <cstring>
#include <exception>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace download {

namespace {

constexpr const char* Section = "known";

// Why the store at path cannot be read (empty: it can, or it does not exist yet).
std::string unreadable(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return errno == ENOENT ? std::string() : std::strerror(errno);
    if (!S_ISREG(st.st_mode)) return "not a regular file";
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::strerror(errno);
    ::close(fd);
    return {};
}

} // namespace

std::string KnownCertificates::key(const std::string& host, const std::string& port) {
    // An IPv6 address keeps its brackets, so the port stays apart from it.
    const bool v6 = host.find(':') != std::string::npos && host.front() != '[';
    return (v6 ? "[" + host + "]" : host) + ":" + port;
}

std::string KnownCertificates::path() const {
    return fileName_.find('/') == std::string::npos ? platform::configDir() + "/" + fileName_ : fileName_;
}

bool KnownCertificates::remembered(const std::string& host, const std::string& port, std::string& fingerprint,
                                   std::string& error) const {
    fingerprint.clear();
    const std::string file = path();
    error = unreadable(file);
    if (error.empty()) {
        try {
            fingerprint = platform::TIniFile(file).ReadString(Section, key(host, port), "");
            return true;
        } catch (const std::exception& e) {
            error = e.what();
        }
    }
    error = "the remembered certificates in " + file + " cannot be read (" + error + ")";
    return false;
}

std::string KnownCertificates::judge(const std::string& host, const std::string& port,
                                     const std::string& fingerprint, std::string& note) {
    note.clear();
    if (fingerprint.empty()) return "the server showed no certificate";
    const std::string at = key(host, port);
    std::string known, error;
    if (!remembered(host, port, known, error)) return error + "; refused";
    if (known == fingerprint) return {};
    if (!known.empty())
        return "the certificate of " + at + " changed and does not verify (remembered SHA-256 " + known +
               ", now " + fingerprint + "); refused";
    try {
        platform::TIniFile ini(path());
        ini.WriteString(Section, at, fingerprint);
    } catch (const std::exception& e) {
        // Taken now, it could not be told from another one next time.
        return "the certificate of " + at + " (SHA-256 " + fingerprint +
               "), which does not verify, cannot be remembered (" + e.what() + "); refused";
    }
    note = "first contact with " + at +
           ": its certificate, which does not verify, is taken and remembered "
           "(SHA-256 " +
           fingerprint + ")";
    return {};
}

} // namespace download
