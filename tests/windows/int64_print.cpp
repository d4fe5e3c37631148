// Prints signed 64-bit values through PRId64 with the headers the splitter uses, so each C
// runtime shows whether the conversion the splitter gets reads all 64 bits of its argument.
#include "cleave.h"

#include <cstdio>

int main() {
    const LONGLONG values[] = {0, -1, 4294967296LL, -4294967297LL, INT64_MAX, INT64_MIN};
    for (LONGLONG value : values) {
        printf("%" PRId64 "\n", value);
    }
    return 0;
}
