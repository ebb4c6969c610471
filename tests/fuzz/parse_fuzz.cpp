// Any bytes into the code that reads text the service does not control: image names from
// the process table, /proc files, command lines.
#include "platform/posix/command_line.h"
#include "platform/posix/proc_text.h"
#include "process/process_snapshot.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

void Require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

void ImageNames(std::string_view bytes) {
    const std::string name = ostrivan::NormalizeImageName(bytes);
    Require(name.size() <= bytes.size());
    Require(name.find('\0') == std::string::npos);
    Require(ostrivan::MatchImageName(name, name));
    Require(ostrivan::MatchImageName(name, ""));
    if (!name.empty()) {
        Require(ostrivan::MatchImageName(name, name.substr(1)));
        Require(!ostrivan::MatchImageName(name.substr(1), name));
    }
}

void ProcFiles(std::string_view bytes) {
    ostrivan::posix::ParseProcStat(bytes);
    if (const auto rss = ostrivan::posix::ParseStatusKilobytes(bytes, "VmRSS")) {
        Require(*rss % 1024 == 0 || *rss == UINT64_MAX);
    }
    ostrivan::posix::ImageBaseName(bytes);
    ostrivan::posix::CommName(bytes);
}

void CommandLines(std::string_view bytes) {
    const auto words = ostrivan::posix::SplitCommandLine(bytes);
    const auto text = ostrivan::posix::ArgumentText(words);
    ostrivan::posix::ToPosixPath(bytes);
    Require(text.size() >= words.size() - (words.empty() ? 0 : 1));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    ImageNames(bytes);
    ProcFiles(bytes);
    CommandLines(bytes);
    return 0;
}
