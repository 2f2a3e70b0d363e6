// The client side of the service manager: OpenSCManagerW and the calls on its handles.
//
// A manager handle holds one connection to the machine's service manager (started on demand);
// the service handles opened through it share that connection. Configuration is read and written
// in the registry by the caller itself, with the caller's rights there; what concerns running
// services (status, start, controls, deletion of a running service) is asked of the manager.
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "service_key.h"
#include "sky/machine.h"
#include "sky/services.h"
#include "sky/text.h"
#include "win/errors.h"
#include "win/lasterror.h"
#include "win/registry.h"
#include "win/service.h"
#include "wire.h"

namespace sky::services {

namespace {

class Connection {
public:
    explicit Connection(int fd) : fd_(fd) {}
    ~Connection() { close(fd_); }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // Sends a request and returns its reply, or nothing when the manager has gone.
    std::optional<std::string> ask(const Writer& request) {
        std::lock_guard lock(mutex_);
        if (!sendFrame(fd_, request))
            return std::nullopt;
        return receiveFrame(fd_);
    }

private:
    const int fd_;
    std::mutex mutex_;
};

thread_local std::string problem;

DWORD failWithProblem(DWORD error, std::string text) {
    problem = std::move(text);
    return error;
}

// Starts the manager program for this machine. It puts itself in the background at once (the
// process started here ends and is reaped), closes the standard handles and listens.
bool startManager(const std::filesystem::path& machineDirectory) {
    const std::string program = managerProgram().string();
    const std::string machine = machineDirectory.string();
    char* argv[] = {const_cast<char*>(program.c_str()), const_cast<char*>(machine.c_str()),
                    nullptr};
    pid_t pid = 0;
    if (posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv, environ) != 0)
        return false;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return true;
}

// How the owner keeps the machine's manager running, for the error that a user who may not
// start it gets.
std::string howTheOwnerStartsIt(const std::filesystem::path& machine, uid_t owner) {
    return "The service manager of the machine " + machine.string() +
           " is not running, and only the machine's owner (" + accountName(owner) +
           ") starts it. The owner keeps it running with \"" + managerProgram().string() +
           " --foreground " + machine.string() +
           "\" (or its systemd unit, see docs/installation.md); any service call of the "
           "owner's (\"sc query QVCom\") also starts it until it is idle.";
}

// Connects to the machine's manager, and greets it once the peer has shown to be the machine's
// owner: nothing is said to anybody else, who could only be squatting on the name (its folder is
// the owner's alone). Where nobody listens, a process of the owner starts the manager; anybody
// else fails at once, told how the owner starts it. The greeting proves the manager has taken
// the connection: one that was ending just then is left for a new one. Every retry waits a little
// longer, up to 100 ms, and all of them end after 20 s.
DWORD connectToManager(std::shared_ptr<Connection>& connection) {
    problem.clear();
    const std::filesystem::path machineDirectory = machine::root();
    const std::filesystem::path socketFile = managerSocket(machineDirectory);
    const uid_t owner = machine::owner();
    const bool mayStart = geteuid() == owner;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    auto pause = std::chrono::milliseconds(5);
    auto lastStart = std::chrono::steady_clock::time_point{};
    int unanswered = 0;
    for (;; std::this_thread::sleep_for(pause),
            pause = std::min(pause * 2, std::chrono::milliseconds(100))) {
        if (std::chrono::steady_clock::now() >= deadline)
            return failWithProblem(RPC_S_SERVER_UNAVAILABLE, "The service manager of the machine " +
                                                                 machineDirectory.string() +
                                                                 " did not answer within 20 s.");
        const int fd =
            sky::services::connectTo(socketFile.parent_path(), socketFile.filename().string());
        if (fd < 0) {
            const int error = errno;
            if (error == EACCES || error == EPERM)
                return failWithProblem(ERROR_ACCESS_DENIED, "This account (" +
                                                                accountName(geteuid()) +
                                                                ") is not a user of the machine " +
                                                                machineDirectory.string() + ".");
            // Nobody listens (yet). A manager just started takes a moment to bind; one that was
            // found ending has released the name by the next try.
            if (!mayStart)
                return failWithProblem(RPC_S_SERVER_UNAVAILABLE,
                                       howTheOwnerStartsIt(machineDirectory, owner));
            const auto now = std::chrono::steady_clock::now();
            if (now - lastStart >= std::chrono::milliseconds(500)) {
                if (!startManager(machineDirectory))
                    return failWithProblem(RPC_S_SERVER_UNAVAILABLE, "The service manager " +
                                                                         managerProgram().string() +
                                                                         " cannot be started.");
                lastStart = now;
                pause = std::chrono::milliseconds(5);
            }
            continue;
        }
        auto candidate = std::make_shared<Connection>(fd);
        Peer peer;
        if (!peerOf(fd, peer) || peer.uid != owner)
            return failWithProblem(
                ERROR_WRONG_TARGET_NAME,
                "The service manager's socket " + socketFile.string() + " is held by " +
                    (peer.uid == static_cast<uid_t>(-1) ? std::string("an unknown account")
                                                        : "the account " + accountName(peer.uid)) +
                    ", not by the machine's owner (" + accountName(owner) +
                    "): nothing was sent to it.");
        const auto reply = candidate->ask(Writer(Request::Hello));
        if (!reply) {
            // A manager that was ending as it was reached: another try, a few at most.
            if (++unanswered > 5)
                return failWithProblem(RPC_S_SERVER_UNAVAILABLE,
                                       "The service manager of the machine " +
                                           machineDirectory.string() +
                                           " ends every connection without answering.");
            continue;
        }
        Reader reader(*reply);
        const DWORD error = reader.number();
        if (!reader.ok())
            return RPC_S_SERVER_UNAVAILABLE;
        if (error == ERROR_SUCCESS)
            connection = std::move(candidate);
        else if (error == ERROR_ACCESS_DENIED)
            problem = "This account (" + accountName(geteuid()) +
                      ") is not a user of the machine " + machineDirectory.string() +
                      ": its users are its owner and the members of its group.";
        return error;
    }
}

struct ScObject {
    std::shared_ptr<Connection> connection;
    bool manager = false;
    DWORD access = 0;
    std::u16string name; // the service's name as its key is written
};

std::mutex tableMutex;
std::map<std::uintptr_t, std::shared_ptr<ScObject>> table;
std::uintptr_t nextHandle = 0x1000;

SC_HANDLE insert(std::shared_ptr<ScObject> object) {
    std::lock_guard lock(tableMutex);
    nextHandle += 8;
    table[nextHandle] = std::move(object);
    return reinterpret_cast<SC_HANDLE>(nextHandle);
}

std::shared_ptr<ScObject> find(SC_HANDLE handle, bool manager) {
    std::lock_guard lock(tableMutex);
    const auto it = table.find(reinterpret_cast<std::uintptr_t>(handle));
    if (it == table.end() || it->second->manager != manager)
        return nullptr;
    return it->second;
}

DWORD managerAccess(DWORD access) {
    if (access & GENERIC_READ)
        access |= SC_MANAGER_ENUMERATE_SERVICE | SC_MANAGER_QUERY_LOCK_STATUS;
    if (access & GENERIC_WRITE)
        access |= SC_MANAGER_CREATE_SERVICE | SC_MANAGER_MODIFY_BOOT_CONFIG;
    if (access & GENERIC_EXECUTE)
        access |= SC_MANAGER_CONNECT | SC_MANAGER_LOCK;
    if (access & GENERIC_ALL)
        access |= SC_MANAGER_ALL_ACCESS;
    return access;
}

DWORD serviceAccess(DWORD access) {
    if (access & GENERIC_READ)
        access |= SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS | SERVICE_INTERROGATE |
                  SERVICE_ENUMERATE_DEPENDENTS;
    if (access & GENERIC_WRITE)
        access |= SERVICE_CHANGE_CONFIG;
    if (access & GENERIC_EXECUTE)
        access |=
            SERVICE_START | SERVICE_STOP | SERVICE_PAUSE_CONTINUE | SERVICE_USER_DEFINED_CONTROL;
    if (access & GENERIC_ALL)
        access |= SERVICE_ALL_ACCESS;
    return access;
}

BOOL falseWithLastError(DWORD error) {
    SetLastError(error);
    return FALSE;
}

template <class T> T* failWith(DWORD error) {
    SetLastError(error);
    return nullptr;
}

// The service behind a handle that carries a right, or null with the last error set.
std::shared_ptr<ScObject> serviceWith(SC_HANDLE handle, DWORD right) {
    auto service = find(handle, false);
    if (!service) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if ((service->access & right) != right) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    return service;
}

// Asks the manager; the reply's error code is checked and the rest left in the reader.
std::optional<Reader> ask(const ScObject& object, const Writer& request, std::string& reply) {
    auto answer = object.connection->ask(request);
    if (!answer) {
        SetLastError(RPC_S_SERVER_UNAVAILABLE);
        return std::nullopt;
    }
    reply = std::move(*answer);
    Reader reader(reply);
    const DWORD error = reader.number();
    if (!reader.ok()) {
        SetLastError(RPC_S_SERVER_UNAVAILABLE);
        return std::nullopt;
    }
    if (error != ERROR_SUCCESS) {
        SetLastError(error);
        return std::nullopt;
    }
    return reader;
}

std::u16string textOf(LPCWSTR text) {
    return text ? std::u16string(text) : std::u16string();
}

std::u16string multiStringOf(LPCWSTR list) {
    std::u16string data;
    if (!list)
        return data;
    while (*list) {
        const std::u16string one(list);
        data += one;
        data += u'\0';
        list += one.size() + 1;
    }
    return data;
}

LSTATUS setText(HKEY key, const WCHAR* name, DWORD type, const std::u16string& data) {
    return RegSetValueExW(key, name, 0, type, reinterpret_cast<const BYTE*>(data.c_str()),
                          static_cast<DWORD>((data.size() + 1) * sizeof(WCHAR)));
}

LSTATUS setNumber(HKEY key, const WCHAR* name, DWORD value) {
    return RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                          sizeof value);
}

bool validServiceName(LPCWSTR name) {
    if (!name || !*name)
        return false;
    const std::u16string_view text(name);
    return text.size() <= 256 && text.find_first_of(u"\\/") == std::u16string_view::npos;
}

} // namespace

std::string lastProblem() {
    return problem;
}

DWORD shutdownServices() {
    std::shared_ptr<Connection> connection;
    if (const DWORD error = connectToManager(connection); error != ERROR_SUCCESS)
        return error;
    const auto reply = connection->ask(Writer(Request::Shutdown));
    if (!reply)
        return RPC_S_SERVER_UNAVAILABLE;
    Reader reader(*reply);
    return reader.number();
}

} // namespace sky::services

using namespace sky::services;

extern "C" SC_HANDLE WINAPI OpenSCManagerW(LPCWSTR lpMachineName, LPCWSTR lpDatabaseName,
                                           DWORD dwDesiredAccess) {
    if (lpMachineName && *lpMachineName) {
        // Only this machine has a manager here: its own names are accepted.
        std::u16string name(lpMachineName);
        if (name.starts_with(u"\\\\"))
            name.erase(0, 2);
        if (!sky::equalNoCase(name, u"localhost") && !sky::equalNoCase(name, u".") &&
            !sky::equalNoCase(name, u"127.0.0.1"))
            return failWith<SC_HANDLE__>(RPC_S_SERVER_UNAVAILABLE);
    }
    if (lpDatabaseName && !sky::equalNoCase(lpDatabaseName, SERVICES_ACTIVE_DATABASEW))
        return failWith<SC_HANDLE__>(ERROR_DATABASE_DOES_NOT_EXIST);
    auto object = std::make_shared<ScObject>();
    object->manager = true;
    object->access = managerAccess(dwDesiredAccess) | SC_MANAGER_CONNECT;
    if (const DWORD error = connectToManager(object->connection); error != ERROR_SUCCESS)
        return failWith<SC_HANDLE__>(error);
    SetLastError(ERROR_SUCCESS);
    return insert(std::move(object));
}

extern "C" SC_HANDLE WINAPI OpenServiceW(SC_HANDLE hSCManager, LPCWSTR lpServiceName,
                                         DWORD dwDesiredAccess) {
    const auto manager = find(hSCManager, true);
    if (!manager)
        return failWith<SC_HANDLE__>(ERROR_INVALID_HANDLE);
    if (!lpServiceName)
        return failWith<SC_HANDLE__>(ERROR_INVALID_ADDRESS);
    if (!validServiceName(lpServiceName))
        return failWith<SC_HANDLE__>(ERROR_INVALID_NAME);
    ServiceConfig config;
    const DWORD error = findService(lpServiceName, config);
    if (error != ERROR_SUCCESS)
        return failWith<SC_HANDLE__>(error);
    auto object = std::make_shared<ScObject>();
    object->connection = manager->connection;
    object->access = serviceAccess(dwDesiredAccess);
    object->name = config.name;
    SetLastError(ERROR_SUCCESS);
    return insert(std::move(object));
}

extern "C" SC_HANDLE WINAPI CreateServiceW(SC_HANDLE hSCManager, LPCWSTR lpServiceName,
                                           LPCWSTR lpDisplayName, DWORD dwDesiredAccess,
                                           DWORD dwServiceType, DWORD dwStartType,
                                           DWORD dwErrorControl, LPCWSTR lpBinaryPathName,
                                           LPCWSTR lpLoadOrderGroup, LPDWORD lpdwTagId,
                                           LPCWSTR lpDependencies, LPCWSTR lpServiceStartName,
                                           LPCWSTR) {
    const auto manager = find(hSCManager, true);
    if (!manager)
        return failWith<SC_HANDLE__>(ERROR_INVALID_HANDLE);
    if (!(manager->access & SC_MANAGER_CREATE_SERVICE))
        return failWith<SC_HANDLE__>(ERROR_ACCESS_DENIED);
    if (!lpServiceName)
        return failWith<SC_HANDLE__>(ERROR_INVALID_ADDRESS);
    if (!validServiceName(lpServiceName))
        return failWith<SC_HANDLE__>(ERROR_INVALID_NAME);
    const DWORD baseType = dwServiceType & ~SERVICE_INTERACTIVE_PROCESS;
    if ((baseType != SERVICE_WIN32_OWN_PROCESS && baseType != SERVICE_WIN32_SHARE_PROCESS &&
         baseType != SERVICE_KERNEL_DRIVER && baseType != SERVICE_FILE_SYSTEM_DRIVER) ||
        dwStartType > SERVICE_DISABLED || dwErrorControl > SERVICE_ERROR_CRITICAL ||
        !lpBinaryPathName || !*lpBinaryPathName || lpdwTagId)
        return failWith<SC_HANDLE__>(ERROR_INVALID_PARAMETER);
    ServiceConfig existing;
    if (readServiceConfig(lpServiceName, existing) == ERROR_SUCCESS)
        return failWith<SC_HANDLE__>(existing.markedForDelete ? ERROR_SERVICE_MARKED_FOR_DELETE
                                                              : ERROR_SERVICE_EXISTS);

    HKEY key = nullptr;
    DWORD disposition = 0;
    LSTATUS result = RegCreateKeyExW(HKEY_LOCAL_MACHINE, serviceKeyPath(lpServiceName).c_str(), 0,
                                     nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, &disposition);
    if (result != ERROR_SUCCESS)
        return failWith<SC_HANDLE__>(static_cast<DWORD>(result));
    // The values in the order Windows writes them.
    result = setNumber(key, u"Type", dwServiceType);
    if (result == ERROR_SUCCESS)
        result = setNumber(key, u"Start", dwStartType);
    if (result == ERROR_SUCCESS)
        result = setNumber(key, u"ErrorControl", dwErrorControl);
    if (result == ERROR_SUCCESS)
        result = setText(key, u"ImagePath", REG_EXPAND_SZ, lpBinaryPathName);
    if (result == ERROR_SUCCESS && lpLoadOrderGroup && *lpLoadOrderGroup)
        result = setText(key, u"Group", REG_SZ, lpLoadOrderGroup);
    if (result == ERROR_SUCCESS && lpDisplayName && *lpDisplayName)
        result = setText(key, u"DisplayName", REG_SZ, lpDisplayName);
    if (result == ERROR_SUCCESS &&
        (baseType & (SERVICE_WIN32_OWN_PROCESS | SERVICE_WIN32_SHARE_PROCESS)))
        result = setText(key, u"ObjectName", REG_SZ,
                         lpServiceStartName && *lpServiceStartName ? lpServiceStartName
                                                                   : u"LocalSystem");
    if (result == ERROR_SUCCESS && lpDependencies && *lpDependencies) {
        const std::u16string list = multiStringOf(lpDependencies);
        result = RegSetValueExW(key, u"DependOnService", 0, REG_MULTI_SZ,
                                reinterpret_cast<const BYTE*>(list.c_str()),
                                static_cast<DWORD>((list.size() + 1) * sizeof(WCHAR)));
    }
    RegCloseKey(key);
    if (result != ERROR_SUCCESS) {
        removeServiceKey(lpServiceName);
        return failWith<SC_HANDLE__>(static_cast<DWORD>(result));
    }
    auto object = std::make_shared<ScObject>();
    object->connection = manager->connection;
    object->access = serviceAccess(dwDesiredAccess);
    object->name = lpServiceName;
    SetLastError(ERROR_SUCCESS);
    return insert(std::move(object));
}

extern "C" BOOL WINAPI StartServiceW(SC_HANDLE hService, DWORD dwNumServiceArgs,
                                     LPCWSTR* lpServiceArgVectors) {
    const auto service = serviceWith(hService, SERVICE_START);
    if (!service)
        return FALSE;
    if (dwNumServiceArgs && !lpServiceArgVectors)
        return falseWithLastError(ERROR_INVALID_PARAMETER);
    Writer request(Request::Start);
    request.text(service->name).number(dwNumServiceArgs);
    for (DWORD i = 0; i < dwNumServiceArgs; ++i)
        request.text(textOf(lpServiceArgVectors[i]));
    std::string reply;
    if (!ask(*service, request, reply))
        return FALSE;
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

extern "C" BOOL WINAPI ControlService(SC_HANDLE hService, DWORD dwControl,
                                      LPSERVICE_STATUS lpServiceStatus) {
    DWORD right = SERVICE_USER_DEFINED_CONTROL;
    switch (dwControl) {
    case SERVICE_CONTROL_STOP:
        right = SERVICE_STOP;
        break;
    case SERVICE_CONTROL_PAUSE:
    case SERVICE_CONTROL_CONTINUE:
    case SERVICE_CONTROL_PARAMCHANGE:
        right = SERVICE_PAUSE_CONTINUE;
        break;
    case SERVICE_CONTROL_INTERROGATE:
        right = SERVICE_INTERROGATE;
        break;
    default:
        if (dwControl < 128 || dwControl > 255)
            return falseWithLastError(ERROR_INVALID_PARAMETER);
    }
    const auto service = serviceWith(hService, right);
    if (!service)
        return FALSE;
    if (!lpServiceStatus)
        return falseWithLastError(ERROR_INVALID_ADDRESS);
    std::string reply;
    auto reader =
        ask(*service, Writer(Request::Control).text(service->name).number(dwControl), reply);
    if (!reader)
        return FALSE;
    *lpServiceStatus = reader->status();
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

extern "C" BOOL WINAPI QueryServiceStatusEx(SC_HANDLE hService, int InfoLevel, LPBYTE lpBuffer,
                                            DWORD cbBufSize, LPDWORD pcbBytesNeeded) {
    if (InfoLevel != SC_STATUS_PROCESS_INFO)
        return falseWithLastError(ERROR_INVALID_LEVEL);
    const auto service = serviceWith(hService, SERVICE_QUERY_STATUS);
    if (!service)
        return FALSE;
    if (!pcbBytesNeeded)
        return falseWithLastError(ERROR_INVALID_ADDRESS);
    *pcbBytesNeeded = sizeof(SERVICE_STATUS_PROCESS);
    if (cbBufSize < sizeof(SERVICE_STATUS_PROCESS) || !lpBuffer)
        return falseWithLastError(ERROR_INSUFFICIENT_BUFFER);
    std::string reply;
    auto reader = ask(*service, Writer(Request::Query).text(service->name), reply);
    if (!reader)
        return FALSE;
    SERVICE_STATUS_PROCESS status{};
    const SERVICE_STATUS s = reader->status();
    status.dwServiceType = s.dwServiceType;
    status.dwCurrentState = s.dwCurrentState;
    status.dwControlsAccepted = s.dwControlsAccepted;
    status.dwWin32ExitCode = s.dwWin32ExitCode;
    status.dwServiceSpecificExitCode = s.dwServiceSpecificExitCode;
    status.dwCheckPoint = s.dwCheckPoint;
    status.dwWaitHint = s.dwWaitHint;
    status.dwProcessId = reader->number();
    status.dwServiceFlags = reader->number();
    std::memcpy(lpBuffer, &status, sizeof status);
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

extern "C" BOOL WINAPI QueryServiceStatus(SC_HANDLE hService, LPSERVICE_STATUS lpServiceStatus) {
    if (!lpServiceStatus) {
        if (!serviceWith(hService, SERVICE_QUERY_STATUS))
            return FALSE;
        return falseWithLastError(ERROR_INVALID_ADDRESS);
    }
    SERVICE_STATUS_PROCESS status{};
    DWORD needed = 0;
    if (!QueryServiceStatusEx(hService, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status),
                              sizeof status, &needed))
        return FALSE;
    std::memcpy(lpServiceStatus, &status, sizeof(SERVICE_STATUS));
    return TRUE;
}

extern "C" BOOL WINAPI QueryServiceConfigW(SC_HANDLE hService,
                                           LPQUERY_SERVICE_CONFIGW lpServiceConfig, DWORD cbBufSize,
                                           LPDWORD pcbBytesNeeded) {
    const auto service = serviceWith(hService, SERVICE_QUERY_CONFIG);
    if (!service)
        return FALSE;
    if (!pcbBytesNeeded)
        return falseWithLastError(ERROR_INVALID_ADDRESS);
    ServiceConfig config;
    if (const DWORD error = findService(service->name, config); error != ERROR_SUCCESS)
        return falseWithLastError(error);
    std::u16string dependencies;
    for (const std::u16string& one : config.dependencies)
        dependencies += one + u'\0';
    const std::u16string* strings[] = {&config.imagePath, &config.group, &dependencies,
                                       &config.objectName, &config.displayName};
    DWORD needed = sizeof(QUERY_SERVICE_CONFIGW);
    for (const std::u16string* s : strings)
        needed += static_cast<DWORD>((s->size() + 1) * sizeof(WCHAR));
    needed += sizeof(WCHAR); // the list's final terminator
    *pcbBytesNeeded = needed;
    if (cbBufSize < needed || !lpServiceConfig)
        return falseWithLastError(ERROR_INSUFFICIENT_BUFFER);
    WCHAR* cursor = reinterpret_cast<WCHAR*>(lpServiceConfig + 1);
    auto place = [&cursor](const std::u16string& s, bool list) {
        WCHAR* start = cursor;
        std::memcpy(cursor, s.data(), s.size() * sizeof(WCHAR));
        cursor += s.size();
        *cursor++ = u'\0';
        if (list)
            *cursor++ = u'\0';
        return start;
    };
    lpServiceConfig->dwServiceType = config.type;
    lpServiceConfig->dwStartType = config.start;
    lpServiceConfig->dwErrorControl = config.errorControl;
    lpServiceConfig->dwTagId = 0;
    lpServiceConfig->lpBinaryPathName = place(config.imagePath, false);
    lpServiceConfig->lpLoadOrderGroup = place(config.group, false);
    lpServiceConfig->lpDependencies = place(dependencies, true);
    lpServiceConfig->lpServiceStartName = place(config.objectName, false);
    lpServiceConfig->lpDisplayName = place(config.displayName, false);
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

extern "C" BOOL WINAPI ChangeServiceConfig2W(SC_HANDLE hService, DWORD dwInfoLevel, LPVOID lpInfo) {
    const auto service = serviceWith(hService, SERVICE_CHANGE_CONFIG);
    if (!service)
        return FALSE;
    if (dwInfoLevel != SERVICE_CONFIG_DESCRIPTION)
        return falseWithLastError(ERROR_INVALID_LEVEL);
    if (!lpInfo)
        return falseWithLastError(ERROR_INVALID_ADDRESS);
    const LPWSTR description = static_cast<SERVICE_DESCRIPTIONW*>(lpInfo)->lpDescription;
    ServiceConfig config;
    if (readServiceConfig(service->name, config) != ERROR_SUCCESS)
        return falseWithLastError(ERROR_SERVICE_DOES_NOT_EXIST);
    if (config.builtIn)
        return falseWithLastError(ERROR_ACCESS_DENIED);
    if (config.markedForDelete)
        return falseWithLastError(ERROR_SERVICE_MARKED_FOR_DELETE);
    if (!description) {
        SetLastError(ERROR_SUCCESS);
        return TRUE;
    }
    HKEY key = nullptr;
    LSTATUS result = RegOpenKeyExW(HKEY_LOCAL_MACHINE, serviceKeyPath(service->name).c_str(), 0,
                                   KEY_SET_VALUE, &key);
    if (result == ERROR_SUCCESS) {
        if (*description)
            result = setText(key, u"Description", REG_SZ, description);
        else if ((result = RegDeleteValueW(key, u"Description")) == ERROR_FILE_NOT_FOUND)
            result = ERROR_SUCCESS;
        RegCloseKey(key);
    }
    if (result != ERROR_SUCCESS)
        return falseWithLastError(static_cast<DWORD>(result));
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

extern "C" BOOL WINAPI DeleteService(SC_HANDLE hService) {
    const auto service = serviceWith(hService, DELETE);
    if (!service)
        return FALSE;
    std::string reply;
    if (!ask(*service, Writer(Request::Delete).text(service->name), reply))
        return FALSE;
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

extern "C" BOOL WINAPI CloseServiceHandle(SC_HANDLE hSCObject) {
    std::shared_ptr<ScObject> object;
    {
        std::lock_guard lock(tableMutex);
        const auto it = table.find(reinterpret_cast<std::uintptr_t>(hSCObject));
        if (it == table.end())
            return falseWithLastError(ERROR_INVALID_HANDLE);
        object = std::move(it->second);
        table.erase(it);
    }
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}
