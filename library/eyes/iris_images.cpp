#include "iris_images.h"

#include <cstdlib>
#include <cstring>

namespace ix::eyes {
namespace {

constexpr int32_t kGradedWidth = 2560;
constexpr int32_t kMaxGradedHeight = 1471;  // 37 cell rows of 32 pixels: the last that fits 1200 cells

void clearForSearch(EyeResult &r) {
    r.notFound = 1;
    r.rangeScore = 0;
    r.saturatedPercent = 0;
    r.contrast = 0;
    r.meanLevel = 0;
    r.spread = 0;
    r.reserved = 0;
}

// Start of a crop of `crop` pixels centred on `centre`, kept inside 0 .. limit.
int32_t cropStart(int32_t centre, int32_t crop, int32_t limit) {
    if (crop >= limit) return 0;
    int32_t start = centre - crop / 2;
    if (start < 0) return 0;
    if (start + crop >= limit) return limit - crop;
    return start;
}

}  // namespace

bool IrisFrameSizeSupported(int32_t width, int32_t height) {
    return (width == 640 && height == 180) || (width == 1280 && height == 360) ||
           (width == kGradedWidth && height >= 720 && height <= kMaxGradedHeight);
}

bool IrisCropFits(int32_t width, int32_t height, int32_t cropWidth, int32_t cropHeight) {
    return cropWidth >= 1 && cropHeight >= 1 && cropWidth <= width && cropHeight <= height;
}

void CropIris(const DualIrisRecord &record, EyeResult &result, uint8_t *buffer) {
    const int32_t W = record.width, H = record.height;
    const int32_t cw = record.cropWidth, ch = record.cropHeight;
    const int32_t sx = cropStart(result.originX + result.pupilX, cw, W);
    const int32_t sy = cropStart(result.originY + result.pupilY, ch, H);
    // Both the frame and the crop are stored bottom-up, so the crop's bottom
    // image row (sy + ch - 1) goes first. Exactly cw bytes per row: a width
    // that is no multiple of 4 still gets its last bytes.
    for (int32_t i = 0; i < ch; ++i) {
        const int32_t imageRow = sy + ch - 1 - i;
        const uint8_t *src = record.image + static_cast<size_t>(H - 1 - imageRow) * W + sx;
        std::memcpy(buffer + static_cast<size_t>(i) * cw, src, static_cast<size_t>(cw));
    }
    result.pupilX += result.originX - sx;
    result.irisX += result.originX - sx;
    result.pupilY += result.originY - sy;
    result.irisY += result.originY - sy;
    result.originX = sx;
    result.originY = sy;
}

void GradeIris(const uint8_t *image, int32_t cropWidth, int32_t cropHeight, EyeResult &result,
               RangeSource *camera) {
    uint16_t reading = 0;
    if (!camera || !camera->readRange(reading)) reading = 0;
    const int64_t target = camera ? camera->rangeTarget() : 0;
    const int64_t d = std::llabs(static_cast<int64_t>(reading) - target);
    const int64_t penalty = d <= 15 ? 2 * d : 3 * d;
    result.rangeScore = penalty >= 100 ? 0 : static_cast<int32_t>(100 - penalty);

    if (result.notFound != 0 || !image || cropWidth < 1 || cropHeight < 1) return;
    const int64_t n = static_cast<int64_t>(cropWidth) * cropHeight;
    int64_t saturated = 0, sum = 0;
    int32_t histogram[256] = {};
    int32_t lowest = 255, highest = 0;
    for (int64_t i = 0; i < n; ++i) {
        const uint8_t v = image[i];
        sum += v;
        if (v > 250) ++saturated;
        if (v >= 8 && v <= 248) {
            ++histogram[v];
            if (v < lowest) lowest = v;
            if (v > highest) highest = v;
        }
    }
    result.saturatedPercent = static_cast<int32_t>(100 * saturated / n);
    result.meanLevel = static_cast<int32_t>(sum / n);
    result.contrast = ((highest - lowest) * 100 / 255) * 48 / 100;

    int32_t largest = 0;
    for (int32_t c : histogram) largest = c > largest ? c : largest;
    const int32_t t = largest / 12;
    int32_t lo = 0, hi = 0;
    for (int32_t v = 0; v <= 127; ++v) {
        if (histogram[v] > t) {
            lo = v;
            break;
        }
    }
    for (int32_t v = 255; v >= 129; --v) {
        if (histogram[v] > t) {
            hi = v;
            break;
        }
    }
    if (lo > 100) lo = 20;
    if (hi < 156) hi = 248;
    result.spread = hi - lo;
    result.reserved = 0;
}

int32_t GetDualIrisImages(EyeSearchArea &area, DualIrisRecord &record, RangeSource *camera) {
    clearForSearch(record.leftResult);
    clearForSearch(record.rightResult);
    const int32_t W = record.width, H = record.height;
    if (!record.image || !IrisFrameSizeSupported(W, H)) return 1;
    // A crop larger than the frame would be copied from outside it.
    if (!IrisCropFits(W, H, record.cropWidth, record.cropHeight)) return 1;
    if (PrepareSearch(area, record.image, W, H, record.cropWidth, record.cropHeight) != 0) return 1;

    if (record.leftImage) {
        if (SearchHalf(area, LeftOriginX(area), WindowOriginY(area), record.leftResult) == 0)
            CropIris(record, record.leftResult, record.leftImage);
    }
    if (record.rightImage) {
        if (SearchHalf(area, RightOriginX(area), WindowOriginY(area), record.rightResult) == 0)
            CropIris(record, record.rightResult, record.rightImage);
    }
    if (W == kGradedWidth) {
        GradeIris(record.leftImage, record.cropWidth, record.cropHeight, record.leftResult, camera);
        GradeIris(record.rightImage, record.cropWidth, record.cropHeight, record.rightResult, camera);
    }
    return (record.leftResult.notFound == 0 || record.rightResult.notFound == 0) ? 0 : 1;
}

}  // namespace ix::eyes
