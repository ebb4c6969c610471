#include "platform/posix/event_loop.h"

#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

namespace ostrivan::posix {

std::vector<int> EventLoop::Signals() {
    std::vector<int> signals{SIGTERM, SIGINT, SIGHUP, SIGUSR1, SIGUSR2, SIGCHLD};
    for (int signal = SIGRTMIN; signal <= SIGRTMAX; ++signal) {
        signals.push_back(signal);
    }
    return signals;
}

EventLoop::EventLoop() {
    sigset_t set;
    sigemptyset(&set);
    struct sigaction standard {};
    standard.sa_handler = SIG_DFL;
    for (const int signal : Signals()) {
        sigaddset(&set, signal);
        ::sigaction(signal, &standard, nullptr);
    }
    ::sigprocmask(SIG_BLOCK, &set, nullptr);
    signals_.Reset(::signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC));

    // A reader that went away must not end the service through SIGPIPE.
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGPIPE, &ignore, nullptr);
}

void EventLoop::OnSignal(int signal, Task handler) {
    signalHandlers_.insert_or_assign(signal, std::move(handler));
}

void EventLoop::OnChildEnded(ChildEnded handler) {
    childEnded_ = std::move(handler);
}

void EventLoop::Watch(int fd, Task onReadable) {
    watched_.emplace_back(fd, std::move(onReadable));
}

void EventLoop::Post(Task task) {
    posted_.push_back(std::move(task));
}

void EventLoop::Quit(int exitCode) {
    quit_ = true;
    exitCode_ = exitCode;
}

int EventLoop::Run() {
    quit_ = false;
    while (!quit_) {
        if (!posted_.empty()) {
            const Task task = std::move(posted_.front());
            posted_.pop_front();
            task();
            continue;
        }
        const auto watched = watched_;
        std::vector<pollfd> ready{{signals_.Get(), POLLIN, 0}};
        for (const auto& [fd, task] : watched) {
            ready.push_back({fd, POLLIN, 0});
        }
        if (::poll(ready.data(), ready.size(), -1) < 0) {
            continue; // EINTR; nothing else can fail with these arguments
        }
        if (ready[0].revents & POLLIN) {
            ReadSignals();
        }
        for (std::size_t i = 0; i < watched.size() && !quit_ && posted_.empty(); ++i) {
            if (ready[i + 1].revents & (POLLIN | POLLERR | POLLHUP)) {
                watched[i].second();
            }
        }
    }
    return exitCode_;
}

void EventLoop::ReadSignals() {
    signalfd_siginfo info{};
    while (!quit_ && posted_.empty() && ::read(signals_.Get(), &info, sizeof info) == sizeof info) {
        const int signal = static_cast<int>(info.ssi_signo);
        if (signal == SIGCHLD) {
            ReapChildren();
            continue;
        }
        const auto handler = signalHandlers_.find(signal);
        if (handler != signalHandlers_.end()) {
            const Task task = handler->second;
            task();
        }
    }
}

void EventLoop::ReapChildren() {
    int status = 0;
    pid_t pid;
    while ((pid = ::waitpid(-1, &status, WNOHANG)) > 0) {
        if (childEnded_) {
            childEnded_(pid, status);
        }
    }
}

} // namespace ostrivan::posix
