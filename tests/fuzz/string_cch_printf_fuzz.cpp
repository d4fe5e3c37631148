// StringCchPrintfA against its rule, with the formats the splitter uses. The expected text is
// built here digit by digit, without the C library's formatter. The rule: a capacity of 0 or
// above 2147483647 returns E_INVALIDARG and writes nothing; otherwise the first capacity - 1
// characters at most are written and terminated, and the result is S_OK only if nothing was cut.
//
// Input: byte 0 picks the format and the kind of capacity, bytes 1-2 a small capacity, bytes 3-6
// the number argument; the rest is the text arguments, split at the first line feed.
#include "cleave.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {
constexpr size_t LARGEST_CAPACITY = 2147483647;
constexpr size_t SMALL_CAPACITY_RANGE = 1024;
constexpr unsigned char UNTOUCHED = 0xA5;
const HRESULT RESULT_OK = 0;
const HRESULT RESULT_INVALID_ARGUMENT = static_cast<HRESULT>(0x80070057);
const HRESULT RESULT_CUT = static_cast<HRESULT>(0x8007007A);

void Expect(bool holds, const char* what) {
    if (!holds) {
        fprintf(stderr, "StringCchPrintfA: %s\n", what);
        abort();
    }
}

std::string Digits(uint64_t value, unsigned base) {
    std::string digits;
    do {
        digits.insert(digits.begin(), "0123456789ABCDEF"[value % base]);
        value /= base;
    } while (value != 0);
    return digits;
}

// %0<width>d: the sign first, then zeros up to the width, then the digits.
std::string Decimal(int value, size_t width) {
    int64_t wide = value;
    std::string digits = Digits(static_cast<uint64_t>(wide < 0 ? -wide : wide), 10);
    std::string sign = wide < 0 ? "-" : "";
    size_t used = sign.size() + digits.size();
    return sign + std::string(used < width ? width - used : 0, '0') + digits;
}

std::string Hex8(unsigned value) {
    std::string digits = Digits(value, 16);
    return std::string(8 - digits.size(), '0') + digits;
}

struct Input {
    unsigned format;
    unsigned capacityKind;
    size_t smallCapacity;
    int number;
    std::string first;
    std::string second;
};

Input Read(const uint8_t* data, size_t size) {
    Input in{data[0] % 3u,
             data[0] / 3u % 8u,
             1 + (data[1] + 256u * data[2]) % SMALL_CAPACITY_RANGE,
             0,
             "",
             ""};
    uint32_t number = 0;
    memcpy(&number, data + 3, sizeof number);
    memcpy(&in.number, &number, sizeof number);
    std::string rest(reinterpret_cast<const char*>(data + 7), size - 7);
    size_t lineFeed = rest.find('\n');
    in.first = rest.substr(0, lineFeed);
    in.second = lineFeed == std::string::npos ? "" : rest.substr(lineFeed + 1);
    // Text arguments are C strings: they end at their first NUL.
    in.first = in.first.c_str();
    in.second = in.second.c_str();
    return in;
}

size_t Capacity(const Input& in) {
    switch (in.capacityKind) {
    case 0:
        return 0;
    case 1:
        return LARGEST_CAPACITY;
    case 2:
        return LARGEST_CAPACITY + 1;
    case 3:
        return SIZE_MAX;
    default:
        return in.smallCapacity;
    }
}

std::string Expected(const Input& in) {
    switch (in.format) {
    case 0:
        return in.first + "." + Decimal(in.number, 3);
    case 1:
        return in.first + ": ERROR 0x" + Hex8(static_cast<unsigned>(in.number)) + " (" +
               Decimal(in.number, 0) + "): " + in.second;
    default:
        return in.first;
    }
}

HRESULT Format(const Input& in, char* dest, size_t capacity) {
    switch (in.format) {
    case 0:
        return StringCchPrintfA(dest, capacity, "%s.%03d", in.first.c_str(), in.number);
    case 1:
        return StringCchPrintfA(dest, capacity, "%s: ERROR 0x%08X (%d): %s", in.first.c_str(),
                                static_cast<unsigned>(in.number), in.number, in.second.c_str());
    default:
        return StringCchPrintfA(dest, capacity, "%s", in.first.c_str());
    }
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 7) {
        return 0;
    }
    Input in = Read(data, size);
    size_t capacity = Capacity(in);
    std::string full = Expected(in);
    bool valid = capacity != 0 && capacity <= LARGEST_CAPACITY;

    // A small capacity gets a buffer of exactly that size, so AddressSanitizer sees any write
    // past it; the others get room for the whole text and check their bytes by hand.
    size_t bufferSize = capacity <= SMALL_CAPACITY_RANGE && valid ? capacity : full.size() + 1;
    std::vector<char> buffer(bufferSize, static_cast<char>(UNTOUCHED));
    HRESULT result = Format(in, buffer.data(), capacity);

    if (!valid) {
        Expect(result == RESULT_INVALID_ARGUMENT, "a bad capacity is not E_INVALIDARG");
        for (char c : buffer) {
            Expect(static_cast<unsigned char>(c) == UNTOUCHED, "a bad capacity wrote");
        }
        return 0;
    }
    size_t kept = full.size() < capacity ? full.size() : capacity - 1;
    Expect(memcmp(buffer.data(), full.data(), kept) == 0, "the text differs");
    Expect(buffer[kept] == '\0', "the text is not terminated where it ends");
    Expect(result == (kept == full.size() ? RESULT_OK : RESULT_CUT), "wrong result for the length");
    return 0;
}
