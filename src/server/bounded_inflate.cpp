#include "server/bounded_inflate.h"

#include <zlib.h>

#include <algorithm>

namespace veltrix::server {

Result<std::string> inflateGzip(std::string_view body, std::size_t limit) {
    z_stream stream{};
    // 16 + MAX_WBITS: a gzip header and trailer, nothing else.
    if (inflateInit2(&stream, 16 + MAX_WBITS) != Z_OK) return Failure{kNotGzip, "the body cannot be inflated"};
    struct End {
        z_stream* s;
        ~End() { inflateEnd(s); }
    } end{&stream};
    std::string out;
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(body.data()));
    stream.avail_in = static_cast<uInt>(body.size());
    if (body.size() > static_cast<std::size_t>(static_cast<uInt>(-1))) {
        return Failure{kInflatesTooLarge, "the body is too large"};
    }
    if (body.empty()) return Failure{kNotGzip, "the body is empty; a gzip stream was expected"};
    constexpr std::size_t kChunk = 64 * 1024;
    for (;;) {
        // Room for one more piece, never past the limit plus one byte: that
        // byte tells "exactly the limit" from "more than the limit".
        const std::size_t room = std::min(kChunk, limit + 1 - out.size());
        const std::size_t before = out.size();
        out.resize(before + room);
        stream.next_out = reinterpret_cast<Bytef*>(out.data() + before);
        stream.avail_out = static_cast<uInt>(room);
        const int result = inflate(&stream, Z_NO_FLUSH);
        out.resize(before + (room - stream.avail_out));
        if (out.size() > limit) {
            return Failure{kInflatesTooLarge,
                           "the body inflates to more than " + std::to_string(limit) + " bytes"};
        }
        if (result == Z_STREAM_END) {
            if (stream.avail_in == 0) break;
            // Another gzip member follows.
            if (inflateReset(&stream) != Z_OK) return Failure{kNotGzip, "the body is not valid gzip"};
            continue;
        }
        if (result == Z_OK) continue;
        if (result == Z_BUF_ERROR && stream.avail_in == 0) {
            return Failure{kNotGzip, "the body ends inside its gzip stream"};
        }
        return Failure{kNotGzip, "the body is not valid gzip"};
    }
    return out;
}

}  // namespace veltrix::server
