// What the virtual camera puts on the bulk pipe: a scene with two eyes,
// shaped by the geometry and stream registers.
#pragma once
#include <cstdint>

#include "sim/settings.h"

namespace ix::sim {

struct FrameRequest {
    unsigned channel = 0;
    uint32_t width = 0;   // columns of the frame as sent
    uint32_t height = 0;  // rows of the frame as sent
    bool compressed = false;
    bool flipRows = false;
    bool flipColumns = false;
    uint64_t number = 0;
    uint16_t range = 500;
    uint16_t illumination = 0; // register 49
    uint16_t exposure = 0;     // register 37
    uint16_t positioning = 0;  // register 74
};

FrameRequest frameRequestFromRegisters(const uint16_t *regs, const Settings &settings, uint64_t number,
                                       uint16_t range);
// Writes one frame into buffer; returns its byte count (0 when it does not fit).
uint32_t renderFrame(const FrameRequest &request, const Settings &settings, uint8_t *buffer, uint32_t capacity);

} // namespace ix::sim
