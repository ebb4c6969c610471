#include "platform/posix/console.h"

#include "platform/posix/file_writing.h"

#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace ostrivan::posix {
namespace {

constexpr std::string_view kEraseLine = "\r\x1b[2K";

std::string ClockPrefix() {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    tm local{};
    ::localtime_r(&now.tv_sec, &local);
    char text[16];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d ", local.tm_hour, local.tm_min, local.tm_sec);
    return text;
}

std::string TerminalLines(std::string_view text) {
    std::string lines;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            continue;
        }
        lines += text[i] == '\r' ? '\n' : text[i];
    }
    return lines;
}

} // namespace

std::string OneLine(std::string_view text) {
    std::string line;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            continue;
        }
        line += static_cast<unsigned char>(text[i]) < 0x20 || text[i] == 0x7F ? ' ' : text[i];
    }
    return line;
}

Console::Console(int input, int output, int error)
    : input_(input), output_(output), error_(error), inputIsTerminal_(::isatty(input) == 1),
      outputIsTerminal_(::isatty(output) == 1),
      sharedTerminal_(outputIsTerminal_ && ::isatty(error) == 1) {}

void Console::ShowStatus(std::string_view text) {
    status_ = OneLine(text);
    if (outputIsTerminal_) {
        DrawStatusLine();
    } else {
        WriteAll(output_, status_ + "\n");
    }
}

void Console::Log(std::string_view line) {
    const bool cleared = ClearStatusLine();
    WriteAll(error_, ClockPrefix() + OneLine(line) + "\n");
    if (cleared) {
        DrawStatusLine();
    }
}

std::optional<std::string> Console::Ask(std::string_view question) {
    ClearStatusLine();
    WriteAll(error_, TerminalLines(question));
    std::string answer;
    char c = 0;
    for (;;) {
        const ssize_t got = ::read(input_, &c, 1);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            WriteAll(error_, "\n");
            DrawStatusLine();
            return std::nullopt;
        }
        if (c == '\n') {
            break;
        }
        answer += c;
    }
    DrawStatusLine();
    return answer;
}

void Console::Finish() {
    if (outputIsTerminal_ && statusShown_) {
        WriteAll(output_, "\n");
        statusShown_ = false;
    }
}

bool Console::ClearStatusLine() {
    if (!sharedTerminal_ || !statusShown_) {
        return false;
    }
    WriteAll(output_, kEraseLine);
    statusShown_ = false;
    return true;
}

void Console::DrawStatusLine() {
    if (outputIsTerminal_ && !status_.empty()) {
        WriteAll(output_, std::string(kEraseLine) + status_);
        statusShown_ = true;
    }
}

} // namespace ostrivan::posix
