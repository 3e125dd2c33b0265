// The one process-wide camera record. Every export works on it.
//
// Threads: the application's thread (one at a time) owns every field. The
// stream's reader thread touches only the FrameStream's slots (see stream.h)
// and the transport's bulk pipe. The decoder is shared with IxDecompressMjpg
// on other threads and is only used while holding decoderMutex.
#pragma once
#include <cstdint>
#include <memory>
#include <mutex>

#include "library/core/limits.h"
#include "usb/transport.h"

namespace ix::codec {
struct MjpegDecoder;
}

namespace ix {

using codec::MjpegDecoder;
struct FrameStream;
struct IlluminationState;


struct ChannelSettings {
    uint16_t autoMode;
    uint16_t offsetX, offsetY;
    uint16_t toneLift;
    uint16_t reg48;
    uint16_t reg4;
    uint16_t brightnessTarget;
    uint16_t streamMode;
    uint16_t compressedTransfer;
    uint16_t attenuation;
    uint16_t reg7;
    uint16_t reg9;
    uint16_t pixelFormat;
    uint16_t toneStrength;
    uint16_t exposureBase;
    uint16_t reg15;
    uint16_t verticalFlip, horizontalFlip;
    uint16_t reg20;
    uint16_t reg26;
    uint16_t resolutionCode;
    uint16_t outputWidth, outputHeight;
    uint16_t windowWidth, windowHeight;
    uint16_t largestPreset;
    uint16_t maxWidth, maxHeight;
    uint16_t userRotation;
    uint16_t reg35, reg36;
    uint16_t exposure;
    uint16_t reg2;
    uint16_t decimation;
    uint16_t reg58;
    uint16_t reg63;
    uint16_t stabilityCheck;
    uint16_t holdTime;
    uint16_t defectCorrection;
    uint16_t reg54, reg53;
    uint16_t manualLevel;
    uint16_t illuminationMode;
    uint16_t overlayEnable;
    uint16_t reg87;
    uint16_t rangeLedMode;
    uint16_t reg59;
    uint16_t baseRotation;
    uint16_t exposureStart;
    int32_t exposureTable[kExposureTableCapacity];
    int32_t exposureTableCount;
    int32_t exposureIndex;
    uint16_t defectTable[kDefectTableWords];
};

struct CameraContext {
    bool connected;
    usb::Transport transport; // the device handle and, when winUsbOpen, the WinUSB interface
    uint16_t channel;
    uint16_t control25;
    uint32_t decoderReady;
    MjpegDecoder *decoder;
    std::timed_mutex *decoderMutex;
    uint32_t frameSize;
    uint32_t lastFrameBytes;
    uint16_t rotation;
    uint16_t sensorWidth, sensorHeight;
    uint8_t *decodeBuffer;
    uint32_t decodeBufferSize;
    uint8_t *greyBuffer;
    uint32_t greyBufferSize;
    uint8_t *rotationBuffer;
    uint32_t rotationBufferSize;
    uint16_t revisionWord;
    uint16_t firmwareVersion;
    uint16_t identityWord;
    uint16_t vendorId, productId;
    char16_t manufacturerName[256];
    char16_t productName[256];
    char16_t serialNumber[256];
    uint16_t captureReady;
    uint32_t illuminationLevel;
    uint32_t rangeState;
    uint32_t register49Shadow;
    uint16_t rangeTarget0, rangeTarget1;
    uint8_t *eyeSearchArea;
    IlluminationState *illuminationState;
    FrameStream *stream;
    int32_t rangeThresholds[4];
    uint32_t locatorReady;
    uint32_t locatorAssist;
    uint16_t locatorLevel;
    uint32_t movingFlag;
    uint16_t inBandFlag;
    uint32_t qualifyingFrames;
    uint16_t rangeTargetSelect;
    ChannelSettings channels[2];

    ChannelSettings &selected() { return channels[channel & 1]; }
};

// The process-wide context.
CameraContext &context();

// Zeroes every field as a fresh, closed context (nothing may be owned then).
void resetContext(CameraContext &ctx);

} // namespace ix
