// cleave: cuts one file into numbered parts of a fixed size, or renames it to the first part
// name when it fits in one.
#include "cleave.h"

#include <cstdio>

namespace {
[[noreturn]] void Refuse(DWORD code, LPCSTR context) {
    SetLastError(code);
    ExitWithLastError(context);
}

// A split size of 0, a part count past 32 bits and a part name that does not fit are refused
// before anything is printed or created; negative split sizes run as they always have.
void CheckPlan(LPCSTR sourcePath, LONGLONG sourceSize, LONGLONG splitSize) {
    if (splitSize == 0) {
        Refuse(ERROR_INVALID_PARAMETER, "Invalid split size");
    }
    if (NeedsTooManyParts(sourceSize, splitSize)) {
        Refuse(ERROR_INVALID_PARAMETER, "Too many parts");
    }
    bool renames = sourceSize <= splitSize;
    DWORD partCount = CountParts(sourceSize, splitSize);
    if (!renames && partCount == 0) {
        return;
    }
    // A cut name could fall on another part or on the source itself.
    char longestName[PART_NAME_CHARS];
    if (FormatPartName(longestName, sourcePath, LongestNameIndex(renames ? 0 : partCount - 1)) !=
        S_OK) {
        Refuse(ERROR_FILENAME_EXCED_RANGE, "Part name too long");
    }
}

void PrintSummary(LONGLONG sourceSize, LONGLONG splitSize, DWORD partCount) {
    printf("Source file size: %" PRId64 "\n", sourceSize);
    printf("Split file size : %" PRId64 "\n", splitSize);
    printf("Part count      : %d\n\n", static_cast<int>(partCount));
}

void RenameToFirstPart(HANDLE source, LPCSTR sourcePath) {
    CloseHandle(source);
    char partName[PART_NAME_CHARS];
    FormatPartName(partName, sourcePath, 0);
    printf("Original file size is less than or equal to split size; renaming to '%s' instead.\n",
           partName);
    if (!MoveFileA(sourcePath, partName)) {
        ExitWithLastError("MoveFile failed");
    }
    printf("Done.\n");
}
} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        printf("Usage: %s [filename] [split size in bytes]\n", argc > 0 ? argv[0] : "cleave");
        return 1;
    }
    LPCSTR sourcePath = argv[1];
    LONGLONG splitSize = ParseSplitSize(argv[2]);

    HANDLE source = CreateFileA(sourcePath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (source == INVALID_HANDLE_VALUE) {
        ExitWithLastError("CreateFile failed");
    }
    LARGE_INTEGER sourceSize;
    if (!GetFileSizeEx(source, &sourceSize)) {
        ExitWithLastError("GetFileSizeEx failed");
    }

    CheckPlan(sourcePath, sourceSize.QuadPart, splitSize);
    DWORD partCount = CountParts(sourceSize.QuadPart, splitSize);
    PrintSummary(sourceSize.QuadPart, splitSize, partCount);

    if (sourceSize.QuadPart > splitSize) {
        SplitIntoParts(source, sourcePath, sourceSize.QuadPart, splitSize, partCount);
        CloseHandle(source);
        printf("* Split Completed Successfully.\n");
        return 0;
    }
    RenameToFirstPart(source, sourcePath);
    return 0;
}
