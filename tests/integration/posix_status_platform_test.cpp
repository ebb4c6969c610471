#include "platform/failure.h"
#include "platform/posix/posix_process_api.h"
#include "platform/posix/posix_status_platform.h"
#include "platform/posix/proc_reader.h"
#include "posix_console_support.h"
#include "posix_test_support.h"
#include "process/process_identity.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <set>
#include <thread>

#include <gtest/gtest.h>

namespace ostrivan::posix {
namespace {

std::set<std::string> FilesIn(const std::string& folder) {
    std::set<std::string> names;
    if (DIR* dir = ::opendir(folder.c_str())) {
        while (const dirent* entry = ::readdir(dir)) {
            if (entry->d_name[0] != '.') {
                names.insert(entry->d_name);
            }
        }
        ::closedir(dir);
    }
    return names;
}

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
    std::atomic<int> failed{0};
    const auto write = [&](PosixStatusPlatform& writer, const std::string& text) {
        for (int i = 0; i < 300; ++i) {
            try {
                writer.Publish(text, "metrics\n");
            } catch (const Failure&) {
                ++failed; // the other writer's rename took the file this one wrote
            }
        }
    };
    std::thread writer([&] { write(other, large); });
    write(platform, small);
    writer.join();
    done = true;
    reader.join();
    EXPECT_EQ(torn, 0);
    EXPECT_EQ(failed, 0);
    EXPECT_EQ(ReadSmallFile(folder.Path() + "/ostrivan.prom"), "metrics\n");
    EXPECT_EQ(FilesIn(folder.Path()), (std::set<std::string>{"ostrivan.prom", "status.json"}));
    struct stat file {};
    ASSERT_EQ(::stat(path.c_str(), &file), 0);
    EXPECT_EQ(file.st_mode & 0777, 0644u) << "readable by every account, written by the service";

    // A write that cannot be made leaves no temporary file behind.
    ASSERT_EQ(::unlink(path.c_str()), 0);
    ASSERT_EQ(::mkdir(path.c_str(), 0700), 0);
    ASSERT_EQ(::mkdir((path + "/busy").c_str(), 0700), 0);
    EXPECT_THROW(platform.Publish("new", "new"), Failure);
    EXPECT_EQ(FilesIn(folder.Path()), (std::set<std::string>{"ostrivan.prom", "status.json"}));
    ::rmdir((path + "/busy").c_str());
    ::rmdir(path.c_str());

    PosixStatusPlatform missing(console, "/nonexistent/ostrivan");
    EXPECT_FALSE(missing.HasStatusFolder() || missing.HasStatusFolder());
    EXPECT_EQ(log.Drain().substr(9),
              "no folder /nonexistent/ostrivan: no status file is written\n");
}

// A start time read back through the clock the status is written by: this test's own
// process started moments ago.
TEST(PosixStatusPlatform, TellsAProcessStartInUtcByTheServiceClock) {
    PosixProcessApi api;
    Console console;
    PosixStatusPlatform platform(console, "/nonexistent");
    const auto self = IdentifyProcess(api, static_cast<ProcessId>(::getpid()));
    ASSERT_TRUE(self);
    const auto started = platform.CreationTimeUtc(self->creationTime);
    ASSERT_TRUE(started);
    const std::int64_t now = platform.UtcNow() / 1000;
    EXPECT_LE(*started, now + 1);
    EXPECT_GE(*started, now - 30);
}

} // namespace
} // namespace ostrivan::posix
