// Memory blocks, string length, process exit and the bounded formatter. LocalAlloc blocks
// remember their size so LocalSize is exact; ExitProcess ends at once, flushing nothing; a
// failure status never reaches the shell as 0 although a status keeps only its low 8 bits.
#include "internal.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {
struct alignas(alignof(std::max_align_t)) BlockHeader {
    SIZE_T size;
};

BlockHeader* HeaderOf(HLOCAL block) {
    return static_cast<BlockHeader*>(block) - 1;
}

// A closed pipe on standard output must not kill the run, and a file-size limit must show up
// as a failed call with its own error line rather than as a signal. A standard stream that was
// closed is opened on /dev/null, so that no part file takes its number and receives the output.
struct ProcessSetup {
    ProcessSetup() noexcept {
        signal(SIGPIPE, SIG_IGN);
        signal(SIGXFSZ, SIG_IGN);
        for (int fd = 0; fd < 3; ++fd) {
            if (fcntl(fd, F_GETFD) < 0) {
                open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
            }
        }
    }
} processSetup;
} // namespace

int lstrlenA(LPCSTR text) {
    return text == nullptr ? 0 : static_cast<int>(strlen(text));
}

HLOCAL LocalAlloc(UINT flags, SIZE_T bytes) {
    SIZE_T total = sizeof(BlockHeader) + bytes;
    if (total < bytes) {
        FailWith(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    void* raw = (flags & LMEM_ZEROINIT) ? calloc(1, total) : malloc(total);
    if (raw == nullptr) {
        FailWith(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    BlockHeader* header = static_cast<BlockHeader*>(raw);
    header->size = bytes;
    return header + 1;
}

SIZE_T LocalSize(HLOCAL block) {
    return block == nullptr ? 0 : HeaderOf(block)->size;
}

HLOCAL LocalFree(HLOCAL block) {
    if (block != nullptr) {
        free(HeaderOf(block));
    }
    return nullptr;
}

int ExitStatusFor(UINT code) {
    int status = static_cast<int>(code & 0xFF);
    return (status == 0 && code != 0) ? 1 : status;
}

void ExitProcess(UINT exitCode) {
    _exit(ExitStatusFor(exitCode));
}

HRESULT StringCchPrintfA(LPSTR dest, size_t capacity, LPCSTR format, ...) {
    if (capacity == 0 || capacity > STRSAFE_MAX_CCH) {
        return E_INVALIDARG;
    }
    va_list args;
    va_start(args, format);
    int needed = vsnprintf(dest, capacity, format, args);
    va_end(args);
    if (needed < 0) {
        dest[0] = '\0';
        return E_INVALIDARG;
    }
    return static_cast<size_t>(needed) < capacity ? S_OK : STRSAFE_E_INSUFFICIENT_BUFFER;
}
