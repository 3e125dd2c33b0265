#include "sim/settings.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>

namespace ix::sim {
namespace {

std::vector<std::string> split(const std::string &s, char sep) {
    std::vector<std::string> parts;
    std::string cur;
    for (char c : s) {
        if (c == sep) {
            parts.push_back(cur);
            cur.clear();
        } else {
            cur += c;
        }
    }
    parts.push_back(cur);
    return parts;
}

std::string trim(const std::string &s) {
    size_t a = s.find_first_not_of(" \t\r\n");
    if (a == std::string::npos) return "";
    size_t b = s.find_last_not_of(" \t\r\n");
    return s.substr(a, b - a + 1);
}

bool number(const std::string &s, int base, unsigned long max, unsigned long &out) {
    // strtoul would take a sign (and wrap "-5" round to a large number where
    // long has 32 bits) or leading blanks; a setting is digits only. Where
    // long has 32 bits a number past it also comes back as the largest one,
    // which only errno tells apart.
    if (s.empty() || !std::isxdigit(static_cast<unsigned char>(s[0]))) return false;
    char *end = nullptr;
    errno = 0;
    unsigned long v = std::strtoul(s.c_str(), &end, base);
    if (*end != 0 || errno == ERANGE || v > max) return false;
    out = v;
    return true;
}

bool u16(const std::string &s, int base, uint16_t &out) {
    unsigned long v;
    if (!number(s, base, 0xFFFF, v)) return false;
    out = uint16_t(v);
    return true;
}

bool extent(const std::string &s, uint16_t &w, uint16_t &h) {
    auto x = s.find_first_of("xX");
    if (x == std::string::npos) return false;
    return u16(s.substr(0, x), 10, w) && u16(s.substr(x + 1), 10, h) && w > 0 && h > 0;
}

// A scene fraction: a plain decimal number from 0 to 1.
bool fraction(const std::string &s, double &out) {
    if (s.empty() || s.find_first_not_of("0123456789.") != std::string::npos) return false;
    char *end = nullptr;
    double v = std::strtod(s.c_str(), &end);
    if (*end != 0 || !(v >= 0.0 && v <= 1.0)) return false;
    out = v;
    return true;
}

// A glint offset: a plain decimal number from -1 to 1.
bool offset(const std::string &s, double &out) {
    const bool negative = !s.empty() && s[0] == '-';
    double v = 0;
    if (!fraction(negative ? s.substr(1) : s, v)) return false;
    out = negative ? -v : v;
    return true;
}

// The eyes= script: steps "x1,y1,x2,y2@ms" separated by '/', the first
// step's time optional (0). Fills `why` when the script is refused.
bool eyeScript(const std::string &text, std::vector<EyeStep> &steps, std::string &why) {
    steps.clear();
    const std::vector<std::string> parts = split(text, '/');
    for (size_t n = 0; n < parts.size(); ++n) {
        const std::string step = trim(parts[n]);
        const std::string where = "step " + std::to_string(n + 1) + ": ";
        const auto at = step.find('@');
        EyeStep e;
        if (at != std::string::npos) {
            unsigned long ms = 0;
            if (!number(trim(step.substr(at + 1)), 10, 0xFFFFFFFFul, ms)) {
                why = where + "the time is not a whole number of ms";
                return false;
            }
            e.atMs = uint32_t(ms);
        } else if (n > 0) {
            // Only the first step may leave its time out: any later one
            // without a time would silently stand at 0.
            why = where + "no @ms time";
            return false;
        }
        const std::vector<std::string> f = split(step.substr(0, at), ',');
        if (f.size() != 4) {
            why = where + "needs four places x1,y1,x2,y2";
            return false;
        }
        for (size_t i = 0; i < 4; ++i) {
            if (!fraction(trim(f[i]), i % 2 == 0 ? e.x[i / 2] : e.y[i / 2])) {
                why = where + "places are fractions from 0 to 1";
                return false;
            }
        }
        if (!steps.empty() && e.atMs < steps.back().atMs) {
            why = where + "times must not go back";
            return false;
        }
        steps.push_back(e);
    }
    return true;
}

bool faultRule(const std::string &text, FaultRule &rule) {
    auto f = split(text, ':');
    rule = FaultRule{};
    rule.op = f[0];
    static const char *ops[] = {"get", "set", "getblock", "setblock", "read", "descriptor", "ioctl",
                                "winusb", "stall", "unplug", "absent", "denied"};
    bool known = false;
    for (auto *o : ops) known = known || rule.op == o;
    if (!known || f.size() > 3) return false;
    if (f.size() >= 2 && !f[1].empty() && f[1] != "*") {
        unsigned long r;
        if (!number(f[1], 10, 0xFFFF, r)) return false;
        rule.reg = int(r);
    }
    if (f.size() == 3 && !f[2].empty()) {
        std::string n = f[2];
        if (n.back() == '+') {
            rule.onward = true;
            n.pop_back();
        }
        unsigned long v;
        if (!number(n, 10, 1000000000, v) || v == 0) return false;
        rule.nth = unsigned(v);
    }
    return true;
}

} // namespace

bool parseSettings(const std::string &text, Settings &out, std::string &error) {
    out = Settings{};
    std::string t = trim(text);
    if (t.empty() || t == "1") return true;
    for (const std::string &raw : split(t, ';')) {
        std::string item = trim(raw);
        if (item.empty() || item == "1") continue;
        auto eq = item.find('=');
        if (eq == std::string::npos) {
            error = "setting without a value: " + item;
            return false;
        }
        std::string key = trim(item.substr(0, eq)), value = trim(item.substr(eq + 1));
        bool ok = true;
        unsigned long v = 0;
        if (key == "pid") ok = u16(value, 16, out.productId);
        else if (key == "vid") ok = u16(value, 16, out.vendorId);
        else if (key == "fw") ok = u16(value, 16, out.firmware);
        else if (key == "revision") ok = u16(value, 10, out.revision);
        else if (key == "sensor0") ok = extent(value, out.sensorWidth[0], out.sensorHeight[0]);
        else if (key == "sensor1") ok = extent(value, out.sensorWidth[1], out.sensorHeight[1]);
        else if (key == "target0") ok = u16(value, 10, out.target[0]);
        else if (key == "target1") ok = u16(value, 10, out.target[1]);
        else if (key == "range") {
            out.range.clear();
            for (const std::string &step : split(value, ',')) {
                auto at = step.find('@');
                RangeStep s{0, 0};
                unsigned long ms = 0;
                ok = ok && u16(trim(step.substr(0, at)), 10, s.value);
                if (at != std::string::npos) ok = ok && number(trim(step.substr(at + 1)), 10, 0xFFFFFFFFul, ms);
                s.atMs = uint32_t(ms);
                if (!out.range.empty() && s.atMs < out.range.back().atMs) ok = false;
                out.range.push_back(s);
            }
            ok = ok && !out.range.empty();
        } else if (key == "fps") {
            ok = number(value, 10, 1000, v) && v > 0;
            out.fps = unsigned(v);
        } else if (key == "light") {
            ok = number(value, 10, 1000, v) && v > 0;
            out.light = unsigned(v);
        } else if (key == "stamp") {
            ok = value == "0" || value == "1";
            out.stampFrames = value == "1";
        } else if (key == "eyes") {
            std::string why;
            if (!eyeScript(value, out.eyes, why)) {
                error = "bad value for eyes: " + value + " (" + why + ")";
                return false;
            }
        } else if (key == "glint") {
            if (value == "none") {
                out.glint = false;
            } else {
                auto f = split(value, ',');
                ok = f.size() == 2 && offset(trim(f[0]), out.glintOffset[0]) && offset(trim(f[1]), out.glintOffset[1]);
                out.glint = true;
            }
        } else if (key == "stuck") {
            ok = value == "0" || value == "1";
            out.stuckPixels = value == "1";
        } else if (key == "quality") {
            ok = number(value, 10, 100, v) && v > 0;
            out.quality = unsigned(v);
        } else if (key == "flash") {
            out.flashPath = value;
            ok = !value.empty();
        } else if (key == "trace") {
            out.tracePath = value;
            ok = !value.empty();
        } else if (key == "fail") {
            for (const std::string &r : split(value, ',')) {
                if (trim(r).empty()) continue;
                FaultRule rule;
                ok = ok && faultRule(trim(r), rule);
                if (!ok) break;
                if (rule.op == "absent") out.absent = true;
                else if (rule.op == "denied") out.denied = true;
                else out.faults.push_back(rule);
            }
        } else if (key == "manufacturer") out.manufacturer = value;
        else if (key == "product") out.product = value;
        else if (key == "serial") out.serial = value;
        else if (key == "erasebusy") {
            if (value == "forever") out.eraseNeverReady = true;
            else if (value == "fail") out.eraseFails = true;
            else {
                ok = number(value, 10, 100000, v);
                out.eraseBusyPolls = unsigned(v);
            }
        } else if (key == "restartms") {
            if (value == "never") {
                out.neverReturns = true;
            } else {
                ok = number(value, 10, 600000, v);
                out.restartMs = unsigned(v);
            }
        } else if (key == "corrupt") {
            ok = number(value, 0, 0xFFFFF, v) && v % 2 == 0;
            out.corruptAddress = int64_t(v);
        } else if (key.rfind("reg", 0) == 0 && key.size() > 3) {
            unsigned long r;
            uint16_t val;
            ok = number(key.substr(3), 10, 0xFFFF, r) && (u16(value, 10, val) || (value.rfind("0x", 0) == 0 && u16(value.substr(2), 16, val)));
            if (ok) out.registers[uint16_t(r)] = val;
        } else {
            error = "unknown setting: " + key;
            return false;
        }
        if (!ok) {
            error = "bad value for " + key + ": " + value;
            return false;
        }
    }
    return true;
}

} // namespace ix::sim
