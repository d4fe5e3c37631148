// The split plan's pure rules: reading the split size, counting, sizing and naming the parts,
// and the progress percentage.
#include "cleave.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <ostream>
#include <string>

namespace {
constexpr LONGLONG KIB = 1024;
constexpr LONGLONG GIB = KIB * KIB * KIB;
constexpr LONGLONG TWO_TO_32 = LONGLONG{1} << 32;

std::string Quoted(const char* text) {
    return testing::PrintToString(std::string(text));
}

// ---- split size ----

struct ParseCase {
    const char* text;
    LONGLONG expected;
};

void PrintTo(const ParseCase& c, std::ostream* out) {
    *out << Quoted(c.text);
}

class SplitSizeParse : public testing::TestWithParam<ParseCase> {};

TEST_P(SplitSizeParse, ReadsLeadingDigitsOnly) {
    EXPECT_EQ(ParseSplitSize(GetParam().text), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Texts, SplitSizeParse,
                         testing::Values(ParseCase{"4", 4}, ParseCase{"1e3", 1},
                                         ParseCase{"12abc", 12}, ParseCase{"  +512", 512},
                                         ParseCase{"-8", -8}, ParseCase{"abc", 0}, ParseCase{"", 0},
                                         ParseCase{"+", 0}, ParseCase{"-", 0}, ParseCase{"+-5", 0},
                                         ParseCase{"- 5", 0}, ParseCase{"0x10", 0},
                                         ParseCase{"007", 7}, ParseCase{"5 6", 5},
                                         ParseCase{"3\n", 3}));

INSTANTIATE_TEST_SUITE_P(
    WhiteSpace, SplitSizeParse,
    testing::Values(ParseCase{" 1", 1}, ParseCase{"\t2", 2}, ParseCase{"\n3", 3},
                    ParseCase{"\v4", 4}, ParseCase{"\f5", 5}, ParseCase{"\r6", 6},
                    ParseCase{" \t\n\v\f\r-7", -7},
                    // Only those six: other control characters end the number before it starts.
                    ParseCase{"\b8", 0},
                    ParseCase{"\x1c"
                              "9",
                              0}));

INSTANTIATE_TEST_SUITE_P(Overflow, SplitSizeParse,
                         testing::Values(ParseCase{"9223372036854775807", INT64_MAX},
                                         ParseCase{"9223372036854775808", INT64_MIN},
                                         ParseCase{"-9223372036854775808", INT64_MIN},
                                         ParseCase{"18446744073709551615", -1},
                                         ParseCase{"18446744073709551616", 0},
                                         ParseCase{"18446744073709551621", 5},
                                         ParseCase{"99999999999999999999", 7766279631452241919},
                                         ParseCase{"-99999999999999999999", -7766279631452241919}));

// ---- part count ----

struct CountCase {
    LONGLONG sourceSize;
    LONGLONG splitSize;
    DWORD expected;
};

void PrintTo(const CountCase& c, std::ostream* out) {
    *out << c.sourceSize << " / " << c.splitSize;
}

class PartCount : public testing::TestWithParam<CountCase> {};

TEST_P(PartCount, IsTheWrappedRoundedUpQuotient) {
    const CountCase& c = GetParam();
    EXPECT_EQ(CountParts(c.sourceSize, c.splitSize), c.expected);
}

INSTANTIATE_TEST_SUITE_P(PositiveSplitSizes, PartCount,
                         testing::Values(CountCase{10, 4, 3}, CountCase{8, 4, 2},
                                         CountCase{0, 4, 0}, CountCase{10, 10, 1},
                                         CountCase{4, 10, 1}, CountCase{11, 10, 2},
                                         CountCase{1, 1, 1}, CountCase{5 * GIB, GIB, 5},
                                         CountCase{5 * GIB + 1, GIB, 6},
                                         CountCase{TWO_TO_32 - 1, 1, UINT32_MAX}));

// What the count becomes when nothing refuses the plan: the low 32 bits wrap.
INSTANTIATE_TEST_SUITE_P(BeyondThirtyTwoBits, PartCount,
                         testing::Values(CountCase{TWO_TO_32, 1, 1}, CountCase{TWO_TO_32 + 7, 1, 8},
                                         CountCase{2 * TWO_TO_32 + 1, 2, 1}));

INSTANTIATE_TEST_SUITE_P(NegativeSplitSizes, PartCount,
                         testing::Values(
                             // An empty source: no part.
                             CountCase{0, -20, 0},
                             // Shorter than the magnitude: one part, a whole copy.
                             CountCase{10, -20, 1},
                             // At least the magnitude, less than twice it: -1 wraps to 0.
                             CountCase{20, -20, 0}, CountCase{30, -20, 0}, CountCase{39, -20, 0},
                             // Longer: a count that prints as a negative number.
                             CountCase{40, -20, 0xFFFFFFFFu}, CountCase{100, -30, 0xFFFFFFFEu},
                             CountCase{10, -1, 0xFFFFFFF7u}, CountCase{10, INT64_MIN, 1}));

TEST(PartCount, PrintsNegativeForTheLongNegativeCase) {
    EXPECT_EQ(static_cast<int>(CountParts(100, -30)), -2);
}

// ---- too many parts ----

struct TooManyCase {
    LONGLONG sourceSize;
    LONGLONG splitSize;
    bool expected;
};

void PrintTo(const TooManyCase& c, std::ostream* out) {
    *out << c.sourceSize << " / " << c.splitSize;
}

class TooManyParts : public testing::TestWithParam<TooManyCase> {};

TEST_P(TooManyParts, RefusesCountsFromTwoToTheThirtyTwo) {
    const TooManyCase& c = GetParam();
    EXPECT_EQ(NeedsTooManyParts(c.sourceSize, c.splitSize), c.expected);
    // Every plan that is let through gets the true quotient rounded up.
    if (!c.expected && c.splitSize > 0) {
        LONGLONG rounded = c.sourceSize / c.splitSize + (c.sourceSize % c.splitSize != 0);
        EXPECT_EQ(static_cast<LONGLONG>(CountParts(c.sourceSize, c.splitSize)), rounded);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Boundary, TooManyParts,
    testing::Values(TooManyCase{TWO_TO_32 - 1, 1, false}, TooManyCase{TWO_TO_32, 1, true},
                    TooManyCase{2 * TWO_TO_32 - 2, 2, false},
                    TooManyCase{2 * TWO_TO_32 - 1, 2, true}, TooManyCase{2 * TWO_TO_32, 2, true},
                    TooManyCase{INT64_MAX, 1, true}, TooManyCase{INT64_MAX, INT64_MAX, false},
                    TooManyCase{INT64_MAX, INT64_MAX / 2, false}, TooManyCase{10, 4, false},
                    TooManyCase{0, 1, false}));

// Negative split sizes keep their wrapped counts; they are never refused for their count.
INSTANTIATE_TEST_SUITE_P(NegativeSplitSizes, TooManyParts,
                         testing::Values(TooManyCase{INT64_MAX, -1, false},
                                         TooManyCase{TWO_TO_32, -1, false},
                                         TooManyCase{100, -30, false}));

// ---- part sizes ----

struct SizesCase {
    LONGLONG sourceSize;
    LONGLONG splitSize;
    LONGLONG lastPart;
};

void PrintTo(const SizesCase& c, std::ostream* out) {
    *out << c.sourceSize << " / " << c.splitSize;
}

class PartSizes : public testing::TestWithParam<SizesCase> {};

TEST_P(PartSizes, AllButTheLastHoldTheSplitSizeAndTogetherTheSource) {
    const SizesCase& c = GetParam();
    DWORD count = CountParts(c.sourceSize, c.splitSize);
    LONGLONG total = 0;
    for (DWORD index = 0; index + 1 < count; ++index) {
        ASSERT_EQ(PartSize(index, count, c.sourceSize, c.splitSize), c.splitSize) << index;
        total += c.splitSize;
    }
    LONGLONG last = PartSize(count - 1, count, c.sourceSize, c.splitSize);
    EXPECT_EQ(last, c.lastPart);
    EXPECT_GE(last, 1);
    EXPECT_LE(last, c.splitSize);
    EXPECT_EQ(total + last, c.sourceSize);
}

INSTANTIATE_TEST_SUITE_P(SplitPath, PartSizes,
                         testing::Values(SizesCase{10, 4, 2}, SizesCase{8, 4, 4},
                                         SizesCase{11, 10, 1}, SizesCase{3 * 131072 + 5, 131072, 5},
                                         SizesCase{1000000, 999, 1}, SizesCase{1001 * 3 + 2, 3, 2},
                                         SizesCase{5 * GIB + 7, GIB, 7},
                                         SizesCase{3 * GIB, GIB, GIB}));

TEST(PartSizes, NegativeSplitSizes) {
    // The first part takes the negative size, which the length setting then refuses.
    EXPECT_EQ(PartSize(0, CountParts(100, -30), 100, -30), -30);
    // A single part is the last one: it holds the whole source.
    EXPECT_EQ(PartSize(0, CountParts(10, -20), 10, -20), 10);
}

// ---- part names ----

struct NameCase {
    const char* sourcePath;
    DWORD index;
    const char* expected;
};

void PrintTo(const NameCase& c, std::ostream* out) {
    *out << Quoted(c.sourcePath) << " part " << c.index;
}

class PartName : public testing::TestWithParam<NameCase> {};

TEST_P(PartName, IsThePathADotAndAtLeastThreeDigits) {
    char name[PART_NAME_CHARS];
    EXPECT_EQ(FormatPartName(name, GetParam().sourcePath, GetParam().index), S_OK);
    EXPECT_STREQ(name, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Indexes, PartName,
                         testing::Values(NameCase{"data.bin", 0, "data.bin.000"},
                                         NameCase{"data.bin", 41, "data.bin.041"},
                                         NameCase{"data.bin", 999, "data.bin.999"},
                                         NameCase{"data.bin", 1000, "data.bin.1000"},
                                         NameCase{"data.bin", 1001, "data.bin.1001"},
                                         NameCase{"data.bin", 123456, "data.bin.123456"},
                                         NameCase{"dir/sub/data", 7, "dir/sub/data.007"},
                                         NameCase{"/abs/path.tar.gz", 12, "/abs/path.tar.gz.012"},
                                         NameCase{"", 3, ".003"}));

struct NameLengthCase {
    size_t pathLength;
    DWORD index;
    bool fits;
};

void PrintTo(const NameLengthCase& c, std::ostream* out) {
    *out << c.pathLength << " characters, part " << c.index;
}

class PartNameLength : public testing::TestWithParam<NameLengthCase> {};

// A name of 259 characters fits the buffer with its terminator; one more is cut, and the cut name
// must not be used: it can fall on another part's name or on the source itself.
TEST_P(PartNameLength, FitsUpTo259Characters) {
    const NameLengthCase& c = GetParam();
    std::string path(c.pathLength, 'p');
    char full[32];
    snprintf(full, sizeof full, ".%03d", static_cast<int>(c.index));
    std::string whole = path + full;

    char name[PART_NAME_CHARS];
    memset(name, '#', sizeof name);
    HRESULT result = FormatPartName(name, path.c_str(), c.index);
    if (c.fits) {
        EXPECT_EQ(result, S_OK);
        EXPECT_EQ(std::string(name), whole);
    } else {
        EXPECT_EQ(result, STRSAFE_E_INSUFFICIENT_BUFFER);
        EXPECT_EQ(std::string(name), whole.substr(0, PART_NAME_CHARS - 1));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Boundary, PartNameLength,
    testing::Values(NameLengthCase{255, 0, true}, NameLengthCase{256, 0, false},
                    NameLengthCase{254, 999, true}, NameLengthCase{254, 1000, true},
                    NameLengthCase{255, 1000, false}, NameLengthCase{259, 0, false}));

TEST(PartNameLength, CutNameOfA259CharacterPathIsThePathItself) {
    std::string path(259, 'p');
    char name[PART_NAME_CHARS];
    EXPECT_NE(FormatPartName(name, path.c_str(), 0), S_OK);
    EXPECT_EQ(std::string(name), path);
}

// The plan checks one name before anything is created; it must be the longest the run can make,
// also once indexes print as negative numbers.
TEST(PartNameLength, LongestNameIndexHasTheLongestNameUpToTheLast) {
    const DWORD samples[] = {0,           7,           999,         1000,        99999,
                             0x7FFFFFFFu, 0x80000000u, 0x80000001u, 0xC0000000u, 0xFFFFFFFEu};
    for (DWORD last : samples) {
        char longest[PART_NAME_CHARS];
        FormatPartName(longest, "data.bin", LongestNameIndex(last));
        EXPECT_LE(LongestNameIndex(last), last);
        for (DWORD index : samples) {
            char name[PART_NAME_CHARS];
            FormatPartName(name, "data.bin", index);
            if (index <= last) {
                EXPECT_GE(strlen(longest), strlen(name)) << "last " << last << ", index " << index;
            }
        }
    }
}

// ---- percentage ----

struct PercentCase {
    DWORD index;
    DWORD count;
    const char* shown;
};

void PrintTo(const PercentCase& c, std::ostream* out) {
    *out << "part " << c.index + 1 << " of " << c.count;
}

class Percentage : public testing::TestWithParam<PercentCase> {};

std::string Shown(double percent) {
    char text[64];
    snprintf(text, sizeof text, "%.3f", percent);
    return text;
}

TEST_P(Percentage, ShowsThreeDecimals) {
    EXPECT_EQ(Shown(PercentDone(GetParam().index, GetParam().count)), GetParam().shown);
}

INSTANTIATE_TEST_SUITE_P(
    Parts, Percentage,
    testing::Values(
        // Divided before the multiplication: (23 * 100) / 320 would be exactly 7.1875 -> 7.188.
        PercentCase{22, 320, "7.187"}, PercentCase{319, 320, "100.000"},
        PercentCase{0, 3, "33.333"}, PercentCase{1, 3, "66.667"}, PercentCase{2, 3, "100.000"},
        PercentCase{0, 1, "100.000"}, PercentCase{0, UINT32_MAX, "0.000"},
        PercentCase{UINT32_MAX - 1, UINT32_MAX, "100.000"},
        PercentCase{0x7FFFFFFF, 0xFFFFFFFE, "50.000"}));

TEST(Percentage, LastPartAlwaysShowsOneHundred) {
    for (DWORD count = 1; count <= 5000; ++count) {
        ASSERT_EQ(Shown(PercentDone(count - 1, count)), "100.000") << count;
    }
}
} // namespace
