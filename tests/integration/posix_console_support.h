#pragma once

#include "platform/posix/unique_fd.h"

#include <chrono>
#include <string>

namespace ostrivan::posix::testing {

// A pipe whose reading end the test keeps.
struct Pipe {
    Pipe();
    UniqueFd read;
    UniqueFd write;
    // Everything written so far, without waiting.
    std::string Drain();
};

// A pseudo terminal: the test holds the master side, the code under test the slave side.
struct Terminal {
    Terminal();
    UniqueFd master;
    UniqueFd slave;
    // Reads from the master until `wanted` has appeared; everything read so far.
    std::string ReadUntil(const std::string& wanted,
                          std::chrono::milliseconds deadline = std::chrono::seconds(10));
    void Type(const std::string& text);
};

} // namespace ostrivan::posix::testing
