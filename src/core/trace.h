// An opt-in trace of what the data sources do, one line per operation, so a
// user can tell why a section came out empty or slow. Off unless enabled;
// when off a call costs one atomic load. Lines may come from any thread and
// are written whole.
#pragma once

#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <string_view>

namespace veltrix::trace {

using Sink = std::function<void(std::string_view line)>;

// Sends every later line to `sink` (without the line end); an empty sink
// turns the trace off.
void setSink(Sink sink);
void disable();
bool enabled();

// Writes one line when the trace is on. Build the text only after checking
// enabled() when that costs anything.
void line(std::string_view text);

// True when the environment asks for the trace (VELTRIX_TRACE=1).
bool requestedByEnvironment();

// A sink writing each line with its "\n" to `file` in one write, so that
// lines from other threads never split it.
Sink writeTo(std::FILE* file);

// Milliseconds since construction, for "..., 12 ms" in trace lines.
class Stopwatch {
public:
    Stopwatch() : start_(std::chrono::steady_clock::now()) {}
    long long milliseconds() const {
        return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start_)
            .count();
    }

private:
    std::chrono::steady_clock::time_point start_;
};

}  // namespace veltrix::trace
