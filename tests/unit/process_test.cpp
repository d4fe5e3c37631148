// The POSIX layer's memory, string and process calls, and the error line the splitter builds on
// them: blocks that are zero-filled and large enough, a formatter that always terminates, and an
// exit that flushes nothing and never reports a failure as success.
#include "cleave.h"
#include "platform/posix/internal.h"
#include "test_support.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ostream>
#include <string>
#include <unistd.h>

namespace {
// ---- memory and strings ----

TEST(LocalMemory, BlocksAreZeroFilledAndAtLeastTheSizeAsked) {
    const SIZE_T sizes[] = {0, 1, 7, 40, 300, 4096, SIZE_T{1} << 20};
    for (SIZE_T size : sizes) {
        // Dirty a block first, so a reused one would show left-over bytes.
        HLOCAL dirty = LocalAlloc(LMEM_FIXED, size);
        ASSERT_NE(dirty, nullptr);
        memset(dirty, 0xA5, size);
        LocalFree(dirty);

        HLOCAL block = LocalAlloc(LMEM_FIXED | LMEM_ZEROINIT, size);
        ASSERT_NE(block, nullptr) << size;
        EXPECT_GE(LocalSize(block), size);
        const unsigned char* bytes = static_cast<const unsigned char*>(block);
        for (SIZE_T i = 0; i < LocalSize(block); ++i) {
            ASSERT_EQ(bytes[i], 0) << "byte " << i << " of " << size;
        }
        EXPECT_EQ(LocalFree(block), nullptr);
    }
}

TEST(LocalMemory, ImpossibleSizeFailsWithNotEnoughMemory) {
    EXPECT_EQ(LocalAlloc(LMEM_FIXED | LMEM_ZEROINIT, SIZE_MAX - 4), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_NOT_ENOUGH_MEMORY);
}

TEST(Strings, LengthInBytes) {
    std::string longText(300, 'x');
    EXPECT_EQ(lstrlenA(""), 0);
    EXPECT_EQ(lstrlenA("a"), 1);
    EXPECT_EQ(lstrlenA("data.bin.000"), 12);
    EXPECT_EQ(lstrlenA("\xc3\xa9t\xc3\xa9"), 5);
    EXPECT_EQ(lstrlenA(longText.c_str()), 300);
    EXPECT_EQ(lstrlenA(nullptr), 0);
}

// ---- bounded formatter ----

struct FormatCase {
    size_t capacity;
    const char* text;
    HRESULT result;
    const char* written; // nullptr: nothing may be written
};

void PrintTo(const FormatCase& c, std::ostream* out) {
    *out << "capacity " << c.capacity << ", \"" << c.text << '"';
}

class BoundedFormatter : public testing::TestWithParam<FormatCase> {};

TEST_P(BoundedFormatter, TerminatesAndReportsTheCut) {
    const FormatCase& c = GetParam();
    char dest[32];
    memset(dest, '#', sizeof dest);
    EXPECT_EQ(StringCchPrintfA(dest, c.capacity, "%s", c.text), c.result);
    if (c.written == nullptr) {
        EXPECT_EQ(std::string(dest, sizeof dest), std::string(sizeof dest, '#'));
        return;
    }
    EXPECT_STREQ(dest, c.written);
    size_t used = strlen(c.written) + 1;
    EXPECT_EQ(std::string(dest + used, sizeof dest - used), std::string(sizeof dest - used, '#'));
}

INSTANTIATE_TEST_SUITE_P(
    Capacities, BoundedFormatter,
    testing::Values(FormatCase{0, "abc", E_INVALIDARG, nullptr},
                    FormatCase{STRSAFE_MAX_CCH + 1, "abc", E_INVALIDARG, nullptr},
                    FormatCase{SIZE_MAX, "abc", E_INVALIDARG, nullptr},
                    FormatCase{STRSAFE_MAX_CCH, "abc", S_OK, "abc"},
                    FormatCase{4, "abc", S_OK, "abc"},
                    FormatCase{3, "abc", STRSAFE_E_INSUFFICIENT_BUFFER, "ab"},
                    FormatCase{1, "abc", STRSAFE_E_INSUFFICIENT_BUFFER, ""},
                    FormatCase{1, "", S_OK, ""},
                    FormatCase{8, "abcdefghij", STRSAFE_E_INSUFFICIENT_BUFFER, "abcdefg"}));

TEST(BoundedFormatter, ResultCodesAreTheWindowsValues) {
    EXPECT_EQ(static_cast<uint32_t>(E_INVALIDARG), 0x80070057u);
    EXPECT_EQ(static_cast<uint32_t>(STRSAFE_E_INSUFFICIENT_BUFFER), 0x8007007Au);
    EXPECT_FALSE(SUCCEEDED(E_INVALIDARG));
    EXPECT_FALSE(SUCCEEDED(STRSAFE_E_INSUFFICIENT_BUFFER));
}

// ---- exit status ----

struct StatusCase {
    UINT code;
    int status;
};

void PrintTo(const StatusCase& c, std::ostream* out) {
    *out << "code " << c.code;
}

class ExitStatus : public testing::TestWithParam<StatusCase> {};

TEST_P(ExitStatus, KeepsTheLowBitsButNeverTurnsAFailureIntoZero) {
    EXPECT_EQ(ExitStatusFor(GetParam().code), GetParam().status);
}

INSTANTIATE_TEST_SUITE_P(Codes, ExitStatus,
                         testing::Values(StatusCase{0, 0}, StatusCase{1, 1}, StatusCase{2, 2},
                                         StatusCase{183, 183}, StatusCase{255, 255},
                                         StatusCase{256, 1}, StatusCase{512, 1},
                                         StatusCase{1117, 93}, StatusCase{1142, 118},
                                         StatusCase{1921, 129}, StatusCase{0x80070057u, 87},
                                         StatusCase{0xFFFFFF00u, 1}));

class RealExit : public testing::TestWithParam<StatusCase> {};

TEST_P(RealExit, EndsAtOnceWithoutFlushing) {
    UINT code = GetParam().code;
    ChildResult child = RunInChild([code] {
        printf("still in the buffer");
        ExitProcess(code);
    });
    ASSERT_TRUE(child.exited) << "ended by signal " << child.status;
    EXPECT_EQ(child.status, GetParam().status);
    EXPECT_EQ(child.output, "");
}

INSTANTIATE_TEST_SUITE_P(Codes, RealExit,
                         testing::Values(StatusCase{0, 0}, StatusCase{2, 2}, StatusCase{256, 1},
                                         StatusCase{1117, 93}));

// ---- the error line ----

struct ReportCase {
    const char* what;
    const char* before;
    DWORD code;
    std::string context;
    std::string output;
    int status;
};

void PrintTo(const ReportCase& c, std::ostream* out) {
    *out << c.what;
}

class ErrorLine : public testing::TestWithParam<ReportCase> {};

TEST_P(ErrorLine, IsPrintedWholeAndEndsTheRunWithTheCode) {
    const ReportCase& c = GetParam();
    ChildResult child = RunInChild([&c] {
        printf("%s", c.before);
        SetLastError(c.code);
        ExitWithLastError(c.context.c_str());
    });
    ASSERT_TRUE(child.exited) << "ended by signal " << child.status;
    EXPECT_EQ(child.output, c.output);
    EXPECT_EQ(child.status, c.status);
}

const std::string LONG_CONTEXT(300, 'c');

INSTANTIATE_TEST_SUITE_P(
    Codes, ErrorLine,
    testing::Values(
        ReportCase{"missing source", "", 2, "CreateFile failed",
                   "CreateFile failed: ERROR 0x00000002 (2): The file does not exist.\n\n", 2},
        ReportCase{"existing target", "", 183, "MoveFile failed",
                   "MoveFile failed: ERROR 0x000000B7 (183): "
                   "A file with the new name already exists.\n\n",
                   183},
        ReportCase{"continues the announcement",
                   "* Creating 'data.bin.000' as part 1 of 3 with size 4 bytes... ", 223,
                   "SetEndOfFile failed",
                   "* Creating 'data.bin.000' as part 1 of 3 with size 4 bytes... "
                   "SetEndOfFile failed: ERROR 0x000000DF (223): "
                   "The file would grow past the size allowed.\n\n",
                   223},
        ReportCase{"low bits of the status", "", 1117, "ReadFile failed",
                   "ReadFile failed: ERROR 0x0000045D (1117): "
                   "The device reported an input/output error.\n\n",
                   93},
        ReportCase{"no code at all", "", 0, "WriteFile failed",
                   "WriteFile failed: ERROR 0x00000000 (0): "
                   "The operation completed successfully.\n\n",
                   1},
        ReportCase{"code without text", "", 12345, "ReadFile failed",
                   "ReadFile failed: ERROR 0x00003039 (12345): Unknown error\n\n", 57},
        ReportCase{"code without text and low bits 0", "", 256, "ReadFile failed",
                   "ReadFile failed: ERROR 0x00000100 (256): Unknown error\n\n", 1},
        ReportCase{"high code prints negative", "", 0x80070057u, "CreateFile failed",
                   "CreateFile failed: ERROR 0x80070057 (-2147024809): Unknown error\n\n", 87},
        // The longest decimal there is, after a long context: the line must not be cut.
        ReportCase{"longest line", "", 0x80000000u, LONG_CONTEXT,
                   LONG_CONTEXT + ": ERROR 0x80000000 (-2147483648): Unknown error\n\n", 1}));

// ---- signals ----

TEST(Signals, BrokenPipeAndFileSizeLimitAreIgnored) {
    for (int signal : {SIGPIPE, SIGXFSZ}) {
        struct sigaction current;
        ASSERT_EQ(sigaction(signal, nullptr, &current), 0);
        EXPECT_EQ(current.sa_handler, SIG_IGN) << strsignal(signal);
    }
}

// `cleave big 1 | head -1` must go on writing parts after the reader has gone.
TEST(Signals, WritingToAClosedPipeFailsInsteadOfKilling) {
    ChildResult child = RunInChild([] {
        int fds[2];
        if (pipe(fds) != 0) {
            _exit(2);
        }
        close(fds[0]);
        ssize_t written = write(fds[1], "x", 1);
        printf("%d %d", static_cast<int>(written), errno == EPIPE);
    });
    ASSERT_TRUE(child.exited) << "ended by signal " << child.status;
    EXPECT_EQ(child.output, "-1 1");
}
} // namespace
