// capture, decode and demo: frames from the camera into files.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "IxiLumo.h"
#include "commands.h"

namespace {

uint16_t control(uint32_t id) {
    uint16_t v = 0;
    scalarControl(id, v);
    return v;
}

bool set(uint32_t id, int32_t value) {
    int r = IxSetControlValue(id, value, 2);
    if (r != IX_OK) std::fprintf(stderr, "ixlumo: control %u = %d refused (%d)\n", id, value, r);
    return r == IX_OK;
}

// A bitmap around bottom-up pixel rows of 24-bit colour or 8-bit grey (with
// a grey palette), written by the library's own writer.
int saveBitmap(const std::string &name, const std::vector<uint8_t> &pixels, int w, int h, int bitsPerPixel) {
    int stride = (w * bitsPerPixel / 8 + 3) & ~3;
    std::vector<uint8_t> rows(size_t(stride) * h, 0);
    int rowBytes = w * bitsPerPixel / 8;
    for (int y = 0; y < h; ++y) std::memcpy(&rows[size_t(y) * stride], &pixels[size_t(y) * rowBytes], rowBytes);
    std::vector<uint8_t> info(40, 0);
    auto put32 = [&](size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i) info[at + i] = uint8_t(v >> (8 * i));
    };
    put32(0, 40);
    put32(4, uint32_t(w));
    put32(8, uint32_t(h));
    info[12] = 1;
    info[14] = uint8_t(bitsPerPixel);
    put32(20, uint32_t(rows.size()));
    if (bitsPerPixel == 8) {
        put32(32, 256);
        for (int i = 0; i < 256; ++i) {
            info.push_back(uint8_t(i));
            info.push_back(uint8_t(i));
            info.push_back(uint8_t(i));
            info.push_back(0);
        }
    }
    int r = IxSaveBmpA(name.c_str(), rows.data(), int32_t(rows.size()), info.data(), int32_t(info.size()));
    if (r != 0) std::fprintf(stderr, "ixlumo: cannot write %s (error %d)\n", name.c_str(), r);
    return r == 0 ? 0 : 1;
}

// A free window on the sensor: output and window size, and the window's
// vertical offset. All zero, the resolution preset sets the geometry.
struct Window {
    int outW = 0, outH = 0, winW = 0, winH = 0, offsetY = 0;
};

// The band of the sensor across both eyes: 2560 x 720 from 600 rows down,
// scaled to 1280 x 360.
constexpr Window kEyeBand{1280, 360, 2560, 720, 600};

struct Shot {
    int channel = 0;
    int preset = 9;     // 1280 x 960
    int decimation = 2; // of the whole 2560 x 1920 sensor
    int format = IX_FORMAT_BGR24;
    bool compressed = false;
    bool overlay = false;
    bool progress = false;
    int rotation = 0;
    int frames = 10;
    Window window; // instead of the preset when set
};

// Streams `frames` frames and keeps the last; 0 on success.
int grab(const Shot &s, std::vector<uint8_t> &frame, int &w, int &h) {
    if (!set(IX_CTL_CHANNEL, s.channel) || !set(IX_CTL_RESOLUTION, s.preset) ||
        (s.decimation > 1 && !set(IX_CTL_DECIMATION, s.decimation)) ||
        !set(IX_CTL_PIXEL_FORMAT, s.format) || !set(IX_CTL_COMPRESSED, s.compressed ? 1 : 0) ||
        !set(IX_CTL_OVERLAY, s.overlay ? 1 : 0) || !set(IX_CTL_ROTATION, s.rotation))
        return 1;
    const Window &g = s.window;
    if (g.outW && (!set(IX_CTL_OUTPUT_WIDTH, g.outW) || !set(IX_CTL_OUTPUT_HEIGHT, g.outH) ||
                   !set(IX_CTL_WINDOW_WIDTH, g.winW) || !set(IX_CTL_WINDOW_HEIGHT, g.winH) ||
                   !set(IX_CTL_OFFSET_Y, g.offsetY)))
        return 1;
    if (!set(IX_CTL_STREAM_MODE, 1)) return 1;
    w = control(IX_CTL_OUTPUT_WIDTH);
    h = control(IX_CTL_OUTPUT_HEIGHT);
    int bpp = s.format == IX_FORMAT_BGR24 ? 3 : s.format == IX_FORMAT_GREY8 ? 1 : 2;
    frame.assign(size_t(w) * h * bpp, 0);
    int result = s.frames == 0 ? IX_OK : 1;
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < s.frames; ++i) {
        uint32_t got = 0;
        result = IxGetImage(frame.data(), uint32_t(frame.size()), &got);
        if (result != IX_OK) {
            std::fprintf(stderr, "ixlumo: no frame (%d)\n", result);
            break;
        }
        if (s.progress) {
            double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            std::fprintf(stderr, "\rframe %d/%d  %.1f fps", i + 1, s.frames, seconds > 0 ? (i + 1) / seconds : 0.0);
            if (i + 1 == s.frames) std::fputc('\n', stderr);
        }
    }
    if (s.frames > 0) set(IX_CTL_STREAM_MODE, 0);
    return result == IX_OK ? 0 : 1;
}

int captureCommand(const std::vector<std::string> &args) {
    Shot s;
    s.progress = true;
    std::string out;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string &a = args[i];
        auto next = [&](int &v) {
            if (i + 1 >= args.size()) return false;
            v = std::atoi(args[++i].c_str());
            return true;
        };
        if (a == "--channel" && next(s.channel)) continue;
        if (a == "--preset" && next(s.preset)) continue;
        if (a == "--frames" && next(s.frames)) continue;
        if (a == "--decimation" && next(s.decimation)) continue;
        if (a == "--grey") { s.format = IX_FORMAT_GREY8; continue; }
        if (a == "--rotation" && next(s.rotation)) continue;
        if (a == "--compressed") { s.compressed = true; continue; }
        if (a == "--overlay") { s.overlay = true; continue; }
        if (!a.empty() && a[0] != '-' && out.empty()) { out = a; continue; }
        std::fprintf(stderr, "ixlumo capture: unexpected '%s'\n", a.c_str());
        return 2;
    }
    if (out.empty()) {
        std::fputs("ixlumo capture: name the .bmp file to write\n", stderr);
        return 2;
    }
    std::vector<uint8_t> frame;
    int w = 0, h = 0;
    if (grab(s, frame, w, h) != 0) return 1;
    if (saveBitmap(out, frame, w, h, s.format == IX_FORMAT_GREY8 ? 8 : 24) != 0) return 1;
    std::printf("%s: %dx%d, channel %d%s\n", out.c_str(), w, h, s.channel, s.compressed ? ", from MJPEG" : "");
    return 0;
}

// Decodes an MJPEG frame file (as the camera sends it) into a bitmap.
int decodeCommand(const std::vector<std::string> &args) {
    if (args.size() != 2) {
        std::fputs("usage: ixlumo decode FRAME.mjpg OUT.bmp\n", stderr);
        return 2;
    }
    std::ifstream in(args[0], std::ios::binary);
    std::vector<uint8_t> data((std::istreambuf_iterator<char>(in)), {});
    if (data.empty()) {
        std::fprintf(stderr, "ixlumo decode: cannot read %s\n", args[0].c_str());
        return 1;
    }
    // The frame header tells the size; decode into the largest frame the
    // camera sends and let the decoder refuse anything larger.
    const int maxW = 2560, maxH = 2560;
    std::vector<uint8_t> bgr(size_t(maxW) * maxH * 3);
    int r = IxDecompressMjpg(bgr.data(), int32_t(bgr.size()), data.data(), int32_t(data.size()), IX_FORMAT_BGR24);
    if (r != IX_OK) {
        std::fprintf(stderr, "ixlumo decode: not a camera MJPEG frame (%d)\n", r);
        return 1;
    }
    // Width and height from the frame header (FF C0: length, precision, height, width).
    int w = 0, h = 0;
    for (size_t i = 0; i + 8 < data.size(); ++i)
        if (data[i] == 0xFF && data[i + 1] == 0xC0) {
            h = (data[i + 5] << 8) | data[i + 6];
            w = (data[i + 7] << 8) | data[i + 8];
            break;
        }
    bgr.resize(size_t(w) * h * 3);
    return saveBitmap(args[1], bgr, w, h, 24);
}

} // namespace

// The demo's scene, in milliseconds since the camera powered up: the
// subject's distance (register 60, target 500) as the virtual camera plays
// it, and what the subject is doing meanwhile.
const char *const kDemoScene = "range=950@0,800@600,650@1200,500@1800,1000@5000,500@6600";

namespace {

struct ScenePhase {
    double from; // seconds since the camera opened
    const char *what;
};
constexpr ScenePhase kScenePhases[] = {
    {0.0, "approaching"}, {1.8, "steady"}, {5.0, "stepped back"}, {6.6, "returned"}};

const char *phaseAt(double seconds) {
    const char *what = "";
    for (const ScenePhase &p : kScenePhases)
        if (seconds >= p.from) what = p.what;
    return what;
}

// The range state as the library judges it for its markers: the mean of the
// last four readings against the target, 15 either side counting as in range.
// No control reports it, so the demo follows the readings itself.
struct RangeWatch {
    uint16_t samples[4] = {};
    unsigned next = 0, count = 0;
    void add(uint16_t reading) {
        samples[next] = reading;
        next = (next + 1) % 4;
        if (count < 4) ++count;
    }
    const char *state(int target) const {
        if (count == 0) return "-";
        long sum = 0;
        for (unsigned i = 0; i < count; ++i) sum += samples[i];
        long mean = sum / long(count);
        return mean < target - 15 ? "too near" : mean > target + 15 ? "too far" : "in range";
    }
};

// The subject walks up to the camera, holds still, steps back and returns:
// the eye band is streamed in grey for a few seconds and each half second a
// line tells what the camera sees and does. `sceneClock` is the scene's time
// origin (the moment the camera was opened) when the scripted scene plays.
void walkPhase(const std::chrono::steady_clock::time_point *sceneClock) {
    Shot s;
    s.format = IX_FORMAT_GREY8;
    s.window = kEyeBand;
    s.frames = 0;
    std::vector<uint8_t> frame;
    int w = 0, h = 0;
    set(IX_CTL_STABILITY_CHECK, 1);
    if (grab(s, frame, w, h) != 0) return; // leaves the stream running
    const int target = control(IX_CTL_RANGE_TARGET);
    std::printf("%5s  %-12s %5s %-9s %6s %6s %8s %5s %5s\n", "time", "subject", "range", "state", "pupils",
                "bright", "exposure", "light", "ready");
    auto start = std::chrono::steady_clock::now();
    RangeWatch range;
    double nextLine = 0;
    for (;;) {
        double t = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (t > 8.0) break;
        uint32_t got = 0;
        if (IxGetImage(frame.data(), uint32_t(frame.size()), &got) != IX_OK) break;
        const uint16_t reading = control(IX_CTL_RANGE_READING);
        range.add(reading);
        if (t < nextLine) continue;
        nextLine += 0.5;
        long sum = 0;
        for (uint8_t v : frame) sum += v;
        // The pupils, searched as the iris images are cut (a half is only
        // searched when its image is wanted).
        DualIrisRecord rec{};
        std::vector<uint8_t> left(320 * 240), right(320 * 240);
        rec.image = frame.data();
        rec.width = w;
        rec.height = h;
        rec.leftImage = left.data();
        rec.rightImage = right.data();
        rec.cropWidth = 320;
        rec.cropHeight = 240;
        IxGetDualIrisImages(&rec);
        int pupils = !rec.leftResult.notFound + !rec.rightResult.notFound;
        const char *phase =
            sceneClock ? phaseAt(std::chrono::duration<double>(std::chrono::steady_clock::now() - *sceneClock).count())
                       : "";
        std::printf("%4.1fs  %-12s %5u %-9s %6d %6ld %8u %5u %5s\n", t, phase, reading, range.state(target), pupils,
                    sum / long(frame.size()), control(IX_CTL_EXPOSURE), control(IX_CTL_MANUAL_LEVEL),
                    control(IX_CTL_CAPTURE_READY) ? "yes" : "no");
        std::fflush(stdout);
    }
    set(IX_CTL_STREAM_MODE, 0);
}

// One frame of a compressed stream as the camera sent it, saved as a JPEG
// file by the library; 0 on success.
int saveStreamJpeg(const std::string &name, uint32_t &bytes) {
    Shot s;
    s.compressed = true;
    s.frames = 0;
    std::vector<uint8_t> unused;
    int w = 0, h = 0;
    if (grab(s, unused, w, h) != 0) return 1;
    // No compressed frame is larger than the sensor's pixels three times over.
    std::vector<uint8_t> frame(size_t(2560) * 2560 * 3);
    int r = IxGetMjpgImage(frame.data(), uint32_t(frame.size()), &bytes, IX_FORMAT_MJPG);
    set(IX_CTL_STREAM_MODE, 0);
    set(IX_CTL_COMPRESSED, 0);
    if (r != IX_OK) {
        std::fprintf(stderr, "ixlumo: no compressed frame (%d)\n", r);
        return 1;
    }
    r = IxSaveJpgA(name.c_str(), frame.data(), int32_t(bytes));
    if (r != 0) std::fprintf(stderr, "ixlumo: cannot write %s (error %d)\n", name.c_str(), r);
    return r == 0 ? 0 : 1;
}

} // namespace

const std::chrono::steady_clock::time_point *demoSceneClock = nullptr;

namespace {

int demoCommand(const std::vector<std::string> &args) {
    std::string dir = args.empty() ? "." : args[0];
    auto path = [&](const char *name) { return dir + "/" + name; };
    std::error_code madeDir;
    std::filesystem::create_directories(dir, madeDir);
    if (madeDir) {
        std::fprintf(stderr, "ixlumo demo: cannot create %s (%s)\n", dir.c_str(), madeDir.message().c_str());
        return 1;
    }
    // What was written, for the list at the end.
    std::vector<std::pair<std::string, std::string>> saved;
    auto keep = [&](const char *name, const std::string &what, bool ok) {
        if (ok) saved.emplace_back(path(name), what);
    };
    std::printf("Camera: %s %s, firmware %u.%u\n", narrowControl(IX_CTL_MANUFACTURER_A).c_str(),
                narrowControl(IX_CTL_PRODUCT_A).c_str(), control(IX_CTL_FIRMWARE_VERSION) >> 8,
                control(IX_CTL_FIRMWARE_VERSION) & 0xFF);
    walkPhase(demoSceneClock);

    // Channel 0: the whole sensor, then the eye band, searched in every frame
    // with the markers drawn.
    Shot s;
    s.frames = 5;
    std::vector<uint8_t> frame;
    int w = 0, h = 0;
    if (grab(s, frame, w, h) != 0) return 1;
    keep("channel0.bmp", std::to_string(w) + "x" + std::to_string(h) + ", channel 0, whole sensor",
         saveBitmap(path("channel0.bmp"), frame, w, h, 24) == 0);
    s.frames = 40;
    s.overlay = true;
    s.window = kEyeBand;
    set(IX_CTL_STABILITY_CHECK, 1);
    if (grab(s, frame, w, h) != 0) return 1;
    keep("eyes.bmp", std::to_string(w) + "x" + std::to_string(h) + ", the eye band with the pupil markers",
         saveBitmap(path("eyes.bmp"), frame, w, h, 24) == 0);
    std::printf("eye band: range %u (target %u), in band %u, capture ready %u\n", control(IX_CTL_RANGE_READING),
                control(IX_CTL_RANGE_TARGET), control(IX_CTL_IN_BAND), control(IX_CTL_CAPTURE_READY));

    // The two iris images of a grey frame of the eye band.
    s.format = IX_FORMAT_GREY8;
    s.overlay = false;
    s.frames = 3;
    if (grab(s, frame, w, h) == 0) {
        DualIrisRecord rec{};
        rec.image = frame.data();
        rec.width = w;
        rec.height = h;
        rec.cropWidth = 320;
        rec.cropHeight = 240;
        std::vector<uint8_t> left(320 * 240), right(320 * 240);
        rec.leftImage = left.data();
        rec.rightImage = right.data();
        int r = IxGetDualIrisImages(&rec);
        std::printf("iris images: %s (left %s, right %s)\n", r == IX_OK ? "found" : "none",
                    rec.leftResult.notFound ? "not found" : "found", rec.rightResult.notFound ? "not found" : "found");
        if (!rec.leftResult.notFound)
            keep("iris-left.bmp", "320x240, left iris", saveBitmap(path("iris-left.bmp"), left, 320, 240, 8) == 0);
        if (!rec.rightResult.notFound)
            keep("iris-right.bmp", "320x240, right iris", saveBitmap(path("iris-right.bmp"), right, 320, 240, 8) == 0);
    }

    // The same scene compressed by the camera and decoded by the library.
    s.window = {};
    s.format = IX_FORMAT_BGR24;
    s.compressed = true;
    s.frames = 5;
    if (grab(s, frame, w, h) == 0)
        keep("channel0-mjpeg.bmp", std::to_string(w) + "x" + std::to_string(h) + ", compressed stream decoded",
             saveBitmap(path("channel0-mjpeg.bmp"), frame, w, h, 24) == 0);

    // The camera's own compression kept as it is: a frame of the compressed
    // stream written as a JPEG file, nothing decoded or encoded again.
    uint32_t jpegBytes = 0;
    keep("channel0.jpg", "JPEG, a compressed-stream frame as the camera sent it",
         saveStreamJpeg(path("channel0.jpg"), jpegBytes) == 0);

    // Channel 1: the quarter-turned sensor, with the eye locator when present.
    s = Shot{};
    s.channel = 1;
    s.preset = 6;       // 640 x 480
    s.decimation = 4;   // of the whole sensor, turned: 2560 x 1920
    s.overlay = true;   // the eye locator's marks
    s.frames = 10;
    if (grab(s, frame, w, h) == 0) {
        keep("channel1.bmp", std::to_string(w) + "x" + std::to_string(h) + ", channel 1 with the locator's marks",
             saveBitmap(path("channel1.bmp"), frame, w, h, 24) == 0);
        std::printf("channel 1: eye locator %s\n",
                    IxSetControlValue(IX_CTL_LOCATOR_ASSIST, 1, 2) == IX_OK ? "ready" : "not present");
    }
    set(IX_CTL_CHANNEL, 0);

    std::printf("\nSaved in %s:\n", dir.c_str());
    for (const auto &[file, what] : saved) {
        std::error_code error;
        const auto bytes = std::filesystem::file_size(file, error);
        std::printf("  %-20s %9llu bytes  %s\n", std::filesystem::path(file).filename().string().c_str(),
                    error ? 0ull : static_cast<unsigned long long>(bytes), what.c_str());
    }
    return 0;
}

} // namespace

const std::vector<Command> &captureCommands() {
    static const std::vector<Command> commands = {
        {"capture", "capture OUT.bmp [opts]",
         "stream and save the last frame (--channel N, --preset CODE, --decimation K, --rotation R, --frames N, --grey, --compressed, --overlay)", true,
         captureCommand},
        {"decode", "decode IN.mjpg OUT.bmp", "decode a camera MJPEG frame into a bitmap", true, decodeCommand},
        {"demo", "demo [DIR]", "a tour of the camera: both channels, iris images, MJPEG; pictures into DIR", true,
         demoCommand},
    };
    return commands;
}
