// cleave-join: puts the parts of a split back together into the file they were cut from. Every
// part is found and checked before anything is written, the parts are only read, and an existing
// file is never written over.
#include "cleave.h"

#include <cctype>
#include <cstdio>
#include <cstring>

namespace {
// The joined file grows under this name and takes its own only after its last byte, so a run
// that fails half-way never leaves a plausible-looking file. The suffix is as long as ".000", so
// the name fits wherever the first part's name does.
constexpr const char* PARTIAL_SUFFIX = ".tmp";
// Room for a context text around a part name.
constexpr size_t CONTEXT_CHARS = PART_NAME_CHARS + 40;

struct PartSet {
    DWORD count;
    LONGLONG partSize;
    LONGLONG lastSize;
    LONGLONG joinedSize;
};

[[noreturn]] void Refuse(DWORD code, LPCSTR context) {
    SetLastError(code);
    ExitWithLastError(context);
}

// Ends the run with the last error and a context that names the part, such as
// "Missing part 'data.bin.004'".
[[noreturn]] void FailOnPart(LPCSTR what, LPCSTR partName) {
    DWORD code = GetLastError();
    char context[CONTEXT_CHARS];
    StringCchPrintfA(context, CONTEXT_CHARS, "%s '%s'", what, partName);
    Refuse(code, context);
}

[[noreturn]] void RefusePart(DWORD code, LPCSTR what, LPCSTR targetPath, DWORD index) {
    char partName[PART_NAME_CHARS];
    FormatPartName(partName, targetPath, index);
    SetLastError(code);
    FailOnPart(what, partName);
}

void RefuseExistingTarget(LPCSTR targetPath) {
    if (GetFileAttributesA(targetPath) != INVALID_FILE_ATTRIBUTES) {
        Refuse(ERROR_FILE_EXISTS, "Target file exists");
    }
    DWORD code = GetLastError();
    if (code != ERROR_FILE_NOT_FOUND && code != ERROR_PATH_NOT_FOUND) {
        ExitWithLastError("GetFileAttributes failed");
    }
}

// The size of a part, or -1 when no file has its name.
LONGLONG SizeOfPart(LPCSTR partName) {
    HANDLE part = CreateFileA(partName, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (part == INVALID_HANDLE_VALUE) {
        if (GetLastError() == ERROR_FILE_NOT_FOUND) {
            return -1;
        }
        FailOnPart("CreateFile failed for", partName);
    }
    LARGE_INTEGER size;
    if (!GetFileSizeEx(part, &size)) {
        FailOnPart("GetFileSizeEx failed for", partName);
    }
    CloseHandle(part);
    return size.QuadPart;
}

// The parts are the consecutive indexes from 0 up to the first missing one. Every part but the
// last has the size of the first, and the last is no larger: a part that breaks this was cut
// short or does not belong to the set.
PartSet FindParts(LPCSTR targetPath) {
    char partName[PART_NAME_CHARS];
    if (FormatPartName(partName, targetPath, 0) != S_OK) {
        Refuse(ERROR_FILENAME_EXCED_RANGE, "Part name too long");
    }
    LONGLONG firstSize = SizeOfPart(partName);
    if (firstSize < 0) {
        RefusePart(ERROR_FILE_NOT_FOUND, "Missing part", targetPath, 0);
    }
    PartSet parts = {1, firstSize, firstSize, firstSize};
    // A name the rule cannot spell is a part the splitter never made: the set ends there.
    while (FormatPartName(partName, targetPath, parts.count) == S_OK) {
        LONGLONG size = SizeOfPart(partName);
        if (size < 0) {
            break;
        }
        if (parts.lastSize != parts.partSize) {
            RefusePart(ERROR_INVALID_DATA, "Wrong size of part", targetPath, parts.count - 1);
        }
        if (size > parts.partSize) {
            RefusePart(ERROR_INVALID_DATA, "Wrong size of part", targetPath, parts.count);
        }
        if (size > INT64_MAX - parts.joinedSize) {
            Refuse(ERROR_FILE_TOO_LARGE, "Joined file too large");
        }
        parts.joinedSize += size;
        parts.lastSize = size;
        ++parts.count;
    }
    return parts;
}

// Windows names differ in case only by letter case, and its searches match either way.
bool SameNameIgnoringCase(LPCSTR a, LPCSTR b) {
    for (; *a != '\0' && *b != '\0'; ++a, ++b) {
        if (tolower(static_cast<unsigned char>(*a)) != tolower(static_cast<unsigned char>(*b))) {
            return false;
        }
    }
    return *a == *b;
}

// Whether a directory entry is the part name of an index at or past the gap. Only the rule's own
// spelling counts: for index 5 that is "data.bin.005", not "data.bin.5" or "data.bin.0005".
bool IsPartAtOrPast(LPCSTR entryName, LPCSTR targetPath, DWORD gap) {
    LPCSTR dot = strrchr(entryName, '.');
    if (dot == nullptr || dot[1] == '\0') {
        return false;
    }
    uint64_t index = 0;
    for (LPCSTR digit = dot + 1; *digit != '\0'; ++digit) {
        if (*digit < '0' || *digit > '9' || index > INT32_MAX) {
            return false;
        }
        index = index * 10 + static_cast<uint64_t>(*digit - '0');
    }
    char partName[PART_NAME_CHARS];
    if (index < gap || index > INT32_MAX ||
        FormatPartName(partName, targetPath, static_cast<DWORD>(index)) != S_OK) {
        return false;
    }
    // The entry carries no directory, so it must be the whole last component of the part name.
    size_t nameLength = strlen(partName);
    size_t entryLength = strlen(entryName);
    if (entryLength > nameLength ||
        !SameNameIgnoringCase(partName + nameLength - entryLength, entryName)) {
        return false;
    }
    char before = entryLength == nameLength ? '/' : partName[nameLength - entryLength - 1];
    return before == '/' || before == '\\' || before == ':';
}

// A part name past the first missing index means that a part went missing in the middle: the set
// is incomplete, not shorter.
void RefuseStrayParts(LPCSTR targetPath, DWORD gap) {
    char pattern[PART_NAME_CHARS];
    StringCchPrintfA(pattern, PART_NAME_CHARS, "%s.*", targetPath);
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA(pattern, &entry);
    if (search == INVALID_HANDLE_VALUE) {
        if (GetLastError() == ERROR_FILE_NOT_FOUND) {
            return;
        }
        ExitWithLastError("FindFirstFile failed");
    }
    do {
        if (IsPartAtOrPast(entry.cFileName, targetPath, gap)) {
            FindClose(search);
            RefusePart(ERROR_FILE_NOT_FOUND, "Missing part", targetPath, gap);
        }
    } while (FindNextFileA(search, &entry));
    if (GetLastError() != ERROR_NO_MORE_FILES) {
        ExitWithLastError("FindNextFile failed");
    }
    FindClose(search);
}

void PrintSummary(const PartSet& parts) {
    printf("Part count      : %d\n", static_cast<int>(parts.count));
    printf("Part size       : %" PRId64 "\n", parts.partSize);
    printf("Joined file size: %" PRId64 "\n\n", parts.joinedSize);
}

HANDLE CreatePartial(LPCSTR partialPath, LONGLONG joinedSize) {
    printf("* Creating '%s' with size %" PRId64 " bytes... ", partialPath, joinedSize);
    fflush(stdout);
    HANDLE target = CreateFileA(partialPath, GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (target == INVALID_HANDLE_VALUE) {
        ExitWithLastError("CreateFile failed");
    }
    GiveFinalLength(target, joinedSize);
    printf("Done.\n");
    return target;
}

void AppendParts(HANDLE target, LPCSTR targetPath, const PartSet& parts) {
    alignas(COPY_BUFFER_ALIGNMENT) char buffer[COPY_CHUNK_SIZE];
    char partName[PART_NAME_CHARS];
    for (DWORD index = 0; index < parts.count; ++index) {
        FormatPartName(partName, targetPath, index);
        LONGLONG partSize = index == parts.count - 1 ? parts.lastSize : parts.partSize;
        AnnouncePart("Appending", partName, index, parts.count, partSize);

        HANDLE part = CreateFileA(partName, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (part == INVALID_HANDLE_VALUE) {
            ExitWithLastError("CreateFile failed");
        }
        CopySlice(part, target, partSize, buffer);

        ReportPartDone(index, parts.count);
        CloseHandle(part);
    }
}
} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        printf("Usage: %s [filename]\n", argc > 0 ? argv[0] : "cleave-join");
        return 1;
    }
    LPCSTR targetPath = argv[1];

    RefuseExistingTarget(targetPath);
    PartSet parts = FindParts(targetPath);
    RefuseStrayParts(targetPath, parts.count);
    char partialPath[PART_NAME_CHARS];
    if (StringCchPrintfA(partialPath, PART_NAME_CHARS, "%s%s", targetPath, PARTIAL_SUFFIX) !=
        S_OK) {
        Refuse(ERROR_FILENAME_EXCED_RANGE, "Part name too long");
    }
    PrintSummary(parts);

    HANDLE target = CreatePartial(partialPath, parts.joinedSize);
    AppendParts(target, targetPath, parts);
    CloseHandle(target);

    printf("* Renaming '%s' to '%s'... ", partialPath, targetPath);
    fflush(stdout);
    if (!MoveFileA(partialPath, targetPath)) {
        ExitWithLastError("MoveFile failed");
    }
    printf("Done.\n");
    printf("* Join Completed Successfully.\n");
    return 0;
}
