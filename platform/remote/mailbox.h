// The transport of calls between processes: a local socket for the greeting, the caller's
// identity and the notice that the other side went away, and a shared-memory mailbox for the
// messages themselves, with a futex to wake the side that waits.
//
// The mailbox holds one message at a time: the client writes a request and sets the state to
// Request, the server writes the reply over it and sets Reply, the client reads it and sets Idle.
// Each side spins briefly before it sleeps on the futex, so a call whose answer is quick costs
// about a cache line's round trip instead of two wake-ups; a side that sleeps says so, and only
// then is it woken with a system call.
//
// The server creates the memory (a sealed memfd: the client cannot shrink it under the server)
// and hands it to the client with the greeting. Both sides copy a message out of the shared
// memory before reading it, so that the other side cannot change it while it is read.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>

#include "wire.h"

struct sockaddr_un;

namespace sky::remote {

enum : std::uint32_t { Idle = 0, Request = 1, Reply = 2 };

struct MailboxHeader {
    std::atomic<std::uint32_t> state;
    std::atomic<std::uint32_t> serverSleeping;
    std::atomic<std::uint32_t> clientSleeping;
    std::uint32_t length; // bytes of the message in the data area
};

// Message space of a connection. Pages are only touched as messages use them.
inline constexpr std::uint32_t mailboxCapacity = 4u << 20;

class Mailbox {
public:
    Mailbox() = default;
    ~Mailbox();
    Mailbox(const Mailbox&) = delete;
    Mailbox& operator=(const Mailbox&) = delete;

    // Creates new shared memory; returns its descriptor (sealed), or -1 with errno.
    int create();
    // Maps shared memory received from the server; false if it is not a sealed mailbox.
    bool attach(int fd);

    MailboxHeader& header() { return *static_cast<MailboxHeader*>(base_); }
    unsigned char* data() { return static_cast<unsigned char*>(base_) + sizeof(MailboxHeader); }
    bool mapped() const { return base_ != nullptr; }

private:
    void* base_ = nullptr;
    std::size_t size_ = 0;
};

// Futex operations on a word of shared memory.
void futexWake(std::atomic<std::uint32_t>& word);
// Sleeps while `word` holds `expected`, at most `timeout`; returns at a wake or a change too.
void futexWait(std::atomic<std::uint32_t>& word, std::uint32_t expected,
               std::chrono::milliseconds timeout);
// Sleeps while every word holds its expected value (at most 128 words).
void futexWaitAny(std::span<std::atomic<std::uint32_t>* const> words,
                  std::span<const std::uint32_t> expected);
// A pause instruction for spin loops.
void spinPause();

// How long a side spins before it sleeps, learnt from how the spins went: an answer caught while
// spinning doubles the time (up to 64 µs), a spin in vain halves it (down to 1 µs). On an idle
// machine the peer answers within the spin and a call never sleeps; on a busy one spinning
// would only keep the peer from the processor, and the spin shrinks to almost nothing.
class AdaptiveSpin {
public:
    std::chrono::nanoseconds budget() const { return budget_; }
    void caught() { budget_ = std::min(budget_ * 2, std::chrono::nanoseconds(64000)); }
    void missed() { budget_ = std::max(budget_ / 2, std::chrono::nanoseconds(1000)); }

private:
    std::chrono::nanoseconds budget_{16000};
};

// The folder of the machine's object endpoints: <machine>/run/com, created as needed.
std::filesystem::path endpointDirectory();

// A socket address for `name` in `directory`. A path that does not fit the 108 bytes of a socket
// address is reached through /proc/self/fd and a descriptor of the directory, which is returned
// in `dirFd` (-1 otherwise; the caller closes it after bind or connect).
bool socketAddress(const std::filesystem::path& directory, const std::string& name,
                   sockaddr_un& address, int& dirFd);

// Greeting over the socket, with a descriptor passed along (or -1).
bool sendHello(int socket, const Hello& hello, int passFd);
// Receives the greeting within `timeout`; `passedFd` gets a descriptor sent with it (or -1).
bool receiveHello(int socket, Hello& hello, int* passedFd, std::chrono::milliseconds timeout);

// The user id of the process at the other end of a connected socket; false if unknown.
bool peerUser(int socket, unsigned& uid);

// Whether the other end of a connected socket has gone (end of file, or data where none may
// come); does not block.
bool peerGone(int socket);

} // namespace sky::remote
