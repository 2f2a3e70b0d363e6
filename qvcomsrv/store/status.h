// The outcome of a farm store operation: success, or an error kind with a message written for the
// administrator who will read it ("The application Applications/Word is already published on
// server ALPHA."). The object model turns the kind into a result code and the message into the
// error description.
#pragma once

#include <cassert>
#include <optional>
#include <string>
#include <utility>

namespace sky::farm {

class [[nodiscard]] Status {
public:
    enum class Code {
        Ok,
        NotFound,        // no such application, folder, server, zone, administrator or store
        AlreadyExists,   // the name is taken, or the thing is already so
        InvalidArgument, // a value or name that the farm cannot hold
        NotSupported,    // the farm or this build does not offer it
        Busy,            // another program held the store for longer than the busy timeout
        Corrupt,         // the store is damaged or is not a farm store
        IOError,         // the file system refused (missing, read-only, full)
        Unavailable,     // the database server cannot be reached, or the connection to it broke
        AccessDenied,    // the caller may not do this (not an administrator of the farm)
        Internal,        // anything else; the message says what
    };

    Status() = default;
    static Status ok() { return Status(); }
    static Status notFound(std::string message) { return {Code::NotFound, std::move(message)}; }
    static Status alreadyExists(std::string message) {
        return {Code::AlreadyExists, std::move(message)};
    }
    static Status invalidArgument(std::string message) {
        return {Code::InvalidArgument, std::move(message)};
    }
    static Status notSupported(std::string message) {
        return {Code::NotSupported, std::move(message)};
    }
    static Status busy(std::string message) { return {Code::Busy, std::move(message)}; }
    static Status corrupt(std::string message) { return {Code::Corrupt, std::move(message)}; }
    static Status ioError(std::string message) { return {Code::IOError, std::move(message)}; }
    static Status unavailable(std::string message) {
        return {Code::Unavailable, std::move(message)};
    }
    static Status accessDenied(std::string message) {
        return {Code::AccessDenied, std::move(message)};
    }
    static Status internal(std::string message) { return {Code::Internal, std::move(message)}; }

    bool isOk() const { return code_ == Code::Ok; }
    explicit operator bool() const { return isOk(); }
    Code code() const { return code_; }
    const std::string& message() const { return message_; }

    // The same error with `context` before its message: "Applications/Word cannot be stored: "
    // and the message.
    Status withContext(const std::string& context) const {
        return isOk() ? *this : Status(code_, context + message_);
    }

    // "NotFound: There is no server named BETA in the farm." (for logs and tests).
    std::string toString() const;

private:
    Status(Code code, std::string message) : code_(code), message_(std::move(message)) {}

    Code code_ = Code::Ok;
    std::string message_;
};

const char* codeName(Status::Code code);

// A value or the error that prevented it.
template <typename T> class [[nodiscard]] Result {
public:
    Result(T value) : value_(std::move(value)) {}
    Result(Status status) : status_(std::move(status)) { assert(!status_.isOk()); }

    bool isOk() const { return value_.has_value(); }
    explicit operator bool() const { return isOk(); }
    const Status& status() const { return status_; }

    T& value() & {
        assert(isOk());
        return *value_;
    }
    const T& value() const& {
        assert(isOk());
        return *value_;
    }
    T&& value() && {
        assert(isOk());
        return std::move(*value_);
    }
    T& operator*() & { return value(); }
    const T& operator*() const& { return value(); }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }

private:
    Status status_;
    std::optional<T> value_;
};

} // namespace sky::farm
