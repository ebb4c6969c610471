#include "fake_status_platform.h"

#include "platform/failure.h"

namespace ostrivan::fakes {
namespace {

constexpr std::uint64_t kFileTimePerSecond = 10'000'000;
constexpr std::int64_t kFileTimeEpochToUnix = 11'644'473'600;

} // namespace

std::int64_t FakeStatusPlatform::UtcNow() {
    return runtime_.UtcMilliseconds() / 1000;
}

std::optional<std::int64_t> FakeStatusPlatform::CreationTimeUtc(std::uint64_t creationTime) {
    return static_cast<std::int64_t>(creationTime / kFileTimePerSecond) - kFileTimeEpochToUnix;
}

void FakeStatusPlatform::Publish(const std::string& status, const std::string& metrics) {
    ++writes_;
    if (failWrites_) {
        throw Failure(5, "Access is denied");
    }
    status_ = status;
    metrics_ = metrics;
}

} // namespace ostrivan::fakes
