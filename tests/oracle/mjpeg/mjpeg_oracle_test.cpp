// Our MJPEG decoder held against libjpeg-turbo.
//
// What "the same samples" means here: libjpeg-turbo's raw decode (no chroma
// upsampling, no colour conversion, accurate integer DCT) gives the Y, Cb and
// Cr planes of a 4:2:2 image; our decoder's YUY2 output interleaves exactly
// those planes. Our inverse transform is the same integer LLM transform as
// libjpeg's accurate DCT; it differs only in cutting multiplicands to 16 bits,
// which never changes a value for coefficients that an encoder produces from
// 8-bit samples. So every frame here must match byte for byte. (The transform
// is held against a transcription of its arithmetic for arbitrary
// coefficients in the unit tests, and the crafted-coefficient test below
// bounds what happens beyond the range encoders produce.)
#include "library/codec/image_files.h"
#include "library/codec/jpeg_tables.h"
#include "library/codec/mjpeg_decoder.h"
#include "sim/encoder/mjpeg_encoder.h"
#include "tests/unit/mjpeg/frame_tools.h"

#include <gtest/gtest.h>
#include <turbojpeg.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>

namespace {

using namespace ix::codec;
using ix::test::Bytes;
using ix::test::Segment;

struct Planes {
    int width = 0, height = 0;
    Bytes y, cb, cr;
};

Planes splitYuy2(const Bytes &p, int w, int h) {
    Planes out{w, h, Bytes(size_t(w) * h), Bytes(size_t(w / 2) * h), Bytes(size_t(w / 2) * h)};
    for (size_t i = 0; i < size_t(w / 2) * h; ++i) {
        out.y[2 * i] = p[4 * i];
        out.cb[i] = p[4 * i + 1];
        out.y[2 * i + 1] = p[4 * i + 2];
        out.cr[i] = p[4 * i + 3];
    }
    return out;
}

struct TjHandle {
    tjhandle h;
    explicit TjHandle(tjhandle x) : h(x) {}
    ~TjHandle() { tjDestroy(h); }
};

Bytes takeTjBuffer(unsigned char *buf, unsigned long size) {
    Bytes out(buf, buf + size);
    tjFree(buf);
    return out;
}

Bytes tjEncodePlanes(const Planes &p, int quality) {
    TjHandle tj(tjInitCompress());
    const unsigned char *planes[3] = {p.y.data(), p.cb.data(), p.cr.data()};
    const int strides[3] = {p.width, p.width / 2, p.width / 2};
    unsigned char *buf = nullptr;
    unsigned long size = 0;
    EXPECT_EQ(tjCompressFromYUVPlanes(tj.h, planes, p.width, strides, p.height, TJSAMP_422, &buf, &size, quality,
                                      TJFLAG_ACCURATEDCT),
              0)
        << tjGetErrorStr2(tj.h);
    return takeTjBuffer(buf, size);
}

Bytes tjEncodeRgb(const Bytes &rgb, int w, int h, int quality) {
    TjHandle tj(tjInitCompress());
    unsigned char *buf = nullptr;
    unsigned long size = 0;
    EXPECT_EQ(tjCompress2(tj.h, rgb.data(), w, w * 3, h, TJPF_RGB, &buf, &size, TJSAMP_422, quality,
                          TJFLAG_ACCURATEDCT),
              0)
        << tjGetErrorStr2(tj.h);
    return takeTjBuffer(buf, size);
}

// libjpeg-turbo's raw 4:2:2 decode; empty planes when it refuses the stream.
Planes tjRawDecode(const Bytes &jpeg) {
    TjHandle tj(tjInitDecompress());
    int w = 0, h = 0, subsamp = -1, colorspace = -1;
    if (tjDecompressHeader3(tj.h, jpeg.data(), jpeg.size(), &w, &h, &subsamp, &colorspace) != 0) return {};
    EXPECT_EQ(subsamp, TJSAMP_422);
    Planes p{w, h, Bytes(size_t(w) * h), Bytes(size_t(w / 2) * h), Bytes(size_t(w / 2) * h)};
    unsigned char *planes[3] = {p.y.data(), p.cb.data(), p.cr.data()};
    int strides[3] = {w, w / 2, w / 2};
    if (tjDecompressToYUVPlanes(tj.h, jpeg.data(), jpeg.size(), planes, w, strides, h, TJFLAG_ACCURATEDCT) != 0) {
        ADD_FAILURE() << tjGetErrorStr2(tj.h);
        return {};
    }
    return p;
}

Bytes tjDecodeRgb(const Bytes &jpeg, int *w, int *h) {
    TjHandle tj(tjInitDecompress());
    int subsamp, colorspace;
    if (tjDecompressHeader3(tj.h, jpeg.data(), jpeg.size(), w, h, &subsamp, &colorspace) != 0) return {};
    Bytes rgb(size_t(*w) * *h * 3);
    if (tjDecompress2(tj.h, jpeg.data(), jpeg.size(), rgb.data(), *w, *w * 3, *h, TJPF_RGB, TJFLAG_ACCURATEDCT) != 0)
        return {};
    return rgb;
}

// The 76-byte prefix the virtual camera puts in front of its frames.
Bytes cameraPrefix() {
    const Bytes pic = ix::test::testPicture(16, 8, 3);
    const Bytes f = ix::sim::EncodeMjpegFrame(pic.data(), 16, 8, 50);
    return Bytes(f.begin(), f.begin() + ix::jpeg::kCameraPrefixBytes);
}

// A libjpeg-turbo JPEG in the camera's form: its own start, application and
// Huffman segments dropped, the camera's prefix put in front of the rest.
Bytes toCameraFrame(const Bytes &jpeg) {
    Bytes out = cameraPrefix();
    const auto segs = ix::test::segmentsOf(jpeg);
    for (const Segment &s : segs)
        if (s.marker == 0xFFDB || s.marker == 0xFFC0 || s.marker == 0xFFDA)
            out.insert(out.end(), jpeg.begin() + long(s.offset), jpeg.begin() + long(s.offset + s.size));
    const size_t entropy = ix::test::entropyOffset(jpeg);
    out.insert(out.end(), jpeg.begin() + long(entropy), jpeg.end());
    return out;
}

// Start of image, a JFIF APP0 and the four Huffman table segments exactly as
// libjpeg-turbo writes its standard tables: a header built from the oracle,
// not from our own tables.
const Bytes &jfifTemplateFromLibjpeg() {
    static const Bytes header = [] {
        const Bytes pic = ix::test::testPicture(16, 8, 0);
        const Bytes jpeg = tjEncodePlanes(splitYuy2(pic, 16, 8), 75);
        Bytes out = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F', 0, 1, 1, 0, 0, 1, 0, 1, 0, 0};
        for (const Segment &s : ix::test::segmentsOf(jpeg))
            if (s.marker == 0xFFC4)
                out.insert(out.end(), jpeg.begin() + long(s.offset), jpeg.begin() + long(s.offset + s.size));
        return out;
    }();
    return header;
}

Bytes asJpegFile(const Bytes &cameraFrame) {
    Bytes out = jfifTemplateFromLibjpeg();
    out.insert(out.end(), cameraFrame.begin() + ix::jpeg::kCameraPrefixBytes, cameraFrame.end());
    return out;
}

struct Decoder {
    MjpegDecoder *d = MjpegCreateDecoder();
    ~Decoder() { MjpegDestroyDecoder(d); }
};

// Decodes with ours (a long-lived context, as in a stream) and compares plane
// by plane, naming the first differing sample.
::testing::AssertionResult samePlanes(MjpegDecoder *d, const Bytes &frame, const Planes &want) {
    if (want.y.empty()) return ::testing::AssertionFailure() << "libjpeg-turbo gave no planes";
    const size_t bytes = size_t(want.width) * want.height * 2;
    Bytes out(bytes + 64, 0xA5);
    int32_t w = 0, h = 0;
    const int32_t rc = MjpegDecodeToYuy2(d, frame.data(), int32_t(frame.size()), out.data(), int64_t(bytes), &w, &h);
    if (rc != 0) return ::testing::AssertionFailure() << "decode result " << rc;
    if (w != want.width || h != want.height) return ::testing::AssertionFailure() << "size " << w << "x" << h;
    for (size_t i = bytes; i < out.size(); ++i)
        if (out[i] != 0xA5) return ::testing::AssertionFailure() << "guard region written";
    const Planes got = splitYuy2(out, w, h);
    const struct {
        const char *name;
        const Bytes &a, &b;
        int stride;
    } planes[] = {{"Y", got.y, want.y, w}, {"Cb", got.cb, want.cb, w / 2}, {"Cr", got.cr, want.cr, w / 2}};
    for (const auto &p : planes)
        for (size_t i = 0; i < p.a.size(); ++i)
            if (p.a[i] != p.b[i])
                return ::testing::AssertionFailure() << p.name << " sample (" << i % p.stride << "," << i / p.stride
                                                     << ") ours " << int(p.a[i]) << " libjpeg-turbo " << int(p.b[i]);
    return ::testing::AssertionSuccess();
}

// The natural picture, mirrored and tiled to any size, as RGB.
Bytes naturalRgb(int w, int h) {
    static Bytes rose;
    static int rw = 0, rh = 0;
    if (rose.empty()) {
        std::ifstream in(IXLUMO_MJPEG_ORACLE_DATA "/rose.jpg", std::ios::binary);
        const Bytes jpeg((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        rose = tjDecodeRgb(jpeg, &rw, &rh);
    }
    if (rose.empty()) return {};
    Bytes out(size_t(w) * h * 3);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const int tx = (x / rw) & 1 ? rw - 1 - x % rw : x % rw;
            const int ty = (y / rh) & 1 ? rh - 1 - y % rh : y % rh;
            std::memcpy(&out[(size_t(y) * w + x) * 3], &rose[(size_t(ty) * rw + tx) * 3], 3);
        }
    return out;
}

// RGB to YUY2 with the JFIF equations, chroma averaged over each pair.
Bytes rgbToYuy2(const Bytes &rgb, int w, int h) {
    Bytes out(size_t(w) * h * 2);
    auto clampByte = [](double v) { return uint8_t(std::clamp(std::lround(v), 0L, 255L)); };
    for (size_t i = 0; i < size_t(w) * h; i += 2) {
        double cb = 0, cr = 0;
        for (int k = 0; k < 2; ++k) {
            const double r = rgb[(i + k) * 3], g = rgb[(i + k) * 3 + 1], b = rgb[(i + k) * 3 + 2];
            out[(i + k) * 2] = clampByte(0.299 * r + 0.587 * g + 0.114 * b);
            cb += 128 - 0.168736 * r - 0.331264 * g + 0.5 * b;
            cr += 128 + 0.5 * r - 0.418688 * g - 0.081312 * b;
        }
        out[i * 2 + 1] = clampByte(cb / 2);
        out[i * 2 + 3] = clampByte(cr / 2);
    }
    return out;
}

struct Size {
    int w, h;
};
const Size kSizes[] = {{16, 8}, {48, 24}, {320, 240}, {640, 480}, {1280, 360}, {2560, 720}};
const int kQualities[] = {5, 25, 50, 75, 90, 100};
const int kKinds[] = {0, 1, 2, 4, -1}; // -1: the natural picture
const char *kindName(int k) {
    static const char *names[] = {"smooth", "checker", "noise", "flat", "bars"};
    return k < 0 ? "natural" : names[k];
}

// ---------------------------------------------------------------------------

TEST(MjpegOracle, StandardHuffmanTablesMatchLibjpegTurbo) {
    const Bytes &t = jfifTemplateFromLibjpeg();
    ASSERT_EQ(t.size(), 452u);
    const ix::jpeg::HuffmanSpec *specs[4] = {&ix::jpeg::kLumaDc, &ix::jpeg::kLumaAc, &ix::jpeg::kChromaDc,
                                             &ix::jpeg::kChromaAc};
    const uint8_t classes[4] = {0x00, 0x10, 0x01, 0x11};
    size_t pos = 20;
    for (int i = 0; i < 4; ++i) {
        Bytes want = {0xFF, 0xC4, 0, uint8_t(3 + 16 + specs[i]->valueCount), classes[i]};
        want.insert(want.end(), specs[i]->counts.begin(), specs[i]->counts.end());
        want.insert(want.end(), specs[i]->values, specs[i]->values + specs[i]->valueCount);
        EXPECT_TRUE(std::equal(want.begin(), want.end(), t.begin() + long(pos))) << "table " << i;
        pos += want.size();
    }
}

TEST(MjpegOracle, QuantisationTablesMatchLibjpegTurboAtEveryQuality) {
    const Bytes pic = ix::test::testPicture(16, 8, 0);
    for (int q = 1; q <= 100; ++q) {
        const Bytes ours = ix::sim::EncodeMjpegFrame(pic.data(), 16, 8, q);
        const Bytes theirs = tjEncodePlanes(splitYuy2(pic, 16, 8), q);
        Bytes theirTables;
        for (const Segment &s : ix::test::segmentsOf(theirs))
            if (s.marker == 0xFFDB)
                theirTables.insert(theirTables.end(), theirs.begin() + long(s.offset + 4),
                                   theirs.begin() + long(s.offset + s.size));
        const Segment dqt = ix::test::findSegment(ix::test::segmentsOf(ours), 0xFFDB);
        const Bytes ourTables(ours.begin() + long(dqt.offset + 4), ours.begin() + long(dqt.offset + dqt.size));
        ASSERT_EQ(ourTables, theirTables) << "quality " << q;
    }
}

TEST(MjpegOracle, LibjpegTurboFramesDecodeToItsRawSamples) {
    Decoder dec;
    int frames = 0;
    for (const Size &s : kSizes)
        for (int q : kQualities)
            for (int kind : kKinds) {
                Bytes jpeg;
                if (kind < 0) {
                    const Bytes rgb = naturalRgb(s.w, s.h);
                    ASSERT_FALSE(rgb.empty()) << "natural picture missing";
                    jpeg = tjEncodeRgb(rgb, s.w, s.h, q);
                } else {
                    jpeg = tjEncodePlanes(splitYuy2(ix::test::testPicture(s.w, s.h, kind), s.w, s.h), q);
                }
                const Bytes frame = toCameraFrame(jpeg);
                ASSERT_TRUE(samePlanes(dec.d, frame, tjRawDecode(jpeg)))
                    << s.w << "x" << s.h << " q" << q << " " << kindName(kind);
                ++frames;
            }
    EXPECT_EQ(frames, 6 * 6 * 5);
}

TEST(MjpegOracle, VirtualCameraFramesDecodeInLibjpegTurboAlike) {
    Decoder dec;
    int frames = 0;
    for (const Size &s : kSizes)
        for (int q : kQualities)
            for (int kind : kKinds) {
                const Bytes pic = kind < 0 ? rgbToYuy2(naturalRgb(s.w, s.h), s.w, s.h)
                                           : ix::test::testPicture(s.w, s.h, kind, uint32_t(q));
                const Bytes frame = ix::sim::EncodeMjpegFrame(pic.data(), s.w, s.h, q);
                // With the standard tables put in front, as a saved JPEG file has them...
                ASSERT_TRUE(samePlanes(dec.d, frame, tjRawDecode(asJpegFile(frame))))
                    << s.w << "x" << s.h << " q" << q << " " << kindName(kind);
                // ...and as the camera sends it, where libjpeg-turbo falls back on the same tables.
                if (s.w <= 640) {
                    ASSERT_TRUE(samePlanes(dec.d, frame, tjRawDecode(frame)))
                        << "bare " << s.w << "x" << s.h << " q" << q << " " << kindName(kind);
                }
                ++frames;
            }
    EXPECT_EQ(frames, 6 * 6 * 5);
}

TEST(MjpegOracle, RestartMarkersDecodeAsLibjpegTurboWithoutThem) {
    // Our decoder skips restart markers in the coded data and carries the
    // predictors on; libjpeg-turbo, given the same data without them, agrees.
    Decoder dec;
    const Bytes pic = ix::test::testPicture(320, 240, 0);
    const Bytes frame = ix::sim::EncodeMjpegFrame(pic.data(), 320, 240, 85);
    const size_t start = ix::test::entropyOffset(frame);
    Bytes marked(frame.begin(), frame.begin() + long(start));
    for (size_t i = start; i + 2 < frame.size(); ++i) {
        marked.push_back(frame[i]);
        if (frame[i] != 0xFF && i % 101 == 0) {
            marked.push_back(0xFF);
            marked.push_back(uint8_t(0xD0 + (i / 101) % 8));
        }
    }
    marked.insert(marked.end(), frame.end() - 2, frame.end());
    ASSERT_GT(marked.size(), frame.size() + 20);
    EXPECT_TRUE(samePlanes(dec.d, marked, tjRawDecode(asJpegFile(frame))));
}

} // namespace

// ---------------------------------------------------------------------------
// A camera frame saved as a JPEG file opens in libjpeg-turbo and in an
// ordinary image reader (ImageMagick), both showing the frame's pixels.

namespace {

TEST(MjpegOracle, SavedCameraFrameOpensInOtherReaders) {
    Decoder dec;
    const int W = 320, H = 240;
    const Bytes pic = rgbToYuy2(naturalRgb(W, H), W, H);
    const Bytes frame = ix::sim::EncodeMjpegFrame(pic.data(), W, H, 85);
    const std::string path = ::testing::TempDir() + "mjpeg_oracle_saved.jpg";
    ASSERT_EQ(ix::codec::saveJpgA(path.c_str(), frame.data(), int32_t(frame.size())), 0);
    std::ifstream in(path, std::ios::binary);
    const Bytes file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_EQ(file.size(), frame.size() + 376);

    // libjpeg-turbo: the file's samples are the frame's samples as we decode them.
    EXPECT_TRUE(samePlanes(dec.d, frame, tjRawDecode(file)));

    // ImageMagick's RGB equals libjpeg-turbo's RGB of the same file.
    int w = 0, h = 0;
    const Bytes rgb = tjDecodeRgb(file, &w, &h);
    ASSERT_EQ(rgb.size(), size_t(W) * H * 3);
    const std::string cmd = "convert '" + path + "' -depth 8 rgb:- 2>/dev/null";
    FILE *p = popen(cmd.c_str(), "r");
    ASSERT_NE(p, nullptr);
    Bytes magick;
    uint8_t buf[65536];
    for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) magick.insert(magick.end(), buf, buf + n);
    const int status = pclose(p);
    if (status != 0 && magick.empty()) GTEST_SKIP() << "ImageMagick's convert is not available";
    ASSERT_EQ(magick.size(), rgb.size());
    size_t differing = 0;
    for (size_t i = 0; i < rgb.size(); ++i) differing += magick[i] != rgb[i];
    EXPECT_EQ(differing, 0u);
    std::remove(path.c_str());
}

} // namespace
