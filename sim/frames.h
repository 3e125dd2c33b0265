// What the virtual camera puts on the bulk pipe: a scene with two eyes,
// shaped by the geometry and stream registers.
//
// The sensor looks at the scene through a window (registers 27/28 wide/high,
// at 31/32 from the sensor's corner, all in the sensor's own orientation)
// and scales it to the output size (29/30). Register 17 flips the rows,
// register 19 the columns. Channel 1's sensor is mounted a quarter turn from
// channel 0's: a host that turns its frames by 90 degrees sees the scene
// upright.
#pragma once
#include <cstdint>
#include <vector>

#include "sim/settings.h"

namespace ix::sim {

struct FrameRequest {
    unsigned channel = 0;
    uint32_t width = 0;   // columns of the frame as sent
    uint32_t height = 0;  // rows of the frame as sent
    uint32_t sensorWidth = 0, sensorHeight = 0; // the selected sensor's extent
    uint32_t windowWidth = 0, windowHeight = 0; // sensor pixels seen
    uint32_t windowX = 0, windowY = 0;          // the window's corner on the sensor
    bool compressed = false;
    bool flipRows = false;
    bool flipColumns = false;
    uint64_t number = 0;
    uint16_t range = 500;
    uint16_t illumination = 0; // register 49
    uint16_t exposure = 0;     // register 37
    uint16_t positioning = 0;  // register 74
    uint16_t exposureBase = 0; // register 14
    uint16_t gain = 24;        // indirect register 33
    // The channel's defect list as the flash holds it (G, then per group a
    // key, a count and (p, q) pairs); empty when the flash has none.
    std::vector<uint16_t> defects;
    // Where the host's repair looks for a listed pixel: the group key it
    // matches (register 27 on either channel) and its window's corner in the
    // frame as sent. Taken from the registers as the host wrote them, not
    // from the window the camera cut to its sensor, since the host reckons
    // with its own numbers.
    uint16_t defectKey = 0;
    int64_t defectOffsetX = 0, defectOffsetY = 0;
    // The pupil centres of this frame when something places them (the eyes=
    // script on channel 0), in scene fractions, left eye first; otherwise
    // the eyes sit where the scene puts them.
    bool eyesPlaced = false;
    double eyeX[2] = {0, 0}, eyeY[2] = {0, 0};
};

FrameRequest frameRequestFromRegisters(const uint16_t *regs, const Settings &settings, uint64_t number,
                                       uint16_t range);
// Writes one uncompressed (YUY2) frame into buffer; returns its byte count
// (0 when it does not fit).
uint32_t renderFrame(const FrameRequest &request, const Settings &settings, uint8_t *buffer, uint32_t capacity);
// The frame as the camera sends it: YUY2, or MJPEG when register 10 asks for
// compression. Returns its byte count (0 when it does not fit).
uint32_t produceFrame(const FrameRequest &request, const Settings &settings, uint8_t *buffer, uint32_t capacity);

} // namespace ix::sim
