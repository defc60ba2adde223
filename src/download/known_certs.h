#pragma once
// Trust on first use for ftp:// links under "ftptls=offered": a server whose
// certificate does not verify is taken on the first contact with its host and
// port, and that certificate's SHA-256 fingerprint is remembered in the
// settings directory; later only that certificate is taken there without
// verifying, and a host and port remembered so must speak TLS. A store that
// cannot be read or written takes nothing.

#include <string>

namespace download {

inline constexpr const char* KnownCertificatesFile = "ftptls.Ini"; // [known] host:port=fingerprint

class KnownCertificates {
public:
    // A bare file name lives in the settings directory.
    explicit KnownCertificates(std::string fileName = KnownCertificatesFile)
        : fileName_(std::move(fileName)) {}

    // Empty when the certificate of fingerprint is taken at host:port (the
    // first one seen there is remembered); else why it is refused, naming the
    // host and both fingerprints, or the store that failed. note receives a
    // line worth showing (the certificate remembered).
    std::string judge(const std::string& host, const std::string& port, const std::string& fingerprint,
                      std::string& note);

    // The fingerprint remembered for host:port (empty: none) in fingerprint.
    // False when the store cannot be read; error then says why.
    bool remembered(const std::string& host, const std::string& port, std::string& fingerprint,
                    std::string& error) const;

    // "host:port" as the store names it.
    static std::string key(const std::string& host, const std::string& port);

    const std::string& fileName() const { return fileName_; }
    // The store's path (a bare name inside the settings directory).
    std::string path() const;

private:
    std::string fileName_;
};

} // namespace download
