// The command line of an operation in the Windows manner: switches start with "/" or "-", in
// any case; "/?" asks for help. A word that is not a known switch is an operand, so Unix paths
// such as /tmp/x.reg stay operands.
#pragma once

#include <initializer_list>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace reg {

struct Switch {
    const char16_t* name; // without the leading "/", lower case
    bool takesValue;
};

class Switches {
public:
    // False for a switch given twice or one that lacks its value.
    bool parse(const std::vector<std::u16string>& arguments, std::initializer_list<Switch> known);

    bool help() const { return help_; }
    bool has(const char16_t* name) const { return values_.count(name) != 0; }
    // The value of a switch that takes one; nullopt when not given.
    std::optional<std::u16string> value(const char16_t* name) const;
    const std::vector<std::u16string>& operands() const { return operands_; }

private:
    bool help_ = false;
    std::map<std::u16string, std::u16string> values_;
    std::vector<std::u16string> operands_;
};

} // namespace reg
