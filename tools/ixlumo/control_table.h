// Every control of the public header by its constant's name: the macro
// names are the table's names, so the two cannot drift apart.
#pragma once
#include <cstdint>

#include "IxiLumo.h"

enum class ControlKind {
    Scalar,    // a u16 value
    U32,       // a u32 value
    TextA,     // narrow text
    TextW,     // UTF-16 text
    WriteOnly, // no value to read
};

struct ControlName {
    uint32_t id;
    const char *name; // the constant's name without IX_CTL_
    ControlKind kind;
};

#define IX_CONTROL_ROW(name, kind) {IX_CTL_##name, #name, ControlKind::kind}
inline constexpr ControlName kControlNames[] = {
    IX_CONTROL_ROW(AUTO_MODE, Scalar),
    IX_CONTROL_ROW(OFFSET_X, Scalar),
    IX_CONTROL_ROW(OFFSET_Y, Scalar),
    IX_CONTROL_ROW(TONE_LIFT, Scalar),
    IX_CONTROL_ROW(REG48, Scalar),
    IX_CONTROL_ROW(REG4, Scalar),
    IX_CONTROL_ROW(BRIGHTNESS_TARGET, Scalar),
    IX_CONTROL_ROW(STREAM_MODE, Scalar),
    IX_CONTROL_ROW(COMPRESSED, Scalar),
    IX_CONTROL_ROW(ATTENUATION, Scalar),
    IX_CONTROL_ROW(REG7, Scalar),
    IX_CONTROL_ROW(REG9, Scalar),
    IX_CONTROL_ROW(PIXEL_FORMAT, Scalar),
    IX_CONTROL_ROW(TONE_STRENGTH, Scalar),
    IX_CONTROL_ROW(REG42, Scalar),
    IX_CONTROL_ROW(EXPOSURE_BASE, Scalar),
    IX_CONTROL_ROW(REG15, Scalar),
    IX_CONTROL_ROW(VERTICAL_FLIP, Scalar),
    IX_CONTROL_ROW(VENDOR_ID, Scalar),
    IX_CONTROL_ROW(MANUFACTURER_A, TextA),
    IX_CONTROL_ROW(MANUFACTURER_W, TextW),
    IX_CONTROL_ROW(HORIZONTAL_FLIP, Scalar),
    IX_CONTROL_ROW(REG20, Scalar),
    IX_CONTROL_ROW(CONTROL25, Scalar),
    IX_CONTROL_ROW(PRODUCT_ID, Scalar),
    IX_CONTROL_ROW(PRODUCT_A, TextA),
    IX_CONTROL_ROW(PRODUCT_W, TextW),
    IX_CONTROL_ROW(REG26, Scalar),
    IX_CONTROL_ROW(RESOLUTION, Scalar),
    IX_CONTROL_ROW(OUTPUT_WIDTH, Scalar),
    IX_CONTROL_ROW(OUTPUT_HEIGHT, Scalar),
    IX_CONTROL_ROW(WINDOW_WIDTH, Scalar),
    IX_CONTROL_ROW(WINDOW_HEIGHT, Scalar),
    IX_CONTROL_ROW(LARGEST_PRESET, Scalar),
    IX_CONTROL_ROW(MAX_WIDTH, Scalar),
    IX_CONTROL_ROW(MAX_HEIGHT, Scalar),
    IX_CONTROL_ROW(REG35, Scalar),
    IX_CONTROL_ROW(SERIAL_A, TextA),
    IX_CONTROL_ROW(SERIAL_W, TextW),
    IX_CONTROL_ROW(REG36, Scalar),
    IX_CONTROL_ROW(EXPOSURE, Scalar),
    IX_CONTROL_ROW(IDENTITY_WORD, Scalar),
    IX_CONTROL_ROW(FIRMWARE_VERSION, Scalar),
    IX_CONTROL_ROW(REVISION, Scalar),
    IX_CONTROL_ROW(REG2, Scalar),
    IX_CONTROL_ROW(DECIMATION, Scalar),
    IX_CONTROL_ROW(LAST_FRAME_BYTES, U32),
    IX_CONTROL_ROW(CHANNEL, Scalar),
    IX_CONTROL_ROW(REG67_STATUS, Scalar),
    IX_CONTROL_ROW(API_VERSION, Scalar),
    IX_CONTROL_ROW(ROTATION, Scalar),
    IX_CONTROL_ROW(INDIRECT_DATA_READ, Scalar),
    IX_CONTROL_ROW(INDIRECT_ADDRESS, WriteOnly),
    IX_CONTROL_ROW(INDIRECT_DATA, Scalar),
    IX_CONTROL_ROW(STABILITY_CHECK, Scalar),
    IX_CONTROL_ROW(MANUAL_LEVEL, Scalar),
    IX_CONTROL_ROW(OVERLAY, Scalar),
    IX_CONTROL_ROW(REG54, Scalar),
    IX_CONTROL_ROW(REG53, Scalar),
    IX_CONTROL_ROW(HOLD_TIME, Scalar),
    IX_CONTROL_ROW(RESERVED135, Scalar),
    IX_CONTROL_ROW(REG58, Scalar),
    IX_CONTROL_ROW(PULSE58, WriteOnly),
    IX_CONTROL_ROW(REG59, Scalar),
    IX_CONTROL_ROW(ILLUMINATION_MODE, Scalar),
    IX_CONTROL_ROW(RANGE_READING, Scalar),
    IX_CONTROL_ROW(RANGE_TARGET, Scalar),
    IX_CONTROL_ROW(CAPTURE_READY, Scalar),
    IX_CONTROL_ROW(REG68_STATUS, Scalar),
    IX_CONTROL_ROW(REG62, Scalar),
    IX_CONTROL_ROW(RANGE_LED_MODE, Scalar),
    IX_CONTROL_ROW(REG63, Scalar),
    IX_CONTROL_ROW(DEFECT_CORRECTION, Scalar),
    IX_CONTROL_ROW(LOCATOR_ASSIST, WriteOnly),
    IX_CONTROL_ROW(LOCATOR_LEVEL, Scalar),
    IX_CONTROL_ROW(MOVING_FLAG, WriteOnly),
    IX_CONTROL_ROW(IN_BAND, Scalar),
    IX_CONTROL_ROW(RANGE_TARGET_SELECT, Scalar),
    IX_CONTROL_ROW(REG87, Scalar),
};
#undef IX_CONTROL_ROW
