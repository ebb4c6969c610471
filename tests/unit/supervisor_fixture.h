#pragma once

#include "fake_platform.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

namespace ostrivan::testing {

using namespace std::chrono_literals;

inline const std::vector<std::string> kSuiteFolder = {
    "o-alerts.exe", "o-graphs.exe", "vantorelle_snmptrap.exe", "vantorelle_manager.exe",
    "vantorelle_watcher.exe"};

// A loaded service on the simulated platform, its folder holding the whole suite.
class SupervisorTest : public ::testing::Test {
protected:
    SupervisorTest() {
        for (const auto& program : kSuiteFolder) {
            s.runtime.AddProgram(program);
        }
        s.form.Load();
    }

    // One timer tick, `after` the previous one.
    void Tick(std::chrono::milliseconds after = 60s) {
        s.runtime.Advance(after);
        ASSERT_TRUE(s.runtime.FireTimer());
    }

    // A new process that is handed an id an ended one had.
    ProcessId AddReusingId(ProcessId id, const std::string& imageName) {
        fakes::FakeProcess process;
        process.id = id;
        process.imageName = imageName;
        return s.processes.Add(process).id;
    }

    const std::vector<CheckRecord>& Table() const { return s.form.State().CheckTable; }
    std::vector<std::string> TrackedNames() const {
        std::vector<std::string> names;
        for (std::size_t i = 1; i < Table().size(); ++i) {
            names.push_back(Table()[i].Name);
        }
        return names;
    }
    bool Terminated(ProcessId id) const {
        for (const auto& t : s.processes.Terminations()) {
            if (t.id == id) {
                return true;
            }
        }
        return false;
    }
    const auto& Events() const { return s.host.Events(); }
    int Snapshots() const { return s.processes.Calls("CreateToolhelp32Snapshot"); }

    fakes::FakeService s;
};

} // namespace ostrivan::testing
