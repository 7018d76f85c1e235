// Counts a scan's connections, so that a scan that reached no data source
// at all is not reported as a success made of "Error" rows.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "core/result.h"
#include "wmi/service.h"

namespace veltrix {

class ConnectionWatch final : public wmi::Service {
public:
    explicit ConnectionWatch(wmi::Service& inner) : inner_(inner) {}

    Result<std::unique_ptr<wmi::Connection>> connect(std::string_view moniker) override {
        return count(inner_.connect(moniker));
    }
    Result<std::unique_ptr<wmi::Registry>> connectRegistry(std::string_view moniker) override {
        return count(inner_.connectRegistry(moniker));
    }
    // The classes the scan will need reach the source, which may fetch them ahead.
    void expectClasses(std::string_view moniker, const std::vector<std::string>& classNames) override {
        inner_.expectClasses(moniker, classNames);
    }

    bool noneWorked() const { return attempts_ > 0 && successes_ == 0; }
    const Failure& lastFailure() const { return lastFailure_; }

private:
    template <class T>
    Result<T> count(Result<T> result) {
        ++attempts_;
        if (result) {
            ++successes_;
        } else {
            lastFailure_ = result.failure();
        }
        return result;
    }

    wmi::Service& inner_;
    int attempts_ = 0;
    int successes_ = 0;
    Failure lastFailure_;
};

}  // namespace veltrix
