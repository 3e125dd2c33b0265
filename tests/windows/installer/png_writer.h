// Minimal PNG writer for test screenshots: 8-bit RGB, stored (uncompressed)
// deflate blocks. Size does not matter for a test artefact; being readable by
// every image viewer does.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace installer_test {

// `rgb` holds height rows of width * 3 bytes, top row first.
std::vector<uint8_t> EncodePng(uint32_t width, uint32_t height, const std::vector<uint8_t> &rgb);

} // namespace installer_test
