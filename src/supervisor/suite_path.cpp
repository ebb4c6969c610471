#include "supervisor/suite_path.h"

#include "process/launch.h"

namespace ostrivan {

std::string SuiteProgramPath(FormRuntime& runtime, std::string_view program) {
    std::string path = AppFolder(runtime);
    path += '\\';
    path += program;
    return path;
}

} // namespace ostrivan
