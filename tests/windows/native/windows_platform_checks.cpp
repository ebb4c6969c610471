// The Windows platform layer on the real system calls (run under Wine by the Wine test):
// record sizes, process calls, program launch, the form window's one-at-a-time events,
// message boxes where no one can see them, and the host's standalone start.
#include "platform/handles.h"
#include "platform/windows/form_window.h"
#include "platform/windows/windows_form_runtime.h"
#include "platform/windows/windows_process_api.h"
#include "platform/windows/windows_service_host.h"

#include <gtest/gtest.h>

#include <psapi.h>
#include <tlhelp32.h>

#include <string>
#include <vector>

namespace ostrivan::windows {
namespace {

// Pumps the thread's messages as a modal loop (a message box) would, until `done` or
// the deadline.
template <class Done> bool Pump(Done done, DWORD milliseconds = 5000) {
    const DWORD start = ::GetTickCount();
    MSG message{};
    while (!done()) {
        if (::GetTickCount() - start >= milliseconds) {
            return false;
        }
        if (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&message);
            ::DispatchMessageW(&message);
        } else {
            ::Sleep(1);
        }
    }
    return true;
}

// A program of the suite, started from the folder of these checks.
class StartedStandIn {
public:
    StartedStandIn(WindowsFormRuntime& runtime) {
        const std::string path = runtime.ApplicationFolder() + "\\standin.exe";
        launched = runtime.LaunchProgram(path, "\"" + path + "\"", 1);
        id = launched.id;
    }
    ~StartedStandIn() {
        HANDLE process = ::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, id);
        if (process != nullptr) {
            ::TerminateProcess(process, 0);
            ::WaitForSingleObject(process, 5000);
            ::CloseHandle(process);
        }
    }
    ProcessIdentity launched;
    ProcessId id = 0;
};

class WindowsPlatform : public ::testing::Test {
protected:
    WindowsProcessApi api;
    EventLog eventLog;
    FormWindow window{L"Ostrivan platform checks", 60000, false};
    WindowsFormRuntime runtime{window, eventLog};
};

TEST_F(WindowsPlatform, EnumerationUsesThePlatformsOwnRecord) {
    EXPECT_EQ(api.ProcessEntryRecordSize(), sizeof(PROCESSENTRY32));
    SnapshotHandle snapshot(api, api.CreateToolhelp32Snapshot(kSnapProcess, 0));
    ASSERT_TRUE(snapshot.Valid());
    ProcessEntryRecord record;
    record.size = api.ProcessEntryRecordSize();
    bool foundSelf = false;
    for (bool more = api.Process32First(snapshot.Get(), record); more;
         more = api.Process32Next(snapshot.Get(), record)) {
        if (record.processId == ::GetCurrentProcessId()) {
            foundSelf = true;
            EXPECT_STREQ(record.exeFile.data(), "windows_platform_checks.exe");
        }
    }
    EXPECT_TRUE(foundSelf);

    // A record of another size is the system's to refuse, as it refuses the 32-bit one.
    SnapshotHandle again(api, api.CreateToolhelp32Snapshot(kSnapProcess, 0));
    ProcessEntryRecord shorter;
    shorter.size = api.ProcessEntryRecordSize() - 8;
    EXPECT_FALSE(api.Process32First(again.Get(), shorter));
    ProcessEntryRecord longer;
    longer.size = api.ProcessEntryRecordSize() + 64;
    EXPECT_FALSE(api.Process32First(again.Get(), longer));
}

TEST_F(WindowsPlatform, ProbesOfALaunchedProgram) {
    const StartedStandIn child(runtime);
    ASSERT_NE(child.id, 0u);
    ProcessHandle process(api, api.OpenProcess(access::kAllAccessNt5, child.id));
    ASSERT_TRUE(process.Valid());

    std::uint32_t status = 0;
    EXPECT_TRUE(api.GetExitCodeProcess(process.Get(), status));
    EXPECT_EQ(status, kStillActive);
    EXPECT_EQ(api.WaitForSingleObject(process.Get(), 0), kWaitTimeout);

    std::string name;
    EXPECT_TRUE(api.GetProcessImageName(process.Get(), name));
    EXPECT_EQ(name, "standin.exe");

    std::uint64_t created = 0;
    std::uint64_t createdAgain = 0;
    std::uint64_t ownCreation = 0;
    EXPECT_TRUE(api.GetProcessCreationTime(process.Get(), created));
    EXPECT_TRUE(api.GetProcessCreationTime(process.Get(), createdAgain));
    EXPECT_TRUE(api.GetProcessCreationTime(api.GetCurrentProcess(), ownCreation));
    EXPECT_EQ(created, createdAgain);
    EXPECT_NE(created, 0u);
    EXPECT_GT(created, ownCreation);
    EXPECT_EQ(child.launched.creationTime, created) << "the launch names another process";

    MemoryCounters counters;
    EXPECT_TRUE(api.GetProcessMemoryInfo(process.Get(), counters, api.MemoryCountersRecordSize()));
    EXPECT_GT(counters.workingSetSize, 0u);
    // The 40-byte record of 32-bit Windows is too small for this platform.
    EXPECT_EQ(api.MemoryCountersRecordSize(), sizeof(PROCESS_MEMORY_COUNTERS));
    MemoryCounters small;
    EXPECT_FALSE(api.GetProcessMemoryInfo(process.Get(), small, 40));
    EXPECT_FALSE(api.GetProcessMemoryInfo(process.Get(), small, 4096));

    EXPECT_TRUE(api.TerminateProcess(process.Get(), 7));
    ::WaitForSingleObject(reinterpret_cast<HANDLE>(process.Get()), 5000);
    EXPECT_TRUE(api.GetExitCodeProcess(process.Get(), status));
    EXPECT_EQ(status, 7u);
}

TEST_F(WindowsPlatform, AProgramEndedWith259ReadsAsRunning) {
    const StartedStandIn child(runtime);
    ProcessHandle process(api, api.OpenProcess(access::kAllAccessNt5, child.id));
    ASSERT_TRUE(api.TerminateProcess(process.Get(), kStillActive));
    ASSERT_EQ(::WaitForSingleObject(reinterpret_cast<HANDLE>(process.Get()), 5000), WAIT_OBJECT_0);
    std::uint32_t status = 0;
    EXPECT_TRUE(api.GetExitCodeProcess(process.Get(), status));
    EXPECT_EQ(status, kStillActive);
}

TEST_F(WindowsPlatform, OpeningAnIdThatNamesNoProcessGivesNoHandle) {
    EXPECT_EQ(api.OpenProcess(access::kQueryInformation, 0xFFFFFFF0u), kNoHandle);
}

TEST_F(WindowsPlatform, DebugPrivilegeCalls) {
    EXPECT_EQ(api.GetVersion() & 0x80000000u, 0u);
    Luid luid;
    ASSERT_TRUE(api.LookupPrivilegeValueA("", kDebugPrivilege, luid));
    EXPECT_EQ(luid.lowPart, 20u);
    Handle opened = kNoHandle;
    ASSERT_TRUE(
        api.OpenProcessToken(api.GetCurrentProcess(), access::kTokenAdjustAndQuery, opened));
    TokenHandle token(api, opened);
    EXPECT_TRUE(
        api.AdjustTokenPrivileges(token.Get(), false, TokenPrivilege{1, luid, kPrivilegeEnabled}));
    EXPECT_TRUE(
        api.AdjustTokenPrivileges(token.Get(), false, TokenPrivilege{1, luid, kPrivilegeDisabled}));
    EXPECT_FALSE(api.LookupPrivilegeValueA("", "SeNoSuchPrivilege", luid));
}

TEST_F(WindowsPlatform, AMissingProgramRaisesTheSystemsError) {
    const std::string missing = runtime.ApplicationFolder() + "\\no-such-program.exe";
    try {
        runtime.LaunchProgram(missing, "\"" + missing + "\"", 1);
        FAIL() << "launched a missing program";
    } catch (const Failure& failure) {
        EXPECT_EQ(failure.Number(), ERROR_FILE_NOT_FOUND);
        EXPECT_NE(failure.Description().find(missing), std::string::npos) << failure.Description();
    }
}

TEST_F(WindowsPlatform, ApplicationFolderHasNoTrailingSeparator) {
    const std::string folder = runtime.ApplicationFolder();
    ASSERT_FALSE(folder.empty());
    EXPECT_NE(folder.back(), '\\');
    EXPECT_EQ(::GetFileAttributesA((folder + "\\windows_platform_checks.exe").c_str()) ==
                  INVALID_FILE_ATTRIBUTES,
              false);
}

TEST_F(WindowsPlatform, ABoxNoOneCanSeeIsAnsweredWithItsDefaultAtOnce) {
    // These checks run without a display, as a service runs on a desktop no one sees.
    ASSERT_FALSE(runtime.InteractiveDesktop());
    EXPECT_EQ(runtime.ShowMessageBox("Are you sure?", box::kYesNo | box::kQuestion,
                                     std::string("Stop Service")),
              box::kAnswerNo);
    EXPECT_EQ(runtime.ShowMessageBox("Invalid Parameter", box::kOkOnly, std::nullopt),
              box::kAnswerOk);
}

TEST_F(WindowsPlatform, UtcTimeIsTheSystemsClock) {
    FILETIME before{};
    ::GetSystemTimeAsFileTime(&before);
    // In FILETIME units (100 ns since 1601), within a minute of the system's clock.
    const ULARGE_INTEGER system{{before.dwLowDateTime, before.dwHighDateTime}};
    const double now = static_cast<double>(runtime.UtcNow()) * 10'000 + 116'444'736'000'000'000.0;
    EXPECT_NEAR(now, static_cast<double>(system.QuadPart), 6e8);
}

// ----------------------------------------------------------------------------------------

TEST(FormWindowEvents, AnEventThatArrivesDuringAnotherWaitsItsTurn) {
    FormWindow window(L"Ostrivan event checks", 60000, false);
    std::vector<std::string> order;
    window.Raise([&] {
        order.push_back("first begins");
        window.Post([&] { order.push_back("second"); });
        // A modal loop inside the handler (a message box) dispatches the posted event.
        Pump([] { return false; }, 200);
        order.push_back("first ends");
    });
    EXPECT_EQ(order, (std::vector<std::string>{"first begins", "first ends", "second"}));
}

TEST(FormWindowEvents, TicksDuringAHandlerDoNotPileUp) {
    FormWindow window(L"Ostrivan tick checks", 60000, true);
    int ticks = 0;
    window.OnTimer([&] { ++ticks; });
    window.Raise([&] {
        for (int i = 0; i < 3; ++i) {
            ::SendMessageW(window.Window(), WM_TIMER, FormWindow::kTimerId, 0);
        }
        EXPECT_EQ(ticks, 0);
    });
    EXPECT_EQ(ticks, 1);
    ::SendMessageW(window.Window(), WM_TIMER, FormWindow::kTimerId, 0);
    EXPECT_EQ(ticks, 2);
}

TEST(FormWindowEvents, NoTickRunsWhileTheTimerIsOff) {
    FormWindow window(L"Ostrivan paused checks", 60000, true);
    int ticks = 0;
    window.OnTimer([&] { ++ticks; });
    window.SetTimerEnabled(false);
    ::SendMessageW(window.Window(), WM_TIMER, FormWindow::kTimerId, 0);
    EXPECT_EQ(ticks, 0);
    // A tick that waited behind a handler which switched the timer off runs nothing either.
    window.SetTimerEnabled(true);
    window.Raise([&] {
        ::SendMessageW(window.Window(), WM_TIMER, FormWindow::kTimerId, 0);
        window.SetTimerEnabled(false);
    });
    EXPECT_EQ(ticks, 0);
}

TEST(FormWindowEvents, TheTimerFiresOnTheLoop) {
    FormWindow window(L"Ostrivan timer checks", 60000, true);
    int ticks = 0;
    window.OnTimer([&] { ++ticks; });
    window.SetTimerInterval(20);
    EXPECT_TRUE(Pump([&] { return ticks >= 2; }));
}

TEST(FormWindowEvents, ClosingWaitsForTheRunningHandlerAndDropsWhatWaits) {
    FormWindow window(L"Ostrivan close checks", 60000, false);
    bool laterRan = false;
    window.Raise([&] {
        window.Close(3);
        EXPECT_NE(window.Window(), nullptr) << "destroyed inside the handler";
        window.Post([&] { laterRan = true; });
        Pump([] { return false; }, 100);
    });
    EXPECT_EQ(window.Window(), nullptr);
    EXPECT_EQ(window.Run(), 3);
    EXPECT_FALSE(laterRan);
}

TEST(FormWindowEvents, WmCloseRaisesTheCloseRequestInsteadOfDestroying) {
    FormWindow window(L"Ostrivan unload checks", 60000, false);
    int requests = 0;
    window.OnClose([&] { ++requests; });
    ::SendMessageW(window.Window(), WM_CLOSE, 0, 0);
    EXPECT_EQ(requests, 1);
    EXPECT_NE(window.Window(), nullptr);
}

// ----------------------------------------------------------------------------------------

class RecordingHost : public ServiceHostEvents {
public:
    void OnStart(HostFlag& success) override {
        events.push_back("start");
        success = kHostTrue;
    }
    void OnStop() override { events.push_back("stop"); }
    void OnPause(HostFlag&) override { events.push_back("pause"); }
    void OnContinue(HostFlag&) override { events.push_back("continue"); }
    void OnControl(std::int32_t code) override { events.push_back(std::to_string(code)); }
    std::vector<std::string> events;
};

TEST(ServiceHostStandalone, StartsThroughTheLoopAfterConnectReturned) {
    FormWindow window(L"Ostrivan host checks", 60000, false);
    EventLog eventLog;
    WindowsServiceHost host(window, eventLog);
    RecordingHost recorder;
    host.Attach(recorder);
    host.AcceptedControls(2);
    window.Raise([&] {
        host.Connect();
        // Not started by the manager: the start comes later, from the loop.
        Pump([] { return false; }, 300);
        EXPECT_TRUE(recorder.events.empty());
    });
    // Wine's dispatcher gives up on a process the manager did not start after about 10 s;
    // Windows at once.
    ASSERT_TRUE(Pump([&] { return !recorder.events.empty(); }, 30000));
    EXPECT_EQ(recorder.events, std::vector<std::string>{"start"});

    // Standalone, a stop request stops the form directly.
    host.RequestStop();
    ASSERT_TRUE(Pump([&] { return recorder.events.size() == 2; }));
    EXPECT_EQ(recorder.events.back(), "stop");
}

TEST(ServiceHostStandalone, WritesEventsWithAnyKindAndId) {
    FormWindow window(L"Ostrivan log checks", 60000, false);
    EventLog eventLog;
    WindowsServiceHost host(window, eventLog);
    EXPECT_NO_THROW(host.WriteEvent(109, 1, "[5] Access is denied"));
    EXPECT_NO_THROW(host.WriteEvent(1, 109, "Service paused"));
    EXPECT_EQ(host.ServiceTitle(), "Ostrivan Monitoring Service");
}

} // namespace
} // namespace ostrivan::windows
