#include "platform/windows/message_box_rules.h"

namespace ostrivan::windows {
namespace {

// The button sets of the low four style bits, and the answers, as the platform numbers them.
enum Buttons : std::int32_t {
    kOk = 0,
    kOkCancel = 1,
    kAbortRetryIgnore = 2,
    kYesNoCancel = 3,
    kYesNo = 4,
    kRetryCancel = 5,
    kCancelTryContinue = 6,
};
enum Answer : std::int32_t {
    kAnswerOk = 1,
    kAnswerCancel = 2,
    kAnswerAbort = 3,
    kAnswerRetry = 4,
    kAnswerIgnore = 5,
    kAnswerYes = 6,
    kAnswerNo = 7,
    kAnswerTryAgain = 10,
    kAnswerContinue = 11,
};

} // namespace

std::int32_t DefaultAnswer(std::int32_t style) {
    switch (style & 0xF) {
    case kYesNo:
        return kAnswerNo;
    case kOkCancel:
    case kYesNoCancel:
    case kRetryCancel:
    case kCancelTryContinue:
        return kAnswerCancel;
    case kAbortRetryIgnore:
        return kAnswerIgnore;
    default:
        return kAnswerOk;
    }
}

std::string AnswerName(std::int32_t answer) {
    switch (answer) {
    case kAnswerOk:
        return "OK";
    case kAnswerCancel:
        return "Cancel";
    case kAnswerAbort:
        return "Abort";
    case kAnswerRetry:
        return "Retry";
    case kAnswerIgnore:
        return "Ignore";
    case kAnswerYes:
        return "Yes";
    case kAnswerNo:
        return "No";
    case kAnswerTryAgain:
        return "Try Again";
    case kAnswerContinue:
        return "Continue";
    default:
        return std::to_string(answer);
    }
}

std::string UnseenBoxReport(const std::string& title, const std::string& text,
                            std::int32_t answer) {
    return "Message box \"" + title + "\" answered " + AnswerName(answer) +
           " (no one can see this desktop): " + text;
}

} // namespace ostrivan::windows
