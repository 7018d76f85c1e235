// A failure as the program reports it (number > 0 and a description), and a
// small value-or-failure type used across the ports.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <variant>

namespace veltrix {

struct Failure {
    std::int32_t number = 0;
    std::string description;
};

// Value or failure. Kept tiny on purpose: the toolchains we target do not all
// ship std::expected.
template <class T>
class Result {
public:
    Result(T value) : state_(std::move(value)) {}           // NOLINT(implicit)
    Result(Failure failure) : state_(std::move(failure)) {} // NOLINT(implicit)

    bool ok() const { return state_.index() == 0; }
    explicit operator bool() const { return ok(); }

    T& value() { return std::get<0>(state_); }
    const T& value() const { return std::get<0>(state_); }
    T& operator*() { return value(); }
    const T& operator*() const { return value(); }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }

    const Failure& failure() const { return std::get<1>(state_); }

private:
    std::variant<T, Failure> state_;
};

// Operations that return nothing but may fail: empty optional means success.
struct Status {
    Status() = default;
    Status(Failure f) : failed(true), failure(std::move(f)) {} // NOLINT(implicit)
    bool failed = false;
    Failure failure;
    bool ok() const { return !failed; }
};

// Failure numbers used by the providers that are not live WMI. Live WMI maps
// its HRESULTs onto positive numbers of its own.
namespace failure_code {
inline constexpr std::int32_t kInvalidArgument = 5;
inline constexpr std::int32_t kTypeMismatch = 13;
inline constexpr std::int32_t kObjectRequired = 424;
inline constexpr std::int32_t kNotFound = 4097;
inline constexpr std::int32_t kInvalidClass = 4112;
inline constexpr std::int32_t kInvalidNamespace = 4110;
inline constexpr std::int32_t kInvalidQuery = 4119;
inline constexpr std::int32_t kInvalidMoniker = 432;
inline constexpr std::int32_t kFileError = 75;
// A source that did not answer in time (Win32's ERROR_TIMEOUT).
inline constexpr std::int32_t kTimedOut = 1460;
}  // namespace failure_code

}  // namespace veltrix
