#pragma once

#include "platform/process_api.h"

#include <utility>

namespace ostrivan {

// Owns one handle of the ProcessApi and closes it on every way out of a scope.
// Kind only keeps snapshots, processes and tokens apart in the type system.
template <class Kind> class OwnedHandle {
public:
    OwnedHandle(ProcessApi& api, Handle handle) : api_(&api), handle_(handle) {}
    OwnedHandle(const OwnedHandle&) = delete;
    OwnedHandle& operator=(const OwnedHandle&) = delete;
    OwnedHandle(OwnedHandle&& other) noexcept
        : api_(other.api_), handle_(std::exchange(other.handle_, kNoHandle)) {}
    OwnedHandle& operator=(OwnedHandle&& other) noexcept {
        if (this != &other) {
            Reset();
            api_ = other.api_;
            handle_ = std::exchange(other.handle_, kNoHandle);
        }
        return *this;
    }
    ~OwnedHandle() { Reset(); }

    Handle Get() const noexcept { return handle_; }
    bool Valid() const noexcept { return handle_ != kNoHandle && handle_ != kInvalidHandle; }

private:
    void Reset() noexcept {
        if (Valid()) {
            api_->CloseHandle(handle_);
        }
        handle_ = kNoHandle;
    }

    ProcessApi* api_;
    Handle handle_;
};

struct SnapshotKind;
struct ProcessKind;
struct TokenKind;
using SnapshotHandle = OwnedHandle<SnapshotKind>;
using ProcessHandle = OwnedHandle<ProcessKind>;
using TokenHandle = OwnedHandle<TokenKind>;

} // namespace ostrivan
