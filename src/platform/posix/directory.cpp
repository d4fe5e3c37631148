// Name lookups with Windows semantics over POSIX: the attributes of a path, which never follow
// a symbolic link at its end, and a search of one directory for names that match a pattern in
// which '*' stands for any run of characters and '?' for any one character, case-sensitively.
// A search that matches nothing fails with ERROR_FILE_NOT_FOUND; one that has returned every
// match fails with ERROR_NO_MORE_FILES.
#include "internal.h"

#include <cerrno>
#include <cstring>
#include <dirent.h>

namespace {
constexpr int MAX_SEARCHES = 4;

struct Search {
    bool inUse;
    DIR* dir;
    char pattern[MAX_PATH];
};

Search searches[MAX_SEARCHES];

Search* LookupSearch(HANDLE search) {
    for (Search& s : searches) {
        if (s.inUse && &s == search) {
            return &s;
        }
    }
    return nullptr;
}

Search* FreeSearch() {
    for (Search& s : searches) {
        if (!s.inUse) {
            return &s;
        }
    }
    return nullptr;
}

// Backtracks only to the last '*', so a pattern costs time linear in the name per star.
bool Matches(const char* pattern, const char* name) {
    const char* star = nullptr;
    const char* resume = nullptr;
    while (*name != '\0') {
        if (*pattern == '*') {
            star = pattern++;
            resume = name;
        } else if (*pattern == '?' || *pattern == *name) {
            ++pattern;
            ++name;
        } else if (star != nullptr) {
            pattern = star + 1;
            name = ++resume;
        } else {
            return false;
        }
    }
    while (*pattern == '*') {
        ++pattern;
    }
    return *pattern == '\0';
}

// Fills data with the next entry that matches, or fails with ERROR_NO_MORE_FILES.
BOOL NextMatch(Search& search, WIN32_FIND_DATAA& data) {
    for (;;) {
        errno = 0;
        const dirent* entry = readdir(search.dir);
        if (entry == nullptr) {
            return errno != 0 ? FailWithErrno(errno) : FailWith(ERROR_NO_MORE_FILES);
        }
        if (Matches(search.pattern, entry->d_name)) {
            data.dwFileAttributes =
                entry->d_type == DT_DIR ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL;
            StringCchPrintfA(data.cFileName, MAX_PATH, "%s", entry->d_name);
            return TRUE;
        }
    }
}

void EndSearch(Search& search) {
    closedir(search.dir);
    search.inUse = false;
}
} // namespace

DWORD GetFileAttributesA(LPCSTR name) {
    struct stat st;
    if (systemCalls.lstat(name, &st) != 0) {
        FailForPath(errno, name);
        return INVALID_FILE_ATTRIBUTES;
    }
    return S_ISDIR(st.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL;
}

HANDLE FindFirstFileA(LPCSTR pattern, WIN32_FIND_DATAA* data) {
    Search* search = FreeSearch();
    if (search == nullptr) {
        FailWith(ERROR_TOO_MANY_OPEN_FILES);
        return INVALID_HANDLE_VALUE;
    }
    const char* slash = strrchr(pattern, '/');
    const char* namePattern = slash != nullptr ? slash + 1 : pattern;
    char dirName[MAX_PATH];
    size_t dirLength = slash == nullptr ? 0 : static_cast<size_t>(slash - pattern);
    if (dirLength >= MAX_PATH || strlen(namePattern) >= MAX_PATH) {
        FailWith(ERROR_FILENAME_EXCED_RANGE);
        return INVALID_HANDLE_VALUE;
    }
    StringCchPrintfA(dirName, MAX_PATH, "%.*s", static_cast<int>(dirLength), pattern);
    DIR* dir = opendir(slash == nullptr ? "." : slash == pattern ? "/" : dirName);
    if (dir == nullptr) {
        FailForPath(errno, pattern);
        return INVALID_HANDLE_VALUE;
    }
    *search = Search{true, dir, {}};
    StringCchPrintfA(search->pattern, MAX_PATH, "%s", namePattern);
    if (!NextMatch(*search, *data)) {
        DWORD code = GetLastError();
        EndSearch(*search);
        FailWith(code == ERROR_NO_MORE_FILES ? ERROR_FILE_NOT_FOUND : code);
        return INVALID_HANDLE_VALUE;
    }
    return search;
}

BOOL FindNextFileA(HANDLE search, WIN32_FIND_DATAA* data) {
    Search* s = LookupSearch(search);
    if (s == nullptr) {
        return FailWith(ERROR_INVALID_HANDLE);
    }
    return NextMatch(*s, *data);
}

BOOL FindClose(HANDLE search) {
    Search* s = LookupSearch(search);
    if (s == nullptr) {
        return FailWith(ERROR_INVALID_HANDLE);
    }
    EndSearch(*s);
    return TRUE;
}
