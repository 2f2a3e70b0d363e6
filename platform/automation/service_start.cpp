// Starting a class's service for activation, through the machine's service manager.
#include "service_start.h"

#include "win/errors.h"
#include "win/lasterror.h"
#include "win/service.h"

namespace sky::automation {

namespace {

// A service handle with the rights activation needs, closed with its manager.
class ServiceHandle {
public:
    explicit ServiceHandle(const std::u16string& name) {
        manager_ = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
        if (manager_)
            service_ = OpenServiceW(manager_, name.c_str(), SERVICE_START | SERVICE_QUERY_STATUS);
    }
    ~ServiceHandle() {
        if (service_)
            CloseServiceHandle(service_);
        if (manager_)
            CloseServiceHandle(manager_);
    }
    ServiceHandle(const ServiceHandle&) = delete;
    ServiceHandle& operator=(const ServiceHandle&) = delete;

    SC_HANDLE get() const { return service_; }

private:
    SC_HANDLE manager_ = nullptr;
    SC_HANDLE service_ = nullptr;
};

} // namespace

bool startService(const std::u16string& name, const std::u16string& parameters) {
    ServiceHandle service(name);
    if (!service.get())
        return false;
    LPCWSTR args[] = {parameters.c_str()};
    if (StartServiceW(service.get(), parameters.empty() ? 0 : 1,
                      parameters.empty() ? nullptr : args))
        return true;
    return GetLastError() == ERROR_SERVICE_ALREADY_RUNNING;
}

bool serviceMayStillPublish(const std::u16string& name) {
    ServiceHandle service(name);
    SERVICE_STATUS status{};
    if (!service.get() || !QueryServiceStatus(service.get(), &status))
        return false;
    return status.dwCurrentState == SERVICE_START_PENDING ||
           status.dwCurrentState == SERVICE_RUNNING;
}

} // namespace sky::automation
