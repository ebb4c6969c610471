#include "fake_host.h"

namespace ostrivan::fakes {

FakeHost::FakeHost(CallLog& log)
    : log_(log), faults_({"AcceptedControls", "ServiceTitle", "RegistrationOption", "Register",
                          "WriteEvent", "Unregister", "RequestStop", "Connect", "SaveParameter"}) {}

void FakeHost::Enter(const std::string& call, const std::string& entry) {
    log_.Add("host." + entry);
    if (faults_.Hit(call)) {
        throw FakeFailure(call);
    }
}

void FakeHost::AcceptedControls(std::int32_t controls) {
    Enter("AcceptedControls", "AcceptedControls " + std::to_string(controls));
    acceptedControls_ = controls;
}

std::string FakeHost::ServiceTitle() {
    Enter("ServiceTitle", "ServiceTitle");
    return title_;
}

void FakeHost::RegistrationOption(bool interactive) {
    Enter("RegistrationOption",
          std::string("RegistrationOption ") + (interactive ? "true" : "false"));
    registrationOption_ = interactive;
}

bool FakeHost::Register() {
    Enter("Register", "Register");
    return registerResult_;
}

void FakeHost::WriteEvent(std::int16_t kind, std::int32_t id, const std::string& text) {
    Enter("WriteEvent",
          "WriteEvent " + std::to_string(kind) + " " + std::to_string(id) + " " + text);
    events_.push_back(EventLogEntry{kind, id, text});
}

bool FakeHost::Unregister() {
    Enter("Unregister", "Unregister");
    return unregisterResult_;
}

void FakeHost::RequestStop() {
    Enter("RequestStop", "RequestStop");
    ++stopRequests_;
}

void FakeHost::Connect() {
    Enter("Connect", "Connect");
    connected_ = true;
}

void FakeHost::SaveParameter(const std::string& section, const std::string& key,
                             const std::string& value) {
    Enter("SaveParameter", "SaveParameter " + section + " " + key + " " + value);
    parameters_.push_back(StoredParameter{section, key, value});
}

} // namespace ostrivan::fakes
