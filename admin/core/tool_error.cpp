#include "core/tool_error.h"

#include "sky/text.h"

namespace brask {

ToolError::ToolError(std::int32_t number, std::u16string description)
    : number_(number), description_(std::move(description)), what_(sky::narrow(description_)) {}

} // namespace brask
