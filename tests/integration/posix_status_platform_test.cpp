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

// Readers see the old file or the new, never a torn one, beside another writer (a status
// command); no write leaves a temporary file behind, not even a failed one.
TEST(PosixStatusPlatform, RewritesTheStatusFileAtomically) {
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
    for (int i = 0; i < 400; ++i) {
        platform.Publish(i % 2 == 0 ? large : small, "metrics\n");
    }
    writer.join();
    done = true;
    reader.join();
    EXPECT_EQ(torn, 0);
    EXPECT_EQ(ReadSmallFile(folder.Path() + "/ostrivan.prom"), "metrics\n");
    ASSERT_EQ(::unlink(path.c_str()), 0); // a directory in its place: the next write fails
    ASSERT_EQ(::mkdir(path.c_str(), 0700), 0);
    ASSERT_EQ(::mkdir((path + "/busy").c_str(), 0700), 0);
    EXPECT_THROW(platform.Publish("new", "new"), Failure);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.Path()), {}), 2);

    PosixStatusPlatform missing(console, "/nonexistent/ostrivan");
    EXPECT_FALSE(missing.HasStatusFolder() || missing.HasStatusFolder());
    EXPECT_EQ(log.Drain().substr(9),
              "no folder /nonexistent/ostrivan: no status file is written\n");
}

// The start of a process started between two readings of the clock the status is written by.
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
    EXPECT_GE(*started, before - 1); // the boot time is kept in whole seconds
    EXPECT_LE(*started, after + 1);
}

} // namespace
} // namespace ostrivan::posix
