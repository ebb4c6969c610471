#include "process/ask_to_end.h"

namespace ostrivan {

std::optional<AskedProcess> AskToEnd(ProcessApi& api, const ProcessEntry& row) {
    // Terminate access to send the request, synchronize to wait for the end, query to confirm
    // the name on this very handle.
    ProcessHandle process(api, api.OpenProcess(access::kTerminate | access::kSynchronize |
                                                   access::kQueryLimitedInformation,
                                               row.ProcessId));
    std::string imageName;
    if (!process.Valid() || !api.GetProcessImageName(process.Get(), imageName) ||
        NormalizeImageName(imageName) != row.Name || !api.PostCloseRequest(process.Get())) {
        return std::nullopt;
    }
    return AskedProcess{row.Name, row.ProcessId, std::move(process)};
}

} // namespace ostrivan
