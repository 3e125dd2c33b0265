// The library's own dark-pupil search: one pupil per half of an 8-bit grey
// frame, found from grid statistics (cell histograms summed into blocks and
// rings) rather than edges, then measured with dark-run scans.
//
// Threading: the work area belongs to whoever calls; frame delivery and the
// iris-image export share the one in the camera context and must not run
// at the same time.
#pragma once
#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "IxiLumo.h"
#include "library/core/context.h"

namespace ix::eyes {

inline constexpr int kMaxCells = 1200;
inline constexpr int kMaxBlocks = 1200;
inline constexpr int kMaxCandidates = 16;
inline constexpr int kBins = 16;
// Largest cell side whose block sums still fit 32 bits (frames up to 41,039
// pixels wide); wider frames are refused.
inline constexpr int kMaxCellSize = 512;
// The camera context reserves the work area's bytes (kEyeSearchAreaBytes,
// defined with the context); the record must fit.
using ix::kEyeSearchAreaBytes;

struct BinStat {
    int32_t count;
    int32_t sum;
};

struct SearchCell {
    int32_t x0, y0;  // top-left pixel (image coordinates)
    int32_t column, row;
    BinStat bins[kBins];  // bin = value / 16
};

struct RingRegion {
    int32_t x0, y0, column, row;  // of its first cell
    int32_t count;                // all its pixels
    int32_t sum;
    int32_t mean;
    int32_t topCount;  // its pixels of 240 and above
};

struct BlockBin {
    int32_t count;
    int32_t sum;
    int32_t mean;  // 255 for an empty bin
};

// 4 x 4 cells (columns bx+1..bx+4, rows by+1..by+4) with the ring of cells
// around them.
struct SearchBlock {
    int32_t x0, y0, column, row;  // of the top-left cell (bx+1, by+1)
    int32_t count, sum, mean;     // values below 240
    int32_t darkCount, darkSum, darkMean;  // values below 96
    int32_t midCount;                      // values 144 to 239
    int32_t glintColumn, glintRow;  // last cell holding a value of 240 or more
    RingRegion ring[4];             // left, top, right, bottom
    BlockBin bins[kBins];
};

enum RingSide { kRingLeft = 0, kRingTop = 1, kRingRight = 2, kRingBottom = 3 };

struct PupilCandidate {
    int32_t block;     // block index
    int32_t darkMean;  // sort key
    uint8_t threshold;
};

// Geometry of the grid for one frame size; recomputed only when the size
// changes. `usable` is false for a frame the capacities cannot hold.
struct SearchGeometry {
    int32_t cellSize;       // c = W / 80
    int32_t margin;         // 4c
    int32_t cellsX, cellsY;  // nx, ny
    int32_t cellCount;
    int32_t blocksX, blocksY;  // nx - 5, ny - 5
    int32_t blockCount;
    int32_t darkMinimum;    // 3c^2 / 4
    int32_t glintMinimum;   // c / 4
    int32_t glintMaximum;   // 11c
    int32_t irisRadius;     // W / 20
    int32_t usable;         // 1 when a search can run on this size
};

struct EyeSearchArea {
    SearchGeometry geometry;
    int32_t width, height;  // the size the geometry belongs to
    const uint8_t *frame;
    int32_t cropWidth, cropHeight;
    int32_t originX, originY;  // window of the half being searched
    uint8_t darkThreshold;     // of the candidate being measured
    SearchCell cells[kMaxCells];
    SearchBlock blocks[kMaxBlocks];
    PupilCandidate candidates[kMaxCandidates];
    int32_t candidateCount;
};

// Allocated once per open, zero-filled, and never constructed beyond that:
// a plain record that all-zero bytes make a valid, empty work area.
static_assert(sizeof(EyeSearchArea) <= kEyeSearchAreaBytes, "work area outgrew its reservation");
static_assert(std::is_trivially_copyable_v<EyeSearchArea> && std::is_standard_layout_v<EyeSearchArea>);

// Fills `g` for a W x H frame. A frame narrower than 80 pixels (cell size 0),
// one whose grid has no whole block, one needing more than 1200 cells or
// blocks, or one with cells above kMaxCellSize is marked unusable.
void ComputeSearchGeometry(int32_t width, int32_t height, SearchGeometry &g);

// Stores the frame and crop size; recomputes the geometry when W or H
// changed. Returns 0, or 1 when the frame cannot be searched (no frame,
// or unusable geometry); searches then find nothing.
int PrepareSearch(EyeSearchArea &area, const uint8_t *frame, int32_t width, int32_t height,
                  int32_t cropWidth, int32_t cropHeight);

// Searches the window at the origin. Sets the result (notFound 0) only when
// a pupil is measured; otherwise leaves it untouched. Returns 0 when found.
int SearchHalf(EyeSearchArea &area, int32_t originX, int32_t originY, EyeResult &result);

// The per-frame search of both halves: notFound = 1 in both results, then
// the left half (origin (4c, 4c)) and the right half (origin (W/2 + 4c, 4c)).
void SearchBothHalves(EyeSearchArea &area, const uint8_t *frame, int32_t width, int32_t height,
                      int32_t cropWidth, int32_t cropHeight, EyeResult &left, EyeResult &right);

// Window origins of the two halves for the prepared geometry.
int32_t LeftOriginX(const EyeSearchArea &area);
int32_t RightOriginX(const EyeSearchArea &area);
int32_t WindowOriginY(const EyeSearchArea &area);

// The stages of one half, in the order SearchHalf runs them; exposed so each
// can be checked on its own. They expect a prepared, usable area whose
// window (originX, originY) lies inside the frame.
void ComputeCellStatistics(EyeSearchArea &area);
void ComputeBlockStatistics(EyeSearchArea &area);
void ComputeRingStatistics(EyeSearchArea &area);
void SelectCandidates(EyeSearchArea &area);
// Exchange sort by darkMean, ascending; its order among equal keys is part
// of the search's behaviour.
void SortCandidates(PupilCandidate *candidates, int32_t count);
// Measures the pupil inside one candidate's block; 0 and a filled result on
// success, 1 when a scan step fails.
int MeasurePupil(EyeSearchArea &area, const PupilCandidate &candidate, EyeResult &result);

}  // namespace ix::eyes
