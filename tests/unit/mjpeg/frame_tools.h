// Helpers the MJPEG tests share: test pictures, and cutting and splicing the
// segments of camera frames.
#pragma once

#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

namespace ix::test {

using Bytes = std::vector<uint8_t>;

// One marker segment of a JPEG stream: offset of its marker and total size
// (marker, length field and contents). The scan segment's size excludes the
// entropy-coded data that follows it.
struct Segment {
    int marker;
    size_t offset;
    size_t size;
};

// The segments from the start of image up to and including the scan header.
inline std::vector<Segment> segmentsOf(const Bytes &f) {
    std::vector<Segment> out;
    size_t pos = 2;
    while (pos + 4 <= f.size()) {
        const int marker = (f[pos] << 8) | f[pos + 1];
        const size_t len = (size_t(f[pos + 2]) << 8) | f[pos + 3];
        out.push_back({marker, pos, len + 2});
        pos += len + 2;
        if (marker == 0xFFDA) break;
    }
    return out;
}

// The segment with that marker; marker 0 when there is none.
inline Segment findSegment(const std::vector<Segment> &segs, int marker) {
    for (const Segment &s : segs)
        if (s.marker == marker) return s;
    return {0, 0, 0};
}

// Offset of the first entropy-coded byte.
inline size_t entropyOffset(const Bytes &f) {
    const Segment sos = findSegment(segmentsOf(f), 0xFFDA);
    return sos.marker ? sos.offset + sos.size : f.size();
}

inline Bytes withoutSegment(const Bytes &f, int marker) {
    for (const Segment &s : segmentsOf(f))
        if (s.marker == marker) {
            Bytes out(f.begin(), f.begin() + s.offset);
            out.insert(out.end(), f.begin() + s.offset + s.size, f.end());
            return out;
        }
    return f;
}

// Inserts a whole segment (marker, length, contents) before the segment with beforeMarker.
inline Bytes withSegmentBefore(const Bytes &f, int marker, const Bytes &contents, int beforeMarker) {
    const Segment at = findSegment(segmentsOf(f), beforeMarker);
    Bytes seg = {uint8_t(marker >> 8), uint8_t(marker), uint8_t((contents.size() + 2) >> 8),
                 uint8_t(contents.size() + 2)};
    seg.insert(seg.end(), contents.begin(), contents.end());
    Bytes out(f.begin(), f.begin() + at.offset);
    out.insert(out.end(), seg.begin(), seg.end());
    out.insert(out.end(), f.begin() + at.offset, f.end());
    return out;
}

// A YUY2 test picture. Kinds: 0 smooth gradients with soft round shapes (a
// stand-in for an eye image), 1 a hard-edged checkerboard, 2 uniform noise,
// 3 flat grey, 4 saturated colour bars.
inline Bytes testPicture(int width, int height, int kind, uint32_t seed = 1) {
    Bytes p(size_t(width) * height * 2);
    std::mt19937 rng(seed);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            uint8_t *px = &p[(size_t(y) * width + x) * 2];
            int luma = 128, chroma = 128;
            switch (kind) {
            case 0: {
                const int cx = width / 4 + (x >= width / 2 ? width / 2 : 0), cy = height / 2;
                const int dx = x - cx, dy = y - cy;
                const int r2 = dx * dx + dy * dy, rr = (height / 5) * (height / 5) + 1;
                luma = 60 + (x * 120) / width + (y * 50) / height;
                if (r2 < rr) luma = 20 + (r2 * 40) / rr;
                if (r2 < rr / 16 && dx > 0 && dy < 0) luma = 250;
                chroma = (x & 1) ? 128 + (y * 40) / height - 20 : 128 + (x * 30) / width - 15;
                break;
            }
            case 1: luma = ((x / 5 + y / 3) & 1) ? 235 : 16; chroma = ((x / 8) & 1) ? 240 : 16; break;
            case 2: luma = int(rng() & 255); chroma = int(rng() & 255); break;
            case 3: luma = 128; chroma = 128; break;
            case 4: luma = (x * 8 / width) * 32 + 16; chroma = (x & 1) ? ((x / 32) & 1) * 255 : 255 - ((x / 48) & 1) * 255; break;
            }
            px[0] = uint8_t(luma);
            px[1] = uint8_t(chroma);
        }
    return p;
}

} // namespace ix::test
