#include "core/replacing_file.h"

namespace veltrix {

Status BufferedReplacingFile::write(std::string_view bytes) {
    if (failure_) return *failure_;
    if (ended_) return Failure{failure_code::kFileError, "Cannot write " + path_ + ": the file is closed"};
    if (bytes.size() >= kBufferSize) {
        // A piece as large as the buffer (a long list as one line) goes out
        // as it is, after what the buffer holds: copying it in would only
        // grow the buffer.
        if (!buffer_.empty()) failure_ = writeOut(buffer_);
        buffer_.clear();
        if (!failure_) failure_ = writeOut(bytes);
        if (failure_) return *failure_;
        return {};
    }
    buffer_.append(bytes);
    if (buffer_.size() >= kBufferSize) {
        failure_ = writeOut(buffer_);
        buffer_.clear();
        if (failure_) return *failure_;
    }
    return {};
}

Status BufferedReplacingFile::commit() {
    if (ended_) {
        if (failure_) return *failure_;
        return Failure{failure_code::kFileError, "Cannot write " + path_ + ": the file is closed"};
    }
    ended_ = true;
    if (!failure_ && !buffer_.empty()) failure_ = writeOut(buffer_);
    buffer_.clear();
    if (!failure_) failure_ = finish();
    if (failure_) {
        discard();
        return *failure_;
    }
    return {};
}

}  // namespace veltrix
