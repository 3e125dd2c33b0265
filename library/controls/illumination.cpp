// The illumination word in register 49: a mode in bits 13 to 15 and a level
// in bits 3 to 7. The camera flickers when the word is rewritten, so a word
// equal to the last one written stays unsent.
#include "library/controls/controls.h"
#include "library/controls/tables.h"

namespace ix {
namespace {
constexpr uint16_t kRegIllumination = 49;
constexpr uint16_t kMaxLevel = 31;
constexpr uint16_t kMaxMode = 7;

// The level a mode runs at: the manual level, or the ranging loop's level
// scaled to 0..31, with the brighter modes given three quarters more.
uint16_t levelFor(const CameraContext &ctx, const ChannelSettings &ch, uint16_t mode) {
    if (ch.autoMode == 0) return ch.manualLevel;
    uint32_t g = ctx.illuminationLevel / 4;
    if (mode == 1 || mode == 2 || mode == 5 || mode == 6) g += (3 * g) / 4;
    return uint16_t(g > kMaxLevel ? kMaxLevel : g);
}
} // namespace

void writeIlluminationWord(CameraContext &ctx, uint16_t word) {
    if (word == ctx.register49Shadow) return;
    ctx.register49Shadow = word;
    regSet(ctx, kRegIllumination, word);
}

int setIlluminationLevel(CameraContext &ctx, uint16_t v) {
    ChannelSettings &ch = ctx.selected();
    if (ctx.channel != 0 || ch.autoMode != 0) return 7;
    if (v > kMaxLevel) return 4;
    ch.manualLevel = v;
    writeIlluminationWord(ctx, illuminationWord(ch.illuminationMode, v));
    return 0;
}

int setIlluminationMode(CameraContext &ctx, uint16_t v) {
    ChannelSettings &ch = ctx.selected();
    if (ctx.channel != 0 || v > kMaxMode) return 7;
    ch.illuminationMode = v;
    writeIlluminationWord(ctx, illuminationWord(v, levelFor(ctx, ch, v)));
    return 0;
}

void replayIllumination(CameraContext &ctx) {
    ChannelSettings &ch = ctx.selected();
    if (ch.autoMode == 0 && ch.manualLevel <= kMaxLevel)
        writeIlluminationWord(ctx, illuminationWord(ch.illuminationMode, ch.manualLevel));
    if (ch.illuminationMode <= kMaxMode)
        writeIlluminationWord(ctx, illuminationWord(ch.illuminationMode, levelFor(ctx, ch, ch.illuminationMode)));
}

} // namespace ix
