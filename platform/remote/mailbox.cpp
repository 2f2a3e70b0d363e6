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

namespace {

struct FileNote {
    std::uint32_t magic;
    std::uint32_t count;
};

// Receives one message of at most `size` bytes without waiting, every descriptor it carried
// into `fds` (at most maxHandedFiles are taken; the kernel closes the rest and says so).
ssize_t receiveWithDescriptors(int socket, void* data, std::size_t size, std::vector<int>& fds,
                               bool& truncated) {
    iovec io{data, size};
    msghdr message{};
    message.msg_iov = &io;
    message.msg_iovlen = 1;
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int) * maxHandedFiles)] = {};
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    const ssize_t got = recvmsg(socket, &message, MSG_DONTWAIT | MSG_CMSG_CLOEXEC);
    truncated = (message.msg_flags & MSG_CTRUNC) != 0;
    if (got < 0)
        return got;
    for (cmsghdr* c = CMSG_FIRSTHDR(&message); c; c = CMSG_NXTHDR(&message, c)) {
        if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_RIGHTS)
            continue;
        const std::size_t count = (c->cmsg_len - CMSG_LEN(0)) / sizeof(int);
        for (std::size_t i = 0; i < count; ++i) {
            int fd = -1;
            std::memcpy(&fd, CMSG_DATA(c) + i * sizeof(int), sizeof fd);
            fds.push_back(fd);
        }
    }
    return got;
}

// Sends `size` bytes with `count` descriptors (at most maxHandedFiles); whether all went.
bool sendWithDescriptors(int socket, const void* data, std::size_t size, const int* fds,
                         std::size_t count, int flags) {
    iovec io{const_cast<void*>(data), size};
    msghdr message{};
    message.msg_iov = &io;
    message.msg_iovlen = 1;
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int) * maxHandedFiles)] = {};
    if (count > 0) {
        message.msg_control = control;
        message.msg_controllen = CMSG_SPACE(sizeof(int) * count);
        cmsghdr* c = CMSG_FIRSTHDR(&message);
        c->cmsg_level = SOL_SOCKET;
        c->cmsg_type = SCM_RIGHTS;
        c->cmsg_len = CMSG_LEN(sizeof(int) * count);
        std::memcpy(CMSG_DATA(c), fds, sizeof(int) * count);
    }
    return sendmsg(socket, &message, flags) == static_cast<ssize_t>(size);
}

void closeAll(std::vector<int>& fds) {
    for (int fd : fds)
        close(fd);
    fds.clear();
}

} // namespace

bool sendHello(int socket, const Hello& hello, int passFd) {
    return sendWithDescriptors(socket, &hello, sizeof hello, &passFd, passFd >= 0 ? 1 : 0,
                               MSG_NOSIGNAL);
}

bool receiveHello(int socket, Hello& hello, int* passedFd, std::chrono::milliseconds timeout) {
    if (passedFd)
        *passedFd = -1;
    pollfd p{socket, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(timeout.count())) != 1 || !(p.revents & POLLIN))
        return false;
    std::vector<int> fds;
    bool truncated = false;
    const ssize_t got = receiveWithDescriptors(socket, &hello, sizeof hello, fds, truncated);
    const bool whole = got == static_cast<ssize_t>(sizeof hello) && !truncated;
    if (whole && passedFd && !fds.empty()) {
        *passedFd = fds.front();
        fds.erase(fds.begin());
    }
    closeAll(fds);
    return whole;
}

bool sendFiles(int socket, const std::vector<int>& fds) {
    if (fds.empty() || fds.size() > maxHandedFiles)
        return false;
    const FileNote note{fileNoteMagic, static_cast<std::uint32_t>(fds.size())};
    return sendWithDescriptors(socket, &note, sizeof note, fds.data(), fds.size(),
                               MSG_NOSIGNAL | MSG_DONTWAIT);
}

bool receiveFiles(int socket, std::size_t count, std::vector<int>& fds) {
    fds.clear();
    FileNote note{};
    bool truncated = false;
    const ssize_t got = receiveWithDescriptors(socket, &note, sizeof note, fds, truncated);
    if (got != static_cast<ssize_t>(sizeof note) || truncated || note.magic != fileNoteMagic ||
        note.count != count || fds.size() != count) {
        closeAll(fds);
        return false;
    }
    return true;
}

void discardSocketData(int socket) {
    for (int round = 0; round < 64; ++round) {
        char data[4096];
        std::vector<int> fds;
        bool truncated = false;
        const ssize_t got = receiveWithDescriptors(socket, data, sizeof data, fds, truncated);
        closeAll(fds);
        if (got <= 0)
            return;
    }
}

bool socketHasData(int socket) {
    char byte = 0;
    return recv(socket, &byte, 1, MSG_PEEK | MSG_DONTWAIT) > 0;
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
