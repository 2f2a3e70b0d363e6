// reg: the machine's registry for a person, in the syntax of the Windows command.
#include <exception>

#include "console.h"
#include "operations.h"
#include "sky/text.h"

int main(int argc, char** argv) {
    reg::Arguments arguments;
    for (int i = 2; i < argc; ++i)
        arguments.push_back(sky::widen(argv[i]));
    if (argc < 2)
        return reg::invalidSyntax(u"");
    const std::u16string operation = sky::upper(sky::widen(argv[1]));
    if (operation == u"/?" || operation == u"-?" || operation == u"--HELP") {
        reg::printHelp(u"");
        return 0;
    }
    const struct {
        const char16_t* name;
        int (*run)(const reg::Arguments&);
    } operations[] = {
        {u"QUERY", reg::query},         {u"ADD", reg::add},
        {u"DELETE", reg::remove},       {u"EXPORT", reg::exportKey},
        {u"IMPORT", reg::importScript}, {u"DENY", reg::deny},
        {u"ALLOW", reg::allow},
    };
    try {
        for (const auto& known : operations) {
            if (operation == known.name)
                return known.run(arguments);
        }
    } catch (const std::exception& error) {
        return reg::failedWith(sky::widen(error.what()));
    }
    return reg::invalidSyntax(u"");
}
