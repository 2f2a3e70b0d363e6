// Completes a parsed library: resolves base interfaces and parameter types, checks what an
// automation library must satisfy, and assigns dispatch identifiers.
//
// Dispatch identifiers follow the library's rule. A member with an id() attribute keeps it;
// "_NewEnum" is DISPID_NEWENUM (-4); any other member gets
//   high half: 0x6001 + the derivation depth of its interface (1 for one deriving from
//              IDispatch, counted through bases of other families too),
//   low half:  the position, from 0, of the first table slot its name takes among the slots the
//              interface declares itself (every propget, propput and method is one slot),
// so a setter shares its getter's identifier.
#pragma once

#include <string>

#include "model.h"

namespace idlc {

void analyze(Library& lib);

// The family stem of an interface name: the name without its trailing version digits.
std::string familyStem(const std::string& name);

// The identifier the rule gives to the own slot `position` of an interface at `depth`.
constexpr std::int32_t ruleDispid(int depth, int position) {
    return static_cast<std::int32_t>((static_cast<std::uint32_t>(0x6001 + depth) << 16) |
                                     static_cast<std::uint32_t>(position));
}

} // namespace idlc
