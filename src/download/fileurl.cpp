#include "download/fileurl.h"

#include "download/slot.h"
#include "url/urlinfo.h"

#include <algorithm>

namespace download {

std::string fileUrlProblem(const std::string& url, bool ftpOnly) {
    if (std::any_of(url.begin(), url.end(), [](unsigned char c) { return c < 0x20 || c == 0x7f; }))
        return "a control character in URL";
    const std::string scheme = fileUrlScheme(url);
    const bool ftp = scheme == "ftp" || scheme == "ftpes" || scheme == "ftps";
    if (ftpOnly && !ftp) return "not an ftp:// URL";
    if (!ftp && scheme != "http" && scheme != "https") return "not an ftp:// or http:// URL";
    return linkProblem(url::splitUrl(url));
}

std::string fileUrlScheme(const std::string& url) {
    const std::size_t sep = url.find("://");
    if (sep == std::string::npos || sep > 8) return {};
    std::string scheme = url.substr(0, sep);
    std::transform(scheme.begin(), scheme.end(), scheme.begin(),
                   [](unsigned char c) { return std::tolower(c); });
    return scheme;
}

net::FtpTls fileUrlTls(const std::string& url) {
    const std::string scheme = fileUrlScheme(url);
    if (scheme == "ftpes") return net::FtpTls::Explicit;
    if (scheme == "ftps") return net::FtpTls::Implicit;
    return net::FtpTls::Off;
}

bool parseFtpTlsMode(const std::string& text, net::FtpTls& mode) {
    if (text == "off") {
        mode = net::FtpTls::Off;
    } else if (text == "offered") {
        mode = net::FtpTls::Offered;
    } else if (text == "required") {
        mode = net::FtpTls::Explicit;
    } else {
        return false;
    }
    return true;
}

const char* ftpTlsModeName(net::FtpTls mode) {
    switch (mode) {
    case net::FtpTls::Offered:
        return "offered";
    case net::FtpTls::Explicit:
    case net::FtpTls::Implicit:
        return "required";
    case net::FtpTls::Off:
        break;
    }
    return "off";
}

std::string fileUrlPort(const url::tlinfo& link) {
    const std::string scheme = fileUrlScheme(link.url);
    const char* standard = scheme == "ftps"    ? "990"
                           : scheme == "http"  ? "80"
                           : scheme == "https" ? "443"
                                               : nullptr;
    if (!standard) return link.port;
    const std::size_t sep = link.url.find("://");
    std::string authority = link.url.substr(sep + 3);
    authority = authority.substr(0, authority.find('/'));
    if (const std::size_t at = authority.rfind('@'); at != std::string::npos)
        authority = authority.substr(at + 1);
    const std::size_t colon = authority.rfind(':'), close = authority.rfind(']'); // "[::1]:990"
    const bool hasPort = colon != std::string::npos && (close == std::string::npos || colon > close);
    return hasPort ? link.port : standard;
}

} // namespace download
