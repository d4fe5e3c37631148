// Last error, errno translation and system texts. GetLastError only ever returns Windows codes;
// an errno without a Windows counterpart is reported as ERROR_GEN_FAILURE, never as 0.
#include "internal.h"

#include <cerrno>
#include <cstring>

namespace {
thread_local DWORD lastError = ERROR_SUCCESS;

struct CodeText {
    DWORD code;
    const char* text;
};

#define CLEAVE_CODE_TEXT(name, code, text) {code, text},
const CodeText CODE_TEXTS[] = {CLEAVE_ERROR_CODES(CLEAVE_CODE_TEXT)};
#undef CLEAVE_CODE_TEXT
} // namespace

const ErrnoCode ERRNO_CODES[] = {
    {ENOENT, ERROR_FILE_NOT_FOUND},
    {ENOTDIR, ERROR_PATH_NOT_FOUND},
    {EMFILE, ERROR_TOO_MANY_OPEN_FILES},
    {ENFILE, ERROR_TOO_MANY_OPEN_FILES},
    {EACCES, ERROR_ACCESS_DENIED},
    {EPERM, ERROR_ACCESS_DENIED},
    {EISDIR, ERROR_ACCESS_DENIED},
    {EBADF, ERROR_INVALID_HANDLE},
    {ENOMEM, ERROR_NOT_ENOUGH_MEMORY},
    {EXDEV, ERROR_NOT_SAME_DEVICE},
    {EROFS, ERROR_WRITE_PROTECT},
    {ETXTBSY, ERROR_SHARING_VIOLATION},
    {ENXIO, ERROR_NOT_SUPPORTED},
    {ENODEV, ERROR_NOT_SUPPORTED},
    {ENOSYS, ERROR_NOT_SUPPORTED},
    {EOPNOTSUPP, ERROR_NOT_SUPPORTED},
    {EINVAL, ERROR_INVALID_PARAMETER},
    {EPIPE, ERROR_BROKEN_PIPE},
    {ENOSPC, ERROR_DISK_FULL},
    {EDQUOT, ERROR_DISK_FULL},
    {EBUSY, ERROR_BUSY},
    {EEXIST, ERROR_ALREADY_EXISTS},
    {ENAMETOOLONG, ERROR_FILENAME_EXCED_RANGE},
    {EFBIG, ERROR_FILE_TOO_LARGE},
    {EIO, ERROR_IO_DEVICE},
    {EMLINK, ERROR_TOO_MANY_LINKS},
    {ELOOP, ERROR_CANT_RESOLVE_FILENAME},
};
const size_t ERRNO_CODE_COUNT = sizeof ERRNO_CODES / sizeof ERRNO_CODES[0];

DWORD WindowsCodeForErrno(int errnum) {
    for (const ErrnoCode& entry : ERRNO_CODES) {
        if (entry.errnum == errnum) {
            return entry.code;
        }
    }
    return UNMAPPED_ERRNO_CODE;
}

const char* ErrorText(DWORD code) {
    for (const CodeText& entry : CODE_TEXTS) {
        if (entry.code == code) {
            return entry.text;
        }
    }
    return nullptr;
}

BOOL FailWith(DWORD code) {
    lastError = code;
    return FALSE;
}

BOOL FailWithErrno(int errnum) {
    return FailWith(WindowsCodeForErrno(errnum));
}

DWORD GetLastError() {
    return lastError;
}

void SetLastError(DWORD code) {
    lastError = code;
}

// The text ends in a line feed as the system's texts end in a line break;
// FORMAT_MESSAGE_FROM_SYSTEM is the only source there is, and the language is always English.
DWORD FormatMessageA(DWORD flags, LPCVOID, DWORD messageId, DWORD, LPSTR buffer, DWORD size,
                     va_list*) {
    const char* text = ErrorText(messageId);
    if (text == nullptr) {
        FailWith(ERROR_MR_MID_NOT_FOUND);
        return 0;
    }
    size_t length = strlen(text) + 1;
    char* out = buffer;
    if (flags & FORMAT_MESSAGE_ALLOCATE_BUFFER) {
        out = static_cast<char*>(LocalAlloc(LMEM_FIXED, length + 1));
        if (out == nullptr) {
            return 0;
        }
        *reinterpret_cast<char**>(buffer) = out;
    } else if (buffer == nullptr || size <= length) {
        FailWith(ERROR_INVALID_PARAMETER);
        return 0;
    }
    memcpy(out, text, length - 1);
    out[length - 1] = '\n';
    out[length] = '\0';
    return static_cast<DWORD>(length);
}
