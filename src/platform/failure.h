#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace ostrivan {

// The one failure type: a number and a description, as the handlers report them.
class Failure : public std::runtime_error {
public:
    Failure(std::int32_t number, std::string description)
        : std::runtime_error(description), number_(number), description_(std::move(description)) {}

    std::int32_t Number() const noexcept { return number_; }
    const std::string& Description() const noexcept { return description_; }

private:
    std::int32_t number_;
    std::string description_;
};

// What running out of memory is reported as.
inline Failure OutOfMemoryFailure() {
    return Failure(7, "Out of memory");
}

} // namespace ostrivan
