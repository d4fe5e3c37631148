// The splitter reaches the operating system only through the Windows file, error and process
// calls and the bounded formatter. On Windows they are the real API; elsewhere our own POSIX
// stand-ins provide the same calls, arguments and error codes.
#ifndef CLEAVE_PLATFORM_H
#define CLEAVE_PLATFORM_H

#if defined(_WIN32)
#include <windows.h>
#include <strsafe.h>
#else
#include "posix/win32_api.h"
#endif

#endif
