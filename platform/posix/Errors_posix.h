// The one place where Linux's error numbers are translated: into the program's error numbers,
// and into the Win32 codes that the stand-ins of Windows services must answer with.
#pragma once

#include <cstdint>

#include "platform/Error.h"

namespace p2::posix {

// The program's error number for a failed call's errno, as Windows reports the like: 53 for a
// missing file or folder, 70 for a refusal, 58 for a name already taken, 7 for memory, and
// `otherwise` for the rest.
int32_t ErrorNumberOfErrno(int error, int32_t otherwise = kErrPathFileAccess);

// The Win32 error code for a failed call's errno, as the shell's file operation and the
// registry answer (FileOpResult_posix.h).
int32_t Win32CodeOfErrno(int error);

}  // namespace p2::posix
