#include "messages.h"

#include "win/errors.h"

namespace sc {

std::string errorText(DWORD error) {
    switch (error) {
    case ERROR_SUCCESS:
        return "The operation completed successfully.";
    case ERROR_FILE_NOT_FOUND:
        return "The system cannot find the file specified.";
    case ERROR_PATH_NOT_FOUND:
        return "The system cannot find the path specified.";
    case ERROR_ACCESS_DENIED:
        return "Access is denied.";
    case ERROR_INVALID_HANDLE:
        return "The handle is invalid.";
    case ERROR_INVALID_PARAMETER:
        return "The parameter is incorrect.";
    case ERROR_INVALID_NAME:
        return "The filename, directory name, or volume label syntax is incorrect.";
    case ERROR_BAD_EXE_FORMAT:
        return "%1 is not a valid Win32 application.";
    case ERROR_DEPENDENT_SERVICES_RUNNING:
        return "A stop control has been sent to a service that other running services are "
               "dependent on.";
    case ERROR_INVALID_SERVICE_CONTROL:
        return "The requested control is not valid for this service.";
    case ERROR_SERVICE_REQUEST_TIMEOUT:
        return "The service did not respond to the start or control request in a timely "
               "fashion.";
    case ERROR_SERVICE_ALREADY_RUNNING:
        return "An instance of the service is already running.";
    case ERROR_SERVICE_DISABLED:
        return "The service cannot be started, either because it is disabled or because it has "
               "no enabled devices associated with it.";
    case ERROR_SERVICE_DOES_NOT_EXIST:
        return "The specified service does not exist as an installed service.";
    case ERROR_SERVICE_CANNOT_ACCEPT_CTRL:
        return "The service cannot accept control messages at this time.";
    case ERROR_SERVICE_NOT_ACTIVE:
        return "The service has not been started.";
    case ERROR_FAILED_SERVICE_CONTROLLER_CONNECT:
        return "The service process could not connect to the service controller.";
    case ERROR_DATABASE_DOES_NOT_EXIST:
        return "The database specified does not exist.";
    case ERROR_SERVICE_SPECIFIC_ERROR:
        return "The service has returned a service-specific error code.";
    case ERROR_PROCESS_ABORTED:
        return "The process terminated unexpectedly.";
    case ERROR_SERVICE_LOGON_FAILED:
        return "The service did not start due to a logon failure.";
    case ERROR_WRONG_TARGET_NAME:
        return "Logon Failure: The target account name is incorrect.";
    case ERROR_SERVICE_DEPENDENCY_FAIL:
        return "The dependency service or group failed to start.";
    case ERROR_SERVICE_MARKED_FOR_DELETE:
        return "The specified service has been marked for deletion.";
    case ERROR_SERVICE_EXISTS:
        return "The specified service already exists.";
    case ERROR_SERVICE_DEPENDENCY_DELETED:
        return "The dependency service does not exist or has been marked for deletion.";
    case ERROR_INVALID_COMMAND_LINE:
        return "The command line is invalid.";
    case RPC_S_SERVER_UNAVAILABLE:
        return "The RPC server is unavailable.";
    default:
        return "Unknown error.";
    }
}

} // namespace sc
