// The tail reader: last %%EOF, startxref and the previous cross-reference offset.
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzz::rearm();
    if (size == 0) return 0;
    FILE *f = fmemopen(const_cast<uint8_t *>(data), size, "rb");
    if (!f) return 0;
    long start = 0, prev = 0;
    read_xref_offset(f, &start, &prev);
    findEOFFromEnd(f);
    std::fclose(f);
    return 0;
}
