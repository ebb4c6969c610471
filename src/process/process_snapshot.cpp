#include "process/process_snapshot.h"

#include "platform/handles.h"

namespace ostrivan {
namespace {

// Image names of the suite are plain ASCII; only A to Z are folded.
std::string LowerAscii(std::string_view text) {
    std::string lowered(text);
    for (char& c : lowered) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return lowered;
}

} // namespace

std::vector<ProcessEntry> TakeProcessSnapshot(ProcessApi& api) {
    return TryTakeProcessSnapshot(api).value_or(std::vector<ProcessEntry>{});
}

std::optional<std::vector<ProcessEntry>> TryTakeProcessSnapshot(ProcessApi& api) {
    std::vector<ProcessEntry> entries;
    SnapshotHandle snapshot(api, api.CreateToolhelp32Snapshot(kSnapProcess, 0));
    ProcessEntryRecord record;
    // The platform's own record size: a 32-bit size on a 64-bit build fails every call.
    record.size = api.ProcessEntryRecordSize();
    for (bool more = api.Process32First(snapshot.Get(), record); more;
         more = api.Process32Next(snapshot.Get(), record)) {
        const std::string_view raw(record.exeFile.data(), record.exeFile.size());
        entries.push_back(ProcessEntry{record.processId, NormalizeImageName(raw)});
    }
    if (entries.empty()) {
        return std::nullopt;
    }
    return entries;
}

std::string NormalizeImageName(std::string_view raw) {
    return LowerAscii(raw.substr(0, raw.find('\0')));
}

bool MatchImageName(std::string_view name, std::string_view target) {
    if (target.size() > name.size()) {
        return false;
    }
    return name.substr(name.size() - target.size()) == LowerAscii(target);
}

} // namespace ostrivan
