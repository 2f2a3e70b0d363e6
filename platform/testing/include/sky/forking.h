// Forking in a test whose process runs other threads (a server's listener, a client's call).
#pragma once

#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

namespace sky::testing {

// Waits (up to 5 s) until every other thread of this process sleeps. A thread that runs may
// hold a lock of the allocator, which the child of a fork would then wait for forever (the
// sanitizers' allocator takes no care of forks): a server's listener, just started by a
// fixture, allocates as it begins to listen. A sleeping thread holds none.
inline void awaitOtherThreadsAsleep() {
    const std::string self = std::to_string(syscall(SYS_gettid));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (std::chrono::steady_clock::now() < deadline) {
        bool asleep = true;
        for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
            if (task.path().filename() == self)
                continue;
            std::ifstream statFile(task.path() / "stat");
            std::string stat((std::istreambuf_iterator<char>(statFile)), {});
            const std::size_t end = stat.rfind(')');
            const char state =
                end != std::string::npos && end + 2 < stat.size() ? stat[end + 2] : '?';
            if (state != 'S')
                asleep = false;
        }
        if (asleep)
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

// fork() once the process's other threads sleep (awaitOtherThreadsAsleep).
inline pid_t forkBesideThreads() {
    awaitOtherThreadsAsleep();
    return fork();
}

} // namespace sky::testing
