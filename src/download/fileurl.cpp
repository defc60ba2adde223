#include "download/fileurl.h"

#include "download/slots.h"
#include "url/urlinfo.h"

#include <algorithm>

namespace download {

std::string fileUrlProblem(const std::string& url) {
    if (std::any_of(url.begin(), url.end(), [](unsigned char c) { return c < 0x20 || c == 0x7f; }))
        return "a control character in URL";
    std::string scheme = url.substr(0, 6);
    std::transform(scheme.begin(), scheme.end(), scheme.begin(),
                   [](unsigned char c) { return std::tolower(c); });
    if (scheme != "ftp://") return "not an ftp:// URL";
    return linkProblem(url::splitUrl(url));
}

} // namespace download
