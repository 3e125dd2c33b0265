// libFuzzer entry point (clang only: -fsanitize=fuzzer,address,undefined).
#include "tests/fuzz/mjpeg/mjpeg_fuzz_target.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    ix::test::FuzzMjpegOne(data, size);
    return 0;
}
