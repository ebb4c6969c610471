#include "platform/posix/proc_text.h"

#include <charconv>
#include <vector>

namespace ostrivan::posix {
namespace {

constexpr std::string_view kDeletedMark = " (deleted)";
constexpr const char* kBlanks = " \t\n";
// Field 22 (starttime) counted from field 3 (state), the first one after the name.
constexpr std::size_t kStartTimeAfterName = 22 - 3;

std::vector<std::string_view> SplitBlanks(std::string_view text) {
    std::vector<std::string_view> words;
    std::size_t at = 0;
    while (at < text.size()) {
        const auto start = text.find_first_not_of(kBlanks, at);
        if (start == std::string_view::npos) {
            break;
        }
        const auto end = text.find_first_of(kBlanks, start);
        words.push_back(text.substr(start, end == std::string_view::npos ? end : end - start));
        at = end == std::string_view::npos ? text.size() : end;
    }
    return words;
}

std::optional<std::uint64_t> ParseUnsigned(std::string_view word) {
    std::uint64_t value = 0;
    const auto [end, error] = std::from_chars(word.data(), word.data() + word.size(), value);
    if (error != std::errc() || end != word.data() + word.size() || word.empty()) {
        return std::nullopt;
    }
    return value;
}

} // namespace

std::optional<ProcStat> ParseProcStat(std::string_view text) {
    const auto close = text.rfind(')');
    if (close == std::string_view::npos || text.find('(') > close) {
        return std::nullopt;
    }
    const auto fields = SplitBlanks(text.substr(close + 1));
    if (fields.size() <= kStartTimeAfterName || fields[0].size() != 1) {
        return std::nullopt;
    }
    const auto startTime = ParseUnsigned(fields[kStartTimeAfterName]);
    if (!startTime) {
        return std::nullopt;
    }
    return ProcStat{fields[0][0], *startTime};
}

std::optional<std::uint64_t> ParseStatusKilobytes(std::string_view text, std::string_view name) {
    std::size_t at = 0;
    while (at < text.size()) {
        auto end = text.find('\n', at);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        const auto line = text.substr(at, end - at);
        at = end + 1;
        if (line.size() <= name.size() || !line.starts_with(name) || line[name.size()] != ':') {
            continue;
        }
        const auto words = SplitBlanks(line.substr(name.size() + 1));
        if (words.size() != 2 || words[1] != "kB") {
            return std::nullopt;
        }
        const auto kilobytes = ParseUnsigned(words[0]);
        if (!kilobytes || *kilobytes > UINT64_MAX / 1024) {
            return std::nullopt;
        }
        return *kilobytes * 1024;
    }
    return std::nullopt;
}

std::string ImageBaseName(std::string_view exeLink) {
    if (exeLink.ends_with(kDeletedMark)) {
        exeLink.remove_suffix(kDeletedMark.size());
    }
    const auto slash = exeLink.rfind('/');
    return std::string(slash == std::string_view::npos ? exeLink : exeLink.substr(slash + 1));
}

std::string CommName(std::string_view commFile) {
    if (commFile.ends_with('\n')) {
        commFile.remove_suffix(1);
    }
    return std::string(commFile);
}

} // namespace ostrivan::posix
