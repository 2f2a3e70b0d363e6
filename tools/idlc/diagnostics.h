// Errors in an IDL file: "file:line:col: error: message", thrown at the first fault.
#pragma once

#include <stdexcept>
#include <string>

#include "model.h"

namespace idlc {

class CompileError : public std::runtime_error {
public:
    CompileError(const Location& where, const std::string& message)
        : std::runtime_error(where.file + ":" + std::to_string(where.line) + ":" +
                             std::to_string(where.column) + ": error: " + message),
          where_(where) {}
    const Location& where() const { return where_; }

private:
    Location where_;
};

} // namespace idlc
