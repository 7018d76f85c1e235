#include "core/trace.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace veltrix::trace {

namespace {

std::atomic<bool> on{false};

// The sink and the lock that keeps lines from different threads apart.
struct State {
    std::mutex mutex;
    Sink sink;
};

State& state() {
    static State instance;
    return instance;
}

}  // namespace

void setSink(Sink sink) {
    State& s = state();
    std::lock_guard lock(s.mutex);
    on = static_cast<bool>(sink);
    s.sink = std::move(sink);
}

void disable() { setSink({}); }

bool enabled() { return on.load(std::memory_order_relaxed); }

void line(std::string_view text) {
    if (!enabled()) return;
    State& s = state();
    std::lock_guard lock(s.mutex);
    if (s.sink) s.sink(text);
}

bool requestedByEnvironment() {
    const char* value = std::getenv("VELTRIX_TRACE");
    return value && std::strcmp(value, "1") == 0;
}

Sink writeTo(std::FILE* file) {
    return [file](std::string_view text) {
        std::string whole(text);
        whole += '\n';
        std::fwrite(whole.data(), 1, whole.size(), file);
        std::fflush(file);
    };
}

}  // namespace veltrix::trace
