// What the splitter's units share: the fixed buffer sizes, the rules of the split plan and the
// part name rule, and the two routines that cross unit boundaries.
#ifndef CLEAVE_H
#define CLEAVE_H

#include "platform/platform.h"

#include <cinttypes>
#include <cstdint>

constexpr DWORD COPY_CHUNK_SIZE = 131072;
// Copy buffers start on a page. The kernel's copies to and from the page cache run at half speed
// when the buffer sits a few bytes off a page boundary, where a stack address may fall.
constexpr size_t COPY_BUFFER_ALIGNMENT = 4096;
constexpr size_t PART_NAME_CHARS = 260;

// A 64-bit decimal read with no error reporting: leading white space, an optional sign, then
// digits up to the first non-digit. Overflow wraps; no digits reads as 0.
inline LONGLONG ParseSplitSize(const char* text) {
    while (*text == ' ' || (*text >= '\t' && *text <= '\r')) {
        ++text;
    }
    bool negative = *text == '-';
    if (*text == '-' || *text == '+') {
        ++text;
    }
    uint64_t value = 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
        value = value * 10 + static_cast<uint64_t>(*text - '0');
    }
    return static_cast<LONGLONG>(negative ? 0 - value : value);
}

// The quotient rounded up, in 32 bits. Negative split sizes give the wrapped counts that
// existing callers know: a quotient of -1 becomes 0, and so on.
inline DWORD CountParts(LONGLONG sourceSize, LONGLONG splitSize) {
    DWORD count = static_cast<DWORD>(sourceSize / splitSize);
    uint64_t covered = static_cast<uint64_t>(count) * static_cast<uint64_t>(splitSize);
    if (static_cast<LONGLONG>(covered) < sourceSize) {
        ++count;
    }
    return count;
}

// A positive split size whose part count does not fit in 32 bits.
inline bool NeedsTooManyParts(LONGLONG sourceSize, LONGLONG splitSize) {
    if (splitSize <= 0 || sourceSize <= 0) {
        return false;
    }
    LONGLONG needed = sourceSize / splitSize + (sourceSize % splitSize != 0 ? 1 : 0);
    return needed > static_cast<LONGLONG>(UINT32_MAX);
}

inline LONGLONG PartSize(DWORD index, DWORD count, LONGLONG sourceSize, LONGLONG splitSize) {
    if (index != count - 1) {
        return splitSize;
    }
    uint64_t before = static_cast<uint64_t>(count - 1) * static_cast<uint64_t>(splitSize);
    return static_cast<LONGLONG>(static_cast<uint64_t>(sourceSize) - before);
}

// Divide first: part 23 of 320 must show 7.187, not the 7.188 of (23 * 100) / 320.
inline double PercentDone(DWORD index, DWORD count) {
    return static_cast<double>(index + 1) / static_cast<double>(count) * 100;
}

// The source path as given, a dot and the index zero-padded to at least three digits. Anything
// but S_OK means the name was cut and must not be used.
inline HRESULT FormatPartName(char (&name)[PART_NAME_CHARS], LPCSTR sourcePath, DWORD index) {
    return StringCchPrintfA(name, PART_NAME_CHARS, "%s.%03d", sourcePath, static_cast<int>(index));
}

// The index with the longest part name up to lastIndex. Indexes print with %d, so from 2^31 on
// the longest is index 2^31 ("-2147483648"), not the last.
inline DWORD LongestNameIndex(DWORD lastIndex) {
    return lastIndex < 0x80000000u ? lastIndex : 0x80000000u;
}

// Sets the file's length up front and goes back to its start, so the copy only overwrites.
void GiveFinalLength(HANDLE file, LONGLONG length);
// Copies the next length bytes of source into destination through buffer, COPY_CHUNK_SIZE bytes
// at a time; a source that ends early is a failure.
void CopySlice(HANDLE source, HANDLE destination, LONGLONG length, char* buffer);
// A part's line: "* <verb> '<name>' as part i of n with size s bytes... ", flushed before the
// part is touched so that it shows while the part is copied and a failure continues it; the
// report of the copied part ends the line with the percentage done.
void AnnouncePart(LPCSTR verb, LPCSTR partName, DWORD index, DWORD partCount, LONGLONG partSize);
void ReportPartDone(DWORD index, DWORD partCount);
void SplitIntoParts(HANDLE source, LPCSTR sourcePath, LONGLONG sourceSize, LONGLONG splitSize,
                    DWORD partCount);
[[noreturn]] void ExitWithLastError(LPCSTR context);

#endif
