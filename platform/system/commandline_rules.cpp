// Splitting and quoting Windows command lines.
#include "sky/commandline.h"

namespace sky {

namespace {

bool isBlank(char16_t c) {
    return c == u' ' || c == u'\t';
}

} // namespace

std::vector<std::u16string> splitCommandLine(std::u16string_view line, DoubledQuote rule) {
    std::vector<std::u16string> arguments;
    if (line.empty())
        return arguments;
    std::size_t i = 0;
    // The program name: to the next quote if it starts with one, else to the first blank.
    std::u16string program;
    if (line[0] == u'"') {
        const std::size_t close = line.find(u'"', 1);
        program = line.substr(1, close == std::u16string_view::npos ? close : close - 1);
        i = close == std::u16string_view::npos ? line.size() : close + 1;
    } else {
        while (i < line.size() && !isBlank(line[i]))
            program.push_back(line[i++]);
    }
    arguments.push_back(std::move(program));

    std::u16string current;
    bool started = false;
    bool quoted = false;
    while (i < line.size()) {
        const char16_t c = line[i];
        if (isBlank(c) && !quoted) {
            if (started)
                arguments.push_back(std::move(current));
            current.clear();
            started = false;
            ++i;
            continue;
        }
        started = true;
        if (c == u'\\') {
            std::size_t backslashes = 0;
            while (i < line.size() && line[i] == u'\\') {
                ++backslashes;
                ++i;
            }
            if (i < line.size() && line[i] == u'"') {
                current.append(backslashes / 2, u'\\');
                if (backslashes % 2 == 1) {
                    current.push_back(u'"');
                    ++i;
                }
            } else {
                current.append(backslashes, u'\\');
            }
        } else if (c == u'"') {
            if (quoted && i + 1 < line.size() && line[i + 1] == u'"') {
                current.push_back(u'"');
                i += 2;
                quoted = rule == DoubledQuote::KeepsQuoting;
            } else {
                quoted = !quoted;
                ++i;
            }
        } else {
            current.push_back(c);
            ++i;
        }
    }
    if (started)
        arguments.push_back(std::move(current));
    return arguments;
}

std::u16string quoteArgument(std::u16string_view argument) {
    if (!argument.empty() && argument.find_first_of(u" \t\n\v\"") == std::u16string_view::npos)
        return std::u16string(argument);
    std::u16string out = u"\"";
    for (std::size_t i = 0;; ++i) {
        std::size_t backslashes = 0;
        while (i < argument.size() && argument[i] == u'\\') {
            ++backslashes;
            ++i;
        }
        if (i == argument.size()) {
            // Before the closing quote every backslash is doubled.
            out.append(backslashes * 2, u'\\');
            break;
        }
        if (argument[i] == u'"') {
            out.append(backslashes * 2 + 1, u'\\');
        } else {
            out.append(backslashes, u'\\');
        }
        out.push_back(argument[i]);
    }
    out.push_back(u'"');
    return out;
}

std::u16string quoteProgramName(std::u16string_view program) {
    std::u16string name;
    for (char16_t c : program)
        if (c != u'"')
            name.push_back(c);
    if (name.empty() || name.find_first_of(u" \t") != std::u16string::npos)
        return u"\"" + name + u"\"";
    return name;
}

std::u16string joinCommandLine(const std::vector<std::u16string>& arguments) {
    std::u16string line;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        if (i > 0)
            line.push_back(u' ');
        line += i == 0 ? quoteProgramName(arguments[i]) : quoteArgument(arguments[i]);
    }
    return line;
}

} // namespace sky
