#include "status/status_json.h"

#include <nlohmann/json.hpp>

namespace ostrivan {
namespace {

using nlohmann::json;

template <class T> json OrNull(const std::optional<T>& value) {
    return value ? json(*value) : json(nullptr);
}

template <class T> std::optional<T> Optional(const json& object, const char* key) {
    const auto found = object.find(key);
    if (found == object.end() || found->is_null()) {
        return std::nullopt;
    }
    return found->get<T>();
}

json ProgramJson(const ProgramStatus& program) {
    return {{"name", program.name},
            {"running", program.running},
            {"pid", program.pid},
            {"creationTime", program.creationTime},
            {"sinceUtc", OrNull(program.sinceUtc)},
            {"workingSetBytes", program.workingSet},
            {"launchedByService", program.launchedByService}};
}

ProgramStatus ParseProgram(const json& object) {
    ProgramStatus program;
    program.name = object.at("name").get<std::string>();
    program.running = object.at("running").get<bool>();
    program.pid = object.at("pid").get<ProcessId>();
    program.creationTime = object.at("creationTime").get<std::uint64_t>();
    program.sinceUtc = Optional<std::int64_t>(object, "sinceUtc");
    program.workingSet = object.at("workingSetBytes").get<std::uint64_t>();
    program.launchedByService = object.at("launchedByService").get<bool>();
    return program;
}

json ManagerJson(const ManagerStatus& manager) {
    return {{"pid", manager.pid},
            {"workingSetBytes", manager.workingSet},
            {"ceilingBytes", manager.ceiling},
            {"relaunches", manager.relaunches},
            {"lastRelaunchReason", OrNull(manager.lastReason)},
            {"lastRelaunchUtc", OrNull(manager.lastRelaunchUtc)}};
}

ManagerStatus ParseManager(const json& object) {
    ManagerStatus manager;
    manager.pid = object.at("pid").get<ProcessId>();
    manager.workingSet = object.at("workingSetBytes").get<std::uint64_t>();
    manager.ceiling = object.at("ceilingBytes").get<std::uint64_t>();
    manager.relaunches = object.at("relaunches").get<std::uint64_t>();
    manager.lastReason = Optional<std::string>(object, "lastRelaunchReason");
    manager.lastRelaunchUtc = Optional<std::int64_t>(object, "lastRelaunchUtc");
    return manager;
}

StatusReport ParseReport(const json& root) {
    StatusReport report;
    report.version = root.at("version").get<int>();
    const json& service = root.at("service");
    report.state = service.at("state").get<std::string>();
    report.servicePid = service.at("pid").get<ProcessId>();
    report.serviceCreationTime = service.at("creationTime").get<std::uint64_t>();
    report.startedUtc = service.at("startedUtc").get<std::int64_t>();
    report.runningSinceUtc = Optional<std::int64_t>(service, "runningSinceUtc");
    report.writtenUtc = service.at("writtenUtc").get<std::int64_t>();
    report.lastSweepUtc = Optional<std::int64_t>(service, "lastSweepUtc");
    report.intervalSeconds = service.at("intervalSeconds").get<std::int64_t>();
    for (const auto& program : root.at("programs")) {
        report.programs.push_back(ParseProgram(program));
    }
    report.manager = ParseManager(root.at("manager"));
    for (const auto& tool : root.at("pendingTools")) {
        report.pendingTools.push_back(
            PendingTool{tool.at("pid").get<ProcessId>(), tool.at("name").get<std::string>()});
    }
    for (const auto& check : root.at("checks")) {
        report.checks.push_back(TrackedCheck{
            check.at("pid").get<ProcessId>(), check.at("name").get<std::string>(),
            check.at("firstSeenUtc").get<std::int64_t>(), check.at("overdue").get<bool>()});
    }
    report.terminations = root.at("terminations").get<std::map<std::string, std::uint64_t>>();
    const json& stop = root.at("stopRequests");
    report.stopRequests = StopRequests{stop.at("asked").get<std::uint64_t>(),
                                       stop.at("endedInTime").get<std::uint64_t>()};
    const json& refusals = root.at("refusals");
    report.refusals = refusals.at("byReason").get<std::map<std::string, std::uint64_t>>();
    if (const json& last = refusals.at("last"); !last.is_null()) {
        report.lastRefusal = RefusedTermination{
            last.at("utc").get<std::int64_t>(), last.at("reason").get<std::string>(),
            last.at("program").get<std::string>(), last.at("pid").get<ProcessId>()};
    }
    return report;
}

json RefusalsJson(const StatusReport& report) {
    json last = nullptr;
    if (const auto& refusal = report.lastRefusal) {
        last = {{"utc", refusal->utc},
                {"reason", refusal->reason},
                {"program", refusal->program},
                {"pid", refusal->pid}};
    }
    return {{"byReason", report.refusals}, {"last", last}};
}

} // namespace

std::string StatusJson(const StatusReport& report) {
    json programs = json::array();
    for (const auto& program : report.programs) {
        programs.push_back(ProgramJson(program));
    }
    json tools = json::array();
    for (const auto& tool : report.pendingTools) {
        tools.push_back({{"pid", tool.pid}, {"name", tool.name}});
    }
    json checks = json::array();
    for (const auto& check : report.checks) {
        checks.push_back({{"pid", check.pid},
                          {"name", check.name},
                          {"firstSeenUtc", check.firstSeenUtc},
                          {"overdue", check.overdue}});
    }
    const json root = {
        {"version", report.version},
        {"service",
         {{"state", report.state},
          {"pid", report.servicePid},
          {"creationTime", report.serviceCreationTime},
          {"startedUtc", report.startedUtc},
          {"runningSinceUtc", OrNull(report.runningSinceUtc)},
          {"writtenUtc", report.writtenUtc},
          {"lastSweepUtc", OrNull(report.lastSweepUtc)},
          {"intervalSeconds", report.intervalSeconds}}},
        {"programs", programs},
        {"manager", ManagerJson(report.manager)},
        {"pendingTools", tools},
        {"checks", checks},
        {"terminations", report.terminations},
        {"stopRequests",
         {{"asked", report.stopRequests.asked}, {"endedInTime", report.stopRequests.endedInTime}}},
        {"refusals", RefusalsJson(report)}};
    // Names come from the process table: bytes that are not UTF-8 are replaced, not fatal.
    return root.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
}

std::optional<StatusReport> ParseStatusJson(const std::string& text) {
    try {
        const json root = json::parse(text);
        if (!root.is_object() || root.value("version", 0) != kStatusVersion) {
            return std::nullopt;
        }
        return ParseReport(root);
    } catch (const json::exception&) {
        return std::nullopt;
    }
}

} // namespace ostrivan
