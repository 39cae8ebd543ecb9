// The Windows headers, with the macros that would rename members of the ports undone.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <objbase.h>
#include <oleauto.h>
#include <shellapi.h>

#undef MessageBox
#undef DeleteFile
