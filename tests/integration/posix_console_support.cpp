#include "posix_console_support.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <stdexcept>

namespace ostrivan::posix::testing {

Pipe::Pipe() {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) {
        throw std::runtime_error("pipe2 failed");
    }
    read.Reset(ends[0]);
    write.Reset(ends[1]);
}

std::string Pipe::Drain() {
    std::string text;
    char buffer[4096];
    ssize_t got;
    while ((got = ::read(read.Get(), buffer, sizeof buffer)) > 0) {
        text.append(buffer, static_cast<std::size_t>(got));
    }
    return text;
}

Terminal::Terminal() : master(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC)) {
    if (!master || ::grantpt(master.Get()) != 0 || ::unlockpt(master.Get()) != 0) {
        throw std::runtime_error("no pseudo terminal");
    }
    slave.Reset(::open(::ptsname(master.Get()), O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (!slave) {
        throw std::runtime_error("cannot open the terminal's slave side");
    }
}

std::string Terminal::ReadUntil(const std::string& wanted, std::chrono::milliseconds deadline) {
    std::string text;
    const auto until = std::chrono::steady_clock::now() + deadline;
    while (text.find(wanted) == std::string::npos) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            until - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            break;
        }
        pollfd ready{master.Get(), POLLIN, 0};
        if (::poll(&ready, 1, static_cast<int>(left.count())) <= 0) {
            continue;
        }
        char buffer[4096];
        const ssize_t got = ::read(master.Get(), buffer, sizeof buffer);
        if (got <= 0) {
            break;
        }
        text.append(buffer, static_cast<std::size_t>(got));
    }
    return text;
}

void Terminal::Type(const std::string& text) {
    if (::write(master.Get(), text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
        throw std::runtime_error("cannot type on the terminal");
    }
}

} // namespace ostrivan::posix::testing
