#include "core/runtime_errors.h"

namespace brask {

std::u16string_view runtimeErrorText(std::int32_t number) {
    switch (number) {
    case kInvalidCall:
        return u"Invalid procedure call or argument";
    case kOverflow:
        return u"Overflow";
    case kSubscriptOutOfRange:
        return u"Subscript out of range";
    case kTypeMismatch:
        return u"Type mismatch";
    case kObjectNotSet:
        return u"Object variable or With block variable not set";
    case kBadFileName:
        return u"Bad file name or number";
    case kFileNotFound:
        return u"File not found";
    case kPermissionDenied:
        return u"Permission denied";
    case kPathFileAccessError:
        return u"Path/File access error";
    case kPathNotFound:
        return u"Path not found";
    case kCancelError:
        return u"Cancel was selected.";
    }
    return u"Application-defined or object-defined error";
}

ToolError runtimeError(std::int32_t number, std::u16string_view detail) {
    std::u16string text(runtimeErrorText(number));
    if (!detail.empty()) {
        text += u": ";
        text += detail;
    }
    return ToolError(number, std::move(text));
}

} // namespace brask
