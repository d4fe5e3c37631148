// Turns the last system error into one line on standard output and ends the process with the
// error code as its exit status.
#include "cleave.h"

#include <cstdio>

namespace {
// Room for ": ERROR 0x", eight hex digits, " (", up to eleven decimal characters, "): " and the
// terminator, so the line is never cut.
constexpr int ERROR_TEXT_SLACK = 40;
} // namespace

void ExitWithLastError(LPCSTR context) {
    DWORD code = GetLastError();
    LPSTR systemText = nullptr;
    DWORD textLength = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM,
        nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
        reinterpret_cast<LPSTR>(&systemText), 0, nullptr);
    LPCSTR text = textLength != 0 && systemText != nullptr ? systemText : "Unknown error\n";

    // Added as sizes, not ints, so that no length can overflow the sum.
    SIZE_T lineBytes = static_cast<SIZE_T>(lstrlenA(text)) +
                       static_cast<SIZE_T>(lstrlenA(context)) + ERROR_TEXT_SLACK;
    HLOCAL line = LocalAlloc(LMEM_FIXED | LMEM_ZEROINIT, lineBytes);
    if (line != nullptr) {
        StringCchPrintfA(static_cast<LPSTR>(line), LocalSize(line), "%s: ERROR 0x%08X (%d): %s",
                         context, static_cast<unsigned>(code), static_cast<int>(code), text);
    }
    // Without memory for the line, the context alone still tells the user what failed.
    printf("%s\n", line != nullptr ? static_cast<LPCSTR>(line) : context);

    if (textLength != 0) {
        LocalFree(systemText);
    }
    LocalFree(line);
    fflush(stdout);
    // A failure must never look like success, even when the call set no code.
    ExitProcess(code != 0 ? code : 1);
}
