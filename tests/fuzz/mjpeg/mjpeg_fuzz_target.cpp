#include "tests/fuzz/mjpeg/mjpeg_fuzz_target.h"

#include "library/codec/mjpeg_decoder.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace ix::test {

namespace {

// Declared images are capped so one input cannot take seconds to decode;
// the cap also exercises the refusal of frames larger than the buffers.
constexpr int32_t kMaxWidth = 2048, kMaxHeight = 1024;
constexpr size_t kGuard = 256;
constexpr uint8_t kGuardByte = 0xC3;

} // namespace

int32_t FuzzMjpegOne(const uint8_t *data, size_t size) {
    // One long-lived decoder, as in a stream, so state left by one input
    // (tables, geometry, a grown row buffer) meets the next.
    static codec::MjpegDecoder *decoder = codec::MjpegCreateDecoder();
    if (size > (1u << 24)) return 1;
    std::unique_ptr<uint8_t[]> frame(new uint8_t[size ? size : 1]);
    if (size) std::memcpy(frame.get(), data, size);

    // The capacity varies with the input, so both the exact fit and the
    // "too small" answer are reached.
    const size_t capacity = size ? (size_t(data[size - 1]) * 4096) % (size_t(kMaxWidth) * kMaxHeight * 2) : 0;
    static std::vector<uint8_t> out;
    out.assign(capacity + kGuard, 0);
    std::memset(out.data() + capacity, kGuardByte, kGuard);

    int32_t w = 0, h = 0;
    const int32_t rc = codec::MjpegDecodeToYuy2(decoder, frame.get(), int32_t(size), out.data(), int64_t(capacity),
                                                &w, &h, kMaxWidth, kMaxHeight);
    for (size_t i = capacity; i < out.size(); ++i)
        if (out[i] != kGuardByte) std::abort();
    if (rc != 0 && rc != 1 && rc != 8) std::abort();
    if (rc == 0 && (int64_t(w) * h * 2 > int64_t(capacity) || w > kMaxWidth || h > kMaxHeight)) std::abort();
    return rc;
}

} // namespace ix::test
