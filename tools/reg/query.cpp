// reg query KEY [/v NAME | /ve] [/s] [/se SEPARATOR]
#include <string>

#include "console.h"
#include "keyname.h"
#include "operations.h"
#include "sky/registry.h"
#include "sky/text.h"
#include "switches.h"
#include "values.h"
#include "win/errors.h"

namespace reg {

namespace {

constexpr std::u16string_view kOperation = u"QUERY";
constexpr std::u16string_view kColumn = u"    ";

void showValue(const ScriptValue& value, std::u16string_view separator) {
    say(std::u16string(kColumn) + (value.name.empty() ? u"(Default)" : value.name) +
        std::u16string(kColumn) + typeName(value.type) + std::u16string(kColumn) +
        displayData(value, separator));
}

// Every key of a tree with its values, the key first.
LONG showTree(HKEY top, const KeyName& topName, std::u16string_view separator) {
    return walkTree(top, topName, [&](HKEY key, const KeyName& name) -> LONG {
        std::vector<ScriptValue> values;
        if (LONG status = readValues(key, values))
            return status;
        say(u"");
        say(name.full());
        for (const auto& value : values)
            showValue(value, separator);
        return ERROR_SUCCESS;
    });
}

// The keys of a tree that have the value, each with it.
LONG findValue(HKEY top, const KeyName& topName, const std::u16string& valueName,
               std::u16string_view separator, int& matches) {
    return walkTree(top, topName, [&](HKEY key, const KeyName& name) -> LONG {
        ScriptValue value;
        const LONG read = readStoredValue(key, valueName, value);
        if (read == ERROR_FILE_NOT_FOUND)
            return ERROR_SUCCESS;
        if (read != ERROR_SUCCESS)
            return read;
        ++matches;
        say(u"");
        say(name.full());
        showValue(value, separator);
        return ERROR_SUCCESS;
    });
}

} // namespace

int query(const Arguments& arguments) {
    Switches switches;
    if (auto done =
            start(arguments, kOperation,
                  {{u"v", true}, {u"ve", false}, {u"s", false}, {u"se", true}}, 1, switches))
        return *done;
    if (switches.has(u"v") && switches.has(u"ve"))
        return invalidSyntax(kOperation);
    KeyName name;
    if (auto done = keyOperand(switches, 0, kOperation, name))
        return *done;
    const std::u16string separator = switches.value(u"se").value_or(u"\\0");

    sky::registry::Key key;
    if (LONG status = RegOpenKeyExW(name.root, name.subKey.c_str(), 0, KEY_READ, key.put()))
        return failed(status);

    if (switches.has(u"v") || switches.has(u"ve")) {
        const std::u16string valueName = switches.value(u"v").value_or(u"");
        if (switches.has(u"s")) {
            int matches = 0;
            if (LONG status = findValue(key.get(), name, valueName, separator, matches))
                return failed(status);
            if (matches == 0)
                return failed(ERROR_FILE_NOT_FOUND);
            say(u"");
            say(u"End of search: " + sky::widen(std::to_string(matches)) + u" match(es) found.");
            return 0;
        }
        ScriptValue value;
        const LONG status = readStoredValue(key.get(), valueName, value);
        if (status == ERROR_FILE_NOT_FOUND && switches.has(u"ve")) {
            say(u"");
            say(name.full());
            say(std::u16string(kColumn) + u"(Default)" + std::u16string(kColumn) + u"REG_SZ" +
                std::u16string(kColumn) + u"(value not set)");
            say(u"");
            return 0;
        }
        if (status != ERROR_SUCCESS)
            return failed(status);
        say(u"");
        say(name.full());
        showValue(value, separator);
        say(u"");
        return 0;
    }

    if (switches.has(u"s")) {
        if (LONG status = showTree(key.get(), name, separator))
            return failed(status);
        say(u"");
        return 0;
    }
    std::vector<ScriptValue> values;
    std::vector<std::u16string> subKeys;
    if (LONG status = readValues(key.get(), values))
        return failed(status);
    if (LONG status = readSubKeys(key.get(), subKeys))
        return failed(status);
    if (!values.empty()) {
        say(u"");
        say(name.full());
        for (const auto& value : values)
            showValue(value, separator);
    }
    say(u"");
    for (const auto& subKeyName : subKeys)
        say(name.child(subKeyName).full());
    return 0;
}

} // namespace reg
