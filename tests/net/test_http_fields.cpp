// The reply's fields as THttpCli answers them: HeaderValue over the header
// lines received, and Content-Range with its strict numbers (a range read
// wrong would resume a file at the wrong byte).
#include "net/httpprot.h"

#include <gtest/gtest.h>

#include <string>

using net::HttpContentRange;

TEST(HttpFields, ContentRangeTakesOnlyWellFormedRanges) {
    const struct {
        const char* value;
        bool ok;
        std::int64_t first, last, total;
    } rows[] = {
        {"bytes 0-99/100", true, 0, 99, 100},
        {"bytes 100-199/*", true, 100, 199, -1},
        {"bytes */500", true, -1, -1, 500},
        {"BYTES 5-9/10", true, 5, 9, 10},
        {" \tbytes 5-9/10", true, 5, 9, 10},
        {"bytes 0-0/1", true, 0, 0, 1},
        {"bytes 4294967296-4294967299/4294967300", true, 4294967296, 4294967299, 4294967300},
        {"bytes 9-5/10", false, 0, 0, 0},  // last before first
        {"bytes 5-9/1x", false, 0, 0, 0},  // total not a number
        {"bytes +5-9/10", false, 0, 0, 0}, // signs are no digits
        {"bytes -9/10", false, 0, 0, 0},   // no first byte
        {"bytes 5-/10", false, 0, 0, 0},   // no last byte
        {"bytes 5-9", false, 0, 0, 0},     // no total
        {"items 5-9/10", false, 0, 0, 0},  // another unit
        {"bytes=5-9/10", false, 0, 0, 0},  // the request's form
        {"", false, 0, 0, 0},
        {"bytes 1234567890123456789-1234567890123456790/*", false, 0, 0, 0}, // 19 digits
    };
    for (const auto& row : rows) {
        const HttpContentRange r = net::ParseHttpContentRange(row.value);
        EXPECT_EQ(r.ok, row.ok) << row.value;
        if (!row.ok || !r.ok) continue;
        EXPECT_EQ(r.first, row.first) << row.value;
        EXPECT_EQ(r.last, row.last) << row.value;
        EXPECT_EQ(r.total, row.total) << row.value;
    }
}

TEST(HttpFields, HeaderValueIsTheLastFieldOfThatNameInAnyCase) {
    net::THttpCli c;
    c.RcvdHeader = {"HTTP/1.1 206 Partial Content: x",
                    "Content-Range: bytes 0-1/2",
                    "ETag: \"first\"",
                    "etag:   \"second\" \t",
                    "X-Empty:",
                    "No colon here",
                    "Content-range: bytes 2-3/4"};
    const struct {
        const char *name, *value;
    } rows[] = {
        {"ETag", "\"second\""}, // the last one, without its blanks
        {"etag", "\"second\""}, {"CONTENT-RANGE", "bytes 2-3/4"},
        {"x-empty", ""},        {"http/1.1 206 partial content", ""}, // a status line is no field
        {"missing", ""},
    };
    for (const auto& row : rows)
        EXPECT_EQ(c.HeaderValue(row.name), row.value) << row.name;
    const HttpContentRange r = c.ContentRange();
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.first, 2);
    EXPECT_EQ(r.last, 3);
    EXPECT_EQ(r.total, 4);
}
