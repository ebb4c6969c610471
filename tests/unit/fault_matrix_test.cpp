// One row for every platform call that a handler makes, at every point where it makes it:
// the call fails (or runs out of memory) and the row states what must follow. The rows are
// written out by hand from the documented behaviour; the coverage test below runs every
// scenario without faults and checks that each call it made has its rows, one per call.
#include "fake_platform.h"
#include "supervisor_fixture.h"

#include "supervisor/status_text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <new>
#include <optional>
#include <ostream>
#include <set>
#include <string>
#include <type_traits>
#include <vector>

namespace ostrivan {
namespace {

using namespace std::chrono_literals;

// --- the calls of the simulated platform

const std::vector<std::string> kProcessCalls = {"CreateToolhelp32Snapshot",
                                                "Process32First",
                                                "Process32Next",
                                                "OpenProcess",
                                                "TerminateProcess",
                                                "GetExitCodeProcess",
                                                "PostCloseRequest",
                                                "WaitForSingleObject",
                                                "GetProcessMemoryInfo",
                                                "GetProcessCreationTime",
                                                "GetProcessImageName",
                                                "OpenProcessToken",
                                                "LookupPrivilegeValueA",
                                                "AdjustTokenPrivileges"};
const std::vector<std::string> kHostCalls = {
    "AcceptedControls", "ServiceTitle", "RegistrationOption",
    "Register",         "WriteEvent",   "Unregister",
    "RequestStop",      "Connect",      "SaveParameter"};
const std::vector<std::string> kRuntimeCalls = {"SetStatusText",        "SetTimerInterval",
                                                "SetTimerEnabled",      "ShowMessageBox",
                                                "LaunchProgram",        "ApplicationFolder",
                                                "CommandLineArguments", "End",
                                                "UnloadForm",           "UtcNow",
                                                "MonotonicNow"};
// Calls that have no failure to report: closing a handle, the version word.
// Nor has the permission check: what it cannot read it does not report.
const std::set<std::string> kCannotFail = {"api.CloseHandle", "api.GetVersion",
                                           "security.CheckWriters"};
// Entries the simulated platform writes for its own events, not calls of the logic.
const std::set<std::string> kPlatformEvents = {"runtime.Timer", "runtime.Unloaded",
                                               "runtime.UnloadCancelled", "runtime.CloseWindow"};

bool Contains(const std::vector<std::string>& list, const std::string& name) {
    return std::find(list.begin(), list.end(), name) != list.end();
}

fakes::FaultPlan& PlanOf(fakes::FakeService& s, const std::string& call) {
    if (Contains(kProcessCalls, call)) {
        return s.processes.Faults();
    }
    if (Contains(kHostCalls, call)) {
        return s.host.Faults();
    }
    return s.runtime.Faults();
}

// "api.OpenProcess 0x400 1000" -> "api.OpenProcess"
std::string CallOf(const std::string& entry) {
    return entry.substr(0, entry.find(' '));
}

// --- the places where the logic calls the platform

const std::string kFolder = "C:\\Program Files\\Ostrivan";

std::string LaunchOf(const std::string& program) {
    return "runtime.LaunchProgram \"" + kFolder + "\\" + program + "\"";
}
const std::string kLaunchAlerts = LaunchOf("o-alerts.exe");
const std::string kLaunchGraphs = LaunchOf("o-graphs.exe");
const std::string kLaunchTrap = LaunchOf("vantorelle_snmptrap.exe");
const std::string kLaunchManager = LaunchOf("vantorelle_manager.exe");
const std::string kLaunchWatcher = LaunchOf("vantorelle_watcher.exe");
const std::string kAnyLaunch = "runtime.LaunchProgram";
const std::string kQuestion =
    "Are you sure you want to unload the service?...\r\nthe service will be stopped";

struct Scenario {
    std::string name;
    // Brings the service to the point of the scenario; runs without faults.
    std::function<void(fakes::FakeService&)> setup;
    // Raises the one handler under test; returns the flag it was given by reference, if any.
    std::function<std::optional<std::int16_t>(fakes::FakeService&)> trigger;
};

void Tick(fakes::FakeService& s, std::chrono::milliseconds after) {
    s.runtime.Advance(after);
    s.runtime.FireTimer();
}

void Start(fakes::FakeService& s) {
    HostFlag success = kHostFalse;
    s.form.OnStart(success);
}

std::optional<std::int16_t> Load(fakes::FakeService& s) {
    s.form.Load();
    return std::nullopt;
}

const std::vector<Scenario>& Scenarios() {
    static const std::vector<Scenario> scenarios = {
        {"LoadService", [](fakes::FakeService&) {}, Load},
        {"LoadInstall", [](fakes::FakeService& s) { s.runtime.SetArguments("-install"); }, Load},
        {"LoadInstallUnregistered",
         [](fakes::FakeService& s) {
             s.runtime.SetArguments("-install");
             s.host.SetRegisterResult(false);
         },
         Load},
        {"LoadRemove", [](fakes::FakeService& s) { s.runtime.SetArguments("-remove"); }, Load},
        {"LoadInvalid", [](fakes::FakeService& s) { s.runtime.SetArguments("-Install"); }, Load},
        // First start: a stale watcher runs, no manager has been launched yet, and the
        // folder can be changed by ordinary users.
        {"OnStart",
         [](fakes::FakeService& s) {
             s.form.Load();
             s.processes.Add("vantorelle_watcher.exe");
             s.security.SetWriters(kFolder, {"Users"});
         },
         [](fakes::FakeService& s) -> std::optional<std::int16_t> {
             HostFlag success = kHostFalse;
             s.form.OnStart(success);
             return success;
         }},
        // A tick with every step busy: rrdtool.exe pending, disk_check.exe overdue,
        // late_check.exe tracked and seen again, klaxo_msn.exe new, the manager oversized.
        {"Sweep",
         [](fakes::FakeService& s) {
             s.form.Load();
             Start(s);
             s.processes.Add("disk_check.exe");
             Tick(s, 60s);
             s.processes.Add("late_check.exe");
             s.processes.Add("rrdtool.exe");
             Tick(s, 3min);
             s.processes.Add("klaxo_msn.exe");
             s.processes.At(s.form.State().ManagerPid.id).workingSet = 300'000'000;
             s.runtime.Advance(60s);
         },
         [](fakes::FakeService& s) -> std::optional<std::int16_t> {
             s.form.OnTimer();
             return std::nullopt;
         }},
        // The timer runs from the form's creation: a tick before OnStart launches the manager.
        {"SweepBeforeStart", [](fakes::FakeService& s) { s.form.Load(); },
         [](fakes::FakeService& s) -> std::optional<std::int16_t> {
             s.form.OnTimer();
             return std::nullopt;
         }},
        // The suite runs as the start left it: alerts, graphs, trap receiver, manager, watcher.
        // Asked to end, the alerts program does so 2 s later; the others ignore the request.
        {"OnStop",
         [](fakes::FakeService& s) {
             s.form.Load();
             Start(s);
             s.processes.At(s.processes.RunningNamed("o-alerts.exe")[0]).endsWhenAskedAfter = 2s;
         },
         [](fakes::FakeService& s) -> std::optional<std::int16_t> {
             s.form.OnStop();
             return std::nullopt;
         }},
        {"OnPause", [](fakes::FakeService& s) { s.form.Load(); },
         [](fakes::FakeService& s) -> std::optional<std::int16_t> {
             HostFlag success = kHostFalse;
             s.form.OnPause(success);
             return success;
         }},
        {"OnContinue",
         [](fakes::FakeService& s) {
             s.form.Load();
             HostFlag success = kHostFalse;
             s.form.OnPause(success);
         },
         [](fakes::FakeService& s) -> std::optional<std::int16_t> {
             HostFlag success = kHostFalse;
             s.form.OnContinue(success);
             return success;
         }},
        {"OnControl", [](fakes::FakeService& s) { s.form.Load(); },
         [](fakes::FakeService& s) -> std::optional<std::int16_t> {
             s.form.OnControl(128);
             return std::nullopt;
         }},
        {"UnloadAnsweredYes",
         [](fakes::FakeService& s) {
             s.form.Load();
             s.runtime.AnswerNextBox(box::kAnswerYes);
         },
         [](fakes::FakeService& s) -> std::optional<std::int16_t> {
             std::int16_t cancel = 0;
             s.form.OnQueryUnload(cancel);
             return cancel;
         }},
        {"UnloadAnsweredNo", [](fakes::FakeService& s) { s.form.Load(); },
         [](fakes::FakeService& s) -> std::optional<std::int16_t> {
             std::int16_t cancel = 0;
             s.form.OnQueryUnload(cancel);
             return cancel;
         }},
        {"UnloadWhileStopping",
         [](fakes::FakeService& s) {
             s.form.Load();
             s.form.OnStop();
         },
         [](fakes::FakeService& s) -> std::optional<std::int16_t> {
             std::int16_t cancel = 0;
             s.form.OnQueryUnload(cancel);
             return cancel;
         }},
    };
    return scenarios;
}

const Scenario& ScenarioNamed(const std::string& name) {
    for (const auto& scenario : Scenarios()) {
        if (scenario.name == name) {
            return scenario;
        }
    }
    throw std::logic_error("no scenario named " + name);
}

std::unique_ptr<fakes::FakeService> ServiceAt(const Scenario& scenario) {
    auto s = std::make_unique<fakes::FakeService>();
    for (const auto& program : testing::kSuiteFolder) {
        s->runtime.AddProgram(program);
    }
    scenario.setup(*s);
    s->log.Clear();
    return s;
}

// --- what a row expects

struct Outcome {
    std::string report;               // the one error report's text; empty = no report
    std::vector<std::string> boxes;   // message boxes shown, in order
    std::vector<std::string> reached; // later steps that ran: a logged call starts with each
    std::vector<std::string> skipped; // steps that did not run: no logged call starts with any
    std::optional<std::int16_t> flag; // the by-reference flag after the handler
    std::optional<std::vector<std::uint32_t>> exitCodes; // terminations made, in order
    int snapshots = -1;                                  // snapshots taken; -1 = not looked at
    std::optional<bool> connected;
    std::optional<bool> ended;
    std::optional<bool> stopping;
    std::optional<bool> unloaded;
    std::optional<bool> timerEnabled;
    // Only when the call that lowers the debug privilege is the one that failed, and no
    // later termination lowers it again.
    bool privilegeLeftEnabled = false;

    Outcome Reports(const std::string& text) const { return With(&Outcome::report, text); }
    Outcome Boxes(std::vector<std::string> texts) const { return With(&Outcome::boxes, texts); }
    Outcome Reaches(std::vector<std::string> steps) const { return With(&Outcome::reached, steps); }
    Outcome Skips(std::vector<std::string> steps) const { return With(&Outcome::skipped, steps); }
    Outcome Flag(std::int16_t value) const { return With(&Outcome::flag, {value}); }
    Outcome Exits(std::vector<std::uint32_t> codes) const {
        return With(&Outcome::exitCodes, {codes});
    }
    Outcome Snapshots(int count) const { return With(&Outcome::snapshots, count); }
    Outcome Connected(bool value) const { return With(&Outcome::connected, {value}); }
    Outcome Ended(bool value) const { return With(&Outcome::ended, {value}); }
    Outcome Stopping(bool value) const { return With(&Outcome::stopping, {value}); }
    Outcome Unloaded(bool value) const { return With(&Outcome::unloaded, {value}); }
    Outcome Timer(bool enabled) const { return With(&Outcome::timerEnabled, {enabled}); }
    Outcome PrivilegeLeftEnabled() const { return With(&Outcome::privilegeLeftEnabled, true); }

private:
    template <class Field>
    Outcome With(Field Outcome::*field, std::type_identity_t<Field> value) const {
        Outcome copy = *this;
        copy.*field = std::move(value);
        return copy;
    }
};

std::string Failed(const std::string& call) {
    return "[440] " + call + " failed";
}
const std::string kOutOfMemory = "[7] Out of memory";
std::string ShellingBox(const std::string& description) {
    return "Error Shelling file.\r\n" + description;
}

enum class Fault { None, Fails, OutOfMemory };

struct Row {
    std::string scenario;
    std::string call; // empty for the scenario without a fault
    int nth = 0;      // the nth call of `call` from the handler's start
    Fault fault = Fault::None;
    Outcome expected;
};

void PrintTo(const Row& row, std::ostream* out) {
    *out << row.scenario << " " << (row.call.empty() ? "without a fault" : row.call) << " "
         << row.nth;
}

std::string RowName(const ::testing::TestParamInfo<Row>& info) {
    const Row& row = info.param;
    if (row.fault == Fault::None) {
        return row.scenario + "_NoFault";
    }
    return row.scenario + "_" + row.call + "_" + std::to_string(row.nth) +
           (row.fault == Fault::Fails ? "_Fails" : "_OutOfMemory");
}

class Matrix {
public:
    explicit Matrix(std::string scenario) : scenario_(std::move(scenario)) {}

    Matrix& NoFault(const Outcome& expected) {
        rows_.push_back(Row{scenario_, "", 0, Fault::None, expected});
        return *this;
    }
    // The calls first..last of `call` fail, one row each, all with the same outcome.
    Matrix& Fails(const std::string& call, int first, int last, const Outcome& expected) {
        for (int nth = first; nth <= last; ++nth) {
            rows_.push_back(Row{scenario_, call, nth, Fault::Fails, expected});
        }
        return *this;
    }
    Matrix& Fails(const std::string& call, int nth, const Outcome& expected) {
        return Fails(call, nth, nth, expected);
    }
    Matrix& OutOfMemory(const std::string& call, int nth, const Outcome& expected) {
        rows_.push_back(Row{scenario_, call, nth, Fault::OutOfMemory, expected});
        return *this;
    }
    std::vector<Row> Rows() const { return rows_; }

private:
    std::string scenario_;
    std::vector<Row> rows_;
};

// --- the rows

std::vector<Row> LoadRows() {
    std::vector<Row> rows;
    auto add = [&rows](const Matrix& m) {
        const auto more = m.Rows();
        rows.insert(rows.end(), more.begin(), more.end());
    };
    const Outcome stays = Outcome().Ended(false).Connected(false);

    add(Matrix("LoadService")
            .NoFault(Outcome().Connected(true).Ended(false).Timer(true))
            // The arguments are read after the report, to tell whether the run may stay.
            .Fails("SetStatusText", 1,
                   stays.Reports(Failed("SetStatusText"))
                       .Skips({"runtime.SetTimerInterval", "host.Connect"}))
            .Fails("CommandLineArguments", 1,
                   stays.Reports(Failed("CommandLineArguments"))
                       .Skips({"runtime.SetStatusText", "host.Connect"}))
            .Fails("SetTimerInterval", 1,
                   stays.Reports(Failed("SetTimerInterval"))
                       .Skips({"host.AcceptedControls", "host.Connect"})
                       .Timer(true))
            .Fails("AcceptedControls", 1,
                   stays.Reports(Failed("AcceptedControls")).Skips({"host.Connect"}))
            .Fails("Connect", 1, stays.Reports(Failed("Connect")))
            .OutOfMemory("Connect", 1, stays.Reports(kOutOfMemory)));

    // The folder read for the permission check: a failure there only skips the check. Any
    // other failure of a run with an argument is reported, and the process ends.
    const Outcome ends = Outcome().Ended(true).Connected(false);
    add(Matrix("LoadInstall")
            .NoFault(Outcome().Connected(true).Ended(true).Reaches({"host.SaveParameter"}))
            .Fails("ApplicationFolder", 1,
                   Outcome().Connected(true).Ended(true).Reaches({"host.SaveParameter"}))
            .Fails("SetStatusText", 1,
                   ends.Reports(Failed("SetStatusText")).Skips({"host.RegistrationOption"}))
            .Fails("CommandLineArguments", 1,
                   ends.Reports(Failed("CommandLineArguments")).Skips({"host.RegistrationOption"}))
            .Fails("RegistrationOption", 1,
                   ends.Reports(Failed("RegistrationOption")).Skips({"host.Register"}))
            .Fails("Register", 1,
                   ends.Reports(Failed("Register")).Skips({"host.SaveParameter", "host.Connect"}))
            .Fails("SaveParameter", 1,
                   ends.Reports(Failed("SaveParameter")).Skips({"host.Connect"}))
            .Fails("Connect", 1, ends.Reports(Failed("Connect")))
            .Fails("End", 1, ends.Reports(Failed("End")).Connected(true)));

    add(Matrix("LoadInstallUnregistered")
            .NoFault(Outcome().Connected(true).Ended(true).Skips({"host.SaveParameter"}))
            .Fails("ApplicationFolder", 1,
                   Outcome().Connected(true).Ended(true).Skips({"host.SaveParameter"}))
            .Fails("SetStatusText", 1,
                   ends.Reports(Failed("SetStatusText")).Skips({"host.RegistrationOption"}))
            .Fails("CommandLineArguments", 1,
                   ends.Reports(Failed("CommandLineArguments")).Skips({"host.RegistrationOption"}))
            .Fails("RegistrationOption", 1,
                   ends.Reports(Failed("RegistrationOption")).Skips({"host.Register"}))
            .Fails("Register", 1, ends.Reports(Failed("Register")).Skips({"host.Connect"}))
            .Fails("Connect", 1, ends.Reports(Failed("Connect")))
            .Fails("End", 1, ends.Reports(Failed("End")).Connected(true)));

    add(Matrix("LoadRemove")
            .NoFault(Outcome().Connected(false).Ended(true).Reaches({"host.Unregister"}))
            .Fails("SetStatusText", 1,
                   ends.Reports(Failed("SetStatusText")).Skips({"host.Unregister"}))
            .Fails("CommandLineArguments", 1,
                   ends.Reports(Failed("CommandLineArguments")).Skips({"host.Unregister"}))
            .Fails("Unregister", 1, ends.Reports(Failed("Unregister")))
            .Fails("End", 1, ends.Reports(Failed("End"))));

    add(Matrix("LoadInvalid")
            .NoFault(Outcome().Connected(false).Ended(true).Boxes({"Invalid Parameter"}))
            .Fails("SetStatusText", 1,
                   ends.Reports(Failed("SetStatusText")).Skips({"runtime.ShowMessageBox"}))
            .Fails("CommandLineArguments", 1,
                   ends.Reports(Failed("CommandLineArguments")).Skips({"runtime.ShowMessageBox"}))
            .Fails("ShowMessageBox", 1, ends.Reports(Failed("ShowMessageBox")))
            .Fails("End", 1, ends.Reports(Failed("End")).Boxes({"Invalid Parameter"})));
    return rows;
}

std::vector<Row> StartRows() {
    // Started: every launch made, the stale watcher terminated, 8 snapshots for the list.
    const Outcome started =
        Outcome().Flag(kHostTrue).Reaches({kLaunchManager, kLaunchWatcher}).Exits({0}).Snapshots(8);
    const Outcome watcherSpared = started.Exits({});
    Matrix m("OnStart");
    m.NoFault(started)
        .Fails("SetStatusText", 1,
               Outcome()
                   .Reports(Failed("SetStatusText"))
                   .Flag(kHostFalse)
                   .Skips({kAnyLaunch})
                   .Snapshots(0)
                   .Exits({}))
        .OutOfMemory("SetStatusText", 1,
                     Outcome().Reports(kOutOfMemory).Flag(kHostFalse).Skips({kAnyLaunch}));

    // Before the launches, the folder is read once for the check of its permissions; the
    // folder's warning cannot be written. Neither keeps the service from starting.
    m.Fails("ApplicationFolder", 1, started)
        .Fails("WriteEvent", 1, started)
        .OutOfMemory("WriteEvent", 1, started);
    // Stage two: the folder (read once before, for its permissions) or the launch of program
    // k fails: only that launch is lost, with its box and no report.
    const std::vector<std::string> launches = {kLaunchAlerts, kLaunchGraphs, kLaunchTrap,
                                               kLaunchManager, kLaunchWatcher};
    for (int k = 1; k <= 5; ++k) {
        std::vector<std::string> others = launches;
        others.erase(others.begin() + (k - 1));
        m.Fails("ApplicationFolder", k + 1,
                started.Boxes({ShellingBox("ApplicationFolder failed")})
                    .Reaches(others)
                    .Skips({launches[k - 1]}))
            .Fails("LaunchProgram", k,
                   started.Boxes({ShellingBox("LaunchProgram failed")}).Reaches(launches));
    }
    m.OutOfMemory("LaunchProgram", 2, started.Boxes({ShellingBox("Out of memory")}));

    // The process calls: the eight KillApp calls of the list; the fifth
    // ("vantorelle_watcher.exe") finds the stale watcher as its first row, and checks its
    // name on the handle before it terminates. Every failure is absorbed and the watcher
    // still launched.
    m.Fails("OpenProcess", 1, watcherSpared)
        .Fails("GetProcessImageName", 1, watcherSpared)
        .Fails("CreateToolhelp32Snapshot", 1, 4, started)
        .Fails("CreateToolhelp32Snapshot", 5, watcherSpared)
        .Fails("CreateToolhelp32Snapshot", 6, 8, started)
        .Fails("Process32First", 1, 4, started)
        .Fails("Process32First", 5, watcherSpared)
        .Fails("Process32First", 6, 8, started)
        .Fails("Process32Next", 1, 37, started)
        .Fails("OpenProcessToken", 1, watcherSpared)
        .Fails("LookupPrivilegeValueA", 1, watcherSpared)
        .Fails("AdjustTokenPrivileges", 1, watcherSpared)
        .Fails("AdjustTokenPrivileges", 2, started.PrivilegeLeftEnabled())
        .Fails("TerminateProcess", 1, watcherSpared)
        .OutOfMemory("Process32Next", 3, started)
        .OutOfMemory("TerminateProcess", 1, watcherSpared);
    return m.Rows();
}

std::vector<Row> SweepRows() {
    // Exit codes: rrdtool.exe (pending) 0, disk_check.exe (overdue) 3, the oversized manager 259.
    const Outcome swept = Outcome().Exits({0, 3, 259}).Reaches({kLaunchManager}).Snapshots(1);
    const Outcome toolSpared = swept.Exits({3, 259});
    const Outcome checkSpared = swept.Exits({0, 259});
    // The keeper reads the manager as ended: launched again without a termination.
    const Outcome managerTakenForEnded = swept.Exits({0, 3});
    const Outcome managerLeftAlone = swept.Exits({0, 3}).Reaches({}).Skips({kLaunchManager});
    const Outcome launchFailed = swept.Reaches({});

    Matrix m("Sweep");
    m.NoFault(swept)
        // Step 1, KillPendingProcesses: the probe, then KillProcess, which checks the id on
        // the handle it terminates through.
        .Fails("OpenProcess", 1, toolSpared)
        .Fails("OpenProcessToken", 1, toolSpared)
        .Fails("LookupPrivilegeValueA", 1, toolSpared)
        .Fails("AdjustTokenPrivileges", 1, toolSpared)
        .Fails("OpenProcess", 2, toolSpared)
        .Fails("GetProcessCreationTime", 1, toolSpared)
        .Fails("GetProcessImageName", 1, toolSpared)
        .Fails("TerminateProcess", 1, toolSpared)
        .Fails("AdjustTokenPrivileges", 2, swept) // the reap raises and lowers it again
        .OutOfMemory("GetProcessCreationTime", 1, toolSpared)
        .OutOfMemory("LookupPrivilegeValueA", 1, toolSpared)
        .OutOfMemory("TerminateProcess", 1, toolSpared)
        // Step 2, ReapOverdueChecks: the overdue run, confirmed on the handle that ends it.
        .Fails("OpenProcessToken", 2, checkSpared)
        .Fails("LookupPrivilegeValueA", 2, checkSpared)
        .Fails("AdjustTokenPrivileges", 3, checkSpared)
        .Fails("OpenProcess", 3, checkSpared)
        .Fails("GetProcessCreationTime", 2, checkSpared)
        .Fails("TerminateProcess", 2, checkSpared)
        .Fails("AdjustTokenPrivileges", 4, swept.PrivilegeLeftEnabled())
        // An error in the walk ends the tick: no scan, no keeper.
        .OutOfMemory("GetProcessCreationTime", 2,
                     managerLeftAlone.Exits({0}).Reports(kOutOfMemory).Snapshots(0))
        // Step 3, ScanProcesses: ends quietly, the keeper still runs.
        .Fails("CreateToolhelp32Snapshot", 1, swept)
        .Fails("Process32First", 1, swept)
        .Fails("Process32Next", 1, 7, swept)
        .Fails("OpenProcess", 4, 5, swept) // identifying late_check.exe, then klaxo_msn.exe
        .Fails("GetProcessCreationTime", 3, 4, swept)
        .Fails("MonotonicNow", 1, swept) // seeing late_check.exe again
        .OutOfMemory("MonotonicNow", 1, swept)
        .OutOfMemory("GetProcessCreationTime", 3, swept)
        // Step 4, KeepManagerAlive: exit status, working set and EndProcess, each on a
        // handle of its own that first confirms the manager's identity; then the launch,
        // which brings the new manager's identity with it.
        .Fails("OpenProcess", 6, managerTakenForEnded)
        .Fails("WaitForSingleObject", 1, managerTakenForEnded)
        .Fails("OpenProcess", 7, 8, managerLeftAlone) // the second: a termination refused
        .Fails("GetProcessCreationTime", 6, managerLeftAlone)
        .Fails("GetProcessMemoryInfo", 1, managerLeftAlone)
        .Fails("GetProcessCreationTime", 5, managerTakenForEnded)
        .Fails("GetProcessCreationTime", 7, managerTakenForEnded)
        .Fails("TerminateProcess", 3, managerLeftAlone)
        .Fails("OpenProcess", 9, swept) // no handle to wait on for its end: ended
        .Fails("ApplicationFolder", 1,
               launchFailed.Reports(Failed("ApplicationFolder")).Skips({kLaunchManager}))
        .Fails("LaunchProgram", 1, launchFailed.Reports(Failed("LaunchProgram")))
        .OutOfMemory("OpenProcess", 6, managerLeftAlone.Reports(kOutOfMemory))
        .OutOfMemory("LaunchProgram", 1, launchFailed.Reports(kOutOfMemory));
    return m.Rows();
}

std::vector<Row> SweepBeforeStartRows() {
    // Nothing pending, nothing tracked, no process running: the keeper launches the manager.
    const Outcome launched = Outcome().Reaches({kLaunchManager}).Snapshots(1).Exits({});
    Matrix m("SweepBeforeStart");
    m.NoFault(launched)
        .Fails("CreateToolhelp32Snapshot", 1, launched)
        .Fails("Process32First", 1, launched)
        .Fails("ApplicationFolder", 1,
               Outcome().Reports(Failed("ApplicationFolder")).Skips({kAnyLaunch}))
        .Fails("LaunchProgram", 1, Outcome().Reports(Failed("LaunchProgram")))
        .OutOfMemory("LaunchProgram", 1, Outcome().Reports(kOutOfMemory));
    return m.Rows();
}

std::vector<Row> StopRows() {
    // Stopped: the alerts program ended when asked, the list terminated the other four.
    const Outcome stopped = Outcome()
                                .Exits({0, 0, 0, 0})
                                .Snapshots(21)
                                .Stopping(true)
                                .Unloaded(true)
                                .Reaches({"runtime.UnloadForm"});
    const Outcome oneSpared = stopped.Exits({0, 0, 0});
    // The alerts program not asked, or not waited for: the list terminates it too.
    const Outcome alertsTerminated = stopped.Exits({0, 0, 0, 0, 0});

    Matrix m("OnStop");
    m.NoFault(stopped)
        .Fails("SetStatusText", 1,
               Outcome()
                   .Reports(Failed("SetStatusText"))
                   .Stopping(false)
                   .Unloaded(false)
                   .Snapshots(0)
                   .Exits({})
                   .Skips({"runtime.UnloadForm"}))
        .Fails("UnloadForm", 1, stopped.Reports(Failed("UnloadForm")).Unloaded(false).Reaches({}))
        .OutOfMemory("UnloadForm", 1, stopped.Reports(kOutOfMemory).Unloaded(false).Reaches({}))
        // A wait that fails gives up on its program, which still ends 2 s on, in the others'
        // wait; the clock failing before then leaves it to the list.
        .Fails("WaitForSingleObject", 1, 57, stopped)
        .Fails("MonotonicNow", 1, 3, alertsTerminated)
        .Fails("MonotonicNow", 4, 12, stopped)
        .OutOfMemory("OpenProcess", 1, alertsTerminated)
        .OutOfMemory("MonotonicNow", 1, alertsTerminated)
        // Only the manager is not the first row of its snapshot in the list (the 14th call).
        .Fails("Process32Next", 1, 13, stopped)
        .Fails("Process32Next", 14, oneSpared)
        .Fails("Process32Next", 15, 24, stopped)
        .Fails("OpenProcessToken", 1, 4, oneSpared)
        .Fails("LookupPrivilegeValueA", 1, 4, oneSpared)
        .Fails("OpenProcess", 6, 9, oneSpared)
        .Fails("GetProcessImageName", 6, 9, oneSpared)
        .Fails("TerminateProcess", 1, 4, oneSpared)
        .OutOfMemory("OpenProcess", 6, oneSpared)
        // Raised while the snapshot is read: the whole KillApp call is abandoned.
        .OutOfMemory("Process32Next", 10, oneSpared);
    // The request: whatever fails there, the list still ends every program.
    for (const char* call : {"OpenProcess", "GetProcessImageName", "PostCloseRequest"}) {
        m.Fails(call, 1, alertsTerminated).Fails(call, 2, 5, stopped);
    }
    // After the request's snapshot, the list's: entries 2, 3, 6 and 8 each find one program.
    for (const char* call : {"CreateToolhelp32Snapshot", "Process32First"}) {
        m.Fails(call, 1, alertsTerminated);
        for (int nth = 2; nth <= 21; ++nth) {
            m.Fails(call, nth, std::set{3, 4, 7, 9}.contains(nth) ? oneSpared : stopped);
        }
    }
    for (int up = 1; up <= 7; up += 2) {
        m.Fails("AdjustTokenPrivileges", up, oneSpared);
    }
    m.Fails("AdjustTokenPrivileges", 2, stopped)
        .Fails("AdjustTokenPrivileges", 4, stopped)
        .Fails("AdjustTokenPrivileges", 6, stopped)
        .Fails("AdjustTokenPrivileges", 8, stopped.PrivilegeLeftEnabled());
    return m.Rows();
}

std::vector<Row> ShellRows() {
    std::vector<Row> rows;
    auto add = [&rows](const Matrix& m) {
        const auto more = m.Rows();
        rows.insert(rows.end(), more.begin(), more.end());
    };
    const std::string pausedNotice = "host.WriteEvent 1 109 Service paused";
    const std::string continuedNotice = "host.WriteEvent 4 110 Service continued";
    const std::string stoppingStatus = std::string("runtime.SetStatusText ") + status::kStopping;

    add(Matrix("OnPause")
            .NoFault(Outcome().Flag(kHostTrue).Timer(false).Reaches({pausedNotice}))
            .Fails("SetTimerEnabled", 1,
                   Outcome()
                       .Reports(Failed("SetTimerEnabled"))
                       .Flag(kHostFalse)
                       .Timer(true)
                       .Skips({"runtime.SetStatusText", pausedNotice}))
            // Once the timer is off the pause has taken effect: the flag says so.
            .Fails("SetStatusText", 1,
                   Outcome()
                       .Reports(Failed("SetStatusText"))
                       .Flag(kHostTrue)
                       .Timer(false)
                       .Skips({pausedNotice}))
            .Fails("WriteEvent", 1,
                   Outcome().Reports(Failed("WriteEvent")).Flag(kHostTrue).Timer(false))
            .OutOfMemory("WriteEvent", 1, Outcome().Reports(kOutOfMemory).Flag(kHostTrue)));

    add(Matrix("OnContinue")
            .NoFault(Outcome().Flag(kHostTrue).Timer(true).Reaches({continuedNotice}))
            .Fails("SetTimerEnabled", 1,
                   Outcome()
                       .Reports(Failed("SetTimerEnabled"))
                       .Flag(kHostFalse)
                       .Timer(false)
                       .Skips({"runtime.SetStatusText", continuedNotice}))
            .Fails("SetStatusText", 1,
                   Outcome()
                       .Reports(Failed("SetStatusText"))
                       .Flag(kHostTrue)
                       .Timer(true)
                       .Skips({continuedNotice}))
            .Fails("WriteEvent", 1,
                   Outcome().Reports(Failed("WriteEvent")).Flag(kHostTrue).Timer(true)));

    add(Matrix("OnControl")
            .NoFault(Outcome().Reaches(
                {"runtime.SetStatusText Ostrivan Monitoring Service Control signal 128"}))
            .Fails("ServiceTitle", 1,
                   Outcome().Reports(Failed("ServiceTitle")).Skips({"runtime.SetStatusText"}))
            .Fails("SetStatusText", 1, Outcome().Reports(Failed("SetStatusText"))));

    // Whatever fails, the window stays open.
    add(Matrix("UnloadAnsweredYes")
            .NoFault(Outcome()
                         .Flag(kHostTrue)
                         .Boxes({kQuestion})
                         .Reaches({"host.RequestStop", stoppingStatus}))
            .Fails("ShowMessageBox", 1,
                   Outcome()
                       .Reports(Failed("ShowMessageBox"))
                       .Flag(kHostTrue)
                       .Skips({"host.RequestStop"}))
            .Fails("RequestStop", 1,
                   Outcome()
                       .Reports(Failed("RequestStop"))
                       .Flag(kHostTrue)
                       .Boxes({kQuestion})
                       .Skips({"runtime.SetStatusText"}))
            .OutOfMemory("RequestStop", 1,
                         Outcome()
                             .Reports(kOutOfMemory)
                             .Flag(kHostTrue)
                             .Boxes({kQuestion})
                             .Skips({"runtime.SetStatusText"}))
            .Fails("SetStatusText", 1,
                   Outcome().Reports(Failed("SetStatusText")).Flag(kHostTrue).Boxes({kQuestion})));
    add(Matrix("UnloadAnsweredNo")
            .NoFault(Outcome().Flag(kHostTrue).Boxes({kQuestion}).Skips({"host.RequestStop"}))
            .Fails("ShowMessageBox", 1,
                   Outcome()
                       .Reports(Failed("ShowMessageBox"))
                       .Flag(kHostTrue)
                       .Skips({"host.RequestStop"})));
    // Once stopping, the unload goes ahead without a question and without a platform call.
    add(Matrix("UnloadWhileStopping").NoFault(Outcome().Flag(0).Skips({"runtime.ShowMessageBox"})));
    return rows;
}

const std::vector<Row>& AllRows() {
    static const std::vector<Row> rows = [] {
        std::vector<Row> all;
        for (auto part : {LoadRows(), StartRows(), SweepRows(), SweepBeforeStartRows(), StopRows(),
                          ShellRows()}) {
            all.insert(all.end(), part.begin(), part.end());
        }
        return all;
    }();
    return rows;
}

// --- the matrix

bool AnyStartsWith(const std::vector<std::string>& entries, const std::string& prefix) {
    return std::any_of(entries.begin(), entries.end(), [&](const std::string& entry) {
        return entry.compare(0, prefix.size(), prefix) == 0;
    });
}

class FaultMatrix : public ::testing::TestWithParam<Row> {};

TEST_P(FaultMatrix, HandlerReturnsWithTheDocumentedOutcome) {
    const Row& row = GetParam();
    const Scenario& scenario = ScenarioNamed(row.scenario);
    auto service = ServiceAt(scenario);
    fakes::FakeService& s = *service;
    const std::size_t eventsBefore = s.host.Events().size();
    const std::size_t boxesBefore = s.runtime.MessageBoxes().size();
    const std::size_t terminationsBefore = s.processes.Terminations().size();

    int callsBefore = 0;
    if (row.fault != Fault::None) {
        fakes::FaultPlan& plan = PlanOf(s, row.call);
        callsBefore = plan.Calls(row.call);
        if (row.fault == Fault::Fails) {
            plan.Fail(row.call, row.nth);
        } else {
            plan.Raise(row.call, std::make_exception_ptr(std::bad_alloc()), row.nth);
        }
    }

    std::optional<std::int16_t> flag;
    EXPECT_NO_THROW(flag = scenario.trigger(s)) << "an error reached the host";

    if (row.fault != Fault::None) {
        ASSERT_GE(PlanOf(s, row.call).Calls(row.call) - callsBefore, row.nth)
            << "the planned fault never came to pass";
    }
    const Outcome& expected = row.expected;

    // Handles and privilege.
    EXPECT_EQ(s.processes.OpenHandleCount(), 0u) << "a handle was left open";
    EXPECT_EQ(s.processes.BadCloses(), 0);
    EXPECT_EQ(s.processes.PrivilegeEnabled(), expected.privilegeLeftEnabled);

    // The report.
    std::vector<std::string> reports;
    for (std::size_t i = 0; i < s.host.Events().size(); ++i) {
        const auto& event = s.host.Events()[i];
        if (i < eventsBefore) {
            ASSERT_NE(event.kind, 109) << "the scenario's own setup reported " << event.text;
        } else if (event.kind == 109) {
            EXPECT_EQ(event.id, 1);
            reports.push_back(event.text);
        }
    }
    if (expected.report.empty()) {
        EXPECT_TRUE(reports.empty()) << "unexpected report: " << reports.front();
    } else {
        EXPECT_EQ(reports, std::vector<std::string>{expected.report});
    }
    std::vector<std::string> boxes;
    for (auto it = s.runtime.MessageBoxes().begin() + static_cast<std::ptrdiff_t>(boxesBefore);
         it != s.runtime.MessageBoxes().end(); ++it) {
        boxes.push_back(it->text);
    }
    EXPECT_EQ(boxes, expected.boxes);

    // Which steps ran.
    const auto& log = s.log.Entries();
    for (const auto& step : expected.reached) {
        EXPECT_TRUE(AnyStartsWith(log, step)) << "did not run: " << step;
    }
    for (const auto& step : expected.skipped) {
        EXPECT_FALSE(AnyStartsWith(log, step)) << "ran: " << step;
    }
    if (expected.snapshots >= 0) {
        EXPECT_EQ(std::count_if(log.begin(), log.end(),
                                [](const std::string& entry) {
                                    return CallOf(entry) == "api.CreateToolhelp32Snapshot";
                                }),
                  expected.snapshots);
    }
    if (expected.exitCodes) {
        std::vector<std::uint32_t> codes;
        for (std::size_t i = terminationsBefore; i < s.processes.Terminations().size(); ++i) {
            codes.push_back(s.processes.Terminations()[i].exitCode);
        }
        EXPECT_EQ(codes, *expected.exitCodes);
    }

    // State the handler leaves behind.
    if (expected.flag) {
        EXPECT_EQ(flag, expected.flag);
    }
    if (expected.connected) {
        EXPECT_EQ(s.host.Connected(), *expected.connected);
    }
    if (expected.ended) {
        EXPECT_EQ(s.runtime.EndedWith().has_value(), *expected.ended);
    }
    if (expected.stopping) {
        EXPECT_EQ(s.form.State().IsStopping, *expected.stopping);
    }
    if (expected.unloaded) {
        EXPECT_EQ(s.runtime.Unloaded(), *expected.unloaded);
    }
    if (expected.timerEnabled) {
        EXPECT_EQ(s.runtime.TimerEnabled(), *expected.timerEnabled);
    }
}

INSTANTIATE_TEST_SUITE_P(EveryCallEveryPlace, FaultMatrix, ::testing::ValuesIn(AllRows()), RowName);

// Runs every scenario without faults and compares the calls it makes with the rows: each
// call that can fail needs one row per call made, and no row may aim past the last call.
TEST(FaultMatrixCoverage, EveryCallOfEveryScenarioHasOneRowPerCall) {
    for (const auto& scenario : Scenarios()) {
        SCOPED_TRACE(scenario.name);
        auto service = ServiceAt(scenario);
        scenario.trigger(*service);

        std::map<std::string, int> made;
        for (const auto& entry : service->log.Entries()) {
            const std::string call = CallOf(entry);
            if (kPlatformEvents.contains(call) || kCannotFail.contains(call)) {
                continue;
            }
            const std::string name = call.substr(call.find('.') + 1);
            const bool known = (call.starts_with("api.") && Contains(kProcessCalls, name)) ||
                               (call.starts_with("host.") && Contains(kHostCalls, name)) ||
                               (call.starts_with("runtime.") && Contains(kRuntimeCalls, name));
            EXPECT_TRUE(known) << call << " has no place in the matrix";
            ++made[name];
        }

        std::map<std::string, std::set<int>> covered;
        bool noFaultRow = false;
        for (const auto& row : AllRows()) {
            if (row.scenario != scenario.name) {
                continue;
            }
            if (row.fault == Fault::None) {
                noFaultRow = true;
            } else if (row.fault == Fault::Fails) {
                EXPECT_TRUE(covered[row.call].insert(row.nth).second)
                    << "two rows for " << row.call << " " << row.nth;
            }
        }
        EXPECT_TRUE(noFaultRow) << "no row states the outcome without a fault";
        for (const auto& [call, count] : made) {
            std::set<int> every;
            for (int nth = 1; nth <= count; ++nth) {
                every.insert(nth);
            }
            EXPECT_EQ(covered[call], every) << call << " is called " << count << " times";
        }
        for (const auto& [call, nths] : covered) {
            EXPECT_TRUE(made.contains(call)) << "rows for " << call << ", which is never called";
        }
    }
}

} // namespace
} // namespace ostrivan
