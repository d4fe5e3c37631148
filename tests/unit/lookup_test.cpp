// The POSIX layer's name lookups against a scratch directory: a path's attributes, and the
// directory search with Windows wildcards that the joiner uses to find parts past a gap.
#include "test_support.h"

#include <set>
#include <unistd.h>

namespace {
class LookupTest : public TempDirTest {
  protected:
    // Every name a search for the pattern returns, or the error when it finds nothing.
    std::set<std::string> Search(const std::string& pattern, DWORD* error = nullptr) const {
        std::set<std::string> names;
        WIN32_FIND_DATAA entry;
        HANDLE search = FindFirstFileA(Path(pattern).c_str(), &entry);
        if (search == INVALID_HANDLE_VALUE) {
            if (error != nullptr) {
                *error = GetLastError();
            }
            return names;
        }
        do {
            names.insert(entry.cFileName);
        } while (FindNextFileA(search, &entry));
        EXPECT_EQ(GetLastError(), ERROR_NO_MORE_FILES);
        EXPECT_TRUE(FindClose(search));
        return names;
    }
};

struct PatternCase {
    const char* pattern;
    std::set<std::string> matches;
};

class Patterns : public LookupTest, public testing::WithParamInterface<PatternCase> {};

TEST_P(Patterns, MatchWholeNamesCaseSensitively) {
    for (const char* name : {"data.bin", "data.bin.000", "data.bin.1000", "data.binx",
                             "xdata.bin.001", "DATA.BIN.002", "data.bin.0a"}) {
        MakeFile(name, "x");
    }
    EXPECT_EQ(Search(GetParam().pattern), GetParam().matches);
}

INSTANTIATE_TEST_SUITE_P(
    Wildcards, Patterns,
    testing::Values(PatternCase{"data.bin.*", {"data.bin.000", "data.bin.1000", "data.bin.0a"}},
                    PatternCase{"data.bin.?0?", {"data.bin.000"}},
                    PatternCase{"*bin.0*", {"data.bin.000", "xdata.bin.001", "data.bin.0a"}},
                    PatternCase{"*.*0", {"data.bin.000", "data.bin.1000"}},
                    PatternCase{"data.bin", {"data.bin"}}));

TEST_F(LookupTest, SearchReturnsNamesWithoutTheirDirectory) {
    ASSERT_EQ(mkdir(Path("sub").c_str(), 0777), 0);
    MakeFile("sub/data.bin.003", "x");
    EXPECT_EQ(Search("sub/data.bin.*"), std::set<std::string>{"data.bin.003"});
}

TEST_F(LookupTest, SearchWithoutMatchesFailsWithFileNotFound) {
    MakeFile("data.bin", "x");
    DWORD error = 0;
    EXPECT_TRUE(Search("data.bin.*", &error).empty());
    EXPECT_EQ(error, ERROR_FILE_NOT_FOUND);
}

TEST_F(LookupTest, SearchInAMissingDirectoryFailsWithPathNotFound) {
    DWORD error = 0;
    EXPECT_TRUE(Search("nowhere/data.bin.*", &error).empty());
    EXPECT_EQ(error, ERROR_PATH_NOT_FOUND);
}

TEST_F(LookupTest, ClosedSearchIsNoLongerValid) {
    MakeFile("data.bin.000", "x");
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA(Path("data.bin.*").c_str(), &entry);
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(FindClose(search));
    EXPECT_FALSE(FindNextFileA(search, &entry));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST_F(LookupTest, AttributesTellFilesFromDirectories) {
    MakeFile("file", "x");
    ASSERT_EQ(mkdir(Path("dir").c_str(), 0777), 0);
    DWORD file = GetFileAttributesA(Path("file").c_str());
    DWORD dir = GetFileAttributesA(Path("dir").c_str());
    ASSERT_NE(file, INVALID_FILE_ATTRIBUTES);
    ASSERT_NE(dir, INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(file & FILE_ATTRIBUTE_DIRECTORY, 0u);
    EXPECT_NE(dir & FILE_ATTRIBUTE_DIRECTORY, 0u);
}

// A name taken by a link that leads nowhere is still taken: the joiner must not treat it as free.
TEST_F(LookupTest, AttributesOfADanglingLinkAreThoseOfTheLink) {
    ASSERT_EQ(symlink("absent", Path("link").c_str()), 0);
    EXPECT_NE(GetFileAttributesA(Path("link").c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(LookupTest, AttributesOfMissingNamesTellAMissingDirectory) {
    EXPECT_EQ(GetFileAttributesA(Path("absent").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(GetFileAttributesA(Path("nowhere/absent").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
}
} // namespace
