// The transport of calls between processes: a local socket for the greeting, the caller's
// identity, the descriptors of files a request hands over (wire 2.2) and the notice that the
// other side went away, and a shared-memory mailbox for the messages themselves, with a futex to
// wake the side that waits.
//
// The mailbox holds one message at a time: the client writes a request and sets the state to
// Request, the server writes the reply over it and sets Reply, the client reads it and sets Idle.
// Each side says in its mode word whether it works, spins on the state word or sleeps on its
// futex; only a side that sleeps is woken with a system call. A side spins before it sleeps
// while spinning pays (see Spinner), so that on an idle machine a call whose answer is quick
// costs about a cache line's round trip instead of two wake-ups, and on a busy one no side keeps
// a processor from the other.
//
// The server creates the memory (a sealed memfd: the client cannot shrink it under the server)
// and hands it to the client with the greeting. Both sides copy a message out of the shared
// memory before reading it, so that the other side cannot change it while it is read.
//
// A message larger than the mailbox crosses in parts (between peers of wire version 2.1 or
// later): the sender writes a part of the mailbox's size, marks its length with morePart and
// hands it over as Request (or Reply); the receiver copies it out and sets the state to
// PartTaken, and the sender writes the next part over it. The last part is handed over as a
// whole message is. A receiver takes at most maxMessage bytes in all.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "wire.h"

struct sockaddr_un;

namespace sky::remote {

// The state word.
enum : std::uint32_t { Idle = 0, Request = 1, Reply = 2, PartTaken = 3 };

// A side's mode word. A peer that knows only Working and Asleep still works with one that spins:
// it wakes a spinning side needlessly (a wasted system call), and is never watched itself.
enum : std::uint32_t {
    Working = 0,  // running, or between calls
    Asleep = 1,   // sleeps (or is about to) on the state's futex: wake it
    Spinning = 2, // on a processor, looking at the state word: it sees a change at once
};

struct MailboxHeader {
    std::atomic<std::uint32_t> state;
    std::atomic<std::uint32_t> serverMode;
    std::atomic<std::uint32_t> clientMode;
    std::uint32_t length; // bytes of the message in the data area
};

// Message space of a connection. Pages are only touched as messages use them.
inline constexpr std::uint32_t mailboxCapacity = 4u << 20;
// In the length word: another part of the message follows this one.
inline constexpr std::uint32_t morePart = 0x80000000u;
// The largest message that crosses in parts (a description of about 30 million characters); a
// larger one is refused by its sender (and ends the connection of a sender that sends it
// anyway).
inline constexpr std::size_t maxMessage = std::size_t{64} << 20;

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

// Which side of the mailbox a thread is.
enum class Side { Client, Server };

// Futex operations on a word of shared memory.
void futexWake(std::atomic<std::uint32_t>& word);
// Sleeps while `word` holds `expected`, at most `timeout`; returns at a wake or a change too.
void futexWait(std::atomic<std::uint32_t>& word, std::uint32_t expected,
               std::chrono::milliseconds timeout);
// Sleeps while every word holds its expected value (at most 128 words), at most `timeout` when
// one is given (negative: without end).
void futexWaitAny(std::span<std::atomic<std::uint32_t>* const> words,
                  std::span<const std::uint32_t> expected,
                  std::chrono::milliseconds timeout = std::chrono::milliseconds(-1));
// A pause instruction for spin loops.
inline void spinPause() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#elif defined(__aarch64__)
    asm volatile("yield");
#endif
}

// Whether and how long a side spins for the other's answer before it sleeps. Spinning pays only
// while both sides are on a processor: the answer then comes within the spin, and a sleep and a
// wake-up (two system calls and, on a busy machine, a wait for the scheduler) are saved. On a
// machine with more work than processors a spinning side only keeps the other from running.
//
// So a side spins for a budget learnt from how its spins went (an answer caught doubles it, up to
// 400 µs; a spin in vain halves it, down to 100 µs), and gives up at once when it sees that the
// processors are contended: it was itself preempted while it spun (two looks at the clock far
// apart), or the other side, spinning when the message was handed over, has not taken it within
// `handOffTime` (it spins no more, so it is not running). One such sign may be a hiccup of the
// host; at the second in a row (no answer caught between them) the side stops spinning for a
// while, 200 µs at first and twice as long at each further sign, up to 10 ms, until it catches an
// answer again. The clock is read every few spins only. One Spinner per waiting side and thread.
//
// The budget never falls below what a sleep and a wake-up cost, so that spinning never gives up
// sooner than sleeping would have answered: on a virtual machine, or any whose idle processors
// halt, waking a sleeping thread takes tens of microseconds before it runs. With a budget learnt
// down to a few microseconds, a side that had once slept made the other's spin fail too, and
// from then on every call paid two wake-ups (an export across the boundary ran 9 times as long as
// in process on an idle 2-core virtual machine, against 2.4 times with this floor).
class Spinner {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::nanoseconds minimumBudget{100000};
    static constexpr std::chrono::nanoseconds maximumBudget{400000};
    static constexpr std::chrono::nanoseconds handOffTime{10000};
    static constexpr std::chrono::nanoseconds preempted{100000};
    static constexpr unsigned clockEvery = 16; // spins between looks at the clock

    explicit Spinner(std::chrono::nanoseconds firstHold = std::chrono::microseconds(200),
                     std::chrono::nanoseconds longestHold = std::chrono::milliseconds(10))
        : firstHold_(firstHold), longestHold_(longestHold), hold_(firstHold) {}

    // Spins until `arrived()` and says true, or gives up and says false (the caller sleeps).
    // `watchPeer` says that the other side was spinning when it was handed the message;
    // `taken()` then says whether it has taken it.
    template <class Arrived, class Taken>
    bool spin(const Arrived& arrived, const Taken& taken, bool watchPeer) {
        if (arrived())
            return true;
        const auto start = Clock::now();
        if (start < holdUntil_)
            return false;
        auto last = start;
        for (unsigned n = 1;; ++n) {
            if (arrived()) {
                budget_ = std::min(budget_ * 2, maximumBudget);
                signs_ = 0;
                hold_ = firstHold_;
                return true;
            }
            spinPause();
            if (n % clockEvery != 0)
                continue;
            const auto now = Clock::now();
            if (now - last > preempted || (watchPeer && now - start > handOffTime && !taken())) {
                if (++signs_ >= 2) {
                    holdUntil_ = now + hold_;
                    hold_ = std::min(hold_ * 2, longestHold_);
                }
                return false;
            }
            if (now - start > budget_) {
                budget_ = std::max(budget_ / 2, minimumBudget);
                return false;
            }
            last = now;
        }
    }

    std::chrono::nanoseconds budget() const { return budget_; }
    // Whether spinning is held off now.
    bool holding() const { return Clock::now() < holdUntil_; }

private:
    const std::chrono::nanoseconds firstHold_, longestHold_;
    std::chrono::nanoseconds hold_;
    unsigned signs_ = 0; // signs of contention since the last answer caught
    std::chrono::nanoseconds budget_{minimumBudget};
    Clock::time_point holdUntil_{};
};

// Parts of messages larger than the mailbox (see the top). `gone()` is asked every 50 ms while
// a side waits for the other and says that the other went away (or the wait is to end).
using GoneCheck = std::function<bool()>;

// Writes `size` bytes of a message to be handed over as `state` (Request or Reply): every part
// but the last is handed over and waited for until the receiver has taken it; the last is left
// in the mailbox with its length set, for the caller to hand over as a whole message. False
// when the receiver went away meanwhile.
bool putMessage(Mailbox& box, Side side, const unsigned char* data, std::size_t size,
                std::uint32_t state, const GoneCheck& gone);

// Takes the message whose first part the mailbox holds in `state` into `message`, asking for
// and waiting for each further part. False when the sender went away or the message grew past
// maxMessage.
bool takeMessage(Mailbox& box, Side side, std::vector<unsigned char>& message, std::uint32_t state,
                 const GoneCheck& gone);

// The folder of the machine's object endpoints: <machine>/run/com, made as needed by the
// machine's owner, who alone writes it (sky::machine::runtimeFolder).
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

// The descriptors of the files a request hands over (wire 2.2) travel on the socket, in one note
// sent just before the request: "SKYF", u32 count, and the descriptors as SCM_RIGHTS. The
// request names how many it opened (wire.h); the receiver takes exactly that note.
inline constexpr std::uint32_t fileNoteMagic = 0x46594B53; // "SKYF"

// Sends the note with `fds` (at most maxHandedFiles) without waiting; false when it could not.
bool sendFiles(int socket, const std::vector<int>& fds);
// Takes the note of exactly `count` descriptors from the socket without waiting. False when the
// socket holds anything else (no note, another count, garbage, more descriptors than fit):
// every descriptor that came with it is closed then.
bool receiveFiles(int socket, std::size_t count, std::vector<int>& fds);
// Takes whatever the socket holds without waiting (a bounded number of reads), closing every
// descriptor that came with it.
void discardSocketData(int socket);
// Whether the socket holds data to read; neither waits nor takes it.
bool socketHasData(int socket);

// The user id of the process at the other end of a connected socket; false if unknown.
bool peerUser(int socket, unsigned& uid);

// Whether the other end of a connected socket has gone (end of file, or data where none may
// come); does not block.
bool peerGone(int socket);

} // namespace sky::remote
