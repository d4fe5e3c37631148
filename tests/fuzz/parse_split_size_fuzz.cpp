// ParseSplitSize against the C library: where strtoll reads a value without overflow, both must
// agree; where it overflows, the result must be the decimal digits taken modulo 2^64, summed
// from the last digit up, with the sign applied last.
#include "cleave.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {
void Expect(bool holds, const std::string& text, const char* what) {
    if (!holds) {
        fprintf(stderr, "ParseSplitSize(\"%s\"): %s\n", text.c_str(), what);
        abort();
    }
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// The digits strtoll stopped after, read modulo 2^64 from the right.
LONGLONG WrappedValue(const char* start, const char* end) {
    const char* first = end;
    while (first > start && IsDigit(first[-1])) {
        --first;
    }
    uint64_t sum = 0;
    uint64_t power = 1;
    for (const char* digit = end; digit > first; --digit) {
        sum += static_cast<uint64_t>(digit[-1] - '0') * power;
        power *= 10;
    }
    bool negative = first > start && first[-1] == '-';
    return static_cast<LONGLONG>(negative ? ~sum + 1 : sum);
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // An argument ends at its first NUL, as argv strings do.
    std::string text(reinterpret_cast<const char*>(data), size);
    text.resize(text.find('\0') == std::string::npos ? size : text.find('\0'));

    LONGLONG parsed = ParseSplitSize(text.c_str());
    char* end = nullptr;
    errno = 0;
    long long reference = strtoll(text.c_str(), &end, 10);
    if (errno == ERANGE) {
        Expect(parsed == WrappedValue(text.c_str(), end), text, "overflow does not wrap");
    } else {
        Expect(parsed == reference, text, "differs from strtoll");
    }
    return 0;
}
