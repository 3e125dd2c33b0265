// One frame's results of the eye locator on channel 1, zeroed before each
// frame. Points are in the locator's convention: (x, y) is column x of image
// row H - y.
#pragma once
#include <cstdint>

namespace ix::eyes {

struct LocatorResult {
    int32_t found;
    int32_t eye1X, eye1Y;
    int32_t eye2X, eye2Y;
    int32_t boxFarX, boxFarY;
    int32_t boxNearX, boxNearY;
};

}  // namespace ix::eyes
