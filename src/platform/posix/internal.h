// Shared inside the POSIX layer only: the errno translation and the failure setters.
#ifndef CLEAVE_POSIX_INTERNAL_H
#define CLEAVE_POSIX_INTERNAL_H

#include "win32_api.h"

struct ErrnoCode {
    int errnum;
    DWORD code;
};

// errno values with a Windows counterpart; anything else becomes ERROR_GEN_FAILURE.
extern const ErrnoCode ERRNO_CODES[];
extern const size_t ERRNO_CODE_COUNT;
constexpr DWORD UNMAPPED_ERRNO_CODE = ERROR_GEN_FAILURE;

DWORD WindowsCodeForErrno(int errnum);
// The text FormatMessageA gives for a code, without its line feed, or nullptr.
const char* ErrorText(DWORD code);

// Set the last error and return the failure value the calling API expects.
BOOL FailWith(DWORD code);
BOOL FailWithErrno(int errnum);

// The exit status a Windows code becomes where a status keeps only 8 bits.
int ExitStatusFor(UINT code);

#endif
