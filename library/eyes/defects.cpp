#include "defects.h"

namespace ix::eyes {
namespace {

// Rewrites pixels u-1 .. u+1 of rows v, v-1, v+1 (in that order) from the
// same YUY2 component two rows up and down and four pixels (8 bytes) to
// each side. The caller guarantees 5 <= u <= X-5 and 4 <= v <= Y-4.
void repair(uint8_t *frame, size_t rowBytes, int32_t u, int32_t v) {
    const int32_t rows[3] = {v, v - 1, v + 1};
    const size_t first = static_cast<size_t>(2 * u - 2);
    for (int32_t r : rows) {
        uint8_t *row = frame + static_cast<size_t>(r) * rowBytes;
        const uint8_t *above = row - 2 * rowBytes;
        const uint8_t *below = row + 2 * rowBytes;
        for (size_t k = first; k < first + 6; ++k) {
            // At the last accepted column the right-hand neighbour would lie
            // past the row's end (the next row's first pixel); the left-hand
            // one of the same component stands in for it.
            const size_t right = k + 8 < rowBytes ? k + 8 : k - 8;
            row[k] = static_cast<uint8_t>((above[k] + below[k] + row[k - 8] + row[right]) / 4);
        }
    }
}

}  // namespace

int CorrectDefects(uint8_t *frame, size_t frameBytes, const uint16_t *defectTable, const DefectSettings &s) {
    if (!frame || !defectTable) return 0;
    const uint16_t X = s.channel == 0 ? s.outputWidth : s.outputHeight;
    const uint16_t Y = s.channel == 0 ? s.outputHeight : s.outputWidth;
    const uint16_t key = s.channel == 0 ? s.windowWidth : s.windowHeight;
    const size_t rowBytes = static_cast<size_t>(X) * 2;
    if (X == 0 || Y == 0 || frameBytes < rowBytes * Y) return 0;

    // Find the first group for this window; a count that runs past the end
    // of the table only has the pairs that are inside it.
    const size_t groups = defectTable[0];
    size_t at = 1;
    for (size_t g = 0; g < groups && at + 1 < kDefectTableWords; ++g) {
        const uint16_t groupKey = defectTable[at];
        const size_t count = defectTable[at + 1];
        if (groupKey != key) {
            at += 2 + 2 * count;
            continue;
        }
        int repaired = 0;
        for (size_t i = 0; i < count; ++i) {
            const size_t pair = at + 2 + 2 * i;
            if (pair + 1 >= kDefectTableWords) break;
            const uint16_t p = defectTable[pair], q = defectTable[pair + 1];
            const uint16_t a = s.horizontalFlip ? static_cast<uint16_t>(X - p - 1) : p;
            const uint16_t b = s.verticalFlip ? static_cast<uint16_t>(Y - q - 1) : q;
            // The window test in the camera's 16-bit arithmetic ...
            if (a < static_cast<uint16_t>(s.offsetX + 5) || a > static_cast<uint16_t>(s.offsetX + X - 5) ||
                b < static_cast<uint16_t>(s.offsetY + 4) || b > static_cast<uint16_t>(s.offsetY + Y - 4))
                continue;
            const int32_t u = static_cast<uint16_t>(a - s.offsetX);
            const int32_t v = static_cast<uint16_t>(b - s.offsetY);
            // ... and, where its sums wrap, the frame's own limits, so the
            // patch and its neighbours never leave the frame.
            if (u < 5 || u > X - 5 || v < 4 || v > Y - 4) continue;
            repair(frame, rowBytes, u, v);
            ++repaired;
        }
        return repaired;
    }
    return 0;
}

}  // namespace ix::eyes
