// MJPEG decoder for the camera's compressed frames.
//
// The camera sends baseline JPEG frames of one layout only: three components,
// 8-bit samples, luminance sampled 2 x 1 and both chrominance components 1 x 1
// (an MCU is 16 x 8 pixels made of the blocks Y, Y, Cb, Cr), coded with the
// standard Huffman tables of T.81 Annex K, which the frames leave out, and no
// restart interval. The decoder turns such a frame into packed YUY2 rows.
//
// Everything here works on byte spans and never reads outside the frame's
// bytes, whatever the frame holds. One decoder context lives per open camera;
// the caller serialises every use of it (the library's decoder mutex).
#pragma once

#include <cstddef>
#include <cstdint>

namespace ix::codec {

struct MjpegDecoder;

// The three stages of a decode. Held as pointers in the context so a faster
// variant of a stage can be put in without touching the entropy decoder.
// blockStage: dequantise and inverse-transform one 64-coefficient slot in place;
//   the slot's first 64 bytes then hold the block's samples row after row.
using MjpegBlockStage = void (*)(int16_t *slot, const int16_t *quant);
// mcuStage: write one decoded MCU (four slots: Y left, Y right, Cb, Cr) as
//   8 rows of 32 YUY2 bytes, rows `stride` bytes apart.
using MjpegMcuStage = void (*)(const int16_t *mcuSlots, uint8_t *out, int32_t stride);
// rowStage: hand every MCU of MCU row `mcuRow` of the row buffer to mcuStage.
using MjpegRowStage = void (*)(MjpegDecoder *decoder, int32_t mcuRow, uint8_t *output);

struct MjpegComponent {
    int32_t id;
    int32_t horizontalFactor;
    int32_t verticalFactor;
    int32_t quantSelector;
    int32_t dcSelector;
    int32_t acSelector;
};

struct MjpegDecoder {
    MjpegBlockStage blockStage;
    MjpegMcuStage mcuStage;
    MjpegRowStage rowStage;
    int32_t outputBitsPerPixel;
    int32_t outputStride;          // bytes per output row: 2 x width
    const uint8_t *frameData;      // not owned; valid during one parse-and-decode
    int32_t frameLength;
    int32_t scanHeaderPos;         // offset of the scan header's length field, 0 before it
    int32_t entropyStart;          // first entropy-coded byte
    int32_t height;
    int32_t width;
    int32_t blocksPerMcu;
    int32_t mcusPerRow;
    int16_t *rowBuffer;            // one MCU row of coefficient slots; only grows
    int32_t rowBufferCapacity;     // bytes
    int32_t componentCount;
    MjpegComponent components[3];
    int16_t quantTables[4][64];    // natural order
    int32_t readPos;
    uint32_t bitBuffer;            // left-aligned: the next bit is bit 31
    int32_t bitCount;
    int32_t dcPredictor[4];
    // Set only by a parse that succeeded, so a decode never runs on the
    // geometry of a half-read header against a row buffer sized for another.
    bool parsed;
};

// Allocates a decoder with its stages set; nullptr when out of memory.
MjpegDecoder *MjpegCreateDecoder();
// Frees the decoder and its row buffer: 0, or 1 for a missing decoder.
int32_t MjpegDestroyDecoder(MjpegDecoder *decoder);

// Reads the frame's markers up to the start of scan. 0 on success with the
// frame's width and height reported; 1 for a missing decoder, a frame that is
// not of the accepted form, or a header that runs past the frame's end.
// The data must stay valid until the following MjpegDecodeFrame returns.
int32_t MjpegParseHeaders(MjpegDecoder *decoder, const uint8_t *data, int32_t length, int32_t *width,
                          int32_t *height);

// Decodes the entropy-coded data of the frame last parsed into output, which
// must hold outputStride x height bytes. Columns past the last whole MCU and
// rows past the last whole MCU row are left untouched. Errors in the coded
// data are not detected: they decode to whatever the bits say. Returns 1 for a
// missing decoder or when no parse has succeeded since the last failed one.
int32_t MjpegDecodeFrame(MjpegDecoder *decoder, uint8_t *output);

// The stages installed by MjpegCreateDecoder.
void MjpegInverseDct(int16_t *slot, const int16_t *quant);
void MjpegPackMcu(const int16_t *mcuSlots, uint8_t *out, int32_t stride);
void MjpegEmitMcuRow(MjpegDecoder *decoder, int32_t mcuRow, uint8_t *output);

// Parse and decode one frame into a YUY2 buffer of `capacity` bytes, as frame
// delivery and IxDecompressMjpg need it. maxWidth / maxHeight, when above 0,
// refuse frames whose headers declare a larger image than the caller's
// buffers were sized for. Returns 0, 1 (unreadable or refused headers, or an
// image larger than the limits) or 8 (capacity below width x height x 2).
// width and height may be null; they are reported whenever the headers parse.
int32_t MjpegDecodeToYuy2(MjpegDecoder *decoder, const uint8_t *data, int32_t length, uint8_t *output,
                          int64_t capacity, int32_t *width, int32_t *height, int32_t maxWidth = 0,
                          int32_t maxHeight = 0);

} // namespace ix::codec
