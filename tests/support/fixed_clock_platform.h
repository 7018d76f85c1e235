// The platform services with a clock that always tells the same time.
#pragma once

#include "support/native_platform.h"

namespace veltrix::test {

class FixedClockPlatform final : public NativePlatform {
public:
    FixedClockPlatform(std::string folder, std::string drive, DateTime now)
        : NativePlatform(std::move(folder), std::move(drive)), now_(now) {}
    DateTime now() const override { return now_; }

private:
    DateTime now_;
};

}  // namespace veltrix::test
