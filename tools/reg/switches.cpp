#include "switches.h"

#include "sky/text.h"

namespace reg {

bool Switches::parse(const std::vector<std::u16string>& arguments,
                     std::initializer_list<Switch> known) {
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::u16string& argument = arguments[i];
        const bool marked = argument.size() > 1 && (argument[0] == u'/' || argument[0] == u'-');
        if (marked && argument == u"/?") {
            help_ = true;
            continue;
        }
        if (marked && (argument == u"--help" || argument == u"-?")) {
            help_ = true;
            continue;
        }
        const Switch* match = nullptr;
        for (const Switch& candidate : known) {
            if (marked && sky::equalNoCase(std::u16string_view(argument).substr(1), candidate.name))
                match = &candidate;
        }
        if (!match) {
            operands_.push_back(argument);
            continue;
        }
        if (values_.count(match->name))
            return false;
        if (match->takesValue) {
            if (i + 1 >= arguments.size())
                return false;
            values_[match->name] = arguments[++i];
        } else {
            values_[match->name] = u"";
        }
    }
    return true;
}

std::optional<std::u16string> Switches::value(const char16_t* name) const {
    const auto found = values_.find(name);
    if (found == values_.end())
        return std::nullopt;
    return found->second;
}

} // namespace reg
