/*
 * IxiLumo: host library of the CorvelLumo dual-eye iris camera.
 *
 * One camera per process. Call IxOpen first; every camera export returns
 * IX_ERR_FAILED (1) until the camera is open. The file writers and the
 * format check of IxDecompressMjpg work without a camera.
 *
 * Usable from C and C++. All exports use the C calling convention named by
 * IXLUMO_CALL, and are exported undecorated on every platform.
 */
#ifndef IXILUMO_H
#define IXILUMO_H

#include <stdint.h>

#ifdef _WIN32
/* The DLL's export list names these functions; no import decoration is
 * needed, so the header works for the DLL and for static linking alike. */
#  define IXLUMO_CALL __cdecl
#  define IXLUMO_API
#else
#  define IXLUMO_CALL
#  define IXLUMO_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* UTF-16 text unit of the W file-name forms and the wide text controls. */
#if defined(_WIN32)
typedef wchar_t IxChar16;
#elif defined(__cplusplus)
typedef char16_t IxChar16;
#else
typedef uint_least16_t IxChar16;
#endif

/* Result codes of every export except the four file writers, which return
 * 0 or the operating system's error code. */
#define IX_OK                 0
#define IX_ERR_FAILED         1 /* no open camera, request failed, no frame, decoder busy, no memory */
#define IX_ERR_NO_CONTROL     3 /* no such control id */
#define IX_ERR_RANGE          4 /* value out of range or malformed */
#define IX_ERR_NOT_ALLOWED    5 /* value not among the allowed ones */
#define IX_ERR_STATE          7 /* not allowed in the present state */
#define IX_ERR_BUFFER_SMALL   8 /* the caller's buffer is too small */

/* Pixel formats. 1, 2, 4 and 6 are stored bottom-up, 7 and 21 top-down. */
#define IX_FORMAT_BGRX32      1  /* B,G,R,0; IxDecompressMjpg only */
#define IX_FORMAT_BGR24       2
#define IX_FORMAT_RGB565      4
#define IX_FORMAT_GREY8       6
#define IX_FORMAT_YUY2        7
#define IX_FORMAT_YUY2_ALT    21
/* Compressed frames undecoded; IxGetMjpgImage only (control 13 refuses them). */
#define IX_FORMAT_MJPG        11 /* the frame as the camera sent it (IxSaveJpgA/W, IxDecompressMjpg take it) */
#define IX_FORMAT_JPEG_FILE   19 /* the frame as a complete JPEG file: 376 bytes more than sent */

/* Control ids of IxGetControlValue / IxSetControlValue / IxSetControlPValue. */
#define IX_CTL_AUTO_MODE            1
#define IX_CTL_OFFSET_X             2
#define IX_CTL_OFFSET_Y             3
#define IX_CTL_TONE_LIFT            4
#define IX_CTL_REG48                5
#define IX_CTL_REG4                 6
#define IX_CTL_BRIGHTNESS_TARGET    7
#define IX_CTL_STREAM_MODE          8
#define IX_CTL_COMPRESSED           9
#define IX_CTL_ATTENUATION          10
#define IX_CTL_REG7                 11
#define IX_CTL_REG9                 12
#define IX_CTL_PIXEL_FORMAT         13
#define IX_CTL_TONE_STRENGTH        14
#define IX_CTL_REG42                15
#define IX_CTL_EXPOSURE_BASE        16
#define IX_CTL_REG15                17
#define IX_CTL_VERTICAL_FLIP        18
#define IX_CTL_VENDOR_ID            20
#define IX_CTL_MANUFACTURER_A       21
#define IX_CTL_MANUFACTURER_W       22
#define IX_CTL_HORIZONTAL_FLIP      23
#define IX_CTL_REG20                24
#define IX_CTL_CONTROL25            25
#define IX_CTL_PRODUCT_ID           26
#define IX_CTL_PRODUCT_A            27
#define IX_CTL_PRODUCT_W            28
#define IX_CTL_REG26                29
#define IX_CTL_RESOLUTION           30
#define IX_CTL_OUTPUT_WIDTH         31
#define IX_CTL_OUTPUT_HEIGHT        32
#define IX_CTL_WINDOW_WIDTH         33
#define IX_CTL_WINDOW_HEIGHT        34
#define IX_CTL_LARGEST_PRESET       35
#define IX_CTL_MAX_WIDTH            36
#define IX_CTL_MAX_HEIGHT           37
#define IX_CTL_REG35                38
#define IX_CTL_SERIAL_A             39
#define IX_CTL_SERIAL_W             40
#define IX_CTL_REG36                41
#define IX_CTL_EXPOSURE             42
#define IX_CTL_IDENTITY_WORD        43
#define IX_CTL_FIRMWARE_VERSION     44
#define IX_CTL_REVISION             45
#define IX_CTL_REG2                 46
#define IX_CTL_DECIMATION           47
#define IX_CTL_LAST_FRAME_BYTES     48
#define IX_CTL_CHANNEL              49
#define IX_CTL_REG67_STATUS         50
#define IX_CTL_API_VERSION          51
#define IX_CTL_ROTATION             52
#define IX_CTL_INDIRECT_DATA_READ   125
#define IX_CTL_INDIRECT_ADDRESS     126
#define IX_CTL_INDIRECT_DATA        127
#define IX_CTL_STABILITY_CHECK      128
#define IX_CTL_MANUAL_LEVEL         129
#define IX_CTL_OVERLAY              130
#define IX_CTL_REG54                132
#define IX_CTL_REG53                133
#define IX_CTL_HOLD_TIME            134
#define IX_CTL_RESERVED135          135
#define IX_CTL_REG58                137
#define IX_CTL_PULSE58              138
#define IX_CTL_REG59                139
#define IX_CTL_ILLUMINATION_MODE    140
#define IX_CTL_RANGE_READING        141
#define IX_CTL_RANGE_TARGET         142
#define IX_CTL_CAPTURE_READY        143
#define IX_CTL_REG68_STATUS         144
#define IX_CTL_REG62                145
#define IX_CTL_RANGE_LED_MODE       146
#define IX_CTL_REG63                149
#define IX_CTL_DEFECT_CORRECTION    150
#define IX_CTL_LOCATOR_ASSIST       160
#define IX_CTL_LOCATOR_LEVEL        161
#define IX_CTL_MOVING_FLAG          162
#define IX_CTL_IN_BAND              164
#define IX_CTL_RANGE_TARGET_SELECT  165
#define IX_CTL_REG87                169

/* One half's pupil result: fifteen signed 32-bit fields. */
typedef struct EyeResult {
    int32_t notFound;
    int32_t originX;
    int32_t originY;
    int32_t pupilX;
    int32_t pupilY;
    int32_t pupilRadius;
    int32_t irisX;
    int32_t irisY;
    int32_t irisRadius;
    int32_t rangeScore;
    int32_t saturatedPercent;
    int32_t contrast;
    int32_t meanLevel;
    int32_t spread;
    int32_t reserved;
} EyeResult;

/* Request and result of IxGetDualIrisImages. */
typedef struct DualIrisRecord {
    int32_t reserved;
    uint8_t *image;       /* 8-bit grey, width bytes per row, bottom-up */
    int32_t width;
    int32_t height;
    uint8_t *rightImage;  /* may be null; cropWidth * cropHeight bytes */
    uint8_t *leftImage;   /* may be null; cropWidth * cropHeight bytes */
    int32_t cropWidth;
    int32_t cropHeight;
    EyeResult rightResult;
    EyeResult leftResult;
} DualIrisRecord;

IXLUMO_API int32_t IXLUMO_CALL IxOpen(void);
IXLUMO_API int32_t IXLUMO_CALL IxClose(void);
IXLUMO_API int32_t IXLUMO_CALL IxGetImage(uint8_t *destination, uint32_t capacity, uint32_t *deliveredBytes);
IXLUMO_API int32_t IXLUMO_CALL IxGetControlValue(uint32_t id, uint16_t *buffer, uint32_t bufferBytes, int32_t *returnedBytes);
IXLUMO_API int32_t IXLUMO_CALL IxSetControlValue(uint32_t id, int32_t value, uint32_t bytes);
IXLUMO_API int32_t IXLUMO_CALL IxSetControlPValue(uint32_t id, const void *data, uint32_t bytes);
IXLUMO_API int32_t IXLUMO_CALL IxDecompressMjpg(uint8_t *destination, int32_t destinationSize,
                                                const uint8_t *source, int32_t sourceSize, int32_t format);
IXLUMO_API int32_t IXLUMO_CALL IxSaveBmpA(const char *fileName, const uint8_t *pixels, int32_t pixelBytes,
                                          const uint8_t *infoHeader, int32_t infoHeaderBytes);
IXLUMO_API int32_t IXLUMO_CALL IxSaveBmpW(const IxChar16 *fileName, const uint8_t *pixels, int32_t pixelBytes,
                                          const uint8_t *infoHeader, int32_t infoHeaderBytes);
IXLUMO_API int32_t IXLUMO_CALL IxSaveJpgA(const char *fileName, const uint8_t *frame, int32_t frameLength);
IXLUMO_API int32_t IXLUMO_CALL IxSaveJpgW(const IxChar16 *fileName, const uint8_t *frame, int32_t frameLength);
IXLUMO_API int32_t IXLUMO_CALL IxGetDualIrisImages(DualIrisRecord *record);

/* The next frame of a compressed stream (control 9 set to 1 before the
 * stream starts), undecoded, in format IX_FORMAT_MJPG or IX_FORMAT_JPEG_FILE.
 * Returns 0 with the frame's byte count in *deliveredBytes; 5 for another
 * format; 7 when the stream is off or uncompressed; 8, writing nothing, when
 * capacity is below the frame (a frame never exceeds the sensor's width x
 * height x 3 bytes); 1 when no frame came. These frames drive no eye search,
 * feedback loops or markers. */
IXLUMO_API int32_t IXLUMO_CALL IxGetMjpgImage(uint8_t *destination, uint32_t capacity, uint32_t *deliveredBytes,
                                              int32_t format);

#ifdef __cplusplus
}
#endif

#endif /* IXILUMO_H */
