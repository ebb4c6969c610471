// A stand-in for any program of the suite, copied under the program's name.
//
// It sleeps until it is killed, unless told otherwise by words of the form key=value, given
// as arguments or in the environment variable STANDIN_<NAME>, where NAME is its own image
// name upper-cased with every other character as '_' (STANDIN_VANTORELLE_MANAGER_EXE for
// vantorelle_manager.exe), so that one environment can set up each program apart:
//   hold=MIB    keep MIB MiB resident
//   exit=CODE   exit with CODE ...
//   after=MS    ... MS milliseconds after the start (default 0), of the run's clock
//   term=CODE   exit with CODE on SIGTERM (term=ignore: ignore SIGTERM)
//   net=FILE    at the start, bind a UDP socket to port 162 (below 1024, where SNMP traps
//               arrive) and open a raw ICMP socket (as ping does), and write one line for
//               each into FILE: "udp 162: ok" or "udp 162: <error>", "raw icmp: ..."
// Other arguments (the watcher's 900) are ignored.
#include "standin_clock.h"

#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace {

// Where the held memory is published, so that the compiler cannot leave it out.
char* volatile held_memory = nullptr;
volatile sig_atomic_t term_exit_code = 0; // what SIGTERM exits with

struct Orders {
    std::uint64_t holdMiB = 0;
    std::optional<int> exitCode;
    std::uint64_t afterMs = 0;
    std::string netReport;
};

std::string OwnName() {
    char path[4096];
    const ssize_t length = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0) {
        return "";
    }
    const std::string full(path, static_cast<std::size_t>(length));
    return full.substr(full.rfind('/') + 1);
}

std::string VariableFor(const std::string& name) {
    std::string variable = "STANDIN_";
    for (const char c : name) {
        variable += std::isalnum(static_cast<unsigned char>(c))
                        ? static_cast<char>(std::toupper(static_cast<unsigned char>(c)))
                        : '_';
    }
    return variable;
}

void Apply(const std::string& word, Orders& orders) {
    const auto equals = word.find('=');
    if (equals == std::string::npos) {
        return;
    }
    const std::string key = word.substr(0, equals);
    const std::string value = word.substr(equals + 1);
    if (key == "hold") {
        orders.holdMiB = std::stoull(value);
    } else if (key == "exit") {
        orders.exitCode = std::stoi(value);
    } else if (key == "after") {
        orders.afterMs = std::stoull(value);
    } else if (key == "net") {
        orders.netReport = value;
    } else if (key == "term") {
        term_exit_code = value == "ignore" ? 0 : std::stoi(value);
        ::signal(
            SIGTERM, value == "ignore" ? SIG_IGN : +[](int) { ::_exit(term_exit_code); });
    }
}

// "ok" when the socket could be made (and bound, for a port), else why not.
std::string Outcome(int type, int protocol, std::uint16_t port) {
    const int fd = ::socket(AF_INET, type | SOCK_CLOEXEC, protocol);
    if (fd < 0) {
        return std::strerror(errno);
    }
    std::string outcome = "ok";
    if (port != 0) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_ANY);
        if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
            outcome = std::strerror(errno);
        }
    }
    ::close(fd);
    return outcome;
}

void ReportNetwork(const std::string& file) {
    const std::string report = "udp 162: " + Outcome(SOCK_DGRAM, IPPROTO_UDP, 162) +
                               "\nraw icmp: " + Outcome(SOCK_RAW, IPPROTO_ICMP, 0) + "\n";
    if (FILE* out = std::fopen(file.c_str(), "w")) {
        std::fputs(report.c_str(), out);
        std::fclose(out);
    }
}

void SleepMs(std::uint64_t milliseconds) {
    timespec wanted{static_cast<time_t>(milliseconds / 1000),
                    static_cast<long>(milliseconds % 1000) * 1'000'000};
    while (::nanosleep(&wanted, &wanted) != 0) {
    }
}

} // namespace

int main(int argc, char** argv) {
    Orders orders;
    try {
        if (const char* words = std::getenv(VariableFor(OwnName()).c_str())) {
            std::istringstream stream(words);
            for (std::string word; stream >> word;) {
                Apply(word, orders);
            }
        }
        for (int i = 1; i < argc; ++i) {
            Apply(argv[i], orders);
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "standin: bad order: %s\n", error.what());
        return 64;
    }

    if (!orders.netReport.empty()) {
        ReportNetwork(orders.netReport);
    }

    // Every page written, so that all of it is resident.
    std::vector<char> held(orders.holdMiB << 20, 1);
    held_memory = held.data();

    if (orders.exitCode) {
        SleepMs(standin::RealMilliseconds(orders.afterMs));
        return *orders.exitCode;
    }
    for (;;) {
        ::pause();
    }
}
