#include "console.h"
#include "operations.h"

namespace reg {

std::optional<int> start(const Arguments& arguments, std::u16string_view operation,
                         std::initializer_list<Switch> known, std::size_t operands,
                         Switches& switches) {
    if (!switches.parse(arguments, known))
        return invalidSyntax(operation);
    if (switches.help()) {
        printHelp(operation);
        return 0;
    }
    if (switches.operands().size() != operands)
        return invalidSyntax(operation);
    return std::nullopt;
}

std::optional<int> keyOperand(const Switches& switches, std::size_t index,
                              std::u16string_view operation, KeyName& key) {
    if (!parseKeyName(switches.operands()[index], key))
        return invalidKeyName(operation);
    return std::nullopt;
}

} // namespace reg
