// The Windows calls, types and constants the splitter and the joiner use, declared for POSIX
// systems and provided by the sources beside this header. Only what they need is here.
#ifndef CLEAVE_WIN32_API_H
#define CLEAVE_WIN32_API_H

#include <cstdarg>
#include <cstddef>
#include <cstdint>

#include "error_codes.h"

typedef int BOOL;
typedef char CHAR;
typedef unsigned int UINT;
typedef uint32_t DWORD;
typedef int32_t LONG;
typedef int64_t LONGLONG;
typedef LONG HRESULT;
typedef size_t SIZE_T;
typedef DWORD* LPDWORD;
typedef void* HANDLE;
typedef void* HLOCAL;
typedef void* LPVOID;
typedef const void* LPCVOID;
typedef char* LPSTR;
typedef const char* LPCSTR;
typedef struct SECURITY_ATTRIBUTES* LPSECURITY_ATTRIBUTES;
typedef struct OVERLAPPED* LPOVERLAPPED;

union LARGE_INTEGER {
    struct {
        DWORD LowPart;
        LONG HighPart;
    } u;
    LONGLONG QuadPart;
};
typedef LARGE_INTEGER* PLARGE_INTEGER;

#define TRUE 1
#define FALSE 0
#define INVALID_HANDLE_VALUE ((HANDLE)(intptr_t)-1)

constexpr DWORD GENERIC_READ = 0x80000000u;
constexpr DWORD GENERIC_WRITE = 0x40000000u;
constexpr DWORD FILE_SHARE_READ = 0x1;
constexpr DWORD CREATE_NEW = 1;
constexpr DWORD CREATE_ALWAYS = 2;
constexpr DWORD OPEN_EXISTING = 3;
constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x80;
constexpr DWORD FILE_ATTRIBUTE_DIRECTORY = 0x10;
constexpr DWORD INVALID_FILE_ATTRIBUTES = 0xFFFFFFFFu;
constexpr DWORD MAX_PATH = 260;
constexpr DWORD FILE_BEGIN = 0;

// Only the fields the joiner reads; the name is the entry's own, without its directory.
struct WIN32_FIND_DATAA {
    DWORD dwFileAttributes;
    CHAR cFileName[MAX_PATH];
};

constexpr DWORD FORMAT_MESSAGE_ALLOCATE_BUFFER = 0x100;
constexpr DWORD FORMAT_MESSAGE_IGNORE_INSERTS = 0x200;
constexpr DWORD FORMAT_MESSAGE_FROM_SYSTEM = 0x1000;
constexpr DWORD LANG_NEUTRAL = 0x00;
constexpr DWORD SUBLANG_DEFAULT = 0x01;
constexpr DWORD MAKELANGID(DWORD primary, DWORD sub) {
    return (sub << 10) | primary;
}

constexpr UINT LMEM_FIXED = 0x0;
constexpr UINT LMEM_ZEROINIT = 0x40;

constexpr HRESULT S_OK = 0;
constexpr HRESULT E_INVALIDARG = (HRESULT)0x80070057u;
constexpr HRESULT STRSAFE_E_INSUFFICIENT_BUFFER = (HRESULT)0x8007007Au;
constexpr size_t STRSAFE_MAX_CCH = 2147483647;
constexpr bool SUCCEEDED(HRESULT hr) {
    return hr >= 0;
}

#define CLEAVE_DECLARE_ERROR(name, code, text) constexpr DWORD name = code;
CLEAVE_ERROR_CODES(CLEAVE_DECLARE_ERROR)
#undef CLEAVE_DECLARE_ERROR

HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                   DWORD disposition, DWORD attributes, HANDLE templateFile);
BOOL GetFileSizeEx(HANDLE file, PLARGE_INTEGER size);
BOOL SetFilePointerEx(HANDLE file, LARGE_INTEGER distance, PLARGE_INTEGER newPosition,
                      DWORD method);
BOOL SetEndOfFile(HANDLE file);
BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD toRead, LPDWORD read, LPOVERLAPPED overlapped);
BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD toWrite, LPDWORD written,
               LPOVERLAPPED overlapped);
BOOL MoveFileA(LPCSTR existingName, LPCSTR newName);
BOOL CloseHandle(HANDLE object);
DWORD GetFileAttributesA(LPCSTR name);
HANDLE FindFirstFileA(LPCSTR pattern, WIN32_FIND_DATAA* data);
BOOL FindNextFileA(HANDLE search, WIN32_FIND_DATAA* data);
BOOL FindClose(HANDLE search);

DWORD GetLastError();
void SetLastError(DWORD code);
DWORD FormatMessageA(DWORD flags, LPCVOID source, DWORD messageId, DWORD languageId, LPSTR buffer,
                     DWORD size, va_list* arguments);

int lstrlenA(LPCSTR text);
HLOCAL LocalAlloc(UINT flags, SIZE_T bytes);
SIZE_T LocalSize(HLOCAL block);
HLOCAL LocalFree(HLOCAL block);
[[noreturn]] void ExitProcess(UINT exitCode);

HRESULT StringCchPrintfA(LPSTR dest, size_t capacity, LPCSTR format, ...)
    __attribute__((format(printf, 3, 4)));

#endif
