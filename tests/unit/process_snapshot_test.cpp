#include "fake_platform.h"

#include "process/process_snapshot.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <new>

namespace ostrivan {
namespace {

using fakes::FakeProcessApi;
using ::testing::ElementsAre;
using ::testing::Field;
using ::testing::IsEmpty;

auto Entry(ProcessId id, const std::string& name) {
    return AllOf(Field(&ProcessEntry::ProcessId, id), Field(&ProcessEntry::Name, name));
}

TEST(NormalizeImageName, CutsAtTheFirstNulAndLowerCases) {
    EXPECT_EQ(NormalizeImageName("O-Alerts.EXE"), "o-alerts.exe");
    EXPECT_EQ(NormalizeImageName(std::string_view("Skype.exe\0junk.EXE", 18)), "skype.exe");
    EXPECT_EQ(NormalizeImageName(std::string_view("\0vantorelle_manager.exe", 23)), "");
    EXPECT_EQ(NormalizeImageName("digits_0123-_.EXE"), "digits_0123-_.exe");
}

TEST(NormalizeImageName, KeepsAllOfA260CharacterNameWithoutNul) {
    const std::string raw = std::string(250, 'A') + "_CHECK.EXE";
    const std::string name = NormalizeImageName(raw);
    EXPECT_EQ(name.size(), 260u);
    EXPECT_EQ(name, std::string(250, 'a') + "_check.exe");
}

TEST(MatchImageName, ComparesOnlyTheEndWithTheTargetLowerCased) {
    EXPECT_TRUE(MatchImageName("rrdtool.exe", "rrdtool.exe"));
    EXPECT_TRUE(MatchImageName("rrdtool.exe", "RRDTool.EXE"));
    EXPECT_TRUE(MatchImageName("myrrdtool.exe", "rrdtool.exe"));
    EXPECT_TRUE(MatchImageName("c:\\x\\o-alerts.exe", "o-alerts.exe"));
    EXPECT_FALSE(MatchImageName("rrdtool.exe.old", "rrdtool.exe"));
    EXPECT_FALSE(MatchImageName("rrdtool.ex", "rrdtool.exe"));
}

TEST(MatchImageName, TargetLongerThanTheNameNeverMatches) {
    EXPECT_FALSE(MatchImageName("tool.exe", "rrdtool.exe"));
    EXPECT_FALSE(MatchImageName("", "a"));
}

TEST(MatchImageName, FifteenCharacterEntriesMatchOnlyNamesEndingWithThem) {
    EXPECT_TRUE(MatchImageName("vantorelle_watc", "vantorelle_watc"));
    EXPECT_TRUE(MatchImageName("old_vantorelle_watc", "vantorelle_watc"));
    EXPECT_FALSE(MatchImageName("vantorelle_watcher.exe", "vantorelle_watc"));
    EXPECT_FALSE(MatchImageName("vantorelle_watc", "vantorelle_watcher.exe"));
}

TEST(MatchImageName, NameWhoseNulIsFirstIsMatchedByNoTarget) {
    const std::string name = NormalizeImageName(std::string_view("\0skype.exe", 10));
    EXPECT_FALSE(MatchImageName(name, "skype.exe"));
    EXPECT_FALSE(MatchImageName(name, "e"));
}

TEST(MatchImageName, A260CharacterNameIsMatchedByItsEnd) {
    const std::string name = NormalizeImageName(std::string(250, 'x') + "_CHECK.EXE");
    EXPECT_TRUE(MatchImageName(name, "x_check.exe"));
    EXPECT_FALSE(MatchImageName(name, "y_check.exe"));
}

class TakeProcessSnapshotTest : public ::testing::Test {
protected:
    fakes::CallLog log;
    FakeProcessApi api{log};
};

TEST_F(TakeProcessSnapshotTest, ListsRunningProcessesInPlatformOrderNormalized) {
    const ProcessId b = api.Add("Vantorelle_Manager.EXE");
    const ProcessId a = api.Add("o-alerts.exe");
    const ProcessId ended = api.Add("rrdtool.exe");
    api.Exit(ended, 0, /*heldElsewhere=*/true);
    const ProcessId noName = api.Add(std::string("\0ghost.exe", 10));

    EXPECT_THAT(TakeProcessSnapshot(api), ElementsAre(Entry(b, "vantorelle_manager.exe"),
                                                      Entry(a, "o-alerts.exe"), Entry(noName, "")));
    EXPECT_EQ(api.OpenHandleCount(), 0u);
    EXPECT_EQ(api.BadCloses(), 0);
}

TEST_F(TakeProcessSnapshotTest, PassesThePlatformsOwnRecordSize) {
    api.Add("o-alerts.exe");
    // The platform refuses the 32-bit record size, as a 64-bit Windows does.
    const auto snapshot = api.CreateToolhelp32Snapshot(kSnapProcess, 0);
    ProcessEntryRecord record;
    record.size = 296;
    EXPECT_FALSE(api.Process32First(snapshot, record));
    api.CloseHandle(snapshot);

    EXPECT_THAT(TakeProcessSnapshot(api), ElementsAre(Field(&ProcessEntry::Name, "o-alerts.exe")));
}

TEST_F(TakeProcessSnapshotTest, SnapshotThatCannotBeTakenIsEmpty) {
    api.Add("o-alerts.exe");
    api.Faults().Fail("CreateToolhelp32Snapshot");

    EXPECT_THAT(TakeProcessSnapshot(api), IsEmpty());
    EXPECT_EQ(api.Calls("Process32First"), 1);
    EXPECT_EQ(api.OpenHandleCount(), 0u);
    EXPECT_EQ(api.BadCloses(), 0);
}

TEST_F(TakeProcessSnapshotTest, EnumerationThatStopsEarlyKeepsTheRowsSoFar) {
    const ProcessId first = api.Add("a.exe");
    const ProcessId second = api.Add("b.exe");
    api.Add("c.exe");
    api.Faults().Fail("Process32Next", 2);

    EXPECT_THAT(TakeProcessSnapshot(api),
                ElementsAre(Entry(first, "a.exe"), Entry(second, "b.exe")));
    EXPECT_EQ(api.OpenHandleCount(), 0u);
}

TEST_F(TakeProcessSnapshotTest, SnapshotIsClosedWhenTheEnumerationRaises) {
    api.Add("a.exe");
    api.Add("b.exe");
    api.Faults().Raise("Process32Next", std::make_exception_ptr(std::bad_alloc()), 1);

    EXPECT_THROW(TakeProcessSnapshot(api), std::bad_alloc);
    EXPECT_EQ(api.OpenHandleCount(), 0u);
}

} // namespace
} // namespace ostrivan
