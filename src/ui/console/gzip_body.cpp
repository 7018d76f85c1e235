#include "ui/console/gzip_body.h"

#include <zlib.h>

#include <climits>

namespace veltrix {

namespace {

Failure zlibFailure(const char* what, const z_stream& stream) {
    return Failure{failure_code::kInvalidArgument,
                   std::string(what) + (stream.msg ? std::string(": ") + stream.msg : std::string())};
}

}  // namespace

Result<std::string> gzipCompress(std::string_view bytes) {
    z_stream stream{};
    // 15 window bits, +16: a gzip header and trailer rather than zlib's own.
    if (deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
        return zlibFailure("cannot start the compression", stream);
    }
    std::string out;
    out.resize(deflateBound(&stream, static_cast<uLong>(bytes.size())) + 64);
    // deflate takes at most UINT_MAX bytes a call; a scan is far smaller,
    // but the loop keeps a large one correct.
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
    std::size_t inputLeft = bytes.size();
    int code = Z_OK;
    do {
        const uInt inChunk = static_cast<uInt>(std::min<std::size_t>(inputLeft, UINT_MAX));
        stream.avail_in = inChunk;
        if (stream.total_out >= out.size()) out.resize(out.size() * 2);
        stream.next_out = reinterpret_cast<Bytef*>(out.data() + stream.total_out);
        stream.avail_out = static_cast<uInt>(std::min<std::size_t>(out.size() - stream.total_out, UINT_MAX));
        code = deflate(&stream, inputLeft == inChunk ? Z_FINISH : Z_NO_FLUSH);
        inputLeft -= inChunk - stream.avail_in;
    } while (code == Z_OK || code == Z_BUF_ERROR);
    if (code != Z_STREAM_END) {
        Failure failure = zlibFailure("cannot compress", stream);
        deflateEnd(&stream);
        return failure;
    }
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return out;
}

Result<std::string> gzipDecompress(std::string_view gzip, std::size_t limit) {
    z_stream stream{};
    if (inflateInit2(&stream, 15 + 16) != Z_OK) return zlibFailure("cannot start the decompression", stream);
    std::string out;
    char buffer[64 * 1024];
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(gzip.data()));
    std::size_t inputLeft = gzip.size();
    int code = Z_OK;
    while (code != Z_STREAM_END) {
        const uInt inChunk = static_cast<uInt>(std::min<std::size_t>(inputLeft, UINT_MAX));
        stream.avail_in = inChunk;
        stream.next_out = reinterpret_cast<Bytef*>(buffer);
        stream.avail_out = sizeof buffer;
        code = inflate(&stream, Z_NO_FLUSH);
        inputLeft -= inChunk - stream.avail_in;
        const std::size_t produced = sizeof buffer - stream.avail_out;
        if (out.size() + produced > limit) {
            inflateEnd(&stream);
            return Failure{failure_code::kInvalidArgument,
                           "the data inflates past " + std::to_string(limit) + " bytes"};
        }
        out.append(buffer, produced);
        if (code == Z_STREAM_END) break;
        if (code != Z_OK || (produced == 0 && inputLeft == 0 && stream.avail_in == 0)) {
            Failure failure = code == Z_OK || code == Z_BUF_ERROR
                                  ? Failure{failure_code::kInvalidArgument, "the gzip data ends too early"}
                                  : zlibFailure("not gzip data", stream);
            inflateEnd(&stream);
            return failure;
        }
    }
    inflateEnd(&stream);
    return out;
}

}  // namespace veltrix
