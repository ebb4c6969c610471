#include "supervisor/loose_permissions.h"

#include "process/launch.h"
#include "supervisor/suite_path.h"
#include "supervisor/suite_programs.h"

namespace ostrivan {
namespace {

std::string WarningText(const LooseWriters& loose) {
    std::string names;
    for (const auto& account : loose.accounts) {
        names += (names.empty() ? "" : ", ") + account;
    }
    return loose.path + " can be changed by " + names +
           ": whoever can change it can have a program run with this service's rights.";
}

} // namespace

std::vector<std::string> LoosePermissionWarnings(FormRuntime& runtime, PathSecurity& security) {
    const std::string folder = AppFolder(runtime);
    std::vector<std::string> paths{folder};
    for (const auto program : suite::kLaunchedPrograms) {
        paths.push_back(SuiteProgramPath(folder, program));
    }
    std::vector<std::string> warnings;
    for (const auto& path : paths) {
        if (const auto loose = security.CheckWriters(path)) {
            warnings.push_back(WarningText(*loose));
        }
    }
    return warnings;
}

} // namespace ostrivan
