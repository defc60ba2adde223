#include "download/fileurl.h"

#include "download/slots.h"
#include "url/urlinfo.h"

#include <algorithm>

namespace download {

std::string fileUrlProblem(const std::string& url) {
    if (std::any_of(url.begin(), url.end(), [](unsigned char c) { return c < 0x20 || c == 0x7f; }))
        return "a control character in URL";
    const std::string scheme = fileUrlScheme(url);
    if (scheme != "ftp" && scheme != "ftpes" && scheme != "ftps") return "not an ftp:// URL";
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

std::string fileUrlPort(const url::tlinfo& link) {
    if (fileUrlTls(link.url) != net::FtpTls::Implicit) return link.port;
    const std::size_t sep = link.url.find("://");
    std::string authority = link.url.substr(sep + 3);
    authority = authority.substr(0, authority.find('/'));
    if (const std::size_t at = authority.rfind('@'); at != std::string::npos)
        authority = authority.substr(at + 1);
    const std::size_t colon = authority.rfind(':'), close = authority.rfind(']'); // "[::1]:990"
    const bool hasPort = colon != std::string::npos && (close == std::string::npos || colon > close);
    return hasPort ? link.port : "990";
}

} // namespace download
