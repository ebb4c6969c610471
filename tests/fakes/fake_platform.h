#pragma once

#include "call_log.h"
#include "fake_action_log.h"
#include "fake_host.h"
#include "fake_path_security.h"
#include "fake_process_api.h"
#include "fake_runtime.h"
#include "fake_status_platform.h"

#include "shell/frm_service.h"

namespace ostrivan::fakes {

// The whole simulated platform, its three parts writing into one call log.
//
//   fakes::FakeService s;                     // form wired to the runtime
//   const ProcessId id = s.processes.Add("vantorelle_manager.exe", 300'000'000);
//   s.runtime.AddProgram("vantorelle_manager.exe");
//   s.host.Faults().Fail("Connect");          // or Fail(call, n): only the n-th call
//   s.security.SetWriters(path, {"Users"});   // a suite path others may change
//   s.form.Load();
//   s.runtime.Advance(std::chrono::minutes(1));
//   s.runtime.FireTimer();
//   s.processes.Terminations();               // id, exit code, access, privilege
//   s.runtime.Launches();                     // program path, command line, style, id
//   s.actions.Records();                      // launches and terminations, with reasons
//   s.log.Only({"host.", "runtime."});        // calls in order
//   EXPECT_EQ(s.processes.OpenHandleCount(), 0u);
struct FakePlatform {
    CallLog log;
    FakeProcessApi processes{log};
    FakeRuntime runtime{log, processes};
    FakeHost host{log};
    FakePathSecurity security{log};
    FakeActionLog actions;
    FakeStatusPlatform status{runtime};
};

// The service's form on the simulated platform, wired to receive unload and timer events.
struct FakeService : FakePlatform {
    frmService form{host, runtime, processes, security, actions, status};

    FakeService() { runtime.WireForm(form); }
};

} // namespace ostrivan::fakes
