#include "sky/com_error.h"

#include <cstdio>

#include "sky/bstr.h"
#include "sky/com_ptr.h"
#include "sky/text.h"
#include "win/oleauto.h"

namespace sky {

namespace {

struct ResultText {
    HRESULT result;
    const char16_t* text;
};

// The system's texts for the codes that automation calls return.
constexpr ResultText resultTexts[] = {
    {E_NOTIMPL, u"Not implemented"},
    {E_NOINTERFACE, u"No such interface supported"},
    {E_POINTER, u"Invalid pointer"},
    {E_ABORT, u"Operation aborted"},
    {E_FAIL, u"Unspecified error"},
    {E_UNEXPECTED, u"Catastrophic failure"},
    {E_ACCESSDENIED, u"Access is denied."},
    {E_HANDLE, u"The handle is invalid."},
    {E_OUTOFMEMORY, u"Not enough storage is available to complete this operation."},
    {E_INVALIDARG, u"The parameter is incorrect."},
    {HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), u"The system cannot find the file specified."},
    {HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND), u"The system cannot find the path specified."},
    {HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND), u"The specified module could not be found."},
    {HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND), u"The specified procedure could not be found."},
    {HRESULT_FROM_WIN32(ERROR_BAD_EXE_FORMAT), u"%1 is not a valid Win32 application."},
    {RPC_E_CHANGED_MODE, u"Cannot change thread mode after it is set."},
    {RPC_E_DISCONNECTED, u"The object invoked has disconnected from its clients."},
    {RPC_E_SERVER_DIED, u"The server died."},
    {RPC_E_SERVERFAULT, u"The server threw an exception."},
    {RPC_E_WRONG_THREAD,
     u"The application called an interface that was marshalled for a different thread."},
    {DISP_E_UNKNOWNINTERFACE, u"Unknown interface."},
    {DISP_E_MEMBERNOTFOUND, u"Member not found."},
    {DISP_E_PARAMNOTFOUND, u"Parameter not found."},
    {DISP_E_TYPEMISMATCH, u"Type mismatch."},
    {DISP_E_UNKNOWNNAME, u"Unknown name."},
    {DISP_E_NONAMEDARGS, u"No named arguments."},
    {DISP_E_BADVARTYPE, u"Bad variable type."},
    {DISP_E_EXCEPTION, u"Exception occurred."},
    {DISP_E_OVERFLOW, u"Out of present range."},
    {DISP_E_BADINDEX, u"Invalid index."},
    {DISP_E_BADPARAMCOUNT, u"Invalid number of parameters."},
    {DISP_E_PARAMNOTOPTIONAL, u"Parameter not optional."},
    {CLASS_E_NOAGGREGATION, u"Class does not support aggregation (or class object is remote)"},
    {CLASS_E_CLASSNOTAVAILABLE, u"ClassFactory cannot supply requested class"},
    {REGDB_E_READREGDB, u"Could not read key from registry"},
    {REGDB_E_CLASSNOTREG, u"Class not registered"},
    {CO_E_NOTINITIALIZED, u"CoInitialize has not been called."},
    {CO_E_CLASSSTRING, u"Invalid class string"},
    {CO_E_DLLNOTFOUND, u"DLL for class not found"},
    {CO_E_ERRORINDLL, u"Error in the DLL"},
    {CO_E_SERVER_EXEC_FAILURE, u"Server execution failed"},
    {RPC_E_DISCONNECTED, u"The object invoked has disconnected from its clients."},
    {static_cast<HRESULT>(0x800706BA), u"The RPC server is unavailable."},
    {static_cast<HRESULT>(0x800706BB), u"The RPC server is too busy to complete this operation."},
    {static_cast<HRESULT>(0x80070047),
     u"No more connections can be made to this remote computer at this time because there are "
     u"already as many connections as the computer can accept."},
    {static_cast<HRESULT>(0x800706F7), u"The stub received bad data."},
    {static_cast<HRESULT>(0x800401FD), u"Object is not connected to server"},
};

// The thread's error information, taken: its description and source.
bool takeErrorInfo(std::u16string& description, std::u16string& source) {
    ComPtr<IErrorInfo> info;
    if (GetErrorInfo(0, info.put()) != S_OK || !info)
        return false;
    Bstr text;
    if (SUCCEEDED(info->GetDescription(text.put())))
        description = text.str();
    if (SUCCEEDED(info->GetSource(text.put())))
        source = text.str();
    return true;
}

} // namespace

std::u16string resultText(HRESULT result) {
    for (const auto& entry : resultTexts)
        if (entry.result == result)
            return entry.text;
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, "Unknown error 0x%08X", static_cast<unsigned>(result));
    return widen(buffer);
}

ComError::ComError(HRESULT result) : result_(result) {
    // An object that supplied error information said what it had to say, an empty description
    // included; only a failure without any takes the system's text for its code.
    if (!takeErrorInfo(description_, source_))
        description_ = resultText(result);
    what_ = narrow(description_);
}

ComError::ComError(HRESULT result, std::u16string description, std::u16string source)
    : result_(result), description_(std::move(description)), source_(std::move(source)) {
    if (description_.empty())
        description_ = resultText(result);
    what_ = narrow(description_);
}

} // namespace sky
