#include "sim/camera.h"

#include <algorithm>
#include <cstring>
#include <sstream>

#include "platform/usb.h"
#include "sim/frames.h"

namespace ix::sim {
namespace {

using Clock = std::chrono::steady_clock;

// Registers with a meaning of their own inside the camera.
constexpr uint16_t kRegStreamMode = 6;
constexpr uint16_t kRegFirmware = 8;
constexpr uint16_t kRegRevision = 16;
constexpr uint16_t kRegExposureBase = 14;
constexpr uint16_t kRegChannel = 38;
constexpr uint16_t kRegSensorWidth = 33;
constexpr uint16_t kRegSensorHeight = 34;
constexpr uint16_t kRegRange = 60;
constexpr uint16_t kRegRangeTarget = 61;
constexpr uint16_t kRegIndirectIndex = 64;
constexpr uint16_t kRegIndirectData = 65;
constexpr uint16_t kRegFlashStatus = 66;

// Indirect registers of the flash and the restart.
constexpr uint16_t kIndFlashCommand = 8;
constexpr uint16_t kIndFlashAddressLow = 9;
constexpr uint16_t kIndFlashAddressHigh = 10;
constexpr uint16_t kIndFlashData = 11;
constexpr uint16_t kIndRestart = 49;
constexpr uint16_t kFlashEraseCommand = 0x55;
constexpr uint16_t kRestartCommand = 1000;
constexpr uint16_t kStatusBusy = 1;
constexpr uint16_t kStatusFailed = 0xFFFF;

// A firmware image names its version in a record at the end of its second
// sector: the word 0x4657 ("WF") at flash address 0x1FFF0, then the version
// word (major in the high byte). The camera reports it in register 8; a flash
// without the record reports the `fw` setting.
constexpr uint32_t kVersionRecordAddress = 0x1FFF0;
constexpr uint16_t kVersionRecordMagic = 0x4657;

std::string hex(const uint8_t *data, uint32_t n) {
    static const char digits[] = "0123456789abcdef";
    std::string s;
    s.reserve(size_t(n) * 2);
    for (uint32_t i = 0; i < n; ++i) {
        s += digits[data[i] >> 4];
        s += digits[data[i] & 15];
    }
    return s;
}

// A little-endian word of the flash at a fixed address.
uint16_t flashWordAt(const std::vector<uint8_t> &flash, uint32_t a) { return uint16_t(flash[a] | (flash[a + 1] << 8)); }

// The default defect lists the camera leaves the factory with: groups keyed by
// the window width (channel 0) or height (channel 1) they were measured at.
std::vector<uint16_t> defaultDefectList(unsigned channel) {
    if (channel == 0)
        return {2, 2560, 3, 100, 200, 1500, 900, 2001, 1400, 1280, 2, 50, 100, 750, 450};
    return {2, 2560, 2, 300, 1200, 1700, 2100, 1280, 1, 150, 600};
}

} // namespace

VirtualCamera::VirtualCamera(Settings settings) : settings_(std::move(settings)) {
    start_ = Clock::now();
    if (!settings_.tracePath.empty()) trace_ = std::fopen(settings_.tracePath.c_str(), "a");
    loadFlash();
    powerUp();
}

VirtualCamera::~VirtualCamera() {
    flushFlash();
    if (trace_) std::fclose(trace_);
}

void VirtualCamera::powerUp() {
    regs_.fill(0);
    indirect_.fill(0);
    regs_[kRegFirmware] = flashWordAt(flash_, kVersionRecordAddress) == kVersionRecordMagic
                              ? flashWordAt(flash_, kVersionRecordAddress + 2)
                              : settings_.firmware;
    regs_[kRegRevision] = settings_.revision;
    // An exposure base whose table is long enough for the exposure loop to
    // reach both ends of it.
    regs_[kRegExposureBase] = 20000;
    regs_[62] = 0x0031;
    regs_[67] = 0x0002;
    regs_[68] = 0x0001;
    for (auto &[reg, value] : settings_.registers) regs_[reg] = value;
    flashAddress_ = 0;
    eraseBusyLeft_ = 0;
    eraseFailed_ = false;
    for (auto &c : blocks_)
        for (auto &b : c) b.clear();
    frameNumber_ = 0;
}

void VirtualCamera::loadFlash() {
    flash_.assign(kFlashBytes, 0xFF);
    bool loaded = false;
    if (!settings_.flashPath.empty()) {
        if (std::FILE *f = std::fopen(settings_.flashPath.c_str(), "rb")) {
            size_t n = std::fread(flash_.data(), 1, flash_.size(), f);
            std::fclose(f);
            loaded = n == flash_.size();
            if (!loaded) flash_.assign(kFlashBytes, 0xFF);
        }
    }
    if (!loaded) {
        for (unsigned ch = 0; ch < 2; ++ch) {
            std::vector<uint16_t> words = {0x4450, 0x4354, 0x0100};
            auto list = defaultDefectList(ch);
            words.push_back(uint16_t(list.size()));
            words.insert(words.end(), list.begin(), list.end());
            uint32_t a = kDefectTableAddress[ch];
            for (uint16_t w : words) {
                flash_[a++] = uint8_t(w & 0xFF);
                flash_[a++] = uint8_t(w >> 8);
            }
        }
        flashDirty_ = !settings_.flashPath.empty();
        flushFlash();
    }
}

std::vector<uint16_t> VirtualCamera::defectListLocked(unsigned channel) const {
    // The table's header, then its length in words; a length that runs into
    // the next table (or a missing header) gives no list at all.
    const uint32_t base = kDefectTableAddress[channel & 1];
    if (flashWordAt(flash_, base) != 0x4450 || flashWordAt(flash_, base + 2) != 0x4354) return {};
    const uint32_t words = flashWordAt(flash_, base + 6);
    const uint32_t room = (kDefectTableAddress[1] - kDefectTableAddress[0] - 8) / 2;
    if (words == 0 || words > room) return {};
    std::vector<uint16_t> list(words);
    for (uint32_t i = 0; i < words; ++i) list[i] = flashWordAt(flash_, base + 8 + 2 * i);
    return list;
}

void VirtualCamera::flushFlash() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!flashDirty_ || settings_.flashPath.empty()) return;
    std::string tmp = settings_.flashPath + ".tmp";
    if (std::FILE *f = std::fopen(tmp.c_str(), "wb")) {
        bool ok = std::fwrite(flash_.data(), 1, flash_.size(), f) == flash_.size();
        ok = std::fclose(f) == 0 && ok;
        // Windows' rename does not replace an existing file; remove it first.
        if (ok) std::remove(settings_.flashPath.c_str());
        if (ok && std::rename(tmp.c_str(), settings_.flashPath.c_str()) == 0) flashDirty_ = false;
    }
}

uint32_t VirtualCamera::msSinceOpen() {
    return uint32_t(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start_).count());
}

namespace {
// The step of a script in force at t: the last one whose time has come, or
// the first before any has.
template <class Step> const Step &stepAt(const std::vector<Step> &steps, uint32_t t) {
    const Step *now = &steps.front();
    for (const Step &s : steps)
        if (s.atMs <= t) now = &s;
    return *now;
}
} // namespace

uint16_t VirtualCamera::rangeNow() { return rangeAt(msSinceOpen()); }

uint16_t VirtualCamera::rangeAt(uint32_t ms) const { return stepAt(settings_.range, ms).value; }

void VirtualCamera::placeEyes(FrameRequest &request, uint32_t ms) const {
    if (request.channel != 0 || settings_.eyes.empty()) return;
    const EyeStep &step = stepAt(settings_.eyes, ms);
    request.eyesPlaced = true;
    for (int e = 0; e < 2; ++e) {
        request.eyeX[e] = step.x[e];
        request.eyeY[e] = step.y[e];
    }
}

bool VirtualCamera::busAvailableLocked() {
    if (settings_.absent || unplugged_) return false;
    if (offBusUntil_ != Clock::time_point{}) {
        if (Clock::now() < offBusUntil_) return false;
        // Back from a restart: a fresh power-up with the flash kept.
        offBusUntil_ = {};
        ++generation_;
        powerUp();
    }
    return true;
}

bool VirtualCamera::onBus() {
    std::lock_guard<std::mutex> lock(mutex_);
    return busAvailableLocked();
}

uint64_t VirtualCamera::generation() {
    std::lock_guard<std::mutex> lock(mutex_);
    busAvailableLocked();
    return generation_;
}

uint32_t VirtualCamera::refusalLocked() {
    return busAvailableLocked() ? platform::kErrorGenFailure : platform::kErrorDeviceNotConnected;
}

bool VirtualCamera::fault(const char *op, int reg) {
    bool hit = false;
    for (FaultRule &r : settings_.faults) {
        if (r.op != op || (r.reg >= 0 && r.reg != reg)) continue;
        ++r.seen;
        if (r.seen == r.nth || (r.onward && r.seen > r.nth)) hit = true;
    }
    return hit;
}

void VirtualCamera::trace(const std::string &line) {
    if (!trace_) return;
    std::fputs(line.c_str(), trace_);
    std::fputc('\n', trace_);
    std::fflush(trace_);
}

uint16_t VirtualCamera::flashWord() {
    uint32_t a = flashAddress_ & (kFlashBytes - 1);
    uint16_t w = uint16_t(flash_[a] | (flash_[(a + 1) & (kFlashBytes - 1)] << 8));
    flashAddress_ = (flashAddress_ + 2) & (kFlashBytes - 1);
    return w;
}

uint16_t VirtualCamera::readIndirect(uint16_t index) {
    if (index == kIndFlashData) return flashWord();
    if (index == kIndFlashAddressLow) return uint16_t(flashAddress_ & 0xFFFF);
    if (index == kIndFlashAddressHigh) return uint16_t(flashAddress_ >> 16);
    return indirect_[index & 0xFF];
}

void VirtualCamera::writeIndirect(uint16_t index, uint16_t value) {
    switch (index) {
    case kIndFlashAddressLow:
        flashAddress_ = (flashAddress_ & 0xFFFF0000u) | value;
        break;
    case kIndFlashAddressHigh:
        flashAddress_ = ((uint32_t(value) << 16) | (flashAddress_ & 0xFFFF)) & (kFlashBytes - 1);
        break;
    case kIndFlashData: {
        // NOR flash: programming only clears bits; an erase sets them again.
        uint32_t a = flashAddress_ & (kFlashBytes - 1);
        if (int64_t(a) == settings_.corruptAddress) value ^= 0x0001;
        flash_[a] &= uint8_t(value & 0xFF);
        flash_[(a + 1) & (kFlashBytes - 1)] &= uint8_t(value >> 8);
        flashAddress_ = (flashAddress_ + 2) & (kFlashBytes - 1);
        flashDirty_ = true;
        break;
    }
    case kIndFlashCommand:
        if (value == kFlashEraseCommand) {
            if (settings_.eraseFails) {
                eraseFailed_ = true;
            } else {
                uint32_t sector = flashAddress_ & ~0xFFFFu & (kFlashBytes - 1);
                std::memset(flash_.data() + sector, 0xFF, 0x10000);
                flashDirty_ = true;
            }
            eraseBusyLeft_ = settings_.eraseBusyPolls;
        }
        break;
    case kIndRestart:
        if (value == kRestartCommand) {
            // The camera leaves the bus and enumerates again later.
            if (settings_.neverReturns) unplugged_ = true;
            offBusUntil_ = Clock::now() + std::chrono::milliseconds(settings_.restartMs);
            if (offBusUntil_ == Clock::time_point{}) offBusUntil_ += std::chrono::milliseconds(1);
            frameCv_.notify_all();
        }
        break;
    default:
        break;
    }
    indirect_[index & 0xFF] = value;
}

uint16_t VirtualCamera::readRegister(uint16_t reg) {
    unsigned ch = regs_[kRegChannel] & 1;
    switch (reg) {
    case kRegSensorWidth: return settings_.sensorWidth[ch];
    case kRegSensorHeight: return settings_.sensorHeight[ch];
    case kRegRange: return rangeNow();
    case kRegRangeTarget: return settings_.target[ch];
    case kRegIndirectData: return readIndirect(regs_[kRegIndirectIndex]);
    case kRegFlashStatus:
        if (settings_.eraseNeverReady && indirect_[kIndFlashCommand] == kFlashEraseCommand) return kStatusBusy;
        if (eraseBusyLeft_ > 0) {
            --eraseBusyLeft_;
            return kStatusBusy;
        }
        // Idle, it answers its power-up value (0 unless `reg66=` says otherwise).
        return eraseFailed_ ? kStatusFailed : regs_[kRegFlashStatus];
    default: return regs_[reg];
    }
}

void VirtualCamera::writeRegister(uint16_t reg, uint16_t value) {
    switch (reg) {
    case kRegIndirectData: writeIndirect(regs_[kRegIndirectIndex], value); break;
    case kRegStreamMode:
        regs_[reg] = value;
        if (value != 0) {
            frameNumber_ = 0;
            nextFrame_ = Clock::now();
        }
        frameCv_.notify_all(); // stopping ends a pending read
        break;
    case kRegSensorWidth:
    case kRegSensorHeight:
    case kRegRange:
    case kRegRangeTarget:
    case kRegFlashStatus:
        break; // read-only in the camera
    default: regs_[reg] = value; break;
    }
}

bool VirtualCamera::get(uint16_t reg, uint16_t *value, uint32_t *error) {
    std::lock_guard<std::mutex> lock(mutex_);
    bool ok = busAvailableLocked() && !fault("get", reg);
    uint16_t v = 0;
    if (ok) v = readRegister(reg);
    if (ok && value) *value = v;
    if (!ok && error) *error = refusalLocked();
    std::ostringstream s;
    s << "{\"op\":\"get\",\"reg\":" << reg << ",\"value\":" << v << ",\"ok\":" << (ok ? "true" : "false") << "}";
    trace(s.str());
    return ok;
}

bool VirtualCamera::set(uint16_t reg, uint16_t value, uint32_t *error) {
    std::lock_guard<std::mutex> lock(mutex_);
    bool ok = busAvailableLocked() && !fault("set", reg);
    if (ok) writeRegister(reg, value);
    if (!ok && error) *error = refusalLocked();
    std::ostringstream s;
    s << "{\"op\":\"set\",\"reg\":" << reg << ",\"value\":" << value << ",\"ok\":" << (ok ? "true" : "false") << "}";
    trace(s.str());
    return ok;
}

bool VirtualCamera::getBlock(uint16_t reg, uint8_t *data, uint32_t length, uint32_t *transferred, uint32_t *error) {
    std::lock_guard<std::mutex> lock(mutex_);
    bool ok = busAvailableLocked() && !fault("getblock", reg);
    uint32_t n = 0;
    if (ok && data) {
        unsigned ch = regs_[kRegChannel] & 1;
        if (reg == kRegIndirectData && regs_[kRegIndirectIndex] == kIndFlashData) {
            for (; n + 1 < length; n += 2) {
                uint16_t w = flashWord();
                data[n] = uint8_t(w & 0xFF);
                data[n + 1] = uint8_t(w >> 8);
            }
        } else if (reg == 13 || reg == 25) {
            const auto &b = blocks_[ch][reg == 25];
            for (; n < length && n < b.size(); ++n) data[n] = b[n];
        } else {
            for (; n + 1 < length; n += 2) {
                uint16_t w = readRegister(reg);
                data[n] = uint8_t(w & 0xFF);
                data[n + 1] = uint8_t(w >> 8);
            }
        }
        for (uint32_t i = n; i < length; ++i) data[i] = 0;
        n = length;
    }
    if (transferred) *transferred = ok ? n : 0;
    if (!ok && error) *error = refusalLocked();
    std::ostringstream s;
    s << "{\"op\":\"getblock\",\"reg\":" << reg << ",\"len\":" << length << ",\"ok\":" << (ok ? "true" : "false")
      << "}";
    trace(s.str());
    return ok;
}

bool VirtualCamera::setBlock(uint16_t reg, const uint8_t *data, uint32_t length, uint32_t *error) {
    std::lock_guard<std::mutex> lock(mutex_);
    bool ok = busAvailableLocked() && !fault("setblock", reg);
    if (ok) {
        unsigned ch = regs_[kRegChannel] & 1;
        if (reg == kRegIndirectData && regs_[kRegIndirectIndex] == kIndFlashData) {
            for (uint32_t i = 0; i + 1 < length; i += 2) writeIndirect(kIndFlashData, uint16_t(data[i] | (data[i + 1] << 8)));
        } else if (reg == 13 || reg == 25) {
            blocks_[ch][reg == 25].assign(data, data + length);
        }
    }
    if (!ok && error) *error = refusalLocked();
    std::ostringstream s;
    s << "{\"op\":\"setblock\",\"reg\":" << reg << ",\"len\":" << length << ",\"data\":\"" << hex(data, length)
      << "\",\"ok\":" << (ok ? "true" : "false") << "}";
    trace(s.str());
    return ok;
}

static void putUtf16Descriptor(const std::string &text, std::vector<uint8_t> &out) {
    out.clear();
    out.push_back(0);
    out.push_back(3);
    for (unsigned char c : text) {
        if (out.size() + 2 > 254) break;
        out.push_back(c);
        out.push_back(0);
    }
    out[0] = uint8_t(out.size());
}

bool VirtualCamera::descriptor(uint8_t type, uint8_t index, uint16_t language, uint8_t *buffer, uint32_t length,
                               uint32_t *transferred, uint32_t *error) {
    std::lock_guard<std::mutex> lock(mutex_);
    bool ok = busAvailableLocked() && !fault("descriptor", type);
    std::vector<uint8_t> d;
    auto strIndex = [](const std::string &s, uint8_t i) { return s == "none" ? uint8_t(0) : i; };
    if (ok && type == 1 && index == 0) {
        d = {18, 1, 0x00, 0x02, 0xEF, 0x02, 0x01, 64,
             uint8_t(settings_.vendorId & 0xFF), uint8_t(settings_.vendorId >> 8),
             uint8_t(settings_.productId & 0xFF), uint8_t(settings_.productId >> 8),
             uint8_t(settings_.firmware & 0xFF), uint8_t(settings_.firmware >> 8),
             strIndex(settings_.manufacturer, 1), strIndex(settings_.product, 2), strIndex(settings_.serial, 3), 1};
    } else if (ok && type == 3 && index == 0) {
        d = {4, 3, 0x09, 0x04};
    } else if (ok && type == 3 && index >= 1 && index <= 3 && language == 0x0409) {
        const std::string &s = index == 1 ? settings_.manufacturer : index == 2 ? settings_.product : settings_.serial;
        if (s == "none") ok = false;
        else putUtf16Descriptor(s, d);
    } else {
        ok = false;
    }
    uint32_t n = 0;
    if (ok) {
        n = uint32_t(d.size()) < length ? uint32_t(d.size()) : length;
        if (buffer) std::memcpy(buffer, d.data(), n);
    }
    if (transferred) *transferred = n;
    if (!ok && error) *error = platform::kErrorGenFailure;
    std::ostringstream s;
    s << "{\"op\":\"descriptor\",\"type\":" << unsigned(type) << ",\"index\":" << unsigned(index)
      << ",\"ok\":" << (ok ? "true" : "false") << "}";
    trace(s.str());
    return ok;
}

bool VirtualCamera::identity(uint8_t *buffer, uint32_t length, uint32_t *transferred, uint32_t *error) {
    std::lock_guard<std::mutex> lock(mutex_);
    bool ok = busAvailableLocked() && !fault("ioctl", 0x801) && buffer && length >= 1542;
    if (ok) {
        std::memset(buffer, 0, 1542);
        auto put16 = [&](uint32_t at, uint16_t v) {
            buffer[at] = uint8_t(v & 0xFF);
            buffer[at + 1] = uint8_t(v >> 8);
        };
        auto putString = [&](uint32_t at, const std::string &s) {
            if (s == "none") return;
            for (size_t i = 0; i < s.size() && i < 255; ++i) put16(at + uint32_t(2 * i), uint8_t(s[i]));
        };
        put16(0, 0x0100);
        put16(2, settings_.vendorId);
        putString(4, settings_.manufacturer);
        put16(516, settings_.productId);
        putString(518, settings_.product);
        putString(1030, settings_.serial);
    }
    if (transferred) *transferred = ok ? 1542 : 0;
    if (!ok && error) *error = platform::kErrorGenFailure;
    trace(std::string("{\"op\":\"identity\",\"len\":1542,\"ok\":") + (ok ? "true" : "false") + "}");
    return ok;
}

bool VirtualCamera::winUsbInit(uint32_t *error) {
    std::lock_guard<std::mutex> lock(mutex_);
    bool ok = busAvailableLocked() && !fault("winusb", -1);
    if (!ok && error) *error = platform::kErrorGenFailure;
    return ok;
}

void VirtualCamera::wakeReaders() {
    std::unique_lock<std::mutex> lock(mutex_);
    frameCv_.notify_all();
    readLeftCv_.wait(lock, [&] {
        return std::none_of(activeReads_.begin(), activeReads_.end(), [](const std::atomic<bool> *c) { return c->load(); });
    });
}

bool VirtualCamera::readFrame(uint8_t *buffer, uint32_t capacity, uint32_t *transferred, uint32_t *error,
                              const std::atomic<bool> *cancelled) {
    std::unique_lock<std::mutex> lock(mutex_);
    // Registered for as long as the read touches the handle's memory; the
    // guard leaves while the lock is still held (it is destroyed first).
    struct ActiveRead {
        VirtualCamera &camera;
        const std::atomic<bool> *flag;
        ActiveRead(VirtualCamera &c, const std::atomic<bool> *f) : camera(c), flag(f) { camera.activeReads_.push_back(f); }
        ~ActiveRead() {
            auto &v = camera.activeReads_;
            v.erase(std::find(v.begin(), v.end(), flag));
            camera.readLeftCv_.notify_all();
        }
    } active(*this, cancelled);
    *transferred = 0;
    auto finish = [&](bool ok, uint32_t bytes, uint32_t err) {
        if (!ok && error) *error = err;
        *transferred = ok ? bytes : 0;
        std::ostringstream s;
        s << "{\"op\":\"read\",\"len\":" << capacity << ",\"bytes\":" << (ok ? bytes : 0)
          << ",\"ok\":" << (ok ? "true" : "false") << "}";
        trace(s.str());
        return ok;
    };
    if (!busAvailableLocked()) return finish(false, 0, platform::kErrorDeviceNotConnected);
    if (fault("unplug", -1)) {
        unplugged_ = true;
        frameCv_.notify_all();
        return finish(false, 0, platform::kErrorDeviceNotConnected);
    }
    if (fault("stall", -1)) {
        frameCv_.wait(lock, [&] { return cancelled->load(); });
        return finish(false, 0, 995 /* ERROR_OPERATION_ABORTED */);
    }
    if (fault("read", -1)) return finish(false, 0, platform::kErrorGenFailure);
    if (regs_[kRegStreamMode] == 0) return finish(false, 0, platform::kErrorGenFailure);
    // Frames come at the configured rate: wait for the next one to be due.
    auto period = std::chrono::microseconds(1000000 / std::max(settings_.fps, 1u));
    uint64_t generation = generation_;
    while (!cancelled->load() && regs_[kRegStreamMode] != 0 && generation == generation_ && !unplugged_ &&
           Clock::now() < nextFrame_) {
        frameCv_.wait_until(lock, nextFrame_);
        busAvailableLocked();
    }
    if (cancelled->load() || regs_[kRegStreamMode] == 0 || generation != generation_ || unplugged_ ||
        offBusUntil_ != Clock::time_point{})
        return finish(false, 0, 995);
    auto now = Clock::now();
    nextFrame_ = (nextFrame_ + period < now) ? now + period : nextFrame_ + period;
    // One moment for the whole frame, so its range and eye places agree.
    const uint32_t ms = msSinceOpen();
    FrameRequest request = frameRequestFromRegisters(regs_.data(), settings_, frameNumber_++, rangeAt(ms));
    placeEyes(request, ms);
    request.gain = indirect_[33];
    request.defects = defectListLocked(request.channel);
    // Drawing a large frame takes a while; control requests need not wait for it.
    lock.unlock();
    uint32_t bytes = produceFrame(request, settings_, buffer, capacity);
    lock.lock();
    return finish(true, bytes, 0);
}

uint16_t VirtualCamera::peek(uint16_t reg) {
    std::lock_guard<std::mutex> lock(mutex_);
    return regs_[reg];
}

std::vector<uint8_t> VirtualCamera::peekBlock(uint16_t reg, unsigned channel) {
    std::lock_guard<std::mutex> lock(mutex_);
    return blocks_[channel & 1][reg == 25];
}

} // namespace ix::sim
