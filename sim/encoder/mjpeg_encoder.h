// The virtual camera's MJPEG encoder: turns a YUY2 picture into a frame of the
// form the camera sends. Baseline, 4:2:2 (luminance 2 x 1), coded with the
// standard Huffman tables of T.81 Annex K, which the frame leaves out; no
// restart interval. The frame starts with the camera's 76-byte prefix (start
// of image, an 18-byte JFIF APP0 segment, a 56-byte comment), followed by the
// quantisation tables, the frame header, the scan header, the entropy-coded
// data and the end-of-image marker.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace ix::sim {

// Text of the camera's comment segment (52 bytes, zero-padded).
inline constexpr char kCameraComment[] = "CorvelLumo MJPEG";

// Quality 1..100 scales the example quantisation tables of T.81 Annex K the
// way the IJG encoder does (50 = the tables as printed); values outside the
// range are clamped.
//
// yuy2 holds height rows of width pixels (Y0 U Y1 V per pair, rows top-down,
// no gaps). width must be even, both 1..65535. A picture whose size is not a
// multiple of 16 x 8 is coded in whole MCUs with its last column and row
// repeated, as any JPEG encoder does.
//
// Writes at most capacity bytes to out and returns the frame's length, or 0
// when the size is unusable or the frame does not fit.
size_t EncodeMjpegFrame(const uint8_t *yuy2, int32_t width, int32_t height, int quality, uint8_t *out,
                        size_t capacity);

// The same into a vector; empty when the size is unusable.
std::vector<uint8_t> EncodeMjpegFrame(const uint8_t *yuy2, int32_t width, int32_t height, int quality);

} // namespace ix::sim
