#include "server/bounded_inflate.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>

namespace veltrix::server {
namespace {

// `size` bytes of `fill` as one gzip member, compressed piece by piece so
// that a gigabyte never exists in memory.
std::string gzipOf(std::size_t size, char fill) {
    z_stream stream{};
    EXPECT_EQ(deflateInit2(&stream, 9, Z_DEFLATED, 16 + MAX_WBITS, 9, Z_DEFAULT_STRATEGY), Z_OK);
    std::string input(1 << 20, fill), out;
    char buffer[1 << 16];
    for (std::size_t left = size;;) {
        std::size_t piece = std::min(left, input.size());
        left -= piece;
        stream.next_in = reinterpret_cast<Bytef*>(input.data());
        stream.avail_in = static_cast<uInt>(piece);
        const int flush = left == 0 ? Z_FINISH : Z_NO_FLUSH;
        int result;
        do {
            stream.next_out = reinterpret_cast<Bytef*>(buffer);
            stream.avail_out = sizeof buffer;
            result = deflate(&stream, flush);
            out.append(buffer, sizeof buffer - stream.avail_out);
        } while (stream.avail_out == 0);
        if (flush == Z_FINISH) {
            EXPECT_EQ(result, Z_STREAM_END);
            break;
        }
    }
    deflateEnd(&stream);
    return out;
}

TEST(BoundedInflate, GivesTheBytesBackUpToAndIncludingTheLimit) {
    std::string body = gzipOf(1000, 'a');
    auto inflated = inflateGzip(body, 1000);
    ASSERT_TRUE(inflated) << inflated.failure().description;
    EXPECT_EQ(*inflated, std::string(1000, 'a'));
    auto over = inflateGzip(body, 999);
    ASSERT_FALSE(over);
    EXPECT_EQ(over.failure().number, kInflatesTooLarge);
    // Two members read as one stream, as gunzip reads them.
    auto joined = inflateGzip(gzipOf(3, 'x') + gzipOf(2, 'y'), 100);
    ASSERT_TRUE(joined);
    EXPECT_EQ(*joined, "xxxyy");
}

TEST(BoundedInflate, ABombIsRefusedAsSoonAsItPassesTheLimit) {
    // 256 MiB of zeros in a quarter of a megabyte.
    std::string bomb = gzipOf(std::size_t{256} << 20, '\0');
    ASSERT_LT(bomb.size(), std::size_t{1} << 20);
    auto refused = inflateGzip(bomb, 1 << 20);
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.failure().number, kInflatesTooLarge);
}

TEST(BoundedInflate, WhatIsNotWholeValidGzipIsRefused) {
    std::string good = gzipOf(5000, 'q');
    const std::string cases[] = {
        std::string(),                                 // nothing
        std::string("{\"veltrix-snapshot\": 1}"),      // sent uncompressed
        good.substr(0, good.size() / 2),               // cut short
        good.substr(0, good.size() - 4),               // trailer's length missing
        good + "trailing garbage",                     // bytes after the stream
        std::string("\x1f\x8b\x08\x00garbage", 12),    // a gzip header, then nonsense
    };
    for (const auto& body : cases) {
        auto refused = inflateGzip(body, 1 << 20);
        ASSERT_FALSE(refused) << body.size();
        EXPECT_EQ(refused.failure().number, kNotGzip) << body.size() << ": " << refused.failure().description;
    }
    std::string flipped = good;
    flipped[flipped.size() - 6] ^= 0x55;  // the CRC
    EXPECT_EQ(inflateGzip(flipped, 1 << 20).failure().number, kNotGzip);
}

}  // namespace
}  // namespace veltrix::server
