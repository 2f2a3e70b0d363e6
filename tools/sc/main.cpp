// sc: the machine's services from a shell, in the syntax and output of the Windows command.
//
//   sc query NAME | queryex NAME | start NAME [ARGS...] | stop NAME | delete NAME | qc NAME
//   sc create NAME binPath= PATH [type= own|share] [start= boot|system|auto|demand|disabled]
//             [error= normal|severe|critical|ignore] [group= G] [depend= A/B] [obj= ACCOUNT]
//             [DisplayName= TEXT] [password= P]
//
// The exit code is 0 on success, else the Win32 error of the failing call (a shell sees its low
// 8 bits only; a parent on the platform sees all 32 through GetExitCodeProcess). A malformed
// command line prints the usage and ends with ERROR_INVALID_COMMAND_LINE (1639).
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "messages.h"
#include "sky/services.h"
#include "sky/text.h"
#include "win/errors.h"
#include "win/lasterror.h"
#include "win/service.h"

namespace {

const char usage[] =
    "DESCRIPTION:\n"
    "        SC is a command line program used for communicating with the\n"
    "        Service Control Manager and services.\n"
    "USAGE:\n"
    "        sc <command> [service name] <option1> <option2>...\n"
    "\n"
    "        Commands:\n"
    "          query-----------Queries the status for a service.\n"
    "          queryex---------Queries the extended status for a service.\n"
    "          start-----------Starts a service.\n"
    "          stop------------Sends a STOP request to a service.\n"
    "          qc--------------Queries the configuration information for a service.\n"
    "          create----------Creates a service. (adds it to the registry).\n"
    "          delete----------Deletes a service (from the registry).\n"
    "\n"
    "        sc create [service name] binPath= <path> [type= <own|share>]\n"
    "                  [start= <boot|system|auto|demand|disabled>]\n"
    "                  [error= <normal|severe|critical|ignore>] [group= <group>]\n"
    "                  [depend= <dependencies (separated by / (forward slash))>]\n"
    "                  [obj= <account name>] [DisplayName= <display name>]\n"
    "                  [password= <password>]\n"
    "\n"
    "        The option name includes the equal sign; a space is required\n"
    "        between the equal sign and the value.\n";

// The Windows command's report, and below it, for a manager that could not be reached, why (who
// runs the machine's manager and how it is started) on standard error.
DWORD failed(const char* call, DWORD error) {
    std::printf("[SC] %s FAILED %u:\n\n%s\n\n", call, error, sc::errorText(error).c_str());
    if (const std::string why = sky::services::lastProblem(); !why.empty())
        std::fprintf(stderr, "%s\n", why.c_str());
    return error;
}

DWORD badCommandLine() {
    std::fputs(usage, stdout);
    return ERROR_INVALID_COMMAND_LINE;
}

const char* typeName(DWORD type) {
    switch (type & ~SERVICE_INTERACTIVE_PROCESS) {
    case SERVICE_KERNEL_DRIVER:
        return "KERNEL_DRIVER";
    case SERVICE_FILE_SYSTEM_DRIVER:
        return "FILE_SYSTEM_DRIVER";
    case SERVICE_WIN32_OWN_PROCESS:
        return (type & SERVICE_INTERACTIVE_PROCESS) ? "WIN32_OWN_PROCESS (interactive)"
                                                    : "WIN32_OWN_PROCESS";
    case SERVICE_WIN32_SHARE_PROCESS:
        return (type & SERVICE_INTERACTIVE_PROCESS) ? "WIN32_SHARE_PROCESS (interactive)"
                                                    : "WIN32_SHARE_PROCESS";
    default:
        return "";
    }
}

const char* stateName(DWORD state) {
    static const char* const names[] = {
        "",        "STOPPED",          "START_PENDING", "STOP_PENDING",
        "RUNNING", "CONTINUE_PENDING", "PAUSE_PENDING", "PAUSED"};
    return state < 8 ? names[state] : "";
}

void printStatus(const std::u16string& name, const SERVICE_STATUS_PROCESS& s, bool extended) {
    std::printf("\nSERVICE_NAME: %s\n", sky::narrow(name).c_str());
    std::printf("        TYPE               : %x  %s\n", s.dwServiceType,
                typeName(s.dwServiceType));
    std::printf("        STATE              : %u  %s\n", s.dwCurrentState,
                stateName(s.dwCurrentState));
    std::printf(
        "                                (%s, %s, %s)\n",
        (s.dwControlsAccepted & SERVICE_ACCEPT_STOP) ? "STOPPABLE" : "NOT_STOPPABLE",
        (s.dwControlsAccepted & SERVICE_ACCEPT_PAUSE_CONTINUE) ? "PAUSABLE" : "NOT_PAUSABLE",
        (s.dwControlsAccepted & SERVICE_ACCEPT_SHUTDOWN) ? "ACCEPTS_SHUTDOWN" : "IGNORES_SHUTDOWN");
    std::printf("        WIN32_EXIT_CODE    : %u  (0x%x)\n", s.dwWin32ExitCode, s.dwWin32ExitCode);
    std::printf("        SERVICE_EXIT_CODE  : %u  (0x%x)\n", s.dwServiceSpecificExitCode,
                s.dwServiceSpecificExitCode);
    std::printf("        CHECKPOINT         : 0x%x\n", s.dwCheckPoint);
    std::printf("        WAIT_HINT          : 0x%x\n", s.dwWaitHint);
    if (extended) {
        std::printf("        PID                : %u\n", s.dwProcessId);
        std::printf("        FLAGS              : %s\n",
                    (s.dwServiceFlags & SERVICE_RUNS_IN_SYSTEM_PROCESS) ? "RUNS_IN_SYSTEM_PROCESS"
                                                                        : "");
    }
    std::printf("\n");
}

// The manager and one service, closed when the command ends.
class Session {
public:
    ~Session() {
        if (service_)
            CloseServiceHandle(service_);
        if (manager_)
            CloseServiceHandle(manager_);
    }
    DWORD openManager(DWORD access) {
        manager_ = OpenSCManagerW(nullptr, nullptr, access);
        return manager_ ? ERROR_SUCCESS : failed("OpenSCManager", GetLastError());
    }
    DWORD openService(const std::u16string& name, DWORD access) {
        if (const DWORD error = openManager(SC_MANAGER_CONNECT); error != ERROR_SUCCESS)
            return error;
        service_ = OpenServiceW(manager_, name.c_str(), access);
        return service_ ? ERROR_SUCCESS : failed("OpenService", GetLastError());
    }
    SC_HANDLE manager() const { return manager_; }
    SC_HANDLE service() const { return service_; }
    void setService(SC_HANDLE service) { service_ = service; }

private:
    SC_HANDLE manager_ = nullptr;
    SC_HANDLE service_ = nullptr;
};

DWORD query(const std::u16string& name, bool extended) {
    Session session;
    if (const DWORD error = session.openService(name, SERVICE_QUERY_STATUS); error != ERROR_SUCCESS)
        return error;
    SERVICE_STATUS_PROCESS status{};
    DWORD needed = 0;
    if (!QueryServiceStatusEx(session.service(), SC_STATUS_PROCESS_INFO,
                              reinterpret_cast<BYTE*>(&status), sizeof status, &needed))
        return failed(extended ? "QueryServiceStatusEx" : "QueryServiceStatus", GetLastError());
    printStatus(name, status, extended);
    return ERROR_SUCCESS;
}

DWORD start(const std::u16string& name, const std::vector<std::u16string>& arguments) {
    Session session;
    if (const DWORD error = session.openService(name, SERVICE_START | SERVICE_QUERY_STATUS);
        error != ERROR_SUCCESS)
        return error;
    std::vector<LPCWSTR> vector;
    for (const std::u16string& argument : arguments)
        vector.push_back(argument.c_str());
    if (!StartServiceW(session.service(), static_cast<DWORD>(vector.size()),
                       vector.empty() ? nullptr : vector.data()))
        return failed("StartService", GetLastError());
    SERVICE_STATUS_PROCESS status{};
    DWORD needed = 0;
    if (QueryServiceStatusEx(session.service(), SC_STATUS_PROCESS_INFO,
                             reinterpret_cast<BYTE*>(&status), sizeof status, &needed))
        printStatus(name, status, true);
    return ERROR_SUCCESS;
}

DWORD stop(const std::u16string& name) {
    Session session;
    if (const DWORD error = session.openService(name, SERVICE_STOP); error != ERROR_SUCCESS)
        return error;
    SERVICE_STATUS status{};
    if (!ControlService(session.service(), SERVICE_CONTROL_STOP, &status))
        return failed("ControlService", GetLastError());
    SERVICE_STATUS_PROCESS shown{};
    std::memcpy(&shown, &status, sizeof status);
    printStatus(name, shown, false);
    return ERROR_SUCCESS;
}

DWORD remove(const std::u16string& name) {
    Session session;
    if (const DWORD error = session.openService(name, DELETE); error != ERROR_SUCCESS)
        return error;
    if (!DeleteService(session.service()))
        return failed("DeleteService", GetLastError());
    std::printf("[SC] DeleteService SUCCESS\n");
    return ERROR_SUCCESS;
}

DWORD queryConfig(const std::u16string& name) {
    Session session;
    if (const DWORD error = session.openService(name, SERVICE_QUERY_CONFIG); error != ERROR_SUCCESS)
        return error;
    DWORD needed = 0;
    QueryServiceConfigW(session.service(), nullptr, 0, &needed);
    std::vector<BYTE> buffer(needed ? needed : sizeof(QUERY_SERVICE_CONFIGW));
    auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
    if (!QueryServiceConfigW(session.service(), config, static_cast<DWORD>(buffer.size()), &needed))
        return failed("QueryServiceConfig", GetLastError());
    static const char* const starts[] = {"BOOT_START", "SYSTEM_START", "AUTO_START", "DEMAND_START",
                                         "DISABLED"};
    static const char* const errors[] = {"IGNORE", "NORMAL", "SEVERE", "CRITICAL"};
    std::printf("[SC] QueryServiceConfig SUCCESS\n\n");
    std::printf("SERVICE_NAME: %s\n", sky::narrow(name).c_str());
    std::printf("        TYPE               : %x  %s\n", config->dwServiceType,
                typeName(config->dwServiceType));
    std::printf("        START_TYPE         : %u   %s\n", config->dwStartType,
                config->dwStartType < 5 ? starts[config->dwStartType] : "");
    std::printf("        ERROR_CONTROL      : %u   %s\n", config->dwErrorControl,
                config->dwErrorControl < 4 ? errors[config->dwErrorControl] : "");
    std::printf("        BINARY_PATH_NAME   : %s\n", sky::narrow(config->lpBinaryPathName).c_str());
    std::printf("        LOAD_ORDER_GROUP   : %s\n", sky::narrow(config->lpLoadOrderGroup).c_str());
    std::printf("        TAG                : %u\n", config->dwTagId);
    std::printf("        DISPLAY_NAME       : %s\n", sky::narrow(config->lpDisplayName).c_str());
    const WCHAR* dependency = config->lpDependencies;
    std::printf("        DEPENDENCIES       : %s\n", sky::narrow(dependency).c_str());
    if (*dependency) {
        for (dependency += sky::length(dependency) + 1; *dependency;
             dependency += sky::length(dependency) + 1)
            std::printf("                           : %s\n", sky::narrow(dependency).c_str());
    }
    std::printf("        SERVICE_START_NAME : %s\n",
                sky::narrow(config->lpServiceStartName).c_str());
    return ERROR_SUCCESS;
}

bool pick(const std::map<std::string, DWORD>& names, const std::string& value, DWORD& out) {
    for (const auto& [name, number] : names) {
        if (sky::equalNoCase(sky::widen(name), sky::widen(value))) {
            out = number;
            return true;
        }
    }
    return false;
}

DWORD create(const std::u16string& name, const std::vector<std::string>& options) {
    DWORD type = SERVICE_WIN32_OWN_PROCESS, startType = SERVICE_DEMAND_START,
          errorControl = SERVICE_ERROR_NORMAL;
    std::u16string binPath, group, account, displayName, password, dependencies;
    bool hasAccount = false, hasPassword = false;
    for (std::size_t i = 0; i < options.size(); ++i) {
        std::string option = options[i];
        std::string value;
        const std::size_t equals = option.find('=');
        if (equals == std::string::npos)
            return badCommandLine();
        if (equals + 1 < option.size()) {
            value = option.substr(equals + 1);
        } else {
            if (i + 1 >= options.size())
                return badCommandLine();
            value = options[++i];
        }
        option.resize(equals);
        const std::u16string key = sky::widen(option);
        if (sky::equalNoCase(key, u"binPath")) {
            binPath = sky::widen(value);
        } else if (sky::equalNoCase(key, u"type")) {
            if (!pick({{"own", SERVICE_WIN32_OWN_PROCESS},
                       {"share", SERVICE_WIN32_SHARE_PROCESS},
                       {"kernel", SERVICE_KERNEL_DRIVER},
                       {"filesys", SERVICE_FILE_SYSTEM_DRIVER}},
                      value, type))
                return badCommandLine();
        } else if (sky::equalNoCase(key, u"start")) {
            if (!pick({{"boot", SERVICE_BOOT_START},
                       {"system", SERVICE_SYSTEM_START},
                       {"auto", SERVICE_AUTO_START},
                       {"demand", SERVICE_DEMAND_START},
                       {"disabled", SERVICE_DISABLED}},
                      value, startType))
                return badCommandLine();
        } else if (sky::equalNoCase(key, u"error")) {
            if (!pick({{"normal", SERVICE_ERROR_NORMAL},
                       {"severe", SERVICE_ERROR_SEVERE},
                       {"critical", SERVICE_ERROR_CRITICAL},
                       {"ignore", SERVICE_ERROR_IGNORE}},
                      value, errorControl))
                return badCommandLine();
        } else if (sky::equalNoCase(key, u"group")) {
            group = sky::widen(value);
        } else if (sky::equalNoCase(key, u"depend")) {
            for (char16_t c : sky::widen(value))
                dependencies += c == u'/' ? u'\0' : c;
            dependencies += u'\0';
        } else if (sky::equalNoCase(key, u"obj")) {
            account = sky::widen(value);
            hasAccount = true;
        } else if (sky::equalNoCase(key, u"DisplayName")) {
            displayName = sky::widen(value);
        } else if (sky::equalNoCase(key, u"password")) {
            password = sky::widen(value);
            hasPassword = true;
        } else {
            return badCommandLine();
        }
    }
    if (binPath.empty())
        return badCommandLine();
    dependencies += u'\0';
    Session session;
    if (const DWORD error = session.openManager(SC_MANAGER_CREATE_SERVICE); error != ERROR_SUCCESS)
        return error;
    SC_HANDLE service = CreateServiceW(
        session.manager(), name.c_str(), displayName.empty() ? name.c_str() : displayName.c_str(),
        SERVICE_ALL_ACCESS, type, startType, errorControl, binPath.c_str(),
        group.empty() ? nullptr : group.c_str(), nullptr,
        dependencies.size() > 1 ? dependencies.c_str() : nullptr,
        hasAccount ? account.c_str() : nullptr, hasPassword ? password.c_str() : nullptr);
    if (!service)
        return failed("CreateService", GetLastError());
    session.setService(service);
    std::printf("[SC] CreateService SUCCESS\n");
    return ERROR_SUCCESS;
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty() || args[0] == "/?" || args[0] == "-?" || args[0] == "--help" ||
        args[0] == "-h") {
        std::fputs(usage, stdout);
        return 0;
    }
    const std::u16string command = sky::widen(args[0]);
    if (args.size() < 2)
        return static_cast<int>(badCommandLine());
    const std::u16string name = sky::widen(args[1]);
    const std::vector<std::string> rest(args.begin() + 2, args.end());
    DWORD result;
    if (sky::equalNoCase(command, u"query") && rest.empty())
        result = query(name, false);
    else if (sky::equalNoCase(command, u"queryex") && rest.empty())
        result = query(name, true);
    else if (sky::equalNoCase(command, u"start")) {
        std::vector<std::u16string> arguments;
        for (const std::string& arg : rest)
            arguments.push_back(sky::widen(arg));
        result = start(name, arguments);
    } else if (sky::equalNoCase(command, u"stop") && rest.empty())
        result = stop(name);
    else if (sky::equalNoCase(command, u"delete") && rest.empty())
        result = remove(name);
    else if (sky::equalNoCase(command, u"qc") && rest.empty())
        result = queryConfig(name);
    else if (sky::equalNoCase(command, u"create"))
        result = create(name, rest);
    else
        result = badCommandLine();
    std::fflush(stdout);
    return static_cast<int>(result);
}
