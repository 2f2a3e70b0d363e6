// reg delete KEY [/v NAME | /ve | /va] [/f]
#include "console.h"
#include "keyname.h"
#include "operations.h"
#include "sky/registry.h"
#include "switches.h"
#include "values.h"
#include "win/errors.h"

namespace reg {

namespace {
constexpr std::u16string_view kOperation = u"DELETE";
} // namespace

int remove(const Arguments& arguments) {
    Switches switches;
    if (auto done =
            start(arguments, kOperation,
                  {{u"v", true}, {u"ve", false}, {u"va", false}, {u"f", false}}, 1, switches))
        return *done;
    const int chosen = switches.has(u"v") + switches.has(u"ve") + switches.has(u"va");
    if (chosen > 1)
        return invalidSyntax(kOperation);
    KeyName name;
    if (auto done = keyOperand(switches, 0, kOperation, name))
        return *done;
    const bool force = switches.has(u"f");

    if (chosen == 0) {
        if (name.subKey.empty())
            return invalidKeyName(kOperation);
        sky::registry::Key key;
        if (LONG status = RegOpenKeyExW(name.root, name.subKey.c_str(), 0, KEY_READ, key.put()))
            return failed(status);
        key.reset();
        if (!force && !confirm(u"Permanently delete the registry key " + name.full()))
            return canceled();
        if (LONG status = SHDeleteKeyW(name.root, name.subKey.c_str()))
            return failed(status);
        return succeeded();
    }

    sky::registry::Key key;
    if (LONG status = RegOpenKeyExW(name.root, name.subKey.c_str(), 0,
                                    KEY_QUERY_VALUE | KEY_SET_VALUE, key.put()))
        return failed(status);
    std::vector<ScriptValue> values;
    if (switches.has(u"va")) {
        if (LONG status = readValues(key.get(), values))
            return failed(status);
        if (!force && !confirm(u"Delete all values under the registry key " + name.full()))
            return canceled();
    } else {
        values.emplace_back();
        values.back().name = switches.value(u"v").value_or(u"");
        if (LONG status = readValue(key.get(), values.back().name, values.back()))
            return failed(status);
        const std::u16string shown = values.back().name.empty() ? u"(Default)" : values.back().name;
        if (!force && !confirm(u"Delete the registry value " + shown))
            return canceled();
    }
    for (const auto& value : values) {
        if (LONG status = RegDeleteValueW(key.get(), value.name.c_str()))
            return failed(status);
    }
    return succeeded();
}

} // namespace reg
