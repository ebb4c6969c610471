// Between the check that a process is the one the service means and its termination, the
// process can end and its id be handed on. Whichever call the hand-over comes before, the
// newcomer is never terminated; without a hand-over the process meant is.
#include "supervisor_fixture.h"

#include <functional>
#include <memory>

namespace ostrivan::testing {
namespace {

struct Course {
    // Brings a fresh service to the sweep that terminates; returns the id it will end.
    std::function<ProcessId(fakes::FakeService&)> prepare;
    std::uint32_t exitCode = 0;
};

void Sweep(fakes::FakeService& s, std::chrono::milliseconds after = 60s) {
    s.runtime.Advance(after);
    s.runtime.FireTimer();
}

std::unique_ptr<fakes::FakeService> LoadedService() {
    auto s = std::make_unique<fakes::FakeService>();
    for (const auto& program : kSuiteFolder) {
        s->runtime.AddProgram(program);
    }
    s->form.Load();
    return s;
}

bool Terminated(const fakes::FakeService& s, ProcessId id, std::uint32_t exitCode) {
    for (const auto& t : s.processes.Terminations()) {
        if (t.id == id && t.exitCode == exitCode) {
            return true;
        }
    }
    return false;
}

void ExpectOnlyTheProcessMeantIsTerminated(const Course& course) {
    // Large enough to be taken for an oversized manager.
    fakes::FakeProcess newcomer;
    newcomer.imageName = "innocent.exe";
    newcomer.workingSet = 1ull << 40;
    for (int nth = 1;; ++nth) {
        SCOPED_TRACE("id handed on before call " + std::to_string(nth) + " naming it");
        auto s = LoadedService();
        const ProcessId meant = course.prepare(*s);
        s->processes.ReuseIdAt(meant, nth, newcomer);
        Sweep(*s);
        if (!s->processes.Reused()) {
            // Past the last call naming the id: the sweep ran as usual.
            EXPECT_GT(nth, 1);
            EXPECT_TRUE(Terminated(*s, meant, course.exitCode)) << "the process meant lives";
            return;
        }
        EXPECT_TRUE(s->processes.IsRunning(meant)) << "the newcomer was terminated";
        EXPECT_EQ(s->processes.OpenHandleCount(), 0u);
    }
}

TEST(IdReuseBetweenCheckAndTermination, PendingTool) {
    ExpectOnlyTheProcessMeantIsTerminated({[](fakes::FakeService& s) {
                                               const ProcessId tool =
                                                   s.processes.Add("rrdtool.exe");
                                               Sweep(s);
                                               return tool;
                                           },
                                           0});
}

TEST(IdReuseBetweenCheckAndTermination, OverdueCheckProgram) {
    ExpectOnlyTheProcessMeantIsTerminated({[](fakes::FakeService& s) {
                                               const ProcessId check =
                                                   s.processes.Add("disk_check.exe");
                                               Sweep(s);
                                               Sweep(s, 3min);
                                               return check;
                                           },
                                           0});
}

TEST(IdReuseBetweenCheckAndTermination, ManagerPastItsCeiling) {
    ExpectOnlyTheProcessMeantIsTerminated({[](fakes::FakeService& s) {
                                               Sweep(s);
                                               const ProcessId manager =
                                                   s.form.State().ManagerPid.id;
                                               s.processes.At(manager).workingSet = 300'000'000;
                                               return manager;
                                           },
                                           kStillActive});
}

} // namespace
} // namespace ostrivan::testing
