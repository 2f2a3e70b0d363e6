// skyscm MACHINE-DIRECTORY: the service manager of one machine.
//
// Started on demand by the first service call of any process of the machine (see
// sky/services.h). It puts itself in the background, closes the standard handles it inherited,
// listens on the machine's abstract socket and serves every client that is one of the machine's
// users. It ends when, for idleSeconds, no client is connected and no service runs, or at once
// (after shutting its services down) when the machine directory is removed, even when another has
// been made under its name since. A second manager for the same machine finds the socket taken and
// ends quietly.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>

#include "../wire.h"
#include "manager.h"
#include "sky/services.h"

namespace {

constexpr auto idleTime = std::chrono::seconds(5);

int listenOn(const std::string& name) {
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    sockaddr_un address;
    const socklen_t length = sky::services::abstractAddress(name, address);
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 || listen(fd, 64) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// Keeps nothing of the caller: not its standard handles (a caller reading its own output to the
// end would wait for the manager), nor any other descriptor it left open.
void detachFromCaller() {
    close_range(3, ~0u, 0);
    const int null = open("/dev/null", O_RDWR);
    if (null >= 0) {
        dup2(null, 0);
        dup2(null, 1);
        dup2(null, 2);
        if (null > 2)
            close(null);
    }
    setsid();
    [[maybe_unused]] const int changed = chdir("/");
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
        std::fprintf(stderr,
                     "usage: skyscm MACHINE-DIRECTORY\n"
                     "The service manager of one machine. The platform starts it when a program\n"
                     "first needs it; it ends by itself when idle.\n");
        return argc == 2 ? 0 : 2;
    }
    const std::filesystem::path machine = std::filesystem::absolute(argv[1]);
    setenv("SKYLOOM_MACHINE", machine.c_str(), 1);

    // The caller waits only for this first process.
    const pid_t child = fork();
    if (child < 0)
        return 1;
    if (child > 0)
        _exit(0);
    detachFromCaller();
    signal(SIGPIPE, SIG_IGN);

    // The machine folder is held open, so that it cannot be mistaken for a folder made in its place
    // under the same name (a fresh machine over the old one): held, its inode is not reused.
    const int machineFolder = open(machine.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (machineFolder < 0)
        _exit(0);
    const auto machineGone = [&] {
        struct stat held {};
        struct stat named {};
        return fstat(machineFolder, &held) != 0 || held.st_nlink == 0 ||
               stat(machine.c_str(), &named) != 0 || named.st_dev != held.st_dev ||
               named.st_ino != held.st_ino;
    };

    const int listener = listenOn(sky::services::managerSocketName(machine));
    if (listener < 0)
        _exit(0); // another manager serves this machine

    sky::services::Manager manager;
    std::atomic<int> clients{0};
    std::atomic<std::chrono::steady_clock::rep> lastActivity{
        std::chrono::steady_clock::now().time_since_epoch().count()};
    for (;;) {
        pollfd entry{listener, POLLIN, 0};
        if (poll(&entry, 1, 250) > 0 && (entry.revents & POLLIN)) {
            const int fd = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
            ucred peer{};
            socklen_t size = sizeof peer;
            if (fd >= 0 && getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0) {
                ++clients;
                std::thread([&manager, &clients, &lastActivity, fd, uid = peer.uid] {
                    manager.serve(fd, uid);
                    close(fd);
                    lastActivity = std::chrono::steady_clock::now().time_since_epoch().count();
                    --clients;
                }).detach();
            } else if (fd >= 0) {
                close(fd);
            }
        }
        if (machineGone()) {
            manager.shutdownAll();
            break;
        }
        if (clients == 0 && manager.idle()) {
            const auto since =
                std::chrono::steady_clock::now().time_since_epoch().count() - lastActivity.load();
            if (std::chrono::steady_clock::duration(since) > idleTime)
                break;
        } else {
            lastActivity = std::chrono::steady_clock::now().time_since_epoch().count();
        }
    }
    close(listener);
    _exit(0);
}
