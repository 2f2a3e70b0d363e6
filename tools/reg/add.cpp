// reg add KEY [/v NAME | /ve] [/t TYPE] [/s SEPARATOR] [/d DATA] [/f]
#include "console.h"
#include "keyname.h"
#include "operations.h"
#include "sky/registry.h"
#include "switches.h"
#include "values.h"
#include "win/errors.h"

namespace reg {

namespace {
constexpr std::u16string_view kOperation = u"ADD";
} // namespace

int add(const Arguments& arguments) {
    Switches switches;
    if (auto done = start(
            arguments, kOperation,
            {{u"v", true}, {u"ve", false}, {u"t", true}, {u"s", true}, {u"d", true}, {u"f", false}},
            1, switches))
        return *done;
    const bool hasValue = switches.has(u"v") || switches.has(u"ve");
    if (switches.has(u"v") && switches.has(u"ve"))
        return invalidSyntax(kOperation);
    KeyName name;
    if (auto done = keyOperand(switches, 0, kOperation, name))
        return *done;

    ScriptValue value;
    value.name = switches.value(u"v").value_or(u"");
    value.type = REG_SZ;
    if (auto type = switches.value(u"t")) {
        const auto known = typeFromName(*type);
        if (!known)
            return invalidSyntax(kOperation, u"Unknown value type " + *type + u".");
        value.type = *known;
    }
    std::u16string separator = u"\\0";
    if (auto given = switches.value(u"s")) {
        if (given->size() != 1)
            return invalidSyntax(kOperation, u"The separator must be one character.");
        separator = *given;
    }
    const auto data = parseData(value.type, switches.value(u"d").value_or(u""), separator);
    if (!data)
        return invalidSyntax(kOperation,
                             u"The data does not fit the type " + typeName(value.type) + u".");
    value.data = *data;

    sky::registry::Key key;
    const REGSAM rights = hasValue ? KEY_QUERY_VALUE | KEY_SET_VALUE : KEY_READ;
    if (LONG status = RegCreateKeyExW(name.root, name.subKey.c_str(), 0, nullptr, 0, rights,
                                      nullptr, key.put(), nullptr))
        return failed(status);
    if (!hasValue)
        return succeeded();
    ScriptValue existing;
    if (!switches.has(u"f") && readValue(key.get(), value.name, existing) == ERROR_SUCCESS &&
        !confirm(u"Value " + (value.name.empty() ? u"(Default)" : value.name) +
                 u" exists, overwrite"))
        return canceled();
    if (LONG status = writeValue(key.get(), value))
        return failed(status);
    return succeeded();
}

} // namespace reg
