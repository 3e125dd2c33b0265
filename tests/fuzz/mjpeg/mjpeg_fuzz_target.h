// One fuzzing input through the MJPEG parser and decoder, shared by the
// libFuzzer target and the deterministic mutation test.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ix::test {

// Decodes data as a camera frame. The input is copied to a heap block of
// exactly its size so that AddressSanitizer sees any read past its end; the
// output sits before a guard region that is checked after every decode.
// Calls abort() when the guard region was written or when a result other
// than 0, 1 or 8 comes back. Returns the decoder's result.
int32_t FuzzMjpegOne(const uint8_t *data, size_t size);

} // namespace ix::test
