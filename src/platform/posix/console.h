#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace ostrivan::posix {

// The service's terminal, or whatever its standard streams lead to. Standard output
// carries the status line: one line per change, or, on a terminal, one line redrawn in
// place. Standard error carries log lines, each one line with the local time in front.
class Console {
public:
    Console(int input = 0, int output = 1, int error = 2);

    void ShowStatus(std::string_view text);
    void Log(std::string_view line);

    // True when there is a terminal to ask questions on.
    bool CanAsk() const { return inputIsTerminal_; }
    // Shows `question` on the terminal and reads one line; nothing once input has ended.
    std::optional<std::string> Ask(std::string_view question);

    // Closes the status line on a terminal, before the process ends.
    void Finish();

private:
    // True when the line was on screen and is now erased.
    bool ClearStatusLine();
    void DrawStatusLine();

    int input_;
    int output_;
    int error_;
    bool inputIsTerminal_;
    bool outputIsTerminal_;
    bool sharedTerminal_; // output and error both on a terminal
    std::string status_;
    bool statusShown_ = false;
};

// `text` on one line: CR LF pairs and other control characters become single blanks.
std::string OneLine(std::string_view text);

} // namespace ostrivan::posix
