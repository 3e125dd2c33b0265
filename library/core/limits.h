// Sizes the camera context and the subsystems that work on its buffers agree on.
#pragma once
#include <cstdint>

namespace ix {
inline constexpr uint32_t kExposureTableCapacity = 512;
// Words of a channel's defect list as the camera stores it.
inline constexpr uint32_t kDefectTableWords = 2044;
// Bytes reserved for the eye search's work area.
inline constexpr uint32_t kEyeSearchAreaBytes = 2059700;
} // namespace ix
