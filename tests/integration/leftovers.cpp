// Runs after the integration tests: ends every process still running from their folders
// and fails when there was one, since each test must leave nothing behind.
#include <dirent.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <string>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: leftovers FOLDER\n");
        return 2;
    }
    const std::string folder = std::string(argv[1]) + "/";
    DIR* proc = ::opendir("/proc");
    if (proc == nullptr) {
        return 2;
    }
    int found = 0;
    while (const dirent* entry = ::readdir(proc)) {
        const std::string link = std::string("/proc/") + entry->d_name + "/exe";
        char target[4096];
        const ssize_t length = ::readlink(link.c_str(), target, sizeof target - 1);
        if (length <= 0 ||
            std::string(target, static_cast<std::size_t>(length)).rfind(folder, 0) != 0) {
            continue;
        }
        target[length] = '\0';
        std::fprintf(stderr, "left behind: pid %s, %s\n", entry->d_name, target);
        ::kill(std::stoi(entry->d_name), SIGKILL);
        ++found;
    }
    ::closedir(proc);
    return found == 0 ? 0 : 1;
}
