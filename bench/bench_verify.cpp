// The frame walks on a directory of MP3 files, each timed over all files:
// this program's walk (headers only, then with the tags' text through TagLib)
// against libmpg123's parser (mpg123_framebyframe_next, no decoding). Prints
// the times, MB/s and the ratios, and how many files the two walks count
// different frames in.
//
// Usage: bench_verify DIR [ROUNDS [WINDOW]]   (bench/verify_vs_mp3val.sh makes DIR;
// WINDOW: the bytes read at once, media::Options::window)

#include "media/mpg123_frames.h"
#include "media/verdict.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

double seconds(const std::function<void()>& run) {
    const auto t = std::chrono::steady_clock::now();
    run();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_verify DIR [ROUNDS [WINDOW]]\n");
        return 2;
    }
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
    std::vector<std::string> files;
    std::uintmax_t bytes = 0;
    for (const auto& e : std::filesystem::directory_iterator(argv[1])) {
        if (!e.is_regular_file()) continue;
        files.push_back(e.path().string());
        bytes += e.file_size();
    }
    std::sort(files.begin(), files.end());
    const double mb = static_cast<double>(bytes) / 1e6;
    std::printf("%zu files, %.1f MB\n", files.size(), mb);

    std::uint64_t ownFrames = 0, libFrames = 0;
    std::size_t differ = 0;
    std::vector<std::uint64_t> counts(files.size());
    media::Options options;
    if (argc > 3) options.window = static_cast<std::size_t>(std::atol(argv[3]));
    media::Options headersOnly = options;
    headersOnly.readTags = false;
    double walk = 1e9, verify = 1e9, lib = 1e9, mapped = 1e9;
    for (int r = 0; r < rounds; ++r) {
        walk = std::min(walk, seconds([&] {
                            ownFrames = 0;
                            for (std::size_t i = 0; i < files.size(); ++i)
                                ownFrames += counts[i] = media::verify(files[i], headersOnly).stream.frames;
                        }));
        verify = std::min(verify, seconds([&] {
                              for (const std::string& f : files)
                                  media::verify(f, options);
                          }));
        mapped = std::min(
            mapped, seconds([&] {
                for (const std::string& f : files) {
                    const int fd = ::open(f.c_str(), O_RDONLY | O_CLOEXEC);
                    struct stat st {};
                    ::fstat(fd, &st);
                    const auto size = static_cast<std::size_t>(st.st_size);
                    void* p =
                        size ? ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, 0) : nullptr;
                    if (p != MAP_FAILED) {
                        media::verifyBytes({static_cast<const unsigned char*>(p), size}, headersOnly);
                        if (p) ::munmap(p, size);
                    }
                    ::close(fd);
                }
            }));
        lib = std::min(lib, seconds([&] {
                           libFrames = 0;
                           differ = 0;
                           for (std::size_t i = 0; i < files.size(); ++i) {
                               const std::uint64_t n = media::walkWithMpg123(files[i]).frames;
                               libFrames += n;
                               differ += n != counts[i];
                           }
                       }));
    }
    std::printf("best of %d rounds:\n", rounds);
    std::printf("frame walk (headers)         %8.3f s  %8.0f MB/s  %llu frames\n", walk, mb / walk,
                static_cast<unsigned long long>(ownFrames));
    std::printf("verify (headers and tags)    %8.3f s  %8.0f MB/s\n", verify, mb / verify);
    std::printf("frame walk, file mapped      %8.3f s  %8.0f MB/s\n", mapped, mb / mapped);
    std::printf("libmpg123 frame by frame     %8.3f s  %8.0f MB/s  %llu frames\n", lib, mb / lib,
                static_cast<unsigned long long>(libFrames));
    std::printf("ratio walk/libmpg123 %.3f, verify/libmpg123 %.3f; files whose frame counts differ: %zu\n",
                walk / lib, verify / lib, differ);
    return 0;
}
