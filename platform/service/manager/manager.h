// skyscm, the machine's service manager: the running services of one machine and the requests of
// its clients.
#pragma once

#include <sys/types.h>

#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "../service_key.h"
#include "../wire.h"
#include "sky/services.h"
#include "win/service.h"

namespace sky::services {

// One service that has been started since the manager began (kept after it stops, so that its
// last status can be asked for).
struct ServiceRecord {
    std::u16string name;
    SERVICE_STATUS status{SERVICE_WIN32_OWN_PROCESS, SERVICE_STOPPED, 0, 0, 0, 0, 0};
    DWORD processId = 0;
    HANDLE process = nullptr;
    int channel = -1;
    bool connected = false;   // the dispatcher has greeted
    bool ended = false;       // the process has ended
    bool controlling = false; // a control is on its way
    bool controlDone = false; // the handler has returned
    std::mutex sending;
};

class Manager {
public:
    // Serves one client connection until it closes.
    void serve(int fd, const Peer& peer);

    // Whether nothing runs: no service process is alive.
    bool idle();
    // Sends every running service the shutdown control and waits (20 s at most, then kills).
    void shutdownAll();

private:
    DWORD start(const std::u16string& name, const std::vector<std::u16string>& arguments,
                int depth);
    DWORD control(const std::u16string& name, DWORD code, SERVICE_STATUS& status);
    DWORD query(const std::u16string& name, SERVICE_STATUS& status, DWORD& processId, DWORD& flags);
    DWORD remove(const std::u16string& name);
    void watch(std::shared_ptr<ServiceRecord> record);
    std::shared_ptr<ServiceRecord> recordOf(const std::u16string& name);

    std::mutex mutex_;
    std::condition_variable changed_;
    std::map<std::u16string, std::shared_ptr<ServiceRecord>> records_; // by folded name
};

} // namespace sky::services
