// The tests that start processes under the suite's names, or start the service, which ends
// such processes anywhere on the machine, take one machine-wide lock while they run: test
// runs from other build folders on the same machine wait instead of ending each other's
// processes. The lock is taken when tests run, not when they are only listed.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>
#include <thread>

#include <gtest/gtest.h>

namespace {

class ProcessTableLock : public ::testing::Environment {
public:
    void SetUp() override {
        // Close-on-exec: no launched process may keep holding it.
        fd_ = ::open("/tmp/ostrivan-process-table.lock", O_RDWR | O_CREAT | O_CLOEXEC, 0666);
        if (fd_ < 0) {
            throw std::runtime_error("cannot open the process table lock");
        }
        // 100 s, below the tests' own time limit: a run that holds it too long fails this one
        // with the reason instead of a timeout.
        for (int tries = 0; ::flock(fd_, LOCK_EX | LOCK_NB) != 0; ++tries) {
            ASSERT_LT(tries, 1000) << "another test run holds /tmp/ostrivan-process-table.lock";
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    }
    void TearDown() override {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }

private:
    int fd_ = -1;
};

[[maybe_unused]] const auto* const kLock =
    ::testing::AddGlobalTestEnvironment(new ProcessTableLock);

} // namespace
