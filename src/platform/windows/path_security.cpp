#include "platform/windows/path_security.h"

#include "platform/windows/win32.h"

#include <aclapi.h>

#include <array>
#include <memory>

namespace ostrivan::windows {
namespace {

// Enough to replace a program or the folder's content, or to give oneself that right.
constexpr ACCESS_MASK kChangeRights = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_DELETE_CHILD |
                                      DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_WRITE |
                                      GENERIC_ALL;

struct Account {
    WELL_KNOWN_SID_TYPE type;
    const char* name;
};
constexpr std::array<Account, 4> kOrdinaryAccounts = {
    {{WinWorldSid, "Everyone"},
     {WinBuiltinUsersSid, "Users"},
     {WinAuthenticatedUserSid, "Authenticated Users"},
     {WinInteractiveSid, "Interactive"}}};

struct LocalFreer {
    void operator()(void* memory) const noexcept { ::LocalFree(memory); }
};

// The rights `sid` gets from the ACEs that apply to the object itself, in order: a right
// denied before it is allowed stays denied.
ACCESS_MASK AllowedTo(const ACL& dacl, PSID sid) {
    ACCESS_MASK allowed = 0;
    ACCESS_MASK denied = 0;
    for (DWORD i = 0; i < dacl.AceCount; ++i) {
        void* raw = nullptr;
        if (!::GetAce(const_cast<ACL*>(&dacl), i, &raw)) {
            break;
        }
        const auto* header = static_cast<const ACE_HEADER*>(raw);
        if ((header->AceFlags & INHERIT_ONLY_ACE) != 0) {
            continue;
        }
        if (header->AceType == ACCESS_ALLOWED_ACE_TYPE) {
            const auto* ace = static_cast<const ACCESS_ALLOWED_ACE*>(raw);
            if (::EqualSid(sid, const_cast<DWORD*>(&ace->SidStart))) {
                allowed |= ace->Mask & ~denied;
            }
        } else if (header->AceType == ACCESS_DENIED_ACE_TYPE) {
            const auto* ace = static_cast<const ACCESS_DENIED_ACE*>(raw);
            if (::EqualSid(sid, const_cast<DWORD*>(&ace->SidStart))) {
                denied |= ace->Mask & ~allowed;
            }
        }
    }
    return allowed;
}

} // namespace

std::optional<LooseWriters> WindowsPathSecurity::CheckWriters(const std::string& path) {
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    std::wstring wide = Widen(path);
    if (::GetNamedSecurityInfoW(wide.data(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                nullptr, &dacl, nullptr, &descriptor) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    const std::unique_ptr<void, LocalFreer> owned(descriptor);
    LooseWriters loose{path, {}};
    for (const auto& account : kOrdinaryAccounts) {
        // No DACL at all grants everything to everyone.
        if (dacl == nullptr) {
            loose.accounts.push_back("Everyone");
            break;
        }
        std::array<BYTE, SECURITY_MAX_SID_SIZE> sid{};
        DWORD size = sid.size();
        if (::CreateWellKnownSid(account.type, nullptr, sid.data(), &size) &&
            (AllowedTo(*dacl, sid.data()) & kChangeRights) != 0) {
            loose.accounts.push_back(account.name);
        }
    }
    if (loose.accounts.empty()) {
        return std::nullopt;
    }
    return loose;
}

} // namespace ostrivan::windows
