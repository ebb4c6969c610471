#pragma once

#include "call_log.h"
#include "fake_host.h"
#include "fake_process_api.h"
#include "fake_runtime.h"

#include "shell/frm_service.h"

namespace ostrivan::fakes {

// The whole simulated platform, its three parts writing into one call log.
struct FakePlatform {
    CallLog log;
    FakeProcessApi processes{log};
    FakeRuntime runtime{log, processes};
    FakeHost host{log};
};

// The service's form on the simulated platform, wired to receive unload and timer events.
struct FakeService : FakePlatform {
    frmService form{host, runtime, processes};

    FakeService() { runtime.WireForm(form); }
};

} // namespace ostrivan::fakes
