// The transport of calls between processes (see mailbox.h).
#include "mailbox.h"

#include <fcntl.h>
#include <linux/futex.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>

#include "sky/machine.h"

namespace sky::remote {

namespace {

constexpr std::size_t mappedSize = sizeof(MailboxHeader) + mailboxCapacity;

long futexCall(std::atomic<std::uint32_t>& word, int op, std::uint32_t value,
               const timespec* timeout) {
    return syscall(SYS_futex, reinterpret_cast<std::uint32_t*>(&word), op, value, timeout, nullptr,
                   0);
}

} // namespace

Mailbox::~Mailbox() {
    if (base_)
        munmap(base_, size_);
}

int Mailbox::create() {
    const int fd = memfd_create("skyloom-mailbox", MFD_CLOEXEC | MFD_ALLOW_SEALING);
    if (fd < 0)
        return -1;
    if (ftruncate(fd, static_cast<off_t>(mappedSize)) != 0 ||
        fcntl(fd, F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_SEAL) != 0 || !attach(fd)) {
        const int error = errno;
        close(fd);
        errno = error;
        return -1;
    }
    return fd;
}

bool Mailbox::attach(int fd) {
    struct stat info {};
    const int seals = fcntl(fd, F_GET_SEALS);
    if (fstat(fd, &info) != 0 || static_cast<std::size_t>(info.st_size) != mappedSize ||
        seals < 0 || !(seals & F_SEAL_SHRINK))
        return false;
    void* base = mmap(nullptr, mappedSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (base == MAP_FAILED)
        return false;
    base_ = base;
    size_ = mappedSize;
    return true;
}

void futexWake(std::atomic<std::uint32_t>& word) {
    futexCall(word, FUTEX_WAKE, 1, nullptr);
}

void futexWait(std::atomic<std::uint32_t>& word, std::uint32_t expected,
               std::chrono::milliseconds timeout) {
    const timespec limit{static_cast<time_t>(timeout.count() / 1000),
                         static_cast<long>(timeout.count() % 1000) * 1000000L};
    futexCall(word, FUTEX_WAIT, expected, &limit);
}

void futexWaitAny(std::span<std::atomic<std::uint32_t>* const> words,
                  std::span<const std::uint32_t> expected, std::chrono::milliseconds timeout) {
    struct futex_waitv waiters[128] = {};
    const std::size_t count = std::min<std::size_t>(words.size(), 128);
    for (std::size_t i = 0; i < count; ++i) {
        waiters[i].val = expected[i];
        waiters[i].uaddr = reinterpret_cast<std::uintptr_t>(words[i]);
        waiters[i].flags = FUTEX_32;
    }
    timespec until{};
    if (timeout.count() >= 0) {
        clock_gettime(CLOCK_MONOTONIC, &until);
        const long long ns = until.tv_nsec + (timeout.count() % 1000) * 1000000LL;
        until.tv_sec += static_cast<time_t>(timeout.count() / 1000 + ns / 1000000000LL);
        until.tv_nsec = static_cast<long>(ns % 1000000000LL);
    }
    syscall(SYS_futex_waitv, waiters, static_cast<unsigned>(count), 0,
            timeout.count() >= 0 ? &until : nullptr, CLOCK_MONOTONIC);
}

namespace {

constexpr auto partWait = std::chrono::milliseconds(50);

std::atomic<std::uint32_t>& ownMode(MailboxHeader& h, Side side) {
    return side == Side::Client ? h.clientMode : h.serverMode;
}
std::atomic<std::uint32_t>& peerMode(MailboxHeader& h, Side side) {
    return side == Side::Client ? h.serverMode : h.clientMode;
}

// Hands the state word over to the other side: stores it, and wakes the other side if it sleeps.
void handOver(MailboxHeader& h, Side side, std::uint32_t state) {
    h.state.store(state, std::memory_order_seq_cst);
    if (peerMode(h, side).load(std::memory_order_seq_cst) == Asleep)
        futexWake(h.state);
}

// Sleeps until the state word holds `wanted`; false when `gone()` says so first.
bool awaitState(MailboxHeader& h, Side side, std::uint32_t wanted, const GoneCheck& gone) {
    std::atomic<std::uint32_t>& mode = ownMode(h, side);
    while (true) {
        mode.store(Asleep, std::memory_order_seq_cst);
        const std::uint32_t state = h.state.load(std::memory_order_seq_cst);
        if (state == wanted)
            break;
        futexWait(h.state, state, partWait);
        if (h.state.load(std::memory_order_acquire) != wanted && gone()) {
            mode.store(Working, std::memory_order_relaxed);
            return false;
        }
    }
    mode.store(Working, std::memory_order_relaxed);
    return true;
}

} // namespace

bool putMessage(Mailbox& box, Side side, const unsigned char* data, std::size_t size,
                std::uint32_t state, const GoneCheck& gone) {
    MailboxHeader& h = box.header();
    while (size > mailboxCapacity) {
        std::memcpy(box.data(), data, mailboxCapacity);
        h.length = mailboxCapacity | morePart;
        handOver(h, side, state);
        if (!awaitState(h, side, PartTaken, gone))
            return false;
        data += mailboxCapacity;
        size -= mailboxCapacity;
    }
    if (size > 0) // an empty message may have no storage at all
        std::memcpy(box.data(), data, size);
    h.length = static_cast<std::uint32_t>(size);
    return true;
}

bool takeMessage(Mailbox& box, Side side, std::vector<unsigned char>& message, std::uint32_t state,
                 const GoneCheck& gone) {
    MailboxHeader& h = box.header();
    message.clear();
    while (true) {
        const std::uint32_t length = h.length;
        const std::size_t part = std::min(length & ~morePart, mailboxCapacity);
        if (message.size() + part > maxMessage)
            return false;
        message.insert(message.end(), box.data(), box.data() + part);
        if (!(length & morePart))
            return true;
        handOver(h, side, PartTaken);
        if (!awaitState(h, side, state, gone))
            return false;
    }
}

std::filesystem::path endpointDirectory() {
    // Written by the machine's owner alone, entered by the machine's users; who may call is
    // decided again by the peer's credentials when it connects.
    return sky::machine::runtimeFolder("com");
}

bool socketAddress(const std::filesystem::path& directory, const std::string& name,
                   sockaddr_un& address, int& dirFd) {
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    dirFd = -1;
    std::string path = (directory / name).string();
    if (path.size() >= sizeof address.sun_path) {
        dirFd = open(directory.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (dirFd < 0)
            return false;
        path = "/proc/self/fd/" + std::to_string(dirFd) + "/" + name;
        if (path.size() >= sizeof address.sun_path) {
            close(dirFd);
            dirFd = -1;
            return false;
        }
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return true;
}

bool sendHello(int socket, const Hello& hello, int passFd) {
    iovec io{const_cast<Hello*>(&hello), sizeof hello};
    msghdr message{};
    message.msg_iov = &io;
    message.msg_iovlen = 1;
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
    if (passFd >= 0) {
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        cmsghdr* c = CMSG_FIRSTHDR(&message);
        c->cmsg_level = SOL_SOCKET;
        c->cmsg_type = SCM_RIGHTS;
        c->cmsg_len = CMSG_LEN(sizeof(int));
        std::memcpy(CMSG_DATA(c), &passFd, sizeof(int));
    }
    return sendmsg(socket, &message, MSG_NOSIGNAL) == static_cast<ssize_t>(sizeof hello);
}

bool receiveHello(int socket, Hello& hello, int* passedFd, std::chrono::milliseconds timeout) {
    if (passedFd)
        *passedFd = -1;
    pollfd p{socket, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(timeout.count())) != 1 || !(p.revents & POLLIN))
        return false;
    iovec io{&hello, sizeof hello};
    msghdr message{};
    message.msg_iov = &io;
    message.msg_iovlen = 1;
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int) * 4)] = {};
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    const ssize_t got = recvmsg(socket, &message, MSG_DONTWAIT | MSG_CMSG_CLOEXEC);
    int received = -1;
    for (cmsghdr* c = CMSG_FIRSTHDR(&message); c; c = CMSG_NXTHDR(&message, c)) {
        if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_RIGHTS)
            continue;
        const std::size_t count = (c->cmsg_len - CMSG_LEN(0)) / sizeof(int);
        for (std::size_t i = 0; i < count; ++i) {
            int fd = -1;
            std::memcpy(&fd, CMSG_DATA(c) + i * sizeof(int), sizeof fd);
            if (received < 0 && passedFd)
                received = fd;
            else
                close(fd);
        }
    }
    const bool whole =
        got == static_cast<ssize_t>(sizeof hello) && !(message.msg_flags & MSG_CTRUNC);
    if (!whole) {
        if (received >= 0)
            close(received);
        return false;
    }
    if (passedFd)
        *passedFd = received;
    else if (received >= 0)
        close(received);
    return true;
}

bool peerUser(int socket, unsigned& uid) {
    ucred credentials{};
    socklen_t size = sizeof credentials;
    if (getsockopt(socket, SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0)
        return false;
    uid = credentials.uid;
    return true;
}

bool peerGone(int socket) {
    pollfd p{socket, POLLIN, 0};
    if (poll(&p, 1, 0) != 1)
        return false;
    return (p.revents & (POLLHUP | POLLERR | POLLIN)) != 0;
}

} // namespace sky::remote
