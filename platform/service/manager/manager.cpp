// The running services of one machine: starting their programs with a control channel, their
// status as they report it, controls, and their end.
#include "manager.h"

#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

#include "sky/process.h"
#include "sky/services.h"
#include "sky/text.h"
#include "win/errors.h"
#include "win/lasterror.h"
#include "win/process.h"
#include "win/synch.h"

namespace sky::services {

namespace {

// How long a service program has to connect its dispatcher, and its handler to return.
constexpr auto requestTimeout = std::chrono::seconds(30);
// How long the services have to stop when the machine goes down.
constexpr auto shutdownTimeout = std::chrono::seconds(20);

// Whether a service's account (ObjectName) is the one the manager runs as: LocalSystem (the
// machine's owner; also when none is written) or the owner's own account by name. A service of
// another account is not started as whoever runs the manager.
bool runsAsManager(std::u16string_view account) {
    if (account.starts_with(u".\\"))
        account.remove_prefix(2);
    return account.empty() || equalNoCase(account, u"LocalSystem") ||
           equalNoCase(account, u"NT AUTHORITY\\SYSTEM") ||
           equalNoCase(account, widen(accountName(geteuid())));
}

bool active(const ServiceRecord& record) {
    return !record.ended && record.status.dwCurrentState != SERVICE_STOPPED;
}

// The controls a service must have said it accepts before they are delivered.
DWORD acceptFlagFor(DWORD code) {
    switch (code) {
    case SERVICE_CONTROL_STOP:
        return SERVICE_ACCEPT_STOP;
    case SERVICE_CONTROL_PAUSE:
    case SERVICE_CONTROL_CONTINUE:
        return SERVICE_ACCEPT_PAUSE_CONTINUE;
    case SERVICE_CONTROL_SHUTDOWN:
        return SERVICE_ACCEPT_SHUTDOWN;
    case SERVICE_CONTROL_PARAMCHANGE:
        return SERVICE_ACCEPT_PARAMCHANGE;
    default:
        return 0; // interrogation and the service's own codes always go through
    }
}

} // namespace

std::shared_ptr<ServiceRecord> Manager::recordOf(const std::u16string& name) {
    const auto it = records_.find(upper(name));
    return it == records_.end() ? nullptr : it->second;
}

void Manager::serve(int fd, const Peer& peer) {
    bool greeted = false;
    const bool machineUser = mayUseMachine(peer);
    while (auto frame = receiveFrame(fd)) {
        Reader request(*frame);
        const auto kind = static_cast<Request>(request.number());
        if (!greeted && kind != Request::Hello)
            break;
        Writer reply(ERROR_SUCCESS);
        switch (kind) {
        case Request::Hello:
            greeted = true;
            reply = Writer(machineUser ? ERROR_SUCCESS : ERROR_ACCESS_DENIED);
            break;
        case Request::Query: {
            const std::u16string name = request.text();
            SERVICE_STATUS status{};
            DWORD processId = 0, flags = 0;
            const DWORD error = query(name, status, processId, flags);
            reply = Writer(error);
            reply.status(status).number(processId).number(flags);
            break;
        }
        case Request::Start: {
            const std::u16string name = request.text();
            std::vector<std::u16string> arguments;
            const DWORD count = request.number();
            for (DWORD i = 0; i < count && request.ok(); ++i)
                arguments.push_back(request.text());
            reply = Writer(request.ok() ? start(name, arguments, 0) : ERROR_INVALID_PARAMETER);
            break;
        }
        case Request::Control: {
            const std::u16string name = request.text();
            const DWORD code = request.number();
            SERVICE_STATUS status{};
            const DWORD error = control(name, code, status);
            reply = Writer(error);
            reply.status(status);
            break;
        }
        case Request::Delete:
            reply = Writer(remove(request.text()));
            break;
        case Request::Shutdown:
            shutdownAll();
            break;
        default:
            reply = Writer(ERROR_INVALID_FUNCTION);
        }
        if (!request.ok() || !sendFrame(fd, reply))
            break;
        // A caller who is no user of the machine is told so and let go.
        if (kind == Request::Hello && !machineUser)
            break;
    }
}

DWORD Manager::query(const std::u16string& name, SERVICE_STATUS& status, DWORD& processId,
                     DWORD& flags) {
    ServiceConfig config;
    const DWORD error = findService(name, config);
    if (error != ERROR_SUCCESS)
        return error;
    if (config.builtIn) {
        status = SERVICE_STATUS{config.type, SERVICE_RUNNING, 0, 0, 0, 0, 0};
        processId = static_cast<DWORD>(getpid());
        flags = SERVICE_RUNS_IN_SYSTEM_PROCESS;
        return ERROR_SUCCESS;
    }
    std::lock_guard lock(mutex_);
    status =
        SERVICE_STATUS{config.type & ~SERVICE_INTERACTIVE_PROCESS, SERVICE_STOPPED, 0, 0, 0, 0, 0};
    processId = 0;
    flags = 0;
    if (const auto record = recordOf(name)) {
        status = record->status;
        processId = active(*record) ? record->processId : 0;
    }
    return ERROR_SUCCESS;
}

DWORD Manager::start(const std::u16string& name, const std::vector<std::u16string>& arguments,
                     int depth) {
    ServiceConfig config;
    DWORD error = findService(name, config);
    if (error != ERROR_SUCCESS)
        return error;
    if (config.builtIn)
        return ERROR_SERVICE_ALREADY_RUNNING;
    if (config.markedForDelete)
        return ERROR_SERVICE_MARKED_FOR_DELETE;
    if (config.start == SERVICE_DISABLED)
        return ERROR_SERVICE_DISABLED;
    if (!runsAsManager(config.objectName))
        return ERROR_SERVICE_LOGON_FAILED;
    // Dependencies first; a missing one fails the start, as does one that cannot start.
    for (const std::u16string& dependency : config.dependencies) {
        ServiceConfig needed;
        if (equalNoCase(dependency, name) || depth > 16 ||
            readServiceConfig(dependency, needed) != ERROR_SUCCESS || needed.markedForDelete)
            return ERROR_SERVICE_DEPENDENCY_DELETED;
        const DWORD started = start(needed.name, {}, depth + 1);
        if (started != ERROR_SUCCESS && started != ERROR_SERVICE_ALREADY_RUNNING)
            return ERROR_SERVICE_DEPENDENCY_FAIL;
    }

    std::shared_ptr<ServiceRecord> record;
    {
        std::unique_lock lock(mutex_);
        // A stopped service's record is replaced; its watcher, if still finishing, keeps it.
        if (auto old = recordOf(config.name); old && active(*old))
            return ERROR_SERVICE_ALREADY_RUNNING;
        record = std::make_shared<ServiceRecord>();
        record->name = config.name;
        record->status = SERVICE_STATUS{
            config.type & ~SERVICE_INTERACTIVE_PROCESS, SERVICE_START_PENDING, 0, 0, 0, 0, 2000};
        records_[upper(config.name)] = record;
    }

    auto stoppedWith = [&](DWORD code) {
        std::lock_guard lock(mutex_);
        record->status.dwCurrentState = SERVICE_STOPPED;
        record->status.dwWin32ExitCode = code;
        record->status.dwWaitHint = 0;
        record->ended = true;
        changed_.notify_all();
        return code;
    };

    int pair[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0)
        return stoppedWith(ERROR_NO_SYSTEM_RESOURCES);
    ProcessLaunch launch;
    launch.commandLine = config.imagePath;
    launch.inheritedDescriptors = {pair[1]};
    launch.environmentOverrides = {widen(channelVariable) + u"=" + widen(std::to_string(pair[1]))};
    PROCESS_INFORMATION info{};
    if (!launchProcess(launch, info)) {
        error = GetLastError();
        close(pair[0]);
        close(pair[1]);
        return stoppedWith(error);
    }
    close(pair[1]);
    CloseHandle(info.hThread);
    {
        std::lock_guard lock(mutex_);
        record->channel = pair[0];
        record->process = info.hProcess;
        record->processId = info.dwProcessId;
    }
    // The watcher holds the record; it is not joined (the manager ends with _exit).
    std::thread([this, record] { watch(record); }).detach();

    // The start request is answered once the dispatcher has connected and been told to start.
    std::unique_lock lock(mutex_);
    if (!changed_.wait_for(lock, requestTimeout,
                           [&record] { return record->connected || record->ended; })) {
        if (record->process)
            TerminateProcess(record->process, ERROR_SERVICE_REQUEST_TIMEOUT);
        return ERROR_SERVICE_REQUEST_TIMEOUT;
    }
    if (!record->connected)
        return ERROR_SERVICE_REQUEST_TIMEOUT;
    lock.unlock();
    Writer message(Channel::Start);
    message.text(record->name).number(static_cast<DWORD>(arguments.size()));
    for (const std::u16string& argument : arguments)
        message.text(argument);
    std::lock_guard sending(record->sending);
    sendFrame(record->channel, message);
    return ERROR_SUCCESS;
}

void Manager::watch(std::shared_ptr<ServiceRecord> record) {
    while (auto frame = receiveFrame(record->channel)) {
        Reader message(*frame);
        const auto kind = static_cast<Channel>(message.number());
        std::unique_lock lock(mutex_);
        if (kind == Channel::Connect) {
            record->connected = true;
        } else if (kind == Channel::Status) {
            const SERVICE_STATUS status = message.status();
            if (!message.ok())
                break;
            record->status = status;
            if (status.dwCurrentState == SERVICE_STOPPED) {
                lock.unlock();
                std::lock_guard sending(record->sending);
                sendFrame(record->channel, Writer(Channel::Finished));
                lock.lock();
            }
        } else if (kind == Channel::ControlDone) {
            record->controlDone = true;
        }
        changed_.notify_all();
    }
    WaitForSingleObject(record->process, INFINITE);
    std::lock_guard lock(mutex_);
    // A process that ends without having reported its stop was ended from outside.
    if (record->status.dwCurrentState != SERVICE_STOPPED) {
        record->status.dwCurrentState = SERVICE_STOPPED;
        record->status.dwWin32ExitCode = ERROR_PROCESS_ABORTED;
        record->status.dwServiceSpecificExitCode = 0;
    }
    record->status.dwControlsAccepted = 0;
    record->status.dwCheckPoint = 0;
    record->status.dwWaitHint = 0;
    record->ended = true;
    close(record->channel);
    CloseHandle(record->process);
    record->process = nullptr;
    ServiceConfig config;
    if (readServiceConfig(record->name, config) == ERROR_SUCCESS && config.markedForDelete)
        removeServiceKey(record->name);
    changed_.notify_all();
}

DWORD Manager::control(const std::u16string& name, DWORD code, SERVICE_STATUS& status) {
    ServiceConfig config;
    const DWORD error = findService(name, config);
    if (error != ERROR_SUCCESS)
        return error;
    if (config.builtIn) {
        status = SERVICE_STATUS{config.type, SERVICE_RUNNING, 0, 0, 0, 0, 0};
        return code == SERVICE_CONTROL_INTERROGATE ? ERROR_SUCCESS : ERROR_INVALID_SERVICE_CONTROL;
    }
    std::unique_lock lock(mutex_);
    const auto record = recordOf(name);
    if (!record || !active(*record))
        return ERROR_SERVICE_NOT_ACTIVE;
    status = record->status;
    const DWORD needed = acceptFlagFor(code);
    if (needed && !(record->status.dwControlsAccepted & needed))
        return ERROR_INVALID_SERVICE_CONTROL;
    const DWORD state = record->status.dwCurrentState;
    if (!record->connected || state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING)
        return ERROR_SERVICE_CANNOT_ACCEPT_CTRL;
    // One control at a time per service.
    if (!changed_.wait_for(lock, requestTimeout, [&record] { return !record->controlling; }))
        return ERROR_SERVICE_REQUEST_TIMEOUT;
    if (!active(*record))
        return ERROR_SERVICE_NOT_ACTIVE;
    record->controlling = true;
    record->controlDone = false;
    lock.unlock();
    {
        std::lock_guard sending(record->sending);
        sendFrame(record->channel, Writer(Channel::Control).number(code));
    }
    lock.lock();
    const bool answered = changed_.wait_for(
        lock, requestTimeout, [&record] { return record->controlDone || record->ended; });
    record->controlling = false;
    status = record->status;
    changed_.notify_all();
    return answered ? ERROR_SUCCESS : ERROR_SERVICE_REQUEST_TIMEOUT;
}

DWORD Manager::remove(const std::u16string& name) {
    ServiceConfig config;
    const DWORD error = findService(name, config);
    if (error != ERROR_SUCCESS)
        return error;
    if (config.builtIn)
        return ERROR_ACCESS_DENIED;
    if (config.markedForDelete)
        return ERROR_SERVICE_MARKED_FOR_DELETE;
    std::lock_guard lock(mutex_);
    const auto record = recordOf(config.name);
    if (record && active(*record))
        return markForDelete(config.name);
    return removeServiceKey(config.name);
}

bool Manager::idle() {
    std::lock_guard lock(mutex_);
    for (const auto& [name, record] : records_) {
        if (!record->ended)
            return false;
    }
    return true;
}

void Manager::shutdownAll() {
    std::vector<std::shared_ptr<ServiceRecord>> running;
    {
        std::lock_guard lock(mutex_);
        for (const auto& [name, record] : records_) {
            if (!record->ended)
                running.push_back(record);
        }
    }
    for (const auto& record : running) {
        std::unique_lock lock(mutex_);
        const bool accepts = record->connected &&
                             (record->status.dwControlsAccepted & SERVICE_ACCEPT_SHUTDOWN) &&
                             active(*record);
        lock.unlock();
        if (accepts) {
            std::lock_guard sending(record->sending);
            sendFrame(record->channel, Writer(Channel::Control).number(SERVICE_CONTROL_SHUTDOWN));
        } else {
            lock.lock();
            if (record->process)
                TerminateProcess(record->process, ERROR_PROCESS_ABORTED);
        }
    }
    std::unique_lock lock(mutex_);
    const auto deadline = std::chrono::steady_clock::now() + shutdownTimeout;
    for (const auto& record : running) {
        if (!changed_.wait_until(lock, deadline, [&record] { return record->ended; }) &&
            record->process)
            TerminateProcess(record->process, ERROR_PROCESS_ABORTED);
    }
    changed_.wait(lock, [&running] {
        for (const auto& record : running) {
            if (!record->ended)
                return false;
        }
        return true;
    });
}

} // namespace sky::services
