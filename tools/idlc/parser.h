// Recursive-descent parser for the MIDL subset that object libraries use: library, importlib,
// interface (with forward declarations), coclass, typedef enum, cpp_quote and import. The first
// fault ends the parse with a CompileError.
#pragma once

#include <string>
#include <string_view>

#include "model.h"

namespace idlc {

// How deep parentheses and unary operators may nest in a constant expression.
inline constexpr int kMaxExpressionNesting = 256;

// Parses one IDL file into a library. Names are not resolved here; see analyze().
Library parse(const std::string& fileName, std::string_view source);

// Parses GUID text "ED62F4E0-63C2-11D4-94D8-00C04FB0F326" (braces allowed); false if malformed.
bool parseGuid(std::string_view text, GUID& guid);

} // namespace idlc
