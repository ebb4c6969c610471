#include "platform/posix/file_writing.h"

#include "platform/posix/unique_fd.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace ostrivan::posix {
namespace {

constexpr mode_t kReadableByAll = 0644;

int WriteAndClose(UniqueFd& fd, std::string_view content, bool durable = true) {
    if (const int error = WriteAll(fd.Get(), content)) {
        return error;
    }
    if (durable && ::fsync(fd.Get()) != 0) {
        return errno;
    }
    // The descriptor is gone after close, whatever close says.
    return ::close(fd.Release()) == 0 ? 0 : errno;
}

} // namespace

int WriteAll(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t written = ::write(fd, data.data(), data.size());
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written < 0) {
            return errno;
        }
        if (written == 0) {
            return EIO;
        }
        data.remove_prefix(static_cast<std::size_t>(written));
    }
    return 0;
}

int CreateNewFile(const std::string& path, std::string_view content) {
    UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, kReadableByAll));
    if (!fd) {
        return errno;
    }
    const int error = WriteAndClose(fd, content);
    if (error != 0) {
        ::unlink(path.c_str());
    }
    return error;
}

int ReplaceFile(const std::string& path, std::string_view content, bool durable) {
    // A name of its own beside the file: two writers never share a temporary file.
    std::string temporary = path + ".XXXXXX";
    UniqueFd fd(::mkostemp(temporary.data(), O_CLOEXEC));
    if (!fd) {
        return errno;
    }
    // mkostemp makes it readable by its owner only; readers of every account read it.
    int error = ::fchmod(fd.Get(), kReadableByAll) == 0 ? 0 : errno;
    if (error == 0) {
        error = WriteAndClose(fd, content, durable);
    }
    if (error == 0 && ::rename(temporary.c_str(), path.c_str()) != 0) {
        error = errno;
    }
    if (error != 0) {
        ::unlink(temporary.c_str());
    }
    return error;
}

} // namespace ostrivan::posix
