// File calls with Windows semantics over POSIX. Handles come from a small fixed table and keep
// their own file position, so reads and writes are positioned (pread/pwrite) and a seek is pure
// bookkeeping. Share modes are honoured between the handles of this process, its redirected
// standard streams among them, checked before anything is truncated. Opening never blocks on a FIFO
// or device, and only regular files report a size. Reads and writes are synchronous: EINTR and
// short transfers are retried, a read is short only at end of file, and a write stores everything
// or fails. MoveFileA never replaces.
#include "internal.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
// open is variadic, so the table holds this fixed-argument form of it.
int OpenFile(const char* path, int flags, mode_t mode) {
    return open(path, flags, mode);
}
} // namespace

SystemCalls systemCalls = {OpenFile,  fstat, lstat,  ftruncate, pread,  pwrite,
                           renameat2, link,  unlink, close,     nullptr};

namespace {
constexpr DWORD FILE_SHARE_WRITE = 0x2;
constexpr DWORD FILE_CURRENT = 1;
constexpr DWORD FILE_END = 2;
constexpr int MAX_HANDLES = 64;

struct FileHandle {
    bool inUse;
    bool regular;
    int fd;
    DWORD access;
    DWORD share;
    dev_t device;
    ino_t inode;
    LONGLONG position;
};

FileHandle handles[MAX_HANDLES];

FileHandle* Lookup(HANDLE file) {
    for (FileHandle& h : handles) {
        if (h.inUse && &h == file) {
            return &h;
        }
    }
    return nullptr;
}

FileHandle* FreeSlot() {
    for (FileHandle& h : handles) {
        if (!h.inUse) {
            return &h;
        }
    }
    return nullptr;
}

// Windows says "path not found" rather than "file not found" when a directory on the way is
// missing; POSIX says ENOENT for both, so look at the parent.
DWORD MissingPathCode(const char* path) {
    // An empty name is no path at all, and a trailing slash does not start another name:
    // Windows calls "" a missing path and "absent/" a missing file.
    if (*path == '\0') {
        return ERROR_PATH_NOT_FOUND;
    }
    size_t end = strlen(path);
    while (end > 1 && path[end - 1] == '/') {
        --end;
    }
    const char* slash = static_cast<const char*>(memrchr(path, '/', end));
    if (slash == nullptr) {
        return ERROR_FILE_NOT_FOUND;
    }
    // A fixed buffer rather than std::string: nothing else in the program needs the C++
    // library, and leaving it unlinked keeps the process as small as the C tools beside it.
    // The path already fitted the system's limit, or the call would have failed otherwise.
    char parent[PATH_MAX];
    size_t length = slash == path ? 1 : static_cast<size_t>(slash - path);
    if (length >= sizeof parent) {
        return ERROR_PATH_NOT_FOUND;
    }
    memcpy(parent, path, length);
    parent[length] = '\0';
    struct stat st;
    return stat(parent, &st) == 0 && S_ISDIR(st.st_mode) ? ERROR_FILE_NOT_FOUND
                                                         : ERROR_PATH_NOT_FOUND;
}

} // namespace

BOOL FailForPath(int errnum, const char* path) {
    return errnum == ENOENT ? FailWith(MissingPathCode(path)) : FailWithErrno(errnum);
}

namespace {
bool Denies(DWORD share, DWORD access) {
    return ((access & GENERIC_WRITE) && !(share & FILE_SHARE_WRITE)) ||
           ((access & GENERIC_READ) && !(share & FILE_SHARE_READ));
}

bool SameFile(const FileHandle& h, const struct stat& st) {
    return h.device == st.st_dev && h.inode == st.st_ino;
}

bool Conflicts(const FileHandle& h, const struct stat& st, DWORD access, DWORD share) {
    return h.inUse && SameFile(h, st) && (Denies(h.share, access) || Denies(share, h.access));
}

// The shell's redirections are open handles too. On Windows a part cannot be created over the
// file standard output goes to, nor the source opened while standard output appends to it; a
// command shell opens them with read and write sharing. Noted once, before the first open: they
// do not change during a run.
FileHandle standardStreams[3];
bool standardStreamsNoted = false;

void NoteStandardStreams() {
    standardStreamsNoted = true;
    for (int fd = 0; fd < 3; ++fd) {
        int flags = fcntl(fd, F_GETFL);
        struct stat st;
        if (flags < 0 || fstat(fd, &st) != 0) {
            continue;
        }
        int mode = flags & O_ACCMODE;
        DWORD access =
            (mode != O_WRONLY ? GENERIC_READ : 0) | (mode != O_RDONLY ? GENERIC_WRITE : 0);
        standardStreams[fd] = FileHandle{
            true,      S_ISREG(st.st_mode), fd, access, FILE_SHARE_READ | FILE_SHARE_WRITE,
            st.st_dev, st.st_ino,           0};
    }
}

bool SharingConflict(const struct stat& st, DWORD access, DWORD share) {
    if (!standardStreamsNoted) {
        NoteStandardStreams();
    }
    for (const FileHandle& h : standardStreams) {
        if (Conflicts(h, st, access, share)) {
            return true;
        }
    }
    for (const FileHandle& h : handles) {
        if (Conflicts(h, st, access, share)) {
            return true;
        }
    }
    return false;
}

int OpenFlags(DWORD access, DWORD disposition) {
    int flags = O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
    if ((access & GENERIC_READ) && (access & GENERIC_WRITE)) {
        flags |= O_RDWR;
    } else if (access & GENERIC_WRITE) {
        flags |= O_WRONLY;
    } else {
        flags |= O_RDONLY;
    }
    if (disposition == CREATE_ALWAYS) {
        flags |= O_CREAT;
    } else if (disposition == CREATE_NEW) {
        flags |= O_CREAT | O_EXCL;
    }
    return flags;
}

HANDLE CloseAndFail(int fd, DWORD code) {
    systemCalls.close(fd);
    FailWith(code);
    return INVALID_HANDLE_VALUE;
}

HANDLE CloseAndFailWithErrno(int fd, int errnum) {
    return CloseAndFail(fd, WindowsCodeForErrno(errnum));
}
} // namespace

HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES, DWORD disposition,
                   DWORD, HANDLE) {
    if (disposition != OPEN_EXISTING && disposition != CREATE_ALWAYS && disposition != CREATE_NEW) {
        FailWith(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    FileHandle* slot = FreeSlot();
    if (slot == nullptr) {
        FailWith(ERROR_TOO_MANY_OPEN_FILES);
        return INVALID_HANDLE_VALUE;
    }
    int fd = systemCalls.open(name, OpenFlags(access, disposition), 0666);
    if (fd < 0) {
        int errnum = errno;
        if (errnum == EEXIST && disposition == CREATE_NEW) {
            FailWith(ERROR_FILE_EXISTS);
        } else {
            FailForPath(errnum, name);
        }
        return INVALID_HANDLE_VALUE;
    }
    struct stat st;
    if (systemCalls.fstat(fd, &st) != 0) {
        return CloseAndFailWithErrno(fd, errno);
    }
    if (S_ISDIR(st.st_mode)) {
        return CloseAndFail(fd, ERROR_ACCESS_DENIED);
    }
    if (SharingConflict(st, access, share)) {
        return CloseAndFail(fd, ERROR_SHARING_VIOLATION);
    }
    bool regular = S_ISREG(st.st_mode);
    if (regular && disposition == CREATE_ALWAYS && st.st_size > 0 &&
        systemCalls.ftruncate(fd, 0) != 0) {
        return CloseAndFailWithErrno(fd, errno);
    }
    if (!regular) {
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    }
    *slot = FileHandle{true, regular, fd, access, share, st.st_dev, st.st_ino, 0};
    return slot;
}

BOOL GetFileSizeEx(HANDLE file, PLARGE_INTEGER size) {
    FileHandle* h = Lookup(file);
    if (h == nullptr) {
        return FailWith(ERROR_INVALID_HANDLE);
    }
    if (!h->regular) {
        return FailWith(ERROR_NOT_SUPPORTED);
    }
    struct stat st;
    if (systemCalls.fstat(h->fd, &st) != 0) {
        return FailWithErrno(errno);
    }
    size->QuadPart = st.st_size;
    return TRUE;
}

BOOL SetFilePointerEx(HANDLE file, LARGE_INTEGER distance, PLARGE_INTEGER newPosition,
                      DWORD method) {
    FileHandle* h = Lookup(file);
    if (h == nullptr) {
        return FailWith(ERROR_INVALID_HANDLE);
    }
    LONGLONG base = 0;
    if (method == FILE_CURRENT) {
        base = h->position;
    } else if (method == FILE_END) {
        LARGE_INTEGER size{};
        if (!GetFileSizeEx(file, &size)) {
            return FALSE;
        }
        base = size.QuadPart;
    } else if (method != FILE_BEGIN) {
        return FailWith(ERROR_INVALID_PARAMETER);
    }
    LONGLONG target = 0;
    if (__builtin_add_overflow(base, distance.QuadPart, &target)) {
        return FailWith(ERROR_INVALID_PARAMETER);
    }
    if (target < 0) {
        return FailWith(ERROR_NEGATIVE_SEEK);
    }
    if (systemCalls.seek != nullptr && systemCalls.seek(h->fd, target) != 0) {
        return FailWithErrno(errno);
    }
    h->position = target;
    if (newPosition != nullptr) {
        newPosition->QuadPart = target;
    }
    return TRUE;
}

BOOL SetEndOfFile(HANDLE file) {
    FileHandle* h = Lookup(file);
    if (h == nullptr) {
        return FailWith(ERROR_INVALID_HANDLE);
    }
    if (!(h->access & GENERIC_WRITE)) {
        return FailWith(ERROR_ACCESS_DENIED);
    }
    if (systemCalls.ftruncate(h->fd, h->position) != 0) {
        return FailWithErrno(errno);
    }
    return TRUE;
}

BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD toRead, LPDWORD read, LPOVERLAPPED) {
    FileHandle* h = Lookup(file);
    *read = 0;
    if (h == nullptr) {
        return FailWith(ERROR_INVALID_HANDLE);
    }
    if (!(h->access & GENERIC_READ)) {
        return FailWith(ERROR_ACCESS_DENIED);
    }
    char* out = static_cast<char*>(buffer);
    while (*read < toRead) {
        ssize_t got = systemCalls.pread(h->fd, out + *read, toRead - *read, h->position);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            return FailWithErrno(errno);
        }
        if (got == 0) {
            break;
        }
        *read += static_cast<DWORD>(got);
        h->position += got;
    }
    return TRUE;
}

BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD toWrite, LPDWORD written, LPOVERLAPPED) {
    FileHandle* h = Lookup(file);
    *written = 0;
    if (h == nullptr) {
        return FailWith(ERROR_INVALID_HANDLE);
    }
    if (!(h->access & GENERIC_WRITE)) {
        return FailWith(ERROR_ACCESS_DENIED);
    }
    const char* in = static_cast<const char*>(buffer);
    while (*written < toWrite) {
        ssize_t put = systemCalls.pwrite(h->fd, in + *written, toWrite - *written, h->position);
        if (put < 0 && errno == EINTR) {
            continue;
        }
        if (put < 0) {
            return FailWithErrno(errno);
        }
        if (put == 0) {
            return FailWith(ERROR_DISK_FULL);
        }
        *written += static_cast<DWORD>(put);
        h->position += put;
    }
    return TRUE;
}

BOOL CloseHandle(HANDLE object) {
    FileHandle* h = Lookup(object);
    if (h == nullptr) {
        return FailWith(ERROR_INVALID_HANDLE);
    }
    h->inUse = false;
    systemCalls.close(h->fd);
    return TRUE;
}

namespace {
// For file systems without RENAME_NOREPLACE: link refuses an existing name, as Windows does.
BOOL LinkThenUnlink(LPCSTR existingName, LPCSTR newName) {
    if (systemCalls.link(existingName, newName) != 0) {
        return errno == EEXIST ? FailWith(ERROR_ALREADY_EXISTS) : FailForPath(errno, newName);
    }
    if (systemCalls.unlink(existingName) != 0) {
        int errnum = errno;
        systemCalls.unlink(newName);
        return FailWithErrno(errnum);
    }
    return TRUE;
}
} // namespace

BOOL MoveFileA(LPCSTR existingName, LPCSTR newName) {
    struct stat st;
    if (systemCalls.lstat(existingName, &st) != 0) {
        return FailForPath(errno, existingName);
    }
    // Our handles never allow deletion, and Windows refuses to move a file that is open.
    if (SharingConflict(st, GENERIC_READ | GENERIC_WRITE, 0)) {
        return FailWith(ERROR_SHARING_VIOLATION);
    }
    if (systemCalls.renameat2(AT_FDCWD, existingName, AT_FDCWD, newName, RENAME_NOREPLACE) == 0) {
        return TRUE;
    }
    int errnum = errno;
    if (errnum == EINVAL || errnum == ENOSYS || errnum == EOPNOTSUPP) {
        return LinkThenUnlink(existingName, newName);
    }
    return FailForPath(errnum, newName);
}
