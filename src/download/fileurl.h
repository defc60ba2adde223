#pragma once
// Whether a typed or given URL names a file a slot could fetch. The scheduler
// retries a site without limit, so a URL without host or file name would only
// mark its site as failing, for ever.

#include "net/ftpcli.h"
#include "url/urlinfo.h"

#include <string>

namespace download {

// The scheme of url in lower case ("ftp", "ftpes", "ftps", "http", "https"; "" without "://").
std::string fileUrlScheme(const std::string& url);
// The TLS a file URL asks for: ftp:// none, ftpes:// explicit (AUTH TLS on
// port 21), ftps:// implicit (port 990).
net::FtpTls fileUrlTls(const std::string& url);
// The TLS of ftp:// links (the setting "ftptls", the option --ftp-tls):
// "off" (none), "offered" (AUTH TLS tried, plain when refused) and
// "required" (AUTH TLS or nothing). False for any other text.
bool parseFtpTlsMode(const std::string& text, net::FtpTls& mode);
const char* ftpTlsModeName(net::FtpTls mode); // "off", "offered" or "required"
// The port of link: the one its URL names, else its scheme's default (ftp 21,
// ftps 990, http 80, https 443).
std::string fileUrlPort(const url::tlinfo& link);

// Empty when url is an ftp://, ftpes://, ftps://, http:// or https:// URL (any case) with a host, a port from
// 1 to 65535 and a file name, and holds no control character; else the reason, for example "no host name in
// URL". With ftpOnly, http:// and https:// are refused too ("not an ftp:// URL").
std::string fileUrlProblem(const std::string& url, bool ftpOnly = false);

} // namespace download
