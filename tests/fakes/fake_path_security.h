#pragma once

#include "call_log.h"

#include "platform/path_security.h"

#include <map>
#include <string>
#include <vector>

namespace ostrivan::fakes {

// Permissions of the simulated folder: every path is safe unless a test says who else
// may change it.
class FakePathSecurity : public PathSecurity {
public:
    explicit FakePathSecurity(CallLog& log) : log_(log) {}

    void SetWriters(const std::string& path, std::vector<std::string> accounts) {
        writers_[path] = std::move(accounts);
    }

    std::optional<LooseWriters> CheckWriters(const std::string& path) override {
        log_.Add("security.CheckWriters " + path);
        const auto found = writers_.find(path);
        if (found == writers_.end()) {
            return std::nullopt;
        }
        return LooseWriters{path, found->second};
    }

private:
    CallLog& log_;
    std::map<std::string, std::vector<std::string>> writers_;
};

} // namespace ostrivan::fakes
