#pragma once

#include <cstdint>
#include <string>

// The real o-service in a folder of idle programs under the suite's names, watched from
// outside through /proc.
struct IdleServiceFigures {
    std::uint64_t residentAfterStart = 0;   // bytes
    std::uint64_t residentBeforeSweeps = 0; // bytes, accelerated run once its suite runs
    std::uint64_t residentAfterSweeps = 0;  // bytes, the same run after the sweeps
    std::uint64_t sweepsCounted = 0;        // wake-ups of the accelerated run
    std::uint64_t wakeUpsBetweenTicks = 0;  // context switches in a window without a tick
    double windowSeconds = 0;
    int threads = 0;
    bool valid = false;
    std::string problem;
};

IdleServiceFigures MeasureIdleService(const std::string& service, const std::string& idle,
                                      const std::string& faketime, std::uint64_t sweeps);
