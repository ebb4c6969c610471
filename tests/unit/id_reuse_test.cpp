// Between the check that a process is the one the service means and its termination, the
// process can end and its id be handed on. Whichever call the hand-over comes before, the
// newcomer is never terminated; without a hand-over the process meant is.
#include "supervisor_fixture.h"

#include <functional>
#include <memory>

namespace ostrivan::testing {
namespace {

void Sweep(fakes::FakeService& s, std::chrono::milliseconds after = 60s) {
    s.runtime.Advance(after);
    s.runtime.FireTimer();
}

// `prepare` brings a loaded service to the sweep that terminates and returns the id it
// will end with `exitCode`.
void ExpectOnlyTheProcessMeantIsTerminated(
    const std::function<ProcessId(fakes::FakeService&)>& prepare, std::uint32_t exitCode) {
    fakes::FakeProcess newcomer; // large enough to pass for an oversized manager
    newcomer.imageName = "innocent.exe";
    newcomer.workingSet = 1ull << 40;
    for (int nth = 1;; ++nth) {
        SCOPED_TRACE("id handed on before call " + std::to_string(nth) + " naming it");
        auto s = std::make_unique<fakes::FakeService>();
        for (const auto& program : kSuiteFolder) {
            s->runtime.AddProgram(program);
        }
        s->form.Load();
        const ProcessId meant = prepare(*s);
        s->processes.ReuseIdAt(meant, nth, newcomer);
        Sweep(*s);
        if (!s->processes.Reused()) { // past the last call naming the id
            const auto& ends = s->processes.Terminations();
            EXPECT_TRUE(std::any_of(ends.begin(), ends.end(), [&](const auto& t) {
                return t.id == meant && t.exitCode == exitCode;
            })) << "the process meant lives";
            return;
        }
        EXPECT_TRUE(s->processes.IsRunning(meant)) << "the newcomer was terminated";
        EXPECT_EQ(s->processes.OpenHandleCount(), 0u);
    }
}

TEST(IdReuseBetweenCheckAndTermination, PendingTool) {
    ExpectOnlyTheProcessMeantIsTerminated(
        [](fakes::FakeService& s) {
            const ProcessId tool = s.processes.Add("rrdtool.exe");
            Sweep(s);
            return tool;
        },
        0);
}

TEST(IdReuseBetweenCheckAndTermination, OverdueCheckProgram) {
    ExpectOnlyTheProcessMeantIsTerminated(
        [](fakes::FakeService& s) {
            const ProcessId check = s.processes.Add("disk_check.exe");
            Sweep(s);
            Sweep(s, 3min);
            return check;
        },
        3);
}

TEST(IdReuseBetweenCheckAndTermination, ManagerPastItsCeiling) {
    ExpectOnlyTheProcessMeantIsTerminated(
        [](fakes::FakeService& s) {
            Sweep(s);
            const ProcessId manager = s.form.State().ManagerPid.id;
            s.processes.At(manager).workingSet = 300'000'000;
            return manager;
        },
        kStillActive);
}

} // namespace
} // namespace ostrivan::testing
