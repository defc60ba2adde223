#pragma once
// A generated corpus of result pages as search engines serve them: HTML with
// many links, a few quoted ftp:// links to .mp3 files among the http:// ones,
// and some of the quirks real pages carry (escapes, capital .MP3, redirects).

#include <cstddef>
#include <cstdint>
#include <random>
#include <string>

namespace benchdata {

inline std::string resultPage(std::mt19937& gen, int pageNo) {
    static const char* const words[] = {"blue",  "train", "moment", "notice", "lazy",  "bird",  "locomotion",
                                        "night", "jazz",  "live",   "remix",  "intro", "theme", "suite",
                                        "dance", "river", "summer", "rain",   "love",  "song"};
    static const char* const webHosts[] = {"www.example.org", "music.example.net", "shop.example.com",
                                           "lyrics.example.org", "ads.example.net"};
    auto pick = [&](auto& arr) { return std::string(arr[gen() % std::size(arr)]); };
    auto title = [&] {
        std::string t = pick(words);
        const int n = 1 + static_cast<int>(gen() % 3);
        for (int i = 0; i < n; ++i)
            t += "_" + pick(words);
        return t;
    };
    auto ftpHost = [&] {
        switch (gen() % 4) {
        case 0:
            return "ftp" + std::to_string(gen() % 500) + ".example.com";
        case 1:
            return "192.0.2." + std::to_string(1 + gen() % 254);
        case 2:
            return "198.51.100." + std::to_string(1 + gen() % 254);
        default:
            return "mirror" + std::to_string(gen() % 300) + ".example.net";
        }
    };
    std::string p;
    p.reserve(48 * 1024);
    const std::string query = pick(words) + "+" + pick(words);
    p += "<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 3.2 Final//EN\">\n<html>\n<head>\n<title>MP3 Search "
         "Results for \"" +
         query +
         "\"</title>\n<meta http-equiv=\"Content-Type\" content=\"text/html; charset=iso-8859-1\">\n"
         "<link rel=\"stylesheet\" href=\"http://search.example.com/style/results.css\" type=\"text/css\">\n"
         "</head>\n<body bgcolor=\"#FFFFFF\" text=\"#000000\" link=\"#0000CC\" vlink=\"#551A8B\">\n"
         "<form method=\"GET\" action=\"http://search.example.com/cgi-bin/search\">\n"
         "<input type=\"text\" name=\"query\" value=\"" +
         query + "\" size=\"30\"> <input type=\"submit\" value=\"Search\">\n</form>\n<p><b>Results " +
         std::to_string(pageNo * 100 + 1) + " - " + std::to_string(pageNo * 100 + 100) + "</b> for <b>" +
         query + "</b>.</p>\n<table border=\"0\" cellpadding=\"3\" cellspacing=\"0\" width=\"100%\">\n";
    for (int row = 0; row < 100; ++row) {
        const std::string name = title();
        p += "<tr bgcolor=\"" + std::string(row % 2 ? "#FFFFFF" : "#F0F0FF") + "\"><td>" +
             std::to_string(row + 1) + ".</td><td>";
        const unsigned kind = gen() % 10;
        if (kind < 2) { // an FTP link to an MP3 file
            const std::string host = ftpHost();
            std::string path = "/pub/mp3/" + name;
            if (gen() % 5 == 0) path += "%20(live)";
            p += "<a href=\"ftp://" + host + path + ".mp3\">" + name + ".mp3</a></td><td>" +
                 std::to_string(1 + gen() % 9) + "." + std::to_string(gen() % 10) + " MB</td><td><a href=\"" +
                 "http://search.example.com/cgi-bin/server?host=" + host + "\">" + host + "</a>";
        } else if (kind == 2) { // a redirect through the engine
            p += "<a href=\"/cgi-bin/redirect?url=ftp://" + ftpHost() + "/pub/" + name +
                 ".mp3\">via redirect</a>";
        } else if (kind == 3) { // capital extension
            p += "<a href=\"ftp://" + ftpHost() + "/PUB/" + name + ".MP3\">" + name + ".MP3</a>";
        } else { // web pages
            const std::string host = pick(webHosts);
            p += "<a href=\"http://" + host + "/music/" + name + ".html\" title=\"" + name +
                 " - lyrics, reviews and more\">" + name + "</a> <a href=\"http://" + host +
                 "/listen?file=" + name + ".mp3&amp;q=" + query + "\">listen</a>";
        }
        p += "</td></tr>\n";
    }
    p += "</table>\n<p>Result pages: <a href=\"http://search.example.com/cgi-bin/search?query=" + query +
         "&amp;start=100\">Next &gt;&gt;</a></p>\n<p><font size=\"-2\">Links point to files on public FTP "
         "servers. "
         "<a href=\"http://search.example.com/terms.html\">Terms</a> | <a "
         "href=\"mailto:webmaster@search.example.com\">Contact</a></font></p>\n</body>\n</html>\n";
    return p;
}

// Pages until the corpus holds at least bytes characters; offsets[i] is where page i begins.
inline std::string corpus(std::size_t bytes, std::vector<std::size_t>* offsets = nullptr) {
    std::mt19937 gen(1998);
    std::string c;
    c.reserve(bytes + 64 * 1024);
    for (int page = 0; c.size() < bytes; ++page) {
        if (offsets) offsets->push_back(c.size());
        c += resultPage(gen, page);
    }
    return c;
}

} // namespace benchdata
