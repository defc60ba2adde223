#include "download/known_certs.h"

#include "platform/profile.h"

namespace download {

namespace {

constexpr const char* Section = "known";

std::string key(const std::string& host, const std::string& port) {
    // An IPv6 address keeps its brackets, so the port stays apart from it.
    const bool v6 = host.find(':') != std::string::npos && host.front() != '[';
    return (v6 ? "[" + host + "]" : host) + ":" + port;
}

} // namespace

std::string KnownCertificates::judge(const std::string& host, const std::string& port,
                                     const std::string& fingerprint, std::string& note) {
    note.clear();
    if (fingerprint.empty()) return "the server showed no certificate";
    const std::string at = key(host, port);
    try {
        platform::TIniFile ini(fileName_);
        const std::string known = ini.ReadString(Section, at, "");
        if (known == fingerprint) return {};
        if (!known.empty())
            return "the certificate of " + at + " changed and does not verify (remembered SHA-256 " + known +
                   ", now " + fingerprint + "); refused";
        ini.WriteString(Section, at, fingerprint);
        note = "first contact with " + at +
               ": its certificate, which does not verify, is taken and remembered "
               "(SHA-256 " +
               fingerprint + ")";
    } catch (const platform::EProfileError& e) {
        // Taken for this session, as on a first contact; only the memory of it is lost.
        note =
            "the certificate of " + at + " (SHA-256 " + fingerprint + ") cannot be remembered: " + e.what();
    }
    return {};
}

} // namespace download
