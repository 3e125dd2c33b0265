// Iris images: the two-half pupil search on a caller's frame, the crop
// around each pupil into the caller's buffers, and the grading of the crops
// of the widest frames.
#pragma once
#include <cstdint>

#include "IxiLumo.h"
#include "eye_search.h"

namespace ix::eyes {

// What grading needs from the camera. The export hands in the open camera;
// tests hand in a scripted one.
class RangeSource {
public:
    virtual ~RangeSource() = default;
    // One read of the range register (60). False when the read failed.
    virtual bool readRange(uint16_t &value) = 0;
    // The range the subject should be at (channel 0's target).
    virtual int32_t rangeTarget() const = 0;
};

// The three frame shapes the export accepts: 640 x 180, 1280 x 360 and
// 2560 wide with 720 to 1471 rows (taller ones would overflow the search
// grid).
bool IrisFrameSizeSupported(int32_t width, int32_t height);

// A crop must lie inside the frame: 1 to W columns, 1 to H rows.
bool IrisCropFits(int32_t width, int32_t height, int32_t cropWidth, int32_t cropHeight);

// Cuts the crop around a found pupil out of the record's frame into
// `buffer` (cropWidth * cropHeight bytes, bottom row first) and re-bases the
// result on the crop's top-left corner. The caller has checked the sizes.
void CropIris(const DualIrisRecord &record, EyeResult &result, uint8_t *buffer);

// Scores one half of a 2560-wide frame: rangeScore always (one range read),
// the image figures only when the half was found and its image exists.
void GradeIris(const uint8_t *image, int32_t cropWidth, int32_t cropHeight, EyeResult &result,
               RangeSource *camera);

// The body of the iris-image export once the camera is known to be open:
// returns 0 when at least one pupil was found, 1 otherwise (also for an
// unsupported frame size, a missing frame or a crop that does not fit).
int32_t GetDualIrisImages(EyeSearchArea &area, DualIrisRecord &record, RangeSource *camera);

}  // namespace ix::eyes
