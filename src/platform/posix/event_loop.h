#pragma once

#include "platform/posix/unique_fd.h"

#include <sys/types.h>

#include <deque>
#include <functional>
#include <map>
#include <utility>
#include <vector>

namespace ostrivan::posix {

// The one loop of the process. Everything it delivers (posted tasks, signals, readable
// descriptors, ended children) runs on the calling thread, one at a time: an event that
// arrives while a handler runs waits until that handler has returned.
class EventLoop {
public:
    using Task = std::function<void()>;
    using ChildEnded = std::function<void(pid_t pid, int waitStatus)>;

    // Blocks the signals the loop reads (see Signals) and returns them to their default
    // action, so that a disposition inherited from the parent cannot swallow them. Must be
    // made before any other thread exists.
    EventLoop();
    EventLoop(const EventLoop&) = delete;
    EventLoop& operator=(const EventLoop&) = delete;

    // False when the loop could not get a descriptor to read its signals from.
    bool Valid() const { return signals_.Valid(); }

    // SIGTERM, SIGINT, SIGHUP, SIGUSR1, SIGUSR2, SIGCHLD and SIGRTMIN to SIGRTMAX.
    static std::vector<int> Signals();

    // A signal of the set without a handler is read and dropped. SIGCHLD is the loop's own.
    void OnSignal(int signal, Task handler);
    void OnChildEnded(ChildEnded handler);
    void Watch(int fd, Task onReadable);
    // Runs after the running handler, before any waiting signal or descriptor.
    void Post(Task task);

    // Run returns `exitCode` once the running handler has returned.
    void Quit(int exitCode);
    bool Quitting() const { return quit_; }
    int Run();

private:
    void ReadSignals();
    void ReapChildren();

    UniqueFd signals_;
    std::map<int, Task> signalHandlers_;
    std::vector<std::pair<int, Task>> watched_;
    std::deque<Task> posted_;
    ChildEnded childEnded_;
    bool quit_ = false;
    int exitCode_ = 0;
};

} // namespace ostrivan::posix
