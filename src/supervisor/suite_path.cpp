#include "supervisor/suite_path.h"

#include "process/launch.h"

namespace ostrivan {

std::string SuiteProgramPath(FormRuntime& runtime, std::string_view program) {
    return SuiteProgramPath(AppFolder(runtime), program);
}

std::string SuiteProgramPath(std::string_view folder, std::string_view program) {
    std::string path(folder);
    path += '\\';
    path += program;
    return path;
}

} // namespace ostrivan
