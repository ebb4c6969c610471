#include "platform/failure.h"
#include "platform/posix/posix_status_platform.h"
#include "platform/posix/proc_reader.h"
#include "posix_console_support.h"
#include "posix_test_support.h"

#include <sys/stat.h>

#include <atomic>
#include <thread>

#include <gtest/gtest.h>

namespace ostrivan::posix {
namespace {

// Readers see the old file or the new, never a torn one; a failed write keeps the old one.
TEST(PosixStatusPlatform, RewritesTheStatusFileAtomically) {
    testing::TempDir folder;
    testing::Pipe log;
    Console console(0, log.write.Get(), log.write.Get());
    PosixStatusPlatform platform(console, folder.Path());
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
    for (int i = 0; i < 400; ++i) {
        platform.Publish(i % 2 == 0 ? large : small, "metrics\n");
    }
    done = true;
    reader.join();
    EXPECT_EQ(torn, 0);
    EXPECT_EQ(ReadSmallFile(folder.Path() + "/ostrivan.prom"), "metrics\n");
    ASSERT_EQ(::mkdir((path + ".new").c_str(), 0700), 0); // the next write cannot be made
    EXPECT_THROW(platform.Publish("new", "new"), Failure);
    EXPECT_EQ(ReadSmallFile(path), small);

    PosixStatusPlatform missing(console, "/nonexistent/ostrivan");
    EXPECT_FALSE(missing.HasStatusFolder() || missing.HasStatusFolder());
    EXPECT_EQ(log.Drain().substr(9),
              "no folder /nonexistent/ostrivan: no status file is written\n");
}

} // namespace
} // namespace ostrivan::posix
