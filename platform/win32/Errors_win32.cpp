// The one place where Windows' error codes become the program's error numbers, so that a
// file, a process start and an automation call report the same failure alike.
#include "platform/win32/Errors_win32.h"

#include "platform/Error.h"
#include "platform/win32/Api_win32.h"

namespace p2::win32 {

int32_t ErrorNumberOfWin32(unsigned long win32Error) {
    switch (win32Error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_NAME:
            return kErrFileNotFound;
        case ERROR_ACCESS_DENIED:
        case ERROR_NETWORK_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
        case ERROR_BAD_EXE_FORMAT:
            return kErrPermissionDenied;
        case ERROR_FILE_EXISTS:
        case ERROR_ALREADY_EXISTS:
            return kErrFileAlreadyExists;
        case ERROR_NOT_ENOUGH_MEMORY:
        case ERROR_OUTOFMEMORY:
            return kErrOutOfMemory;
        default:
            return kErrPathFileAccess;
    }
}

int32_t ErrorNumberOfHresult(long hr) {
    // Automation errors of the objects themselves carry their number in the low word.
    if (HRESULT_FACILITY(hr) == FACILITY_CONTROL) {
        return static_cast<int32_t>(hr & 0xFFFF);
    }
    switch (hr) {
        case DISP_E_UNKNOWNNAME:
        case DISP_E_MEMBERNOTFOUND:
            return kErrNoSuchProperty;
        case DISP_E_TYPEMISMATCH:
            return kErrTypeMismatch;
        case DISP_E_OVERFLOW:
            return kErrOverflow;
        case E_OUTOFMEMORY:
            return kErrOutOfMemory;
        case E_NOTIMPL:
            return kErrActionNotSupported;
        case DISP_E_BADPARAMCOUNT:
        case DISP_E_PARAMNOTOPTIONAL:
        case DISP_E_BADVARTYPE:
        case E_INVALIDARG:
            return kErrInvalidArgument;
        default:
            return kErrInternal;
    }
}

}  // namespace p2::win32
