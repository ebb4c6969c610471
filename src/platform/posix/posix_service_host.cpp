#include "platform/posix/posix_service_host.h"

#include "platform/failure.h"
#include "platform/posix/file_writing.h"
#include "platform/posix/proc_reader.h"
#include "platform/posix/spawn.h"
#include "platform/posix/unit_file.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <exception>

namespace ostrivan::posix {
namespace {

constexpr std::int32_t kAcceptPauseContinue = 2;

bool SystemdRuns() {
    return ::access("/run/systemd/system", F_OK) == 0;
}

// Empty when systemctl did the job, else what went wrong, for the one-line report.
std::string Systemctl(std::initializer_list<const char*> words) {
    std::vector<std::string> argv{"systemctl"};
    argv.insert(argv.end(), words.begin(), words.end());
    const int status = RunAndWait(argv);
    if (status == 0) {
        return "";
    }
    std::string command;
    for (const auto& word : argv) {
        command += (command.empty() ? "" : " ") + word;
    }
    return status < 0 ? command + " could not be run"
                      : command + " failed with exit status " + std::to_string(status);
}

bool HasControlCharacter(const std::string& text) {
    for (const char c : text) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
            return true;
        }
    }
    return false;
}

} // namespace

std::string PosixServiceHost::UnitDirectoryFromEnvironment() {
    const char* folder = std::getenv("OSTRIVAN_UNIT_DIR");
    return folder != nullptr && *folder != '\0' ? folder : kDefaultUnitDirectory;
}

PosixServiceHost::PosixServiceHost(EventLoop& loop, Console& console, SystemdNotifier& notifier,
                                   std::string unitDirectory, std::string executable)
    : loop_(loop), console_(console), notifier_(notifier), eventLog_(console),
      unitDirectory_(std::move(unitDirectory)), executable_(std::move(executable)) {
    loop_.OnSignal(SIGTERM, [this] { Stop(); });
    loop_.OnSignal(SIGUSR1, [this] { Pause(); });
    loop_.OnSignal(SIGUSR2, [this] { Continue(); });
    for (int signal = SIGRTMIN; signal <= SIGRTMAX; ++signal) {
        const std::int32_t code = kFirstUserControl + (signal - SIGRTMIN);
        loop_.OnSignal(signal, [this, code] { Control(code); });
    }
}

bool PosixServiceHost::SystemdReadsUnitDirectory() const {
    return unitDirectory_ == kDefaultUnitDirectory && SystemdRuns();
}

std::string PosixServiceHost::UnitPath() const {
    return unitDirectory_ + "/" + kUnitName;
}

std::string PosixServiceHost::ParametersPath() const {
    return unitDirectory_ + "/" + kParametersName;
}

std::string PosixServiceHost::UnitFileProblem(int error) const {
    if (error == ENOENT && ::access(unitDirectory_.c_str(), F_OK) != 0) {
        return unitDirectory_ == kDefaultUnitDirectory
                   ? "the folder " + unitDirectory_ + " does not exist"
                   : "OSTRIVAN_UNIT_DIR names " + unitDirectory_ + ", which does not exist";
    }
    return UnitPath() + ": " + std::strerror(error);
}

bool PosixServiceHost::Register() {
    // An existing unit is left as it is, as the service manager refuses a second
    // registration under the same name.
    if (const int error = CreateNewFile(UnitPath(), UnitFileText(kDisplayName, executable_));
        error != 0) {
        console_.Log(error == EEXIST
                         ? "not registered: " + UnitPath() + " exists already; -remove removes it"
                         : "not registered: " + UnitFileProblem(error));
        return false;
    }
    if (SystemdReadsUnitDirectory()) {
        std::string problem = Systemctl({"daemon-reload"});
        if (problem.empty()) {
            problem = Systemctl({"enable", kUnitName});
        }
        if (!problem.empty()) {
            ::unlink(UnitPath().c_str());
            Systemctl({"daemon-reload"});
            console_.Log("not registered: " + problem);
            return false;
        }
    }
    return true;
}

bool PosixServiceHost::Unregister() {
    const bool managed = SystemdReadsUnitDirectory();
    if (managed) {
        Systemctl({"disable", kUnitName});
    }
    const int error = ::unlink(UnitPath().c_str()) == 0 ? 0 : errno;
    ::unlink(ParametersPath().c_str());
    if (managed) {
        Systemctl({"daemon-reload"});
    }
    if (error != 0) {
        console_.Log(error == ENOENT && ::access(unitDirectory_.c_str(), F_OK) == 0
                         ? "not removed: there is no unit " + UnitPath()
                         : "not removed: " + UnitFileProblem(error));
    }
    return error == 0;
}

void PosixServiceHost::SaveParameter(const std::string& section, const std::string& key,
                                     const std::string& value) {
    if (HasControlCharacter(section) || HasControlCharacter(key) || HasControlCharacter(value) ||
        key.find('=') != std::string::npos || section.find(']') != std::string::npos ||
        key.empty()) {
        throw Failure(EINVAL, "The parameter " + section + "\\" + key + " cannot be stored");
    }
    std::string existing;
    if (auto text = ReadSmallFile(ParametersPath())) {
        existing = std::move(*text);
    } else if (::access(ParametersPath().c_str(), F_OK) == 0) {
        throw Failure(EIO, "Cannot read " + ParametersPath());
    }
    if (const int error =
            ReplaceFile(ParametersPath(), WithParameter(existing, section, key, value));
        error != 0) {
        throw Failure(error, std::string(std::strerror(error)) + ": " + ParametersPath());
    }
}

void PosixServiceHost::WriteEvent(std::int16_t kind, std::int32_t id, const std::string& text) {
    eventLog_.Write(kind, id, text);
}

void PosixServiceHost::RequestStop() {
    loop_.Post([this] {
        if (events_ != nullptr) {
            events_->OnStop();
        }
    });
}

void PosixServiceHost::StopPending(std::uint32_t milliseconds) noexcept {
    try {
        notifier_.Send("EXTEND_TIMEOUT_USEC=" +
                       std::to_string(static_cast<std::uint64_t>(milliseconds) * 1000));
    } catch (const std::exception&) {
    }
}

void PosixServiceHost::Connect() {
    connected_ = true;
    // The start is raised from the loop, never from inside the caller: a run that ends
    // right after Connect starts nothing.
    loop_.Post([this] { Start(); });
}

void PosixServiceHost::Start() {
    if (events_ == nullptr) {
        return;
    }
    HostFlag success = kHostFalse;
    events_->OnStart(success);
    if (success != kHostTrue) {
        console_.Log("the service did not confirm its start; it ends");
        loop_.Quit(EXIT_FAILURE);
        return;
    }
    // Ready once the start has launched the suite: `systemctl start` returns with it running.
    notifier_.Send("READY=1");
}

void PosixServiceHost::Stop() {
    if (!connected_ || events_ == nullptr) {
        // Nothing was started that a stop would have to end.
        loop_.Quit(128 + SIGTERM);
        return;
    }
    notifier_.Send("STOPPING=1");
    events_->OnStop();
}

void PosixServiceHost::Pause() {
    if (!connected_ || events_ == nullptr || (acceptedControls_ & kAcceptPauseContinue) == 0) {
        console_.Log("pause refused: the service does not accept it now");
        return;
    }
    HostFlag success = kHostFalse;
    events_->OnPause(success);
    if (success != kHostTrue) {
        console_.Log("the service did not confirm its pause");
    }
}

void PosixServiceHost::Continue() {
    if (!connected_ || events_ == nullptr || (acceptedControls_ & kAcceptPauseContinue) == 0) {
        console_.Log("continue refused: the service does not accept it now");
        return;
    }
    HostFlag success = kHostFalse;
    events_->OnContinue(success);
    if (success != kHostTrue) {
        console_.Log("the service did not confirm that it continues");
    }
}

void PosixServiceHost::Control(std::int32_t code) {
    if (!connected_ || events_ == nullptr) {
        console_.Log("control " + std::to_string(code) + " refused: the service is not running");
        return;
    }
    events_->OnControl(code);
}

} // namespace ostrivan::posix
