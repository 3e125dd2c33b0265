#include "eye_search.h"

#include <cstring>

namespace ix::eyes {
namespace {

// Brightness classes, by the value's upper four bits.
constexpr int kTopBin = 15;        // 240 and above: glint
constexpr int kDarkBins = 6;       // below 96
constexpr int kMidFirstBin = 9;    // 144 ...
constexpr int kMeanBins = 15;      // below 240
constexpr int kGlintCellDarkBins = 5;  // below 80
constexpr int kThresholdBins = 8;

inline const uint8_t *imageRow(const EyeSearchArea &a, int32_t y) {
    // Rows are stored bottom-up: image row y is stored row H - 1 - y.
    return a.frame + static_cast<size_t>(a.height - 1 - y) * static_cast<size_t>(a.width);
}

inline bool isDark(const EyeSearchArea &a, uint8_t v) { return v <= a.darkThreshold; }

// Longest stretch of dark pixels in column x, image rows y .. y + length - 1.
int32_t columnRun(const EyeSearchArea &a, int32_t x, int32_t y, int32_t length) {
    int32_t best = 0, run = 0;
    for (int32_t i = 0; i < length; ++i) {
        if (isDark(a, imageRow(a, y + i)[x])) {
            if (++run > best) best = run;
        } else {
            run = 0;
        }
    }
    return best;
}

// Longest stretch of dark pixels in image row y, columns x .. x + length - 1.
int32_t rowRun(const EyeSearchArea &a, int32_t y, int32_t x, int32_t length) {
    const uint8_t *p = imageRow(a, y) + x;
    int32_t best = 0, run = 0;
    for (int32_t i = 0; i < length; ++i) {
        if (isDark(a, p[i])) {
            if (++run > best) best = run;
        } else {
            run = 0;
        }
    }
    return best;
}

inline int32_t meanOr255(int32_t sum, int32_t count) { return count ? sum / count : 255; }

}  // namespace

void ComputeSearchGeometry(int32_t width, int32_t height, SearchGeometry &g) {
    std::memset(&g, 0, sizeof g);
    if (width < 80 || height <= 0) return;  // a cell would be 0 pixels wide
    const int32_t c = width / 80;
    // Block sums hold 16 c^2 values of up to 255 in 32 bits.
    if (c > kMaxCellSize) return;
    g.cellSize = c;
    g.margin = 4 * c;
    g.cellsX = (width / 2 - 8 * c) / c;
    g.cellsY = (height - 8 * c) / c;
    g.blocksX = g.cellsX - 5;
    g.blocksY = g.cellsY - 5;
    g.darkMinimum = 3 * c * c / 4;
    g.glintMinimum = c / 4;
    g.glintMaximum = 11 * c;
    g.irisRadius = width / 20;
    // The record only has room for 1200 cells and 1200 blocks; a taller grid
    // (a 4:3 frame, for one) is refused rather than written past the end.
    const int64_t cells = static_cast<int64_t>(g.cellsX) * g.cellsY;
    const int64_t blocks = static_cast<int64_t>(g.blocksX) * g.blocksY;
    if (g.blocksX < 1 || g.blocksY < 1 || cells > kMaxCells || blocks > kMaxBlocks) {
        g.cellCount = 0;
        g.blockCount = 0;
        return;
    }
    g.cellCount = static_cast<int32_t>(cells);
    g.blockCount = static_cast<int32_t>(blocks);
    g.usable = 1;
}

int PrepareSearch(EyeSearchArea &area, const uint8_t *frame, int32_t width, int32_t height,
                  int32_t cropWidth, int32_t cropHeight) {
    area.frame = frame;
    area.cropWidth = cropWidth;
    area.cropHeight = cropHeight;
    if (width != area.width || height != area.height) {
        ComputeSearchGeometry(width, height, area.geometry);
        area.width = width;
        area.height = height;
    }
    return (frame && area.geometry.usable) ? 0 : 1;
}

int32_t LeftOriginX(const EyeSearchArea &area) { return area.geometry.margin; }
int32_t RightOriginX(const EyeSearchArea &area) { return area.width / 2 + area.geometry.margin; }
int32_t WindowOriginY(const EyeSearchArea &area) { return area.geometry.margin; }

void ComputeCellStatistics(EyeSearchArea &area) {
    const SearchGeometry &g = area.geometry;
    const int32_t c = g.cellSize;
    std::memset(area.cells, 0, sizeof area.cells);
    for (int32_t r = 0; r < g.cellsY; ++r) {
        SearchCell *rowCells = area.cells + r * g.cellsX;
        for (int32_t q = 0; q < g.cellsX; ++q) {
            rowCells[q].x0 = q * c + area.originX;
            rowCells[q].y0 = r * c + area.originY;
            rowCells[q].column = q;
            rowCells[q].row = r;
        }
        // Walk the cell row one pixel row at a time so memory is read in order.
        for (int32_t dy = 0; dy < c; ++dy) {
            const uint8_t *p = imageRow(area, r * c + area.originY + dy) + area.originX;
            for (int32_t q = 0; q < g.cellsX; ++q) {
                BinStat *bins = rowCells[q].bins;
                for (int32_t dx = 0; dx < c; ++dx) {
                    const uint8_t v = *p++;
                    bins[v >> 4].count += 1;
                    bins[v >> 4].sum += v;
                }
            }
        }
    }
}

void ComputeBlockStatistics(EyeSearchArea &area) {
    const SearchGeometry &g = area.geometry;
    std::memset(area.blocks, 0, sizeof area.blocks);
    for (int32_t by = 0; by < g.blocksY; ++by) {
        for (int32_t bx = 0; bx < g.blocksX; ++bx) {
            SearchBlock &b = area.blocks[by * g.blocksX + bx];
            const SearchCell &corner = area.cells[(by + 1) * g.cellsX + bx + 1];
            b.x0 = corner.x0;
            b.y0 = corner.y0;
            b.column = corner.column;
            b.row = corner.row;
            int32_t topSeen = 0;
            for (int32_t r = by + 1; r <= by + 4; ++r) {
                for (int32_t q = bx + 1; q <= bx + 4; ++q) {
                    const SearchCell &cell = area.cells[r * g.cellsX + q];
                    for (int i = 0; i < kBins; ++i) {
                        b.bins[i].count += cell.bins[i].count;
                        b.bins[i].sum += cell.bins[i].sum;
                    }
                    // The running total only grows, so this picks the last
                    // cell (in reading order) that holds a glint pixel.
                    if (b.bins[kTopBin].count > topSeen) {
                        topSeen = b.bins[kTopBin].count;
                        b.glintColumn = q;
                        b.glintRow = r;
                    }
                }
            }
            for (int i = 0; i < kBins; ++i) b.bins[i].mean = meanOr255(b.bins[i].sum, b.bins[i].count);
            for (int i = 0; i < kDarkBins; ++i) {
                b.darkCount += b.bins[i].count;
                b.darkSum += b.bins[i].sum;
            }
            b.darkMean = meanOr255(b.darkSum, b.darkCount);
            for (int i = 0; i < kMeanBins; ++i) {
                b.count += b.bins[i].count;
                b.sum += b.bins[i].sum;
            }
            b.mean = meanOr255(b.sum, b.count);
            for (int i = kMidFirstBin; i < kMeanBins; ++i) b.midCount += b.bins[i].count;
        }
    }
}

void ComputeRingStatistics(EyeSearchArea &area) {
    const SearchGeometry &g = area.geometry;
    for (int32_t by = 0; by < g.blocksY; ++by) {
        for (int32_t bx = 0; bx < g.blocksX; ++bx) {
            SearchBlock &b = area.blocks[by * g.blocksX + bx];
            // First cell and step of each side, in the order left, top, right, bottom.
            const int32_t startColumn[4] = {bx, bx, bx + 5, bx};
            const int32_t startRow[4] = {by, by, by, by + 5};
            const int32_t stepColumn[4] = {0, 1, 0, 1};
            const int32_t stepRow[4] = {1, 0, 1, 0};
            for (int side = 0; side < 4; ++side) {
                RingRegion &region = b.ring[side];
                const SearchCell &first = area.cells[startRow[side] * g.cellsX + startColumn[side]];
                region.x0 = first.x0;
                region.y0 = first.y0;
                region.column = first.column;
                region.row = first.row;
                region.count = region.sum = region.topCount = 0;
                for (int32_t k = 0; k < 6; ++k) {
                    const int32_t q = startColumn[side] + k * stepColumn[side];
                    const int32_t r = startRow[side] + k * stepRow[side];
                    const SearchCell &cell = area.cells[r * g.cellsX + q];
                    for (int i = 0; i < kBins; ++i) {
                        region.count += cell.bins[i].count;
                        region.sum += cell.bins[i].sum;
                    }
                    region.topCount += cell.bins[kTopBin].count;
                }
                region.mean = meanOr255(region.sum, region.count);
            }
        }
    }
}

void SelectCandidates(EyeSearchArea &area) {
    const SearchGeometry &g = area.geometry;
    const int32_t c = g.cellSize;
    std::memset(area.candidates, 0, sizeof area.candidates);
    area.candidateCount = 0;
    for (int32_t index = 0; index < g.blockCount && area.candidateCount < kMaxCandidates; ++index) {
        const SearchBlock &b = area.blocks[index];
        if (b.darkCount < g.darkMinimum) continue;
        const int32_t glint = b.bins[kTopBin].count;
        if (glint < g.glintMinimum || glint > g.glintMaximum) continue;
        bool darkerThanRing = true;
        int32_t ringTop = 0;
        for (const RingRegion &region : b.ring) {
            if (b.mean > region.mean) darkerThanRing = false;
            ringTop += region.topCount;
        }
        if (!darkerThanRing || ringTop > g.glintMaximum) continue;
        if (b.midCount > c * c / 2) continue;
        // Below 320 pixels of width the glint minimum is 0, so a block can get
        // here without any glint pixel and hence without a glint cell. A pupil
        // is a dark disc holding a glint; such a block is not one.
        if (glint == 0) continue;
        const SearchCell &glintCell = area.cells[b.glintRow * g.cellsX + b.glintColumn];
        int32_t glintCellDark = 0;
        for (int i = 0; i < kGlintCellDarkBins; ++i) glintCellDark += glintCell.bins[i].count;
        if (glintCellDark < c * c / 16) continue;

        PupilCandidate &candidate = area.candidates[area.candidateCount++];
        candidate.block = index;
        candidate.darkMean = b.darkMean;
        candidate.threshold = 128;
        for (int i = 0; i < kThresholdBins; ++i) {
            if (b.bins[i].count > c * c / 2) {
                candidate.threshold = static_cast<uint8_t>(b.bins[i].mean & 0xFF);
                break;
            }
        }
    }
}

void SortCandidates(PupilCandidate *candidates, int32_t count) {
    for (int32_t j = 0; j < count; ++j) {
        for (int32_t k = 0; k < count; ++k) {
            if (candidates[k].darkMean > candidates[j].darkMean) {
                const PupilCandidate t = candidates[j];
                candidates[j] = candidates[k];
                candidates[k] = t;
            }
        }
    }
}

int MeasurePupil(EyeSearchArea &area, const PupilCandidate &candidate, EyeResult &result) {
    const SearchGeometry &g = area.geometry;
    if (candidate.block < 0 || candidate.block >= g.blockCount) return 1;
    const int32_t c = g.cellSize;
    const SearchBlock &b = area.blocks[candidate.block];
    const int32_t x0 = b.x0, y0 = b.y0;
    const int32_t span = 4 * c;
    const int32_t longRun = 3 * c / 4;
    const int32_t shortRun = c / 5;
    area.darkThreshold = static_cast<uint8_t>(candidate.threshold + 6);

    // 1. First column of the block with a long dark run.
    int32_t s = 0;
    while (s < span && columnRun(area, x0 + s, y0, span) < longRun) ++s;
    if (s == span) return 1;
    // 2. Left edge: the first column to the left that is (almost) free of dark pixels.
    int32_t xL = -1;
    for (int32_t t = 1; t < c + s; ++t) {
        if (columnRun(area, x0 + s - t, y0, span) < shortRun) {
            xL = x0 + s - t;
            break;
        }
    }
    if (xL <= 0) return 1;
    // 3. Right edge.
    int32_t w = -1;
    for (int32_t t = 1; xL + t < x0 + 5 * c; ++t) {
        if (columnRun(area, xL + t, y0, span) < shortRun) {
            w = t;
            break;
        }
    }
    if (w < 0) return 1;
    // 4. First row of the block with a long dark run across the pupil's width.
    int32_t d = 0;
    while (d < span && rowRun(area, y0 + d, xL, w) < longRun) ++d;
    if (d == span) return 1;
    // 5. Top edge.
    int32_t yT = -1;
    for (int32_t t = 1; t < c + d; ++t) {
        if (rowRun(area, y0 + d - t, xL, w) < shortRun) {
            yT = y0 + d - t;
            break;
        }
    }
    if (yT <= 0) return 1;
    // 6. Bottom edge.
    int32_t h = -1;
    for (int32_t t = 1; yT + t < y0 + 5 * c; ++t) {
        if (rowRun(area, yT + t, xL, w) < shortRun) {
            h = t - 1;
            break;
        }
    }
    if (h < 0) return 1;

    result.notFound = 0;
    result.originX = area.originX;
    result.originY = area.originY;
    result.pupilRadius = w / 2 + 1;
    result.pupilX = xL + w / 2 + 1 - area.originX;
    result.pupilY = yT + h / 2 - area.originY;
    result.irisX = result.pupilX;
    result.irisY = result.pupilY;
    result.irisRadius = g.irisRadius;
    return 0;
}

int SearchHalf(EyeSearchArea &area, int32_t originX, int32_t originY, EyeResult &result) {
    const SearchGeometry &g = area.geometry;
    if (!area.frame || !g.usable) return 1;
    // The window and every scan stay inside it; refuse an origin that would
    // put the window past the frame.
    const int64_t right = static_cast<int64_t>(originX) + static_cast<int64_t>(g.cellsX) * g.cellSize;
    const int64_t bottom = static_cast<int64_t>(originY) + static_cast<int64_t>(g.cellsY) * g.cellSize;
    if (originX < 0 || originY < 0 || right > area.width || bottom > area.height) return 1;
    area.originX = originX;
    area.originY = originY;
    ComputeCellStatistics(area);
    ComputeBlockStatistics(area);
    ComputeRingStatistics(area);
    SelectCandidates(area);
    SortCandidates(area.candidates, area.candidateCount);
    for (int32_t i = 0; i < area.candidateCount; ++i) {
        if (MeasurePupil(area, area.candidates[i], result) == 0) return 0;
    }
    return 1;
}

void SearchBothHalves(EyeSearchArea &area, const uint8_t *frame, int32_t width, int32_t height,
                      int32_t cropWidth, int32_t cropHeight, EyeResult &left, EyeResult &right) {
    left.notFound = 1;
    right.notFound = 1;
    if (PrepareSearch(area, frame, width, height, cropWidth, cropHeight) != 0) return;
    SearchHalf(area, LeftOriginX(area), WindowOriginY(area), left);
    SearchHalf(area, RightOriginX(area), WindowOriginY(area), right);
}

}  // namespace ix::eyes
