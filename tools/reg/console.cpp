#include "console.h"

#include <iostream>
#include <string>

#include "sky/registry.h"
#include "sky/text.h"
#include "win/errors.h"

namespace reg {

std::u16string errorText(LONG code) {
    switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        return u"The system was unable to find the specified registry key or value.";
    case ERROR_ACCESS_DENIED:
        return u"Access is denied.";
    case ERROR_BAD_PATHNAME:
        return u"Invalid key name.";
    case ERROR_KEY_DELETED:
        return u"Illegal operation attempted on a registry key that has been marked for "
               u"deletion.";
    case ERROR_INVALID_PARAMETER:
        return u"The parameter is incorrect.";
    case ERROR_OUTOFMEMORY:
        return u"Not enough memory resources are available to complete this operation.";
    case ERROR_REGISTRY_CORRUPT:
    case ERROR_BADDB:
    case ERROR_REGISTRY_IO_FAILED: {
        std::u16string problem = sky::widen(sky::registry::lastHiveProblem());
        if (problem.empty())
            problem = u"the registry hive " + sky::widen(sky::registry::hivePath().string()) +
                      u" cannot be used";
        problem[0] = sky::foldUpper(problem[0]);
        return problem + u".";
    }
    default:
        return u"The registry reported error " + sky::widen(std::to_string(code)) + u".";
    }
}

namespace {

void sayError(std::u16string_view message) {
    std::cout.flush();
    std::cerr << "ERROR: " << sky::narrow(message) << '\n';
}

} // namespace

void say(std::u16string_view line) {
    std::cout << sky::narrow(line) << '\n';
}

int succeeded() {
    say(u"The operation completed successfully.");
    return 0;
}

int failed(LONG code) {
    sayError(errorText(code));
    return 1;
}

int failedWith(std::u16string_view message) {
    sayError(message);
    return 1;
}

int invalidSyntax(std::u16string_view operation, std::u16string_view detail) {
    sayError(u"Invalid syntax." + (detail.empty() ? u"" : u" " + std::u16string(detail)));
    std::cerr << "Type \"REG " << sky::narrow(operation) << (operation.empty() ? "" : " ")
              << "/?\" for usage.\n";
    return 1;
}

int invalidKeyName(std::u16string_view operation) {
    sayError(u"Invalid key name.");
    std::cerr << "Type \"REG " << sky::narrow(operation) << " /?\" for usage.\n";
    return 1;
}

int canceled() {
    say(u"The operation was canceled by the user.");
    return 1;
}

bool confirm(std::u16string_view question) {
    std::cout << sky::narrow(question) << " (Yes/No)? " << std::flush;
    std::string answer;
    if (!std::getline(std::cin, answer)) {
        std::cout << '\n';
        return false;
    }
    while (!answer.empty() && (answer.back() == '\r' || answer.back() == ' '))
        answer.pop_back();
    const std::u16string folded = sky::upper(sky::widen(answer));
    return folded == u"Y" || folded == u"YES";
}

} // namespace reg
