#include "platform/posix/self_executable.h"

#include "platform/posix/proc_reader.h"

namespace ostrivan::posix {

std::optional<std::string> ExecutablePath() {
    auto path = ReadLink("/proc/self/exe");
    constexpr std::string_view kDeletedMark = " (deleted)";
    if (path && path->ends_with(kDeletedMark)) {
        path->resize(path->size() - kDeletedMark.size());
    }
    return path;
}

std::string FolderOf(std::string_view path) {
    const auto slash = path.rfind('/');
    return std::string(slash == std::string_view::npos ? std::string_view()
                                                       : path.substr(0, slash));
}

} // namespace ostrivan::posix
