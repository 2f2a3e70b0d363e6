#include "qvcomsrv/store/status.h"

namespace sky::farm {

const char* codeName(Status::Code code) {
    switch (code) {
    case Status::Code::Ok:
        return "OK";
    case Status::Code::NotFound:
        return "NotFound";
    case Status::Code::AlreadyExists:
        return "AlreadyExists";
    case Status::Code::InvalidArgument:
        return "InvalidArgument";
    case Status::Code::NotSupported:
        return "NotSupported";
    case Status::Code::Busy:
        return "Busy";
    case Status::Code::Corrupt:
        return "Corrupt";
    case Status::Code::IOError:
        return "IOError";
    case Status::Code::Unavailable:
        return "Unavailable";
    case Status::Code::AccessDenied:
        return "AccessDenied";
    case Status::Code::Internal:
        return "Internal";
    }
    return "Unknown";
}

std::string Status::toString() const {
    if (isOk())
        return "OK";
    return std::string(codeName(code_)) + ": " + message_;
}

} // namespace sky::farm
