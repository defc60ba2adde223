#include "media/mpg123_frames.h"

#include <mpg123.h>

namespace media {

Mpg123Frames walkWithMpg123(const std::string& path) {
    Mpg123Frames r;
    int err = MPG123_OK;
    mpg123_handle* mh = mpg123_new(nullptr, &err);
    if (!mh) {
        r.error = mpg123_plain_strerror(err);
        return r;
    }
    mpg123_param(mh, MPG123_ADD_FLAGS, MPG123_QUIET, 0);
    mpg123_param(mh, MPG123_RESYNC_LIMIT, -1, 0); // follow the stream through any amount of junk
    if (mpg123_open(mh, path.c_str()) != MPG123_OK) {
        r.error = mpg123_strerror(mh);
        mpg123_delete(mh);
        return r;
    }
    r.opened = true;
    for (;;) {
        const int rc = mpg123_framebyframe_next(mh);
        if (rc == MPG123_DONE) break;
        if (rc != MPG123_OK && rc != MPG123_NEW_FORMAT) {
            r.error = mpg123_strerror(mh);
            break;
        }
        unsigned long header = 0;
        unsigned char* body = nullptr;
        size_t bytes = 0;
        if (mpg123_framedata(mh, &header, &body, &bytes) != MPG123_OK) continue;
        const auto at = static_cast<std::uint64_t>(mpg123_framepos(mh));
        if (r.frames == 0) {
            r.first = at;
        } else if (at != r.end) {
            if (r.gaps++ == 0) {
                r.firstGap = r.end;
                r.beforeGap = r.frames;
            }
        }
        r.end = at + 4 + bytes;
        ++r.frames;
    }
    mpg123_close(mh);
    mpg123_delete(mh);
    return r;
}

} // namespace media
