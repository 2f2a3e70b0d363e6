// reg deny KEY [/u USER] and reg allow KEY [/u USER]: the write denials that stand in for the
// security of keys, so a test or an administrator can make a user who may not change a key.
#include "console.h"
#include "keyname.h"
#include "operations.h"
#include "sky/registry.h"
#include "switches.h"

namespace reg {

namespace {

int change(const Arguments& arguments, std::u16string_view operation, bool deny) {
    Switches switches;
    if (auto done = start(arguments, operation, {{u"u", true}}, 1, switches))
        return *done;
    KeyName name;
    if (auto done = keyOperand(switches, 0, operation, name))
        return *done;
    const std::u16string user = switches.value(u"u").value_or(sky::registry::currentUser());
    if (user.empty())
        return invalidSyntax(operation, u"The user name is empty.");
    const LSTATUS status = deny ? sky::registry::denyWrite(name.root, name.subKey, user)
                                : sky::registry::allowWrite(name.root, name.subKey, user);
    return status ? failed(status) : succeeded();
}

} // namespace

int deny(const Arguments& arguments) {
    return change(arguments, u"DENY", true);
}

int allow(const Arguments& arguments) {
    return change(arguments, u"ALLOW", false);
}

} // namespace reg
