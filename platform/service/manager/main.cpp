// skyscm [--foreground] MACHINE-DIRECTORY: the service manager of one machine.
//
// It runs as the machine's owner (the owner of the machine directory) and refuses to run as
// anybody else. Started on demand by the first service call of one of the owner's processes (see
// sky/services.h), it puts itself in the background, closes the standard handles it inherited and
// ends when, for idleSeconds, no client is connected and no service runs. With --foreground (a
// system service manager's unit, or a terminal) it stays in the foreground, reports on its
// standard error, never ends for being idle, and on SIGTERM or SIGINT sends its services the
// shutdown control, as a machine going down does, and ends. Either way it ends at once (after
// shutting its services down) when the machine directory is removed, even when another has been
// made under its name since.
//
// It listens on <machine>/run/skyscm.sock, in the runtime folder only the owner may write, and
// serves every client that is one of the machine's users. One manager serves a machine: it holds
// a lock on <machine>/run/skyscm.lock while it listens; a second one finds the lock taken and ends
// (quietly when started on demand, with a message and exit code 1 in the foreground).
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
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
#include "sky/machine.h"
#include "sky/services.h"

namespace {

constexpr auto idleTime = std::chrono::seconds(5);

volatile sig_atomic_t stopRequested = 0;

void requestStop(int) {
    stopRequested = 1;
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

int usage(FILE* to, int code) {
    std::fprintf(to,
                 "usage: skyscm [--foreground] MACHINE-DIRECTORY\n"
                 "The service manager of one machine; it runs as the machine's owner.\n"
                 "The platform starts it when a program of the owner first needs it; it ends by\n"
                 "itself when idle. --foreground keeps it running in the foreground until\n"
                 "SIGTERM or SIGINT (for a systemd unit or a terminal), reporting on standard\n"
                 "error; it then stops the machine's services and ends.\n");
    return code;
}

} // namespace

int main(int argc, char** argv) {
    bool foreground = false;
    const char* machineArgument = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0)
            return usage(stdout, 0);
        if (std::strcmp(argv[i], "--foreground") == 0 && !foreground)
            foreground = true;
        else if (argv[i][0] != '-' && !machineArgument)
            machineArgument = argv[i];
        else
            return usage(stderr, 2);
    }
    if (!machineArgument)
        return usage(stderr, 2);
    const std::filesystem::path machine = std::filesystem::absolute(machineArgument);
    struct stat folder {};
    if (stat(machine.c_str(), &folder) != 0 || !S_ISDIR(folder.st_mode)) {
        std::fprintf(stderr, "skyscm: %s is not a machine directory (%s)\n", machine.c_str(),
                     std::strerror(errno ? errno : ENOTDIR));
        return 1;
    }
    // Services run as the machine's owner (LocalSystem): so does their manager, whoever asks.
    if (folder.st_uid != geteuid()) {
        std::fprintf(stderr,
                     "skyscm: the machine %s belongs to %s; only its owner runs its service "
                     "manager (this is %s)\n",
                     machine.c_str(), sky::services::accountName(folder.st_uid).c_str(),
                     sky::services::accountName(geteuid()).c_str());
        return 1;
    }
    setenv("SKYLOOM_MACHINE", machine.c_str(), 1);

    if (!foreground) {
        // The caller waits only for this first process.
        const pid_t child = fork();
        if (child < 0)
            return 1;
        if (child > 0)
            _exit(0);
        detachFromCaller();
    } else {
        struct sigaction action {};
        action.sa_handler = requestStop;
        sigaction(SIGTERM, &action, nullptr);
        sigaction(SIGINT, &action, nullptr);
    }
    signal(SIGPIPE, SIG_IGN);
    const auto fail = [foreground](const std::string& message) {
        if (foreground)
            std::fprintf(stderr, "skyscm: %s\n", message.c_str());
        _exit(foreground ? 1 : 0);
    };

    // The machine folder is held open, so that it cannot be mistaken for a folder made in its place
    // under the same name (a fresh machine over the old one): held, its inode is not reused.
    const int machineFolder = open(machine.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (machineFolder < 0)
        fail("cannot open " + machine.string() + ": " + std::strerror(errno));
    const auto machineGone = [&] {
        struct stat held {};
        struct stat named {};
        return fstat(machineFolder, &held) != 0 || held.st_nlink == 0 ||
               stat(machine.c_str(), &named) != 0 || named.st_dev != held.st_dev ||
               named.st_ino != held.st_ino;
    };

    const std::filesystem::path run = sky::machine::runtimeFolder();
    const int lock = open((run / "skyscm.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (lock < 0)
        fail("cannot open " + (run / "skyscm.lock").string() + ": " + std::strerror(errno));
    if (flock(lock, LOCK_EX | LOCK_NB) != 0)
        fail("another manager serves the machine " + machine.string());
    const std::filesystem::path socketFile = sky::services::managerSocket(machine);
    const int listener = sky::services::listenAt(run, socketFile.filename().string());
    if (listener < 0)
        fail("cannot listen on " + socketFile.string() + ": " + std::strerror(errno));
    if (foreground)
        std::fprintf(stderr, "skyscm: serving the machine %s as %s (process %d) on %s\n",
                     machine.c_str(), sky::services::accountName(geteuid()).c_str(),
                     static_cast<int>(getpid()), socketFile.c_str());

    sky::services::Manager manager;
    std::atomic<int> clients{0};
    std::atomic<std::chrono::steady_clock::rep> lastActivity{
        std::chrono::steady_clock::now().time_since_epoch().count()};
    for (;;) {
        pollfd entry{listener, POLLIN, 0};
        if (poll(&entry, 1, 250) > 0 && (entry.revents & POLLIN)) {
            const int fd = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
            sky::services::Peer peer;
            if (fd >= 0 && sky::services::peerOf(fd, peer)) {
                ++clients;
                std::thread([&manager, &clients, &lastActivity, fd, peer] {
                    manager.serve(fd, peer);
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
        if (stopRequested) {
            std::fprintf(stderr, "skyscm: stopping the machine's services\n");
            manager.shutdownAll();
            break;
        }
        if (!foreground && clients == 0 && manager.idle()) {
            const auto since =
                std::chrono::steady_clock::now().time_since_epoch().count() - lastActivity.load();
            if (std::chrono::steady_clock::duration(since) > idleTime)
                break;
        } else {
            lastActivity = std::chrono::steady_clock::now().time_since_epoch().count();
        }
    }
    // The name goes before the lock: a manager that takes the lock next binds it afresh.
    if (!machineGone())
        unlink(socketFile.c_str());
    close(listener);
    if (foreground)
        std::fprintf(stderr, "skyscm: ended\n");
    _exit(0);
}
