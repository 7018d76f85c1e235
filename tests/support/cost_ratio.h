// Whether a step is linear in its input, told by a ratio and never by an
// absolute time: the same amount of input is fed once whole and again in
// `factor` pieces of a `factor`-th the size. A linear step takes about as
// long both ways; one that grows with the square takes `factor` times as
// long for the whole. The fastest of a few rounds counts, so that a busy
// machine slows both sides alike rather than one by chance.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <functional>

namespace veltrix::test {

// `run(n)` builds nothing itself: the caller prepares its inputs first.
inline double wholeToPiecesCost(const std::function<void(std::size_t)>& run, std::size_t small, std::size_t factor,
                                int rounds = 3) {
    using Clock = std::chrono::steady_clock;
    auto fastest = [&](const std::function<void()>& work) {
        double best = 0;
        for (int round = 0; round < rounds; ++round) {
            const auto start = Clock::now();
            work();
            const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
            best = round == 0 ? seconds : std::min(best, seconds);
        }
        return best;
    };
    const double pieces = fastest([&] {
        for (std::size_t k = 0; k < factor; ++k) run(small);
    });
    const double whole = fastest([&] { run(small * factor); });
    return whole / std::max(pieces, 1e-9);
}

}  // namespace veltrix::test
