// Real files and folders, laid out as an installation might leave them.
#include "platform/posix/path_security.h"
#include "posix_test_support.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

namespace ostrivan::posix {
namespace {

using testing::TempDir;

class PathSecurityTest : public ::testing::Test {
protected:
    PathSecurityTest() : folder_(temp_.Path() + "/ostrivan") {
        std::filesystem::create_directory(folder_);
        ::chmod(folder_.c_str(), 0755);
    }

    // A program of the suite as the service names it: folder, `\`, name.
    std::string Program(const std::string& name, mode_t mode) {
        const std::string file = folder_ + "/" + name;
        std::ofstream(file) << "#!/bin/sh\n";
        ::chmod(file.c_str(), mode);
        return folder_ + "\\" + name;
    }

    TempDir temp_;
    std::string folder_;
    PosixPathSecurity security_;
};

TEST_F(PathSecurityTest, AWorldWritableFolderNamesEveryAccount) {
    ::chmod(folder_.c_str(), 0777);
    const auto loose = security_.CheckWriters(folder_);
    ASSERT_TRUE(loose);
    EXPECT_EQ(loose->path, folder_);
    // 0777: the folder's group may write as well.
    ASSERT_EQ(loose->accounts.size(), 2U);
    EXPECT_TRUE(loose->accounts[0].starts_with("group ")) << loose->accounts[0];
    EXPECT_EQ(loose->accounts[1], "every account");
}

TEST_F(PathSecurityTest, AGroupWritableProgramNamesItsGroup) {
    const std::string program = Program("vantorelle_manager.exe", 0775);
    const auto loose = security_.CheckWriters(program);
    ASSERT_TRUE(loose);
    EXPECT_EQ(loose->path, folder_ + "/vantorelle_manager.exe");
    ASSERT_EQ(loose->accounts.size(), 1U);
    EXPECT_TRUE(loose->accounts[0].starts_with("group ")) << loose->accounts[0];
}

TEST_F(PathSecurityTest, AProgramOwnedByAnotherAccountNamesItsOwner) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "handing a file to another account takes root";
    }
    const std::string program = Program("o-alerts.exe", 0755);
    constexpr uid_t kNobody = 65534;
    ASSERT_EQ(::chown((folder_ + "/o-alerts.exe").c_str(), kNobody, 0), 0);
    const passwd* account = ::getpwuid(kNobody);
    const std::string name = account != nullptr ? account->pw_name : "uid 65534";
    const auto loose = security_.CheckWriters(program);
    ASSERT_TRUE(loose);
    EXPECT_EQ(loose->accounts, std::vector<std::string>{"owner " + name});
}

// As the package installs it: a folder of root's, 0755, with programs of root's, 0755
// (or, run by an ordinary account, of the account the service would run as).
TEST_F(PathSecurityTest, TheFolderAsThePackageLaysItOutIsNotReported) {
    EXPECT_FALSE(security_.CheckWriters(folder_));
    for (const char* name : {"o-alerts.exe", "o-graphs.exe", "vantorelle_snmptrap.exe",
                             "vantorelle_manager.exe", "vantorelle_watcher.exe"}) {
        EXPECT_FALSE(security_.CheckWriters(Program(name, 0755))) << name;
    }
    // Nor is a program that is not there: the launch reports that one.
    EXPECT_FALSE(security_.CheckWriters(folder_ + "\\missing.exe"));
}

} // namespace
} // namespace ostrivan::posix
