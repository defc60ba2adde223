// wavetrap-cli verify FILE...: what each file is (MPEG audio with its tags and
// duration, a damaged stream and where it breaks, or something else), one
// line per file.

#include "app/cli_commands.h"
#include "media/verdict.h"
#include "platform/text.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr const char* Usage = "verify FILE...";

void help() {
    std::cout
        << "Usage: wavetrap-cli verify [--] FILE...\n\n"
           "Tells for each FILE (standard input for \"-\") whether it is MP3 audio, one line per file:\n"
           "  NAME: audio: ARTIST - TITLE (DURATION, BITRATE); STREAM; album: ALBUM; tags: TAGS\n"
           "  NAME: damaged: WHERE THE STREAM BREAKS; STREAM\n"
           "  NAME: not audio: WHAT IT LOOKS LIKE\n\n"
           "audio      an MPEG audio stream (MPEG-1, 2 or 2.5, layer I, II or III; constant, variable\n"
           "           or free bitrate) from its first frame to its last, with ID3v2, ID3v1, APE or\n"
           "           Lyrics3 tags around it; a few bytes before the first frame are ordinary\n"
           "damaged    an MPEG audio stream with junk or zeros inside it or after it, cut in the\n"
           "           middle of a frame, or shorter than its Xing/Info/VBRI header announces\n"
           "not audio  no MPEG audio stream: an HTML page, text, all zeros, or another format known\n"
           "           by its first bytes (ZIP, RIFF/WAV, Ogg, FLAC, PDF, an executable, ...)\n\n"
           "Only the frame headers are read (nothing is decoded), with the tags' text.\n\n"
           "Options:\n"
           "  --help    show this help\n\n"
           "Exit status: 0 when every file is audio, 1 when one is damaged or not audio, 2 on an\n"
           "error (a file that cannot be read, said on standard error).\n";
}

std::string line(const std::string& name, const media::Verdict& v) {
    std::string out = platform::printable(name) + ": ";
    out += v.kind == media::Kind::Audio ? "audio: " + media::summary(v) : media::summary(v);
    const std::string facts = media::details(v);
    if (!facts.empty()) out += "; " + facts;
    return out + "\n";
}

bool readAll(int fd, std::vector<unsigned char>& out) {
    unsigned char block[1 << 16];
    for (;;) {
        const ssize_t n = ::read(fd, block, sizeof block);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) return true;
        out.insert(out.end(), block, block + n);
    }
}

int runVerify(const std::vector<std::string>& args) {
    std::vector<std::string> files;
    bool options = true;
    for (const std::string& a : args) {
        if (options && a == "--") {
            options = false;
        } else if (options && (a == "--help" || a == "-h")) {
            help();
            return cli::ExitRows;
        } else if (options && a.size() > 1 && a[0] == '-') {
            return cli::fail("verify: unknown option '" + a + "' (see wavetrap-cli verify --help)");
        } else {
            files.push_back(a);
        }
    }
    if (files.empty()) return cli::fail("verify: no file given (see wavetrap-cli verify --help)");

    bool error = false, allAudio = true;
    for (const std::string& f : files) {
        media::Verdict v;
        std::string name = f;
        if (f == "-") {
            name = "standard input";
            std::vector<unsigned char> bytes;
            if (!readAll(STDIN_FILENO, bytes)) {
                v.kind = media::Kind::Unreadable;
                v.errorText = std::strerror(errno);
            } else {
                v = media::verifyBytes(bytes);
            }
        } else {
            v = media::verify(f);
        }
        if (v.kind == media::Kind::Unreadable) {
            cli::fail("verify: " + platform::printable(name) + ": " + v.errorText);
            error = true;
            continue;
        }
        if (!v.audio()) allAudio = false;
        const std::string out = line(name, v);
        if (std::fwrite(out.data(), 1, out.size(), stdout) != out.size() || std::fflush(stdout) != 0)
            return cli::fail(std::string("verify: cannot write the verdicts: ") + std::strerror(errno));
    }
    if (error) return cli::ExitError;
    return allAudio ? cli::ExitRows : cli::ExitNone;
}

const cli::CliCommand
    command("verify", Usage, "tell whether files are MP3 audio (tags, duration) or what they are", runVerify);

} // namespace
