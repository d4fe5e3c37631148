// The POSIX layer's error codes and file calls, against real files in a scratch directory: the
// codes Windows would give, the share modes that keep a part off the source, and transfers that
// are whole or fail.
#include "platform/posix/internal.h"
#include "test_support.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <ostream>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {
// ---- error codes and texts ----

// The text FormatMessageA allocates for a code, or nothing when it has none.
std::optional<std::string> SystemText(DWORD code) {
    LPSTR text = nullptr;
    DWORD length = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS |
                                      FORMAT_MESSAGE_FROM_SYSTEM,
                                  nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                                  reinterpret_cast<LPSTR>(&text), 0, nullptr);
    if (length == 0 || text == nullptr) {
        return std::nullopt;
    }
    std::string result(text);
    EXPECT_EQ(result.size(), length) << code;
    LocalFree(text);
    return result;
}

TEST(ErrnoTable, EveryEntryMapsToACodeWithAText) {
    ASSERT_GT(ERRNO_CODE_COUNT, 0u);
    for (size_t i = 0; i < ERRNO_CODE_COUNT; ++i) {
        const ErrnoCode& entry = ERRNO_CODES[i];
        SCOPED_TRACE(strerror(entry.errnum));
        EXPECT_NE(entry.errnum, 0);
        EXPECT_NE(entry.code, ERROR_SUCCESS);
        // A second entry for the same errno would never be reached.
        EXPECT_EQ(WindowsCodeForErrno(entry.errnum), entry.code);
        std::optional<std::string> text = SystemText(entry.code);
        ASSERT_TRUE(text.has_value()) << entry.code;
        EXPECT_GT(text->size(), 1u);
        EXPECT_EQ(text->back(), '\n');
    }
}

struct Mapping {
    int errnum;
    DWORD code;
};

TEST(ErrnoTable, GivesTheWindowsCodeForEachCommonFailure) {
    const Mapping required[] = {
        {ENOENT, 2},   {EACCES, 5},   {EPERM, 5},   {EISDIR, 5},         {EEXIST, 183},
        {ENOSPC, 112}, {EDQUOT, 112}, {EFBIG, 223}, {ENAMETOOLONG, 206}, {EMFILE, 4},
        {ENFILE, 4},   {EROFS, 19},   {EIO, 1117},  {ELOOP, 1921},       {EPIPE, 109},
    };
    for (const Mapping& m : required) {
        EXPECT_EQ(WindowsCodeForErrno(m.errnum), m.code) << strerror(m.errnum);
    }
}

TEST(ErrnoTable, UnmappedErrnoFallsBackToGeneralFailureNeverZero) {
    EXPECT_EQ(UNMAPPED_ERRNO_CODE, ERROR_GEN_FAILURE);
    EXPECT_TRUE(SystemText(UNMAPPED_ERRNO_CODE).has_value());
    for (int errnum : {0, EDOM, ERANGE, 9999, -1}) {
        EXPECT_EQ(WindowsCodeForErrno(errnum), ERROR_GEN_FAILURE) << errnum;
        SetLastError(ERROR_SUCCESS);
        EXPECT_FALSE(FailWithErrno(errnum));
        EXPECT_EQ(GetLastError(), ERROR_GEN_FAILURE) << errnum;
    }
}

struct NamedCode {
    const char* name;
    DWORD code;
    const char* text;
};

#define CLEAVE_NAMED_CODE(name, code, text) {#name, code, text},
const NamedCode ALL_CODES[] = {CLEAVE_ERROR_CODES(CLEAVE_NAMED_CODE)};
#undef CLEAVE_NAMED_CODE

TEST(ErrorTexts, EveryCodeHasItsOwnTextEndingInALineFeed) {
    for (const NamedCode& entry : ALL_CODES) {
        SCOPED_TRACE(entry.name);
        std::optional<std::string> text = SystemText(entry.code);
        ASSERT_TRUE(text.has_value());
        EXPECT_EQ(*text, std::string(entry.text) + "\n");
        for (const NamedCode& other : ALL_CODES) {
            if (&other != &entry) {
                EXPECT_NE(other.code, entry.code) << other.name;
            }
        }
    }
}

TEST(ErrorTexts, CodeWithoutTextGivesNothing) {
    LPSTR text = nullptr;
    EXPECT_EQ(FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS |
                                 FORMAT_MESSAGE_FROM_SYSTEM,
                             nullptr, 12345, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                             reinterpret_cast<LPSTR>(&text), 0, nullptr),
              0u);
    EXPECT_EQ(text, nullptr);
    EXPECT_NE(GetLastError(), ERROR_SUCCESS);
}

TEST(ErrorTexts, CallerBufferIsNeverOverrun) {
    std::string expected = std::string(ErrorText(ERROR_FILE_NOT_FOUND)) + "\n";
    std::vector<char> buffer(expected.size() + 8, '#');
    DWORD exact = static_cast<DWORD>(expected.size() + 1);
    EXPECT_EQ(FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, ERROR_FILE_NOT_FOUND, 0,
                             buffer.data(), exact - 1, nullptr),
              0u);
    EXPECT_EQ(buffer[exact - 1], '#');
    EXPECT_EQ(FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, ERROR_FILE_NOT_FOUND, 0,
                             buffer.data(), exact, nullptr),
              exact - 1);
    EXPECT_EQ(std::string(buffer.data()), expected);
    EXPECT_EQ(buffer[exact], '#');
}

// ---- opening ----

// Every test starts with a plain file and a directory beside it.
class FilesTest : public TempDirTest {
  protected:
    void SetUp() override {
        TempDirTest::SetUp();
        MakeFile("plain", "0123456789");
        ASSERT_EQ(mkdir(Path("sub").c_str(), 0777), 0);
    }
};

enum class Open { Source, Part, New };

struct OpenFailure {
    const char* what;
    std::string name;
    Open how;
    DWORD code;
};

void PrintTo(const OpenFailure& c, std::ostream* out) {
    *out << c.what;
}

class OpenFailures : public FilesTest, public testing::WithParamInterface<OpenFailure> {};

TEST_P(OpenFailures, GiveTheWindowsCode) {
    const OpenFailure& c = GetParam();
    std::string path = Path(c.name);
    HANDLE opened = INVALID_HANDLE_VALUE;
    switch (c.how) {
    case Open::Source:
        opened = OpenSource(path);
        break;
    case Open::Part:
        opened = CreatePart(path);
        break;
    case Open::New:
        opened = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
        break;
    }
    DWORD code = GetLastError();
    ScopedHandle handle(opened);
    EXPECT_FALSE(handle.valid());
    EXPECT_EQ(code, c.code);
    EXPECT_EQ(Contents("plain"), "0123456789");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, OpenFailures,
    testing::Values(
        OpenFailure{"missing file", "missing", Open::Source, ERROR_FILE_NOT_FOUND},
        OpenFailure{"missing directory", "nodir/missing", Open::Source, ERROR_PATH_NOT_FOUND},
        OpenFailure{"missing nested directory", "sub/nodir/x", Open::Source, ERROR_PATH_NOT_FOUND},
        OpenFailure{"file in the way", "plain/missing", Open::Source, ERROR_PATH_NOT_FOUND},
        OpenFailure{"part in a missing directory", "nodir/x.000", Open::Part, ERROR_PATH_NOT_FOUND},
        OpenFailure{"directory as source", "sub", Open::Source, ERROR_ACCESS_DENIED},
        OpenFailure{"directory as part", "sub", Open::Part, ERROR_ACCESS_DENIED},
        OpenFailure{"new file that exists", "plain", Open::New, ERROR_FILE_EXISTS},
        OpenFailure{"name too long", std::string(300, 'n'), Open::Source,
                    ERROR_FILENAME_EXCED_RANGE}));

TEST_F(FilesTest, MissingFileBesideTheWorkingDirectoryGives2) {
    char saved[4096];
    ASSERT_NE(getcwd(saved, sizeof saved), nullptr);
    ASSERT_EQ(chdir(Path("sub").c_str()), 0);
    ScopedHandle handle(OpenSource("missing"));
    DWORD code = GetLastError();
    ASSERT_EQ(chdir(saved), 0);
    EXPECT_FALSE(handle.valid());
    EXPECT_EQ(code, ERROR_FILE_NOT_FOUND);
}

TEST_F(FilesTest, SymbolicLinkLoopIsRefused) {
    ASSERT_EQ(symlink("loop", Path("loop").c_str()), 0);
    ScopedHandle handle(OpenSource(Path("loop")));
    EXPECT_FALSE(handle.valid());
    EXPECT_EQ(GetLastError(), ERROR_CANT_RESOLVE_FILENAME);
}

TEST_F(FilesTest, NewFileIsCreatedOnce) {
    ScopedHandle created(CreateFileA(Path("new").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
    EXPECT_TRUE(created.valid());
    EXPECT_EQ(SizeOf("new"), 0);
}

TEST_F(FilesTest, PartCreationEmptiesAnExistingFile) {
    ScopedHandle part(CreatePart(Path("plain")));
    ASSERT_TRUE(part.valid());
    EXPECT_EQ(SizeOf("plain"), 0);
}

struct ModeCase {
    mode_t umask;
    mode_t mode;
};

void PrintTo(const ModeCase& c, std::ostream* out) {
    *out << "umask 0" << std::oct << c.umask << std::dec;
}

class PartMode : public FilesTest, public testing::WithParamInterface<ModeCase> {};

TEST_P(PartMode, Is0666LessTheUmask) {
    mode_t saved = umask(GetParam().umask);
    ScopedHandle part(CreatePart(Path("x.000")));
    umask(saved);
    ASSERT_TRUE(part.valid());
    struct stat st;
    ASSERT_EQ(stat(Path("x.000").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, GetParam().mode);
}

INSTANTIATE_TEST_SUITE_P(Umasks, PartMode,
                         testing::Values(ModeCase{022, 0644}, ModeCase{077, 0600},
                                         ModeCase{0, 0666}, ModeCase{027, 0640}));

// ---- share modes ----

struct Alias {
    const char* what;
    const char* name;
};

void PrintTo(const Alias& alias, std::ostream* out) {
    *out << alias.what;
}

// The source as the splitter holds it open, and the names that reach the same file.
class SharingTest : public TempDirTest, public testing::WithParamInterface<Alias> {
  protected:
    void SetUp() override {
        TempDirTest::SetUp();
        MakeFile("data.bin", "0123456789");
        ASSERT_EQ(symlink("data.bin", Path("symbolic").c_str()), 0);
        ASSERT_EQ(link(Path("data.bin").c_str(), Path("hard").c_str()), 0);
    }
};

TEST_P(SharingTest, PartOnTheOpenSourceIsRefusedBeforeTruncating) {
    std::string alias = Path(GetParam().name);
    ScopedHandle source(OpenSource(Path("data.bin")));
    ASSERT_TRUE(source.valid());

    ScopedHandle part(CreatePart(alias));
    DWORD code = GetLastError();
    EXPECT_FALSE(part.valid());
    EXPECT_EQ(code, ERROR_SHARING_VIOLATION);
    EXPECT_EQ(Contents("data.bin"), "0123456789");

    // Reading along is allowed: others may read the source too.
    ScopedHandle reader(OpenSource(alias));
    EXPECT_TRUE(reader.valid());
    reader.Close();

    // The guard belongs to the open handle, not to the file.
    source.Close();
    ScopedHandle later(CreatePart(alias));
    EXPECT_TRUE(later.valid());
}

INSTANTIATE_TEST_SUITE_P(Names, SharingTest,
                         testing::Values(Alias{"same name", "data.bin"},
                                         Alias{"symbolic link", "symbolic"},
                                         Alias{"hard link", "hard"}));

TEST_F(FilesTest, PartOpenWithoutSharingRefusesEveryOtherOpen) {
    ScopedHandle part(CreatePart(Path("x.000")));
    ASSERT_TRUE(part.valid());
    ScopedHandle reader(OpenSource(Path("x.000")));
    EXPECT_FALSE(reader.valid());
    EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
    ScopedHandle writer(CreatePart(Path("x.000")));
    EXPECT_FALSE(writer.valid());
    EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
}

// ---- FIFOs and devices ----

TEST_F(FilesTest, FifoOpensWithoutBlockingAndHasNoSize) {
    ASSERT_EQ(mkfifo(Path("fifo").c_str(), 0666), 0);
    std::string fifo = Path("fifo");
    ChildResult child = RunInChild([&fifo] {
        HANDLE source = OpenSource(fifo);
        LARGE_INTEGER size;
        BOOL measured = source != INVALID_HANDLE_VALUE && GetFileSizeEx(source, &size);
        printf("source %d %u\n", measured, static_cast<unsigned>(GetLastError()));
        CloseHandle(source);
        HANDLE part = CreatePart(fifo);
        printf("part %d %u\n", part != INVALID_HANDLE_VALUE, static_cast<unsigned>(GetLastError()));
    });
    ASSERT_TRUE(child.exited) << "ended by signal " << child.status;
    unsigned sourceCode = 0;
    unsigned partCode = 0;
    int measured = -1;
    int partOpened = -1;
    ASSERT_EQ(sscanf(child.output.c_str(), "source %d %u\npart %d %u", &measured, &sourceCode,
                     &partOpened, &partCode),
              4)
        << child.output;
    EXPECT_EQ(measured, 0);
    EXPECT_NE(sourceCode, 0u);
    EXPECT_NE(sourceCode, 1u);
    // Nobody reads the other end, so the write open is refused rather than waiting for one.
    EXPECT_EQ(partOpened, 0);
    EXPECT_NE(partCode, 0u);
}

TEST(Devices, OpenButHaveNoSize) {
    ScopedHandle device(OpenSource("/dev/null"));
    ASSERT_TRUE(device.valid());
    LARGE_INTEGER size;
    EXPECT_FALSE(GetFileSizeEx(device.get(), &size));
    EXPECT_NE(GetLastError(), ERROR_SUCCESS);
    EXPECT_NE(GetLastError(), 1u);
}

TEST_F(FilesTest, SizeIsSixtyFourBits) {
    const LONGLONG sizes[] = {0, 10, (LONGLONG{5} << 30) + 3};
    for (LONGLONG expected : sizes) {
        ASSERT_EQ(truncate(Path("plain").c_str(), expected), 0);
        ScopedHandle source(OpenSource(Path("plain")));
        ASSERT_TRUE(source.valid());
        LARGE_INTEGER size;
        ASSERT_TRUE(GetFileSizeEx(source.get(), &size));
        EXPECT_EQ(size.QuadPart, expected);
    }
}

// ---- rename ----

struct MoveFailure {
    const char* what;
    const char* from;
    const char* to;
    bool sourceOpen;
    DWORD code;
};

void PrintTo(const MoveFailure& c, std::ostream* out) {
    *out << c.what;
}

class MoveTest : public TempDirTest {
  protected:
    void SetUp() override {
        TempDirTest::SetUp();
        MakeFile("a", "AAAA");
        MakeFile("b", "BB");
    }
};

TEST_F(MoveTest, RenamesToAFreeName) {
    EXPECT_TRUE(MoveFileA(Path("a").c_str(), Path("a.000").c_str()));
    EXPECT_EQ(SizeOf("a"), -1);
    EXPECT_EQ(Contents("a.000"), "AAAA");
}

class MoveFailures : public MoveTest, public testing::WithParamInterface<MoveFailure> {};

TEST_P(MoveFailures, LeaveBothFilesAsTheyWere) {
    const MoveFailure& c = GetParam();
    ScopedHandle source(c.sourceOpen ? OpenSource(Path("a")) : INVALID_HANDLE_VALUE);
    BOOL moved = MoveFileA(Path(c.from).c_str(), Path(c.to).c_str());
    DWORD code = GetLastError();
    EXPECT_FALSE(moved);
    EXPECT_EQ(code, c.code);
    EXPECT_EQ(Contents("a"), "AAAA");
    EXPECT_EQ(Contents("b"), "BB");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MoveFailures,
    testing::Values(MoveFailure{"target exists", "a", "b", false, ERROR_ALREADY_EXISTS},
                    MoveFailure{"missing source", "missing", "c", false, ERROR_FILE_NOT_FOUND},
                    MoveFailure{"missing directory", "a", "nodir/a.000", false,
                                ERROR_PATH_NOT_FOUND},
                    MoveFailure{"source still open", "a", "a.000", true, ERROR_SHARING_VIOLATION}));

// ---- position and length ----

BOOL Seek(HANDLE file, LONGLONG position) {
    LARGE_INTEGER distance;
    distance.QuadPart = position;
    return SetFilePointerEx(file, distance, nullptr, FILE_BEGIN);
}

BOOL Write(HANDLE file, const std::string& bytes) {
    DWORD written = 0;
    BOOL ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    if (ok) {
        EXPECT_EQ(written, bytes.size());
    }
    return ok;
}

TEST_F(FilesTest, NegativeSeekFailsAndKeepsThePosition) {
    ScopedHandle part(CreatePart(Path("x.000")));
    ASSERT_TRUE(part.valid());
    ASSERT_TRUE(Seek(part.get(), 3));
    for (LONGLONG position : {LONGLONG{-1}, LONGLONG{-30}, INT64_MIN}) {
        EXPECT_FALSE(Seek(part.get(), position));
        EXPECT_EQ(GetLastError(), ERROR_NEGATIVE_SEEK) << position;
    }
    ASSERT_TRUE(Write(part.get(), "x"));
    EXPECT_EQ(Contents("x.000"), std::string("\0\0\0x", 4));
}

TEST_F(FilesTest, SeekReportsTheNewPosition) {
    ScopedHandle part(CreatePart(Path("x.000")));
    ASSERT_TRUE(part.valid());
    LARGE_INTEGER distance;
    LARGE_INTEGER position;
    distance.QuadPart = LONGLONG{6} << 30;
    ASSERT_TRUE(SetFilePointerEx(part.get(), distance, &position, FILE_BEGIN));
    EXPECT_EQ(position.QuadPart, distance.QuadPart);
}

struct LengthCase {
    LONGLONG before;
    LONGLONG position;
};

class EndOfFile : public FilesTest, public testing::WithParamInterface<LengthCase> {};

TEST_P(EndOfFile, IsSetAtTheCurrentPosition) {
    const LengthCase& c = GetParam();
    std::string original(static_cast<size_t>(c.before), 'o');
    MakeFile("x.000", original);
    ScopedHandle part(CreateFileA(Path("x.000").c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(part.valid());
    ASSERT_TRUE(Seek(part.get(), c.position));
    ASSERT_TRUE(SetEndOfFile(part.get()));
    LARGE_INTEGER size;
    ASSERT_TRUE(GetFileSizeEx(part.get(), &size));
    EXPECT_EQ(size.QuadPart, c.position);
    EXPECT_EQ(SizeOf("x.000"), c.position);
    if (c.position <= 1 << 20) {
        std::string expected = original.substr(0, static_cast<size_t>(c.position));
        expected.resize(static_cast<size_t>(c.position), '\0');
        EXPECT_EQ(Contents("x.000"), expected);
    }
}

INSTANTIATE_TEST_SUITE_P(Lengths, EndOfFile,
                         testing::Values(LengthCase{0, 10}, LengthCase{10, 4}, LengthCase{10, 10},
                                         LengthCase{10, 0}, LengthCase{4, 131077},
                                         LengthCase{0, (LONGLONG{5} << 30) + 1}));

// ---- reading and writing ----

std::string Pattern(size_t size) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<char>((i * 131) ^ (i >> 8));
    }
    return bytes;
}

TEST_F(FilesTest, ReadIsShortOnlyAtTheEnd) {
    const DWORD chunk = 131072;
    std::string bytes = Pattern(3 * chunk + 5);
    MakeFile("source", bytes);
    ScopedHandle source(OpenSource(Path("source")));
    ASSERT_TRUE(source.valid());

    std::vector<char> buffer(chunk);
    std::string copied;
    for (DWORD expected : {chunk, chunk, chunk, DWORD{5}, DWORD{0}, DWORD{0}}) {
        DWORD got = 12345;
        ASSERT_TRUE(ReadFile(source.get(), buffer.data(), chunk, &got, nullptr));
        ASSERT_EQ(got, expected);
        copied.append(buffer.data(), got);
    }
    EXPECT_EQ(copied, bytes);
}

TEST_F(FilesTest, LargeWriteStoresEverything) {
    std::string bytes = Pattern((size_t{8} << 20) + 3);
    ScopedHandle part(CreatePart(Path("x.000")));
    ASSERT_TRUE(part.valid());
    // The part writer's order: final length first, then the bytes from the start.
    ASSERT_TRUE(Seek(part.get(), static_cast<LONGLONG>(bytes.size())));
    ASSERT_TRUE(SetEndOfFile(part.get()));
    ASSERT_TRUE(Seek(part.get(), 0));
    ASSERT_TRUE(Write(part.get(), bytes));
    ASSERT_TRUE(Write(part.get(), "tail"));
    part.Close();
    EXPECT_EQ(Contents("x.000"), bytes + "tail");
}

TEST_F(FilesTest, HandlesRefuseWhatTheyWereNotOpenedFor) {
    ScopedHandle source(OpenSource(Path("plain")));
    ScopedHandle part(CreatePart(Path("x.000")));
    ASSERT_TRUE(source.valid());
    ASSERT_TRUE(part.valid());
    char buffer[4];
    DWORD count = 0;
    EXPECT_FALSE(ReadFile(part.get(), buffer, sizeof buffer, &count, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_FALSE(WriteFile(source.get(), "x", 1, &count, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_FALSE(SetEndOfFile(source.get()));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_EQ(Contents("plain"), "0123456789");
}

TEST_F(FilesTest, ClosedHandleIsInvalid) {
    HANDLE source = OpenSource(Path("plain"));
    ASSERT_NE(source, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(CloseHandle(source));
    char buffer[4];
    DWORD count = 0;
    LARGE_INTEGER size;
    EXPECT_FALSE(ReadFile(source, buffer, sizeof buffer, &count, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(GetFileSizeEx(source, &size));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(CloseHandle(source));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(CloseHandle(INVALID_HANDLE_VALUE));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

// ---- file-size limit ----

// Without SIGXFSZ ignored the limit would kill the process instead of failing the call.
TEST_F(FilesTest, FileSizeLimitFailsTheCallWith223) {
    std::string path = Path("x.000");
    ChildResult child = RunInChild([&path] {
        struct rlimit limit = {4096, 4096};
        setrlimit(RLIMIT_FSIZE, &limit);
        HANDLE part = CreatePart(path);
        BOOL extended = Seek(part, 8192) && SetEndOfFile(part);
        printf("SetEndOfFile %d %u\n", extended, static_cast<unsigned>(GetLastError()));
        std::string bytes(8192, 'w');
        DWORD written = 0;
        Seek(part, 0);
        BOOL wrote = WriteFile(part, bytes.data(), 8192, &written, nullptr);
        printf("WriteFile %d %u\n", wrote, static_cast<unsigned>(GetLastError()));
    });
    ASSERT_TRUE(child.exited) << "ended by signal " << child.status;
    EXPECT_EQ(child.output, "SetEndOfFile 0 223\nWriteFile 0 223\n");
}
} // namespace
