#include "download/file_records.h"

#include "platform/profile.h"

#include <openssl/evp.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace download {

namespace fs = std::filesystem;

namespace {

std::string escapeField(const std::string& s) {
    std::string out;
    out.reserve(s.size());
    for (char c : s) {
        switch (c) {
        case '%':
            out += "%25";
            break;
        case '\t':
            out += "%09";
            break;
        case '\n':
            out += "%0A";
            break;
        case '\r':
            out += "%0D";
            break;
        default:
            out += c;
        }
    }
    return out;
}

std::string unescapeField(const std::string& s) {
    std::string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '%' && i + 2 < s.size()) {
            const std::string code = s.substr(i + 1, 2);
            if (code == "25" || code == "09" || code == "0A" || code == "0D") {
                out += static_cast<char>(std::stoi(code, nullptr, 16));
                i += 2;
                continue;
            }
        }
        out += s[i];
    }
    return out;
}

std::vector<std::string> splitTabs(const std::string& line) {
    std::vector<std::string> fields;
    std::size_t from = 0;
    for (;;) {
        const std::size_t tab = line.find('\t', from);
        fields.push_back(unescapeField(line.substr(from, tab == std::string::npos ? tab : tab - from)));
        if (tab == std::string::npos) return fields;
        from = tab + 1;
    }
}

// The folder as one spelling: absolute, without "." and "..", links resolved
// where they exist.
std::string folderKey(const std::string& dir) {
    std::error_code ec;
    fs::path p = fs::weakly_canonical(fs::absolute(dir.empty() ? "." : dir, ec), ec);
    if (ec) p = fs::absolute(dir.empty() ? "." : dir).lexically_normal();
    std::string s = p.string();
    while (s.size() > 1 && s.back() == '/')
        s.pop_back();
    return s;
}

std::string systemText(int error) {
    return std::strerror(error);
}

} // namespace

std::string sha256OfFile(const std::string& path, std::string* error) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        if (error) *error = systemText(errno);
        return {};
    }
    std::unique_ptr<EVP_MD_CTX, void (*)(EVP_MD_CTX*)> ctx(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    EVP_DigestInit_ex(ctx.get(), EVP_sha256(), nullptr);
    std::vector<unsigned char> buffer(256 * 1024);
    for (;;) {
        const ssize_t got = ::read(fd, buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            if (error) *error = systemText(errno);
            ::close(fd);
            return {};
        }
        if (got == 0) break;
        EVP_DigestUpdate(ctx.get(), buffer.data(), static_cast<std::size_t>(got));
    }
    ::close(fd);
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_DigestFinal_ex(ctx.get(), digest, &length);
    static const char hex[] = "0123456789abcdef";
    std::string out;
    for (unsigned int i = 0; i < length; ++i) {
        out += hex[digest[i] >> 4];
        out += hex[digest[i] & 15];
    }
    return out;
}

std::string moveToRejected(const std::string& path, std::string& error) {
    const fs::path from(path);
    const fs::path folder = (from.has_parent_path() ? from.parent_path() : fs::path(".")) / "rejected";
    if (::mkdir(folder.c_str(), 0755) != 0 && errno != EEXIST) {
        error = "cannot make the folder " + folder.string() + ": " + systemText(errno);
        return {};
    }
    struct stat st {};
    if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        error = folder.string() + " is not a folder";
        return {};
    }
    const std::string name = from.filename().string();
    const std::size_t dot = name.rfind('.');
    const std::string stem = dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
    const std::string ext = stem.size() == name.size() ? "" : name.substr(dot);
    for (int k = 1; k < 1000; ++k) {
        const std::string candidate =
            (k == 1 ? name : stem + " (" + std::to_string(k) + ")" + ext) + ".rejected";
        const fs::path to = folder / candidate;
        // Never over another file: the name is taken only when it is free.
        if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
            return to.string();
        if (errno != EEXIST) {
            error = "cannot move it to " + to.string() + ": " + systemText(errno);
            return {};
        }
    }
    error = "no free name in " + folder.string();
    return {};
}

FileRecords::FileRecords(std::string file)
    : file_(file.find('/') == std::string::npos ? platform::configDir() + "/" + file : std::move(file)) {}

void FileRecords::load() const {
    if (loaded_) return;
    loaded_ = true;
    std::ifstream in(file_, std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
        const std::vector<std::string> f = splitTabs(line);
        if (f.size() == 5 && f[0] == "fetched") {
            FetchedFile file;
            file.size = std::strtoll(f[2].c_str(), nullptr, 10);
            file.sha256 = f[3];
            file.path = f[4];
            fetched_[f[1]] = file;
            refused_.erase(f[1]);
        } else if (f.size() == 3 && f[0] == "notaudio") {
            refused_[f[1]] = f[2];
            fetched_.erase(f[1]);
        }
        // Other lines (a later version's kinds, a line cut by a crash) are skipped.
    }
}

bool FileRecords::append(const std::string& line, std::string& error) {
    // One write of the whole line with O_APPEND: two runs never interleave
    // inside a line, and a crash cuts at most the last one.
    const int fd = ::open(file_.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        error = "cannot write " + file_ + ": " + systemText(errno);
        return false;
    }
    const std::string text = line + "\n";
    const ssize_t wrote = ::write(fd, text.data(), text.size());
    const int writeError = errno;
    if (::close(fd) != 0 || wrote != static_cast<ssize_t>(text.size())) {
        error = "cannot write " + file_ + ": " + systemText(wrote < 0 ? writeError : ENOSPC);
        return false;
    }
    return true;
}

bool FileRecords::fetched(const std::string& url, const std::string& path, std::string& error) {
    load();
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        error = path + ": " + systemText(errno);
        return false;
    }
    FetchedFile file;
    file.path = fs::absolute(path).lexically_normal().string();
    file.size = static_cast<std::int64_t>(st.st_size);
    file.sha256 = sha256OfFile(path, &error);
    if (file.sha256.empty()) return false;
    if (!append("fetched\t" + escapeField(url) + "\t" + std::to_string(file.size) + "\t" + file.sha256 +
                    "\t" + escapeField(file.path),
                error))
        return false;
    fetched_[url] = file;
    refused_.erase(url);
    return true;
}

bool FileRecords::notAudio(const std::string& url, const std::string& why, std::string& error) {
    load();
    if (!append("notaudio\t" + escapeField(url) + "\t" + escapeField(why), error)) return false;
    refused_[url] = why;
    fetched_.erase(url);
    return true;
}

std::string FileRecords::refusedBecause(const std::string& url) const {
    load();
    const auto it = refused_.find(url);
    return it == refused_.end() ? std::string() : it->second;
}

std::optional<FetchedFile> FileRecords::lastFetched(const std::string& url) const {
    load();
    const auto it = fetched_.find(url);
    if (it == fetched_.end()) return std::nullopt;
    return it->second;
}

std::optional<std::string> FileRecords::alreadyHere(const std::string& url, const std::string& dir) const {
    const std::optional<FetchedFile> file = lastFetched(url);
    if (!file) return std::nullopt;
    const fs::path path(file->path);
    if (folderKey(path.parent_path().string()) != folderKey(dir)) return std::nullopt;
    struct stat st {};
    if (::stat(file->path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    if (static_cast<std::int64_t>(st.st_size) != file->size) return std::nullopt;
    if (sha256OfFile(file->path) != file->sha256) return std::nullopt;
    return file->path;
}

} // namespace download
