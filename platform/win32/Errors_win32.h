// The one place where Windows' error codes become the program's error numbers.
#pragma once

#include <cstdint>

namespace p2::win32 {

// The program's error number for the last error of a failed file, folder or process call:
// 53 for a missing file or path, 70 for a refusal (a file held open included), 7 for
// memory, 75 for the rest.
int32_t ErrorNumberOfWin32(unsigned long win32Error);

// The program's error number for an HRESULT of an automation call: the object's own number
// when it reports one, else the run-time error the failure stands for.
int32_t ErrorNumberOfHresult(long hr);

}  // namespace p2::win32
