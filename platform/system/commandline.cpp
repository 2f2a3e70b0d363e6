// The process's command line in Windows form, and CommandLineToArgvW.
//
// A program started through CreateProcessW receives its exact command line from its parent
// (SKY_COMMAND_LINE), which is used as long as it still matches the arguments the process really
// has. Any other program gets its arguments quoted by the Windows rules, so that CommandLineToArgvW
// gives them back.
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <vector>

#include "child_channel.h"
#include "sky/commandline.h"
#include "sky/machine.h"
#include "sky/text.h"
#include "win/environment.h"
#include "win/errors.h"
#include "win/lasterror.h"

namespace {

// The command line a parent handed over, taken (and removed from the environment) when the
// library loads, before main() runs and before any thread can start a program.
std::string takeHandedCommandLine() {
    std::string line;
    if (const char* value = std::getenv(sky::child::commandLineVariable)) {
        line = value;
        unsetenv(sky::child::commandLineVariable);
    }
    return line;
}

const std::string handedCommandLine = takeHandedCommandLine();

std::vector<std::string> hostArguments() {
    std::ifstream file("/proc/self/cmdline", std::ios::binary);
    const std::string data((std::istreambuf_iterator<char>(file)),
                           std::istreambuf_iterator<char>());
    std::vector<std::string> arguments;
    for (std::size_t start = 0; start < data.size();) {
        const std::size_t end = data.find('\0', start);
        arguments.push_back(data.substr(start, end - start));
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    return arguments;
}

// argv[0] as given, in Windows form: a path with slashes gets backslashes (an absolute path its
// drive), a bare name stays as it is.
std::u16string windowsProgramName(const std::string& program) {
    if (program.find('/') == std::string::npos)
        return sky::widen(program);
    if (program[0] == '/')
        return sky::machine::toWindowsPath(program);
    std::u16string name = sky::widen(program);
    for (auto& c : name)
        if (c == u'/')
            c = u'\\';
    return name;
}

bool matchesArguments(const std::vector<std::u16string>& split,
                      const std::vector<std::string>& host) {
    if (split.empty())
        return host.size() <= 1;
    if (split.size() != host.size())
        return false;
    for (std::size_t i = 1; i < split.size(); ++i)
        if (sky::narrow(split[i]) != host[i])
            return false;
    return true;
}

std::u16string computeCommandLine() {
    const std::vector<std::string> host = hostArguments();
    if (!handedCommandLine.empty()) {
        std::u16string line = sky::widen(handedCommandLine);
        // The parent made the arguments from it by the C runtime's rule.
        if (matchesArguments(sky::splitCommandLine(line, sky::DoubledQuote::KeepsQuoting), host))
            return line;
    }
    std::vector<std::u16string> arguments;
    for (std::size_t i = 0; i < host.size(); ++i)
        arguments.push_back(i == 0 ? windowsProgramName(host[0]) : sky::widen(host[i]));
    return sky::joinCommandLine(arguments);
}

std::u16string programFilePath() {
    std::string buffer(4096, '\0');
    const ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
    if (n <= 0)
        return {};
    buffer.resize(static_cast<std::size_t>(n));
    return sky::machine::toWindowsPath(buffer);
}

} // namespace

extern "C" LPWSTR WINAPI GetCommandLineW() {
    static std::once_flag once;
    static std::u16string* line = nullptr;
    std::call_once(once, [] { line = new std::u16string(computeCommandLine()); });
    return line->data();
}

extern "C" LPWSTR* WINAPI CommandLineToArgvW(LPCWSTR lpCmdLine, int* pNumArgs) {
    if (!pNumArgs) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    std::vector<std::u16string> arguments;
    if (lpCmdLine && *lpCmdLine)
        arguments = sky::splitCommandLine(lpCmdLine);
    else
        arguments.push_back(programFilePath());

    // One block: the pointers (with a NULL after the last), then the strings.
    std::size_t units = 0;
    for (const auto& argument : arguments)
        units += argument.size() + 1;
    const std::size_t pointers = (arguments.size() + 1) * sizeof(LPWSTR);
    auto* block = static_cast<LPWSTR*>(LocalAlloc(LMEM_FIXED, pointers + units * sizeof(WCHAR)));
    if (!block)
        return nullptr;
    auto* text = reinterpret_cast<WCHAR*>(reinterpret_cast<char*>(block) + pointers);
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        block[i] = text;
        std::memcpy(text, arguments[i].c_str(), (arguments[i].size() + 1) * sizeof(WCHAR));
        text += arguments[i].size() + 1;
    }
    block[arguments.size()] = nullptr;
    *pNumArgs = static_cast<int>(arguments.size());
    return block;
}
