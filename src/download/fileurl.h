#pragma once
// Whether a typed or given URL names a file a slot could fetch. The scheduler
// retries a site without limit, so a URL without host or file name would only
// mark its site as failing, for ever.

#include <string>

namespace download {

// Empty when url is an ftp:// URL (any case) with a host, a port from 1 to
// 65535 and a file name, and holds no control character; else the reason,
// for example "no host name in URL".
std::string fileUrlProblem(const std::string& url);

} // namespace download
