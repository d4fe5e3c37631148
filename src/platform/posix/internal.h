// Shared inside the POSIX layer only: the errno translation, the failure setters and the table
// of system calls.
#ifndef CLEAVE_POSIX_INTERNAL_H
#define CLEAVE_POSIX_INTERNAL_H

#include "win32_api.h"

#include <sys/stat.h>
#include <sys/types.h>

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
// As FailWithErrno, but a missing name is told apart from a missing directory on its way.
BOOL FailForPath(int errnum, const char* path);

// The exit status a Windows code becomes where a status keeps only 8 bits.
int ExitStatusFor(UINT code);

// Every system call whose failure can end a run goes through this table, so that a test build
// can put failing stand-ins in place of the real calls, as SQLite's os_unix.c does. The shipped
// program never changes it and has no switch that could.
struct SystemCalls {
    int (*open)(const char* path, int flags, mode_t mode);
    int (*fstat)(int fd, struct stat* st);
    int (*lstat)(const char* path, struct stat* st);
    int (*ftruncate)(int fd, off_t length);
    ssize_t (*pread)(int fd, void* buffer, size_t count, off_t offset);
    ssize_t (*pwrite)(int fd, const void* buffer, size_t count, off_t offset);
    int (*renameat2)(int oldDir, const char* oldPath, int newDir, const char* newPath,
                     unsigned int flags);
    int (*link)(const char* existingPath, const char* newPath);
    int (*unlink)(const char* path);
    int (*close)(int fd);
    // A handle keeps its own position, so positioning makes no call and this stays null; a test
    // sets it to make positioning fail. Returns 0 or -1 with errno set.
    int (*seek)(int fd, off_t position);
};
extern SystemCalls systemCalls;

#endif
