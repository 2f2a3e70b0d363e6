// The messages of the service manager's two channels, and how they travel.
//
// A frame is a 32-bit little-endian length followed by that many bytes: the message kind (32
// bits), then its fields, each a 32-bit number or a counted UTF-16 string (32-bit count of code
// units, then the units). Frames longer than maximumFrame, and messages whose fields run past
// their frame, are refused: the connection is then dropped.
//
// Clients (the Win32 calls) talk to the manager over its socket: one request, one reply, in turn.
// A reply starts with a Win32 error code. A service process talks to the manager over the socket
// pair it inherits (channelVariable names its descriptor).
//
// Header-only, so that the manager program and the library each compile what they use.
#pragma once

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "win/service.h"
#include "win/types.h"

namespace sky::services {

inline constexpr std::size_t maximumFrame = 1u << 20;

// The variable through which a service process learns its channel's descriptor.
inline constexpr char channelVariable[] = "SKY_SERVICE_CHANNEL";

// Requests of a client, each answered by an error code and what the request names.
enum class Request : DWORD {
    Hello = 1,    // -> error (ERROR_ACCESS_DENIED for a caller who is no user of the machine)
    Query = 2,    // name -> error, SERVICE_STATUS_PROCESS
    Start = 3,    // name, argument count, arguments -> error
    Control = 4,  // name, code -> error, SERVICE_STATUS
    Delete = 5,   // name -> error
    Shutdown = 6, // -> error; every running service is sent the shutdown control and ends
};

// Messages between the manager and a service process.
enum class Channel : DWORD {
    Connect = 1,     // service: the dispatcher is ready
    Start = 2,       // manager: name, argument count, arguments
    Status = 3,      // service: the seven fields of SERVICE_STATUS
    Control = 4,     // manager: code
    ControlDone = 5, // service: the handler has returned
    Finished = 6,    // manager: the service has reported SERVICE_STOPPED; the dispatcher returns
};

class Writer {
public:
    template <class Kind> explicit Writer(Kind kind) { number(static_cast<DWORD>(kind)); }

    Writer& number(DWORD value) {
        for (int i = 0; i < 4; ++i)
            bytes_.push_back(static_cast<char>((value >> (8 * i)) & 0xFFu));
        return *this;
    }
    Writer& text(std::u16string_view value) {
        number(static_cast<DWORD>(value.size()));
        for (char16_t unit : value) {
            bytes_.push_back(static_cast<char>(unit & 0xFFu));
            bytes_.push_back(static_cast<char>(unit >> 8));
        }
        return *this;
    }
    Writer& status(const SERVICE_STATUS& s) {
        return number(s.dwServiceType)
            .number(s.dwCurrentState)
            .number(s.dwControlsAccepted)
            .number(s.dwWin32ExitCode)
            .number(s.dwServiceSpecificExitCode)
            .number(s.dwCheckPoint)
            .number(s.dwWaitHint);
    }
    const std::string& bytes() const { return bytes_; }

private:
    std::string bytes_;
};

// Reads the fields of one frame; a read past its end leaves ok() false and gives zeros.
class Reader {
public:
    explicit Reader(std::string_view bytes) : bytes_(bytes) {}

    DWORD number() {
        if (bytes_.size() - position_ < 4 || !ok_) {
            ok_ = false;
            return 0;
        }
        DWORD value = 0;
        for (int i = 0; i < 4; ++i)
            value |= static_cast<DWORD>(static_cast<unsigned char>(bytes_[position_ + i]))
                     << (8 * i);
        position_ += 4;
        return value;
    }
    std::u16string text() {
        const DWORD count = number();
        if (!ok_ || (bytes_.size() - position_) / 2 < count) {
            ok_ = false;
            return {};
        }
        std::u16string value(count, u'\0');
        for (DWORD i = 0; i < count; ++i) {
            value[i] =
                static_cast<char16_t>(static_cast<unsigned char>(bytes_[position_]) |
                                      (static_cast<unsigned char>(bytes_[position_ + 1]) << 8));
            position_ += 2;
        }
        return value;
    }
    SERVICE_STATUS status() {
        SERVICE_STATUS s{};
        s.dwServiceType = number();
        s.dwCurrentState = number();
        s.dwControlsAccepted = number();
        s.dwWin32ExitCode = number();
        s.dwServiceSpecificExitCode = number();
        s.dwCheckPoint = number();
        s.dwWaitHint = number();
        return s;
    }
    bool ok() const { return ok_; }

private:
    std::string_view bytes_;
    std::size_t position_ = 0;
    bool ok_ = true;
};

namespace detail {
inline bool sendAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}
inline bool receiveAll(int fd, char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::recv(fd, data, size, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}
} // namespace detail

inline bool sendFrame(int fd, const Writer& message) {
    const std::string& bytes = message.bytes();
    std::string frame(4, '\0');
    const auto size = static_cast<std::uint32_t>(bytes.size());
    for (int i = 0; i < 4; ++i)
        frame[i] = static_cast<char>((size >> (8 * i)) & 0xFFu);
    frame += bytes;
    return detail::sendAll(fd, frame.data(), frame.size());
}

// The next frame, or nothing when the peer has gone or sent a frame too long.
inline std::optional<std::string> receiveFrame(int fd) {
    unsigned char header[4];
    if (!detail::receiveAll(fd, reinterpret_cast<char*>(header), 4))
        return std::nullopt;
    const std::uint32_t size = header[0] | (header[1] << 8) | (header[2] << 16) |
                               (static_cast<std::uint32_t>(header[3]) << 24);
    if (size > maximumFrame)
        return std::nullopt;
    std::string bytes(size, '\0');
    if (!detail::receiveAll(fd, bytes.data(), size))
        return std::nullopt;
    return bytes;
}

} // namespace sky::services
