// The open report: whole lines, each ended by CR LF. A port, so that the
// platform services can hand one out; the file and memory streams are in
// report/report_stream.h.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

#include "core/messages.h"
#include "core/result.h"

namespace veltrix {

class ReportStream {
public:
    explicit ReportStream(Messages& messages) : messages_(messages) {}
    virtual ~ReportStream() = default;
    // `utf8` is the line without its end; the stream adds CR LF and encodes.
    virtual Status writeLine(std::string_view utf8) = 0;
    // One line given in pieces, each whole characters: a stream may write a
    // long piece (a list of programs) where it lies instead of joining it to
    // the others first. By default the pieces are joined.
    virtual Status writeLineOf(std::initializer_list<std::string_view> pieces) {
        std::string line;
        for (std::string_view piece : pieces) line += piece;
        return writeLine(line);
    }
    virtual Status close() = 0;
    Messages& messages() { return messages_; }

private:
    Messages& messages_;
};

}  // namespace veltrix
