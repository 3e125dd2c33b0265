// The register-25 table: the camera's reference values scaled down by the
// attenuation percentage.
#include <cstring>

#include "library/controls/controls.h"
#include "library/controls/tables.h"

namespace ix {

const uint16_t attenuationReference[kAttenuationEntries] = {
    32,  22,  24,  28,  24,  20,  32,  28,  26,  28,  36,  34,  32,  38,  48,  80,   // 0..15
    52,  48,  44,  44,  48,  98,  70,  74,  58,  80,  116, 102, 122, 120, 114, 102, // 16..31
    112, 110, 128, 144, 184, 156, 128, 136, 174, 138, 110, 112, 160, 218, 162, 174, // 32..47
    190, 196, 206, 208, 206, 124, 154, 226, 242, 224, 200, 240, 184, 202, 206, 198, // 48..63
    34,  36,  36,  48,  42,  48,  94,  52,  52,  94,  198, 132, 112, 132, 198, 198, // 64..79
    198, 198, 198, 198, 198, 198, 198, 198, 198, 198, 198, 198, 198, 198, 198, 198, // 80..95
    198, 198, 198, 198, 198, 198, 198, 198, 198, 198, 198, 198, 198, 198, 198, 198, // 96..111
    198, 198, 198, 198, 198, 198, 198, 198, 198, 198, 198, 198, 198, 198, 198, 198, // 112..127
};

namespace {
constexpr uint16_t kRegAttenuation = 25;
}

void buildAttenuation(uint16_t attenuation, uint16_t out[kAttenuationEntries]) {
    uint32_t a = attenuation > 100 ? 100 : attenuation;
    for (int i = 0; i < kAttenuationEntries; ++i) {
        uint32_t e = (uint32_t(attenuationReference[i]) * (100 - a)) / 100;
        // The camera treats 0 as "no entry"; the weakest it gets is 1.
        out[i] = uint16_t(e == 0 ? 1 : e);
    }
}

int uploadAttenuation(CameraContext &ctx) {
    uint16_t values[kAttenuationEntries];
    buildAttenuation(ctx.selected().attenuation, values);
    uint8_t bytes[2 * kAttenuationEntries];
    for (int i = 0; i < kAttenuationEntries; ++i) {
        bytes[2 * i] = uint8_t(values[i] & 0xFF);
        bytes[2 * i + 1] = uint8_t(values[i] >> 8);
    }
    if (!ctx.connected) return 1;
    return usb::ixSetBlock(ctx.transport, kRegAttenuation, bytes, sizeof bytes, nullptr);
}

} // namespace ix
