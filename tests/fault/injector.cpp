// Test-only: swaps the platform layer's system calls for counting stand-ins that fail the calls
// named by a plan in the environment variable CLEAVE_FAULTS. Linked only into cleave_faulty; the
// shipped cleave has no such variable and no other way to change its calls.
//
// The plan is a comma-separated list of rules:
//   KIND@N=ERRNO    the Nth call of KIND fails once with ERRNO (a number)
//   KIND@N+=ERRNO   the Nth call of KIND and every later one fail with ERRNO
//   eintr=KIND      every read or write is first interrupted (EINTR), then made for real
//   short=KIND      every read or write of more than one byte moves only half, rounded up
// KIND is open, fstat, lstat, seek, ftruncate, read, write, rename, link or unlink; "any" counts
// the calls of every kind together. Closing is never failed: its result is not examined.
//
// Standard error gets one "fault: ..." line when a rule fires and, at a normal exit, a "calls:"
// line with the counts, so a harness knows what happened without guessing.
#include "platform/posix/internal.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace {
enum Kind { OPEN, FSTAT, LSTAT, SEEK, FTRUNCATE, READ, WRITE, RENAME, LINK, UNLINK, ANY };
constexpr int KIND_COUNT = ANY + 1;
const char* const KIND_NAMES[KIND_COUNT] = {"open",      "fstat",  "lstat", "seek",
                                            "ftruncate", "read",   "write", "rename",
                                            "link",      "unlink", "any"};

struct Rule {
    int kind;
    long nth;
    bool persistent;
    int errnum;
};

constexpr int MAX_RULES = 16;
Rule rules[MAX_RULES];
int ruleCount = 0;
bool interrupts[KIND_COUNT];
bool shortens[KIND_COUNT];
bool interruptNext[KIND_COUNT];
long calls[KIND_COUNT];
long interrupted = 0;
long shortened = 0;
SystemCalls real;

void WriteToStderr(const char* line) {
    ssize_t ignored = write(STDERR_FILENO, line, strlen(line));
    (void)ignored;
}

[[noreturn]] void BadPlan(const char* rule) {
    fprintf(stderr, "cleave_faulty: cannot read fault rule '%s'\n", rule);
    _exit(125);
}

int KindNamed(const char* name, size_t length) {
    for (int kind = 0; kind < KIND_COUNT; ++kind) {
        if (strlen(KIND_NAMES[kind]) == length && strncmp(KIND_NAMES[kind], name, length) == 0) {
            return kind;
        }
    }
    return -1;
}

void ReadTransferRule(const char* rule, bool* table) {
    const char* name = strchr(rule, '=') + 1;
    int kind = KindNamed(name, strlen(name));
    if (kind != READ && kind != WRITE) {
        BadPlan(rule);
    }
    table[kind] = true;
}

void ReadFailureRule(const char* rule) {
    const char* at = strchr(rule, '@');
    if (at == nullptr || ruleCount == MAX_RULES) {
        BadPlan(rule);
    }
    Rule parsed{KindNamed(rule, static_cast<size_t>(at - rule)), 0, false, 0};
    char* end = nullptr;
    parsed.nth = strtol(at + 1, &end, 10);
    if (*end == '+') {
        parsed.persistent = true;
        ++end;
    }
    if (parsed.kind < 0 || parsed.nth < 1 || *end != '=') {
        BadPlan(rule);
    }
    const char* number = end + 1;
    parsed.errnum = static_cast<int>(strtol(number, &end, 10));
    if (end == number || *end != '\0' || parsed.errnum <= 0) {
        BadPlan(rule);
    }
    rules[ruleCount++] = parsed;
}

void ReadRule(const char* rule) {
    if (strncmp(rule, "eintr=", 6) == 0) {
        ReadTransferRule(rule, interrupts);
    } else if (strncmp(rule, "short=", 6) == 0) {
        ReadTransferRule(rule, shortens);
    } else {
        ReadFailureRule(rule);
    }
}

void ReadPlan(const char* plan) {
    char copy[1024];
    if (strlen(plan) >= sizeof copy) {
        BadPlan(plan);
    }
    strcpy(copy, plan);
    for (char* rule = strtok(copy, ","); rule != nullptr; rule = strtok(nullptr, ",")) {
        ReadRule(rule);
    }
}

bool Matches(const Rule& rule, long count) {
    return rule.persistent ? count >= rule.nth : count == rule.nth;
}

// Counts the call and says whether a rule fails it; errno is then set.
bool Fails(Kind kind) {
    ++calls[kind];
    ++calls[ANY];
    for (int i = 0; i < ruleCount; ++i) {
        const Rule& rule = rules[i];
        long count = calls[rule.kind];
        if ((rule.kind == kind || rule.kind == ANY) && Matches(rule, count)) {
            char line[200];
            snprintf(line, sizeof line,
                     "fault: %s call %ld (call %ld of any) failed with errno %d\n",
                     KIND_NAMES[kind], calls[kind], calls[ANY], rule.errnum);
            WriteToStderr(line);
            errno = rule.errnum;
            return true;
        }
    }
    return false;
}

// EINTR comes before the call is counted: the retry is the call the rules see.
bool Interrupts(Kind kind) {
    if (!interrupts[kind]) {
        return false;
    }
    interruptNext[kind] = !interruptNext[kind];
    if (interruptNext[kind]) {
        ++interrupted;
        errno = EINTR;
    }
    return interruptNext[kind];
}

size_t Shortened(Kind kind, size_t count) {
    if (!shortens[kind] || count < 2) {
        return count;
    }
    ++shortened;
    return (count + 1) / 2;
}

int Open(const char* path, int flags, mode_t mode) {
    return Fails(OPEN) ? -1 : real.open(path, flags, mode);
}

int Fstat(int fd, struct stat* st) {
    return Fails(FSTAT) ? -1 : real.fstat(fd, st);
}

int Lstat(const char* path, struct stat* st) {
    return Fails(LSTAT) ? -1 : real.lstat(path, st);
}

int Seek(int, off_t) {
    return Fails(SEEK) ? -1 : 0;
}

int Ftruncate(int fd, off_t length) {
    return Fails(FTRUNCATE) ? -1 : real.ftruncate(fd, length);
}

ssize_t Pread(int fd, void* buffer, size_t count, off_t offset) {
    if (Interrupts(READ) || Fails(READ)) {
        return -1;
    }
    return real.pread(fd, buffer, Shortened(READ, count), offset);
}

ssize_t Pwrite(int fd, const void* buffer, size_t count, off_t offset) {
    if (Interrupts(WRITE) || Fails(WRITE)) {
        return -1;
    }
    return real.pwrite(fd, buffer, Shortened(WRITE, count), offset);
}

int Renameat2(int oldDir, const char* oldPath, int newDir, const char* newPath,
              unsigned int flags) {
    return Fails(RENAME) ? -1 : real.renameat2(oldDir, oldPath, newDir, newPath, flags);
}

int Link(const char* existingPath, const char* newPath) {
    return Fails(LINK) ? -1 : real.link(existingPath, newPath);
}

int Unlink(const char* path) {
    return Fails(UNLINK) ? -1 : real.unlink(path);
}

void ReportCalls() {
    char line[400];
    int length = snprintf(line, sizeof line, "calls:");
    for (int kind = 0; kind < KIND_COUNT; ++kind) {
        length += snprintf(line + length, sizeof line - static_cast<size_t>(length), " %s=%ld",
                           KIND_NAMES[kind], calls[kind]);
    }
    snprintf(line + length, sizeof line - static_cast<size_t>(length),
             " interrupted=%ld shortened=%ld\n", interrupted, shortened);
    WriteToStderr(line);
}

struct Install {
    Install() {
        real = systemCalls;
        systemCalls = SystemCalls{Open,      Fstat, Lstat,  Ftruncate,  Pread, Pwrite,
                                  Renameat2, Link,  Unlink, real.close, Seek};
        const char* plan = getenv("CLEAVE_FAULTS");
        if (plan != nullptr) {
            ReadPlan(plan);
        }
        atexit(ReportCalls);
    }
} install;
} // namespace
