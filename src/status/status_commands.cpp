#include "status/status_commands.h"

#include "status/status_check.h"
#include "status/status_json.h"
#include "status/status_table.h"

namespace ostrivan {
namespace {

StatusReading ReadStatus(StatusPlatform& platform, ProcessApi& api) {
    StatusReading reading;
    reading.path = platform.StatusPath();
    if (const auto text = platform.ReadStatus()) {
        reading.report = ParseStatusJson(*text);
    }
    reading.service = platform.QueryService();
    reading.processes = TakeProcessSnapshot(api);
    reading.utcNow = platform.UtcNow();
    return reading;
}

} // namespace

int ShowStatus(StatusPlatform& platform, ProcessApi& api) {
    const StatusTable table = FormatStatusTable(ReadStatus(platform, api));
    platform.Print(table.text);
    return table.code;
}

int RunCheck(StatusPlatform& platform, ProcessApi& api) {
    const CheckResult result = EvaluateCheck(ReadStatus(platform, api));
    platform.Print(result.line + "\n");
    return result.code;
}

} // namespace ostrivan
