// The same values through the C runtime's own printf: built with __USE_MINGW_ANSI_STDIO=0 and
// only C headers, PRId64 is the runtime's native conversion ("I64d" on msvcrt.dll).
#include <inttypes.h>
#include <stdio.h>

int main() {
    const int64_t values[] = {0, -1, 4294967296LL, -4294967297LL, INT64_MAX, INT64_MIN};
    for (int64_t value : values) {
        printf("%" PRId64 "\n", value);
    }
    return 0;
}
