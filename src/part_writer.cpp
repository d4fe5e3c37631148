// Writes the parts of a split: each one announced, created, given its final length and then
// filled from the source through one fixed buffer. The joiner shares the last two steps.
#include "cleave.h"

#include <cstdio>

void GiveFinalLength(HANDLE file, LONGLONG length) {
    LARGE_INTEGER position;
    position.QuadPart = length;
    if (!SetFilePointerEx(file, position, nullptr, FILE_BEGIN)) {
        ExitWithLastError("SetFilePointerEx failed");
    }
    if (!SetEndOfFile(file)) {
        ExitWithLastError("SetEndOfFile failed");
    }
    position.QuadPart = 0;
    if (!SetFilePointerEx(file, position, nullptr, FILE_BEGIN)) {
        ExitWithLastError("SetFilePointerEx failed");
    }
}

void CopySlice(HANDLE source, HANDLE destination, LONGLONG length, char* buffer) {
    for (LONGLONG copied = 0; copied < length;) {
        DWORD chunk = copied + COPY_CHUNK_SIZE <= length ? COPY_CHUNK_SIZE
                                                         : static_cast<DWORD>(length - copied);
        DWORD bytesRead = 0;
        if (!ReadFile(source, buffer, chunk, &bytesRead, nullptr)) {
            ExitWithLastError("ReadFile failed");
        }
        // The source ended early: without this the loop would never finish.
        if (bytesRead == 0) {
            SetLastError(ERROR_HANDLE_EOF);
            ExitWithLastError("ReadFile failed");
        }
        DWORD bytesWritten = 0;
        if (!WriteFile(destination, buffer, bytesRead, &bytesWritten, nullptr)) {
            ExitWithLastError("WriteFile failed");
        }
        copied += bytesWritten;
    }
}

void AnnouncePart(LPCSTR verb, LPCSTR partName, DWORD index, DWORD partCount, LONGLONG partSize) {
    printf("* %s '%s' as part %d of %d with size %" PRId64 " bytes... ", verb, partName,
           static_cast<int>(index + 1), static_cast<int>(partCount), partSize);
    fflush(stdout);
}

void ReportPartDone(DWORD index, DWORD partCount) {
    printf("Done (%.3f%% complete).\n", PercentDone(index, partCount));
}

void SplitIntoParts(HANDLE source, LPCSTR sourcePath, LONGLONG sourceSize, LONGLONG splitSize,
                    DWORD partCount) {
    alignas(COPY_BUFFER_ALIGNMENT) char buffer[COPY_CHUNK_SIZE];
    char partName[PART_NAME_CHARS];
    for (DWORD index = 0; index < partCount; ++index) {
        FormatPartName(partName, sourcePath, index);
        LONGLONG partSize = PartSize(index, partCount, sourceSize, splitSize);
        AnnouncePart("Creating", partName, index, partCount, partSize);

        HANDLE part = CreateFileA(partName, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (part == INVALID_HANDLE_VALUE) {
            ExitWithLastError("CreateFile failed");
        }
        GiveFinalLength(part, partSize);
        CopySlice(source, part, partSize, buffer);

        ReportPartDone(index, partCount);
        CloseHandle(part);
    }
}
