// The service side: StartServiceCtrlDispatcherW, RegisterServiceCtrlHandlerW, SetServiceStatus.
//
// A process the service manager starts inherits one end of a socket pair; the variable
// SKY_SERVICE_CHANNEL names its descriptor, taken (and removed from the environment, so that
// programs the service starts do not inherit it) when the library loads. The dispatcher greets
// the manager, receives the start request, runs the service main routine on a thread of its own
// and then delivers controls to the handler on its own thread until the manager reports that the
// service has stopped. Should the manager go away, the handler is sent SERVICE_CONTROL_SHUTDOWN,
// as a machine going down does, and the dispatcher returns once the service has stopped.
#include <fcntl.h>

#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

#include "sky/text.h"
#include "win/errors.h"
#include "win/lasterror.h"
#include "win/service.h"
#include "wire.h"

namespace sky::services {
namespace {

int takeChannel() {
    const char* value = std::getenv(channelVariable);
    if (!value)
        return -1;
    const int fd = std::atoi(value);
    unsetenv(channelVariable);
    if (fd <= 2 || fcntl(fd, F_SETFD, FD_CLOEXEC) != 0)
        return -1;
    return fd;
}

struct ServiceSide {
    int channel = takeChannel();
    bool dispatching = false;
    std::u16string name;
    LPHANDLER_FUNCTION handler = nullptr;
    bool stopped = false;
    std::mutex mutex;
    std::mutex sending;
    std::condition_variable changed;

    bool send(const Writer& message) {
        std::lock_guard lock(sending);
        return sendFrame(channel, message);
    }
};

ServiceSide& side() {
    static ServiceSide instance;
    return instance;
}

// Taken when the library loads, before any program code can start another process.
[[maybe_unused]] ServiceSide& sideAtLoad = side();

// The one status handle a service process hands out.
SERVICE_STATUS_HANDLE const statusHandle = reinterpret_cast<SERVICE_STATUS_HANDLE>(0x5C0);

BOOL falseWithLastError(DWORD error) {
    SetLastError(error);
    return FALSE;
}

} // namespace
} // namespace sky::services

using namespace sky::services;

extern "C" BOOL WINAPI
StartServiceCtrlDispatcherW(const SERVICE_TABLE_ENTRYW* lpServiceStartTable) {
    ServiceSide& s = side();
    if (!lpServiceStartTable || !lpServiceStartTable[0].lpServiceName ||
        !lpServiceStartTable[0].lpServiceProc)
        return falseWithLastError(ERROR_INVALID_PARAMETER);
    if (s.channel < 0)
        return falseWithLastError(ERROR_FAILED_SERVICE_CONTROLLER_CONNECT);
    {
        std::lock_guard lock(s.mutex);
        if (s.dispatching)
            return falseWithLastError(ERROR_SERVICE_ALREADY_RUNNING);
        s.dispatching = true;
    }
    if (!s.send(Writer(Channel::Connect)))
        return falseWithLastError(ERROR_FAILED_SERVICE_CONTROLLER_CONNECT);
    auto frame = receiveFrame(s.channel);
    if (!frame)
        return falseWithLastError(ERROR_FAILED_SERVICE_CONTROLLER_CONNECT);
    Reader start(*frame);
    if (static_cast<Channel>(start.number()) != Channel::Start)
        return falseWithLastError(ERROR_FAILED_SERVICE_CONTROLLER_CONNECT);
    std::vector<std::u16string> arguments{start.text()};
    const DWORD count = start.number();
    for (DWORD i = 0; i < count && start.ok(); ++i)
        arguments.push_back(start.text());
    if (!start.ok())
        return falseWithLastError(ERROR_FAILED_SERVICE_CONTROLLER_CONNECT);

    // A process of its own runs the first service of its table, whatever the name it is started
    // under; a shared one looks the name up.
    LPSERVICE_MAIN_FUNCTIONW main = lpServiceStartTable[0].lpServiceProc;
    for (const SERVICE_TABLE_ENTRYW* entry = lpServiceStartTable; entry->lpServiceName; ++entry) {
        if (sky::equalNoCase(entry->lpServiceName, arguments[0])) {
            main = entry->lpServiceProc;
            break;
        }
    }
    {
        std::lock_guard lock(s.mutex);
        s.name = arguments[0];
    }
    std::vector<WCHAR*> argv;
    for (std::u16string& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    std::thread serviceThread(
        [main, &argv] { main(static_cast<DWORD>(argv.size() - 1), argv.data()); });

    for (;;) {
        frame = receiveFrame(s.channel);
        if (!frame) {
            // The manager has gone: the machine is going down.
            std::unique_lock lock(s.mutex);
            const LPHANDLER_FUNCTION handler = s.handler;
            const bool stopped = s.stopped;
            lock.unlock();
            if (handler && !stopped)
                handler(SERVICE_CONTROL_SHUTDOWN);
            lock.lock();
            s.changed.wait(lock, [&s] { return s.stopped; });
            break;
        }
        Reader message(*frame);
        const auto kind = static_cast<Channel>(message.number());
        if (kind == Channel::Finished)
            break;
        if (kind == Channel::Control) {
            const DWORD code = message.number();
            LPHANDLER_FUNCTION handler;
            {
                std::lock_guard lock(s.mutex);
                handler = s.handler;
            }
            if (handler)
                handler(code);
            s.send(Writer(Channel::ControlDone));
        }
    }
    serviceThread.join();
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

extern "C" SERVICE_STATUS_HANDLE WINAPI
RegisterServiceCtrlHandlerW(LPCWSTR lpServiceName, LPHANDLER_FUNCTION lpHandlerProc) {
    ServiceSide& s = side();
    if (!lpServiceName || !lpHandlerProc) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    std::lock_guard lock(s.mutex);
    if (!s.dispatching || !sky::equalNoCase(lpServiceName, s.name)) {
        SetLastError(ERROR_SERVICE_NOT_IN_EXE);
        return nullptr;
    }
    s.handler = lpHandlerProc;
    SetLastError(ERROR_SUCCESS);
    return statusHandle;
}

extern "C" BOOL WINAPI SetServiceStatus(SERVICE_STATUS_HANDLE hServiceStatus,
                                        LPSERVICE_STATUS lpServiceStatus) {
    ServiceSide& s = side();
    {
        std::lock_guard lock(s.mutex);
        if (hServiceStatus != statusHandle || !s.dispatching)
            return falseWithLastError(ERROR_INVALID_HANDLE);
    }
    if (!lpServiceStatus)
        return falseWithLastError(ERROR_INVALID_ADDRESS);
    const DWORD state = lpServiceStatus->dwCurrentState;
    if (state < SERVICE_STOPPED || state > SERVICE_PAUSED)
        return falseWithLastError(ERROR_INVALID_DATA);
    s.send(Writer(Channel::Status).status(*lpServiceStatus));
    if (state == SERVICE_STOPPED) {
        std::lock_guard lock(s.mutex);
        s.stopped = true;
        s.changed.notify_all();
    }
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}
