#include "process/launch.h"

namespace ostrivan {

std::string AppFolder(FormRuntime& runtime) {
    std::string folder = runtime.ApplicationFolder();
    // A folder at a drive's root comes with its separator; every caller adds its own.
    while (!folder.empty() && (folder.back() == '\\' || folder.back() == '/')) {
        folder.pop_back();
    }
    return folder;
}

ProcessIdentity Launch(FormRuntime& runtime, const std::string& programPath,
                       const std::string& arguments, std::int32_t windowStyle) {
    // Quoted, so that a folder with blanks cannot be read as a shorter program path.
    std::string commandLine = "\"" + programPath + "\"";
    if (!arguments.empty()) {
        commandLine += ' ';
        commandLine += arguments;
    }
    return runtime.LaunchProgram(programPath, commandLine, windowStyle);
}

} // namespace ostrivan
