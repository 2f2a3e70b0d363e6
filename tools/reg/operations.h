// The operations of reg, each given the words after its name; each returns the exit code.
#pragma once

#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "keyname.h"
#include "switches.h"

namespace reg {

using Arguments = std::vector<std::u16string>;

int query(const Arguments& arguments);
int add(const Arguments& arguments);
int remove(const Arguments& arguments);
int exportKey(const Arguments& arguments);
int importScript(const Arguments& arguments);
int deny(const Arguments& arguments);
int allow(const Arguments& arguments);

// The common start of an operation: its switches read, /? answered, the count of operands
// checked. An exit code when the operation ends there.
std::optional<int> start(const Arguments& arguments, std::u16string_view operation,
                         std::initializer_list<Switch> known, std::size_t operands,
                         Switches& switches);
// The key that an operand names; an exit code when it names none.
std::optional<int> keyOperand(const Switches& switches, std::size_t index,
                              std::u16string_view operation, KeyName& key);

// Prints the usage of an operation (QUERY, ADD, ...) or, for an empty name, of reg itself.
void printHelp(std::u16string_view operation);

} // namespace reg
