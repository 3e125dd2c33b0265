// Frame delivery: one frame of the selected channel in the channel's pixel
// format, and the per-frame work that rides on a continuous stream.
#pragma once
#include <cstdint>

#include "library/core/context.h"

namespace ix {

// IxGetImage's work. Returns 0, 1 (no frame, no camera), 7 (stream off) or 8
// (capacity below frameSize; nothing is written then).
int DeliverFrame(CameraContext &ctx, uint8_t *destination, uint32_t capacity, uint32_t *delivered);

// The next frame of a compressed stream without decoding it: as the camera
// sent it, or as a complete JPEG file. Returns 0 with the byte count in
// *delivered, 1 (no frame, or one too short to be a JPEG), 7 (stream off or
// not compressed) or 8 (capacity below the frame; nothing is written then).
// No eye work rides on these frames: there are no pixels to search.
int DeliverCompressedFrame(CameraContext &ctx, uint8_t *destination, uint32_t capacity, uint32_t *delivered,
                           bool asJpegFile);

// Channel 1's range status for reading r: 1 below the band, 2 inside, 4 above.
uint32_t RangeStatus(int32_t reading, int32_t target, int32_t tolerance);

// Hooks the other frame paths fill in. Each returns 0 when it did its work.
// Decodes a compressed frame for delivery (1 until the decoder is wired).
int DecodeCompressedFrame(CameraContext &ctx, const uint8_t *frame, uint32_t bytes, uint8_t *destination);
// Repairs the sensor's defect pixels in an uncompressed working image.
void CorrectFrameDefects(CameraContext &ctx, uint8_t *image, uint32_t bytes);
// Channel 0's eye search, illumination loop and markers on a delivered frame.
void ChannelZeroFrameWork(CameraContext &ctx, uint8_t *destination);
// Channel 1's positioning step after the locator found the eyes.
void ChannelOnePositioning(CameraContext &ctx);

} // namespace ix
