#include "platform/failure.h"
#include "platform/posix/posix_process_api.h"
#include "platform/posix/posix_status_platform.h"
#include "platform/posix/proc_reader.h"
#include "posix_console_support.h"
#include "posix_test_support.h"
#include "process/process_identity.h"

#include <sys/stat.h>

#include <atomic>
#include <filesystem>
#include <thread>

#include <gtest/gtest.h>

namespace ostrivan::posix {
namespace {

// Readers see one writer's whole file or the other's, never a torn one, while two writers
// (the service and a status command) replace it side by side; nothing is left behind.
TEST(PosixStatusPlatform, RewritesTheStatusFileAtomicallyBesideAnotherWriter) {
    testing::TempDir folder;
    testing::Pipe log;
    Console console(0, log.write.Get(), log.write.Get());
    PosixStatusPlatform platform(console, folder.Path());
    PosixStatusPlatform other(console, folder.Path());
    const std::string path = platform.StatusPath();
    const std::string small(100, 's');
    const std::string large(256 * 1024, 'L');
    platform.Publish(small, "metrics\n");
    std::atomic<bool> done{false};
    int torn = 0;
    std::thread reader([&] {
        while (!done) {
            const auto text = ReadSmallFile(path);
            torn += text != small && text != large ? 1 : 0;
        }
    });
    std::thread writer([&] {
        for (int i = 0; i < 300; ++i) {
            EXPECT_NO_THROW(other.Publish(large, "metrics\n"));
        }
    });
    for (int i = 0; i < 300; ++i) {
        EXPECT_NO_THROW(platform.Publish(small, "metrics\n"));
    }
    writer.join();
    done = true;
    reader.join();
    EXPECT_EQ(torn, 0);
    EXPECT_EQ(ReadSmallFile(folder.Path() + "/ostrivan.prom"), "metrics\n");
    const auto files = [&] {
        return std::distance(std::filesystem::directory_iterator(folder.Path()), {});
    };
    EXPECT_EQ(files(), 2);
    // A write that cannot be made leaves no temporary file behind.
    ASSERT_EQ(::unlink(path.c_str()), 0);
    ASSERT_EQ(::mkdir(path.c_str(), 0700), 0);
    ASSERT_EQ(::mkdir((path + "/busy").c_str(), 0700), 0);
    EXPECT_THROW(platform.Publish("new", "new"), Failure);
    EXPECT_EQ(files(), 2);

    PosixStatusPlatform missing(console, "/nonexistent/ostrivan");
    EXPECT_FALSE(missing.HasStatusFolder() || missing.HasStatusFolder());
    EXPECT_EQ(log.Drain().substr(9),
              "no folder /nonexistent/ostrivan: no status file is written\n");
}

// A start time read back through the clock the status is written by, for a process started
// between two readings of that clock.
TEST(PosixStatusPlatform, TellsAProcessStartInUtcByTheServiceClock) {
    PosixProcessApi api;
    Console console;
    PosixStatusPlatform platform(console, "/nonexistent");
    testing::TempDir folder;
    const std::int64_t before = platform.UtcNow() / 1000;
    testing::Child child(folder, "sleeper.exe");
    const std::int64_t after = platform.UtcNow() / 1000;
    const auto identity = IdentifyProcess(api, static_cast<ProcessId>(child.Pid()));
    ASSERT_TRUE(identity);
    const auto started = platform.CreationTimeUtc(identity->creationTime);
    ASSERT_TRUE(started);
    // The boot time is kept in whole seconds.
    EXPECT_GE(*started, before - 1);
    EXPECT_LE(*started, after + 1);
}

} // namespace
} // namespace ostrivan::posix
