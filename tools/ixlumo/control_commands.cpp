// get, set and controls: every control of the camera from the command line.
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "commands.h"
#include "control_table.h"

namespace {

std::string lower(const char *name) {
    std::string s(name);
    for (char &c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// Looks a control up by number or by name ("auto_mode", "AUTO-MODE", ...).
const ControlName *findControl(const std::string &text) {
    char *end = nullptr;
    unsigned long id = std::strtoul(text.c_str(), &end, 0);
    bool numeric = !text.empty() && *end == '\0';
    std::string wanted = lower(text.c_str());
    for (char &c : wanted)
        if (c == '-') c = '_';
    for (const ControlName &c : kControlNames) {
        if (numeric ? c.id == id : lower(c.name) == wanted) return &c;
    }
    // A number without a name still reaches the library, which has the last word.
    static ControlName unnamed;
    if (!numeric || id > 0xFFFFFFFFul) return nullptr;
    unnamed = {uint32_t(id), "CONTROL", ControlKind::Scalar};
    return &unnamed;
}

const char *resultText(int r) {
    switch (r) {
    case IX_OK: return "ok";
    case IX_ERR_FAILED: return "failed";
    case IX_ERR_NO_CONTROL: return "no such control";
    case IX_ERR_RANGE: return "value out of range";
    case IX_ERR_NOT_ALLOWED: return "value not allowed";
    case IX_ERR_STATE: return "not allowed now";
    case IX_ERR_BUFFER_SMALL: return "buffer too small";
    default: return "unknown result";
    }
}

void appendUtf8(std::string &out, uint32_t cp) {
    if (cp < 0x80) {
        out += char(cp);
    } else if (cp < 0x800) {
        out += char(0xC0 | (cp >> 6));
        out += char(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += char(0xE0 | (cp >> 12));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    } else {
        out += char(0xF0 | (cp >> 18));
        out += char(0x80 | ((cp >> 12) & 0x3F));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    }
}

// The value of one control as text, or the library's refusal.
std::string readControl(const ControlName &c) {
    char text[64];
    if (c.kind == ControlKind::WriteOnly) return "(write only)";
    if (c.kind == ControlKind::TextA || c.kind == ControlKind::TextW) {
        int32_t bytes = 0;
        int r = IxGetControlValue(c.id, nullptr, 0, &bytes);
        if (r != IX_OK) return std::string("(") + resultText(r) + ")";
        std::vector<uint16_t> buffer(size_t(bytes) / 2 + 2, 0);
        r = IxGetControlValue(c.id, buffer.data(), uint32_t(buffer.size() * 2), &bytes);
        if (r != IX_OK) return std::string("(") + resultText(r) + ")";
        std::string out = "\"";
        if (c.kind == ControlKind::TextA) {
            out += reinterpret_cast<const char *>(buffer.data());
        } else {
            for (size_t i = 0; i < buffer.size() && buffer[i]; ++i) {
                uint32_t cp = buffer[i];
                if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < buffer.size() && buffer[i + 1] >= 0xDC00 &&
                    buffer[i + 1] <= 0xDFFF) {
                    cp = 0x10000 + ((cp - 0xD800) << 10) + (buffer[i + 1] - 0xDC00u);
                    ++i;
                } else if (cp >= 0xD800 && cp <= 0xDFFF) {
                    cp = 0xFFFD;
                }
                appendUtf8(out, cp);
            }
        }
        return out + "\"";
    }
    uint32_t value = 0;
    uint16_t buffer[2] = {};
    int r = IxGetControlValue(c.id, buffer, c.kind == ControlKind::U32 ? 4 : 2, nullptr);
    if (r != IX_OK) return std::string("(") + resultText(r) + ")";
    std::memcpy(&value, buffer, c.kind == ControlKind::U32 ? 4 : 2);
    std::snprintf(text, sizeof text, "%lu", static_cast<unsigned long>(value));
    return text;
}

// Takes "--channel N" out of the arguments; -1 when absent, -2 when malformed.
int takeChannel(std::vector<std::string> &args) {
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] != "--channel") continue;
        if (i + 1 >= args.size()) return -2;
        char *end = nullptr;
        long n = std::strtol(args[i + 1].c_str(), &end, 10);
        if (args[i + 1].empty() || *end != '\0' || n < 0 || n > 1) return -2;
        args.erase(args.begin() + long(i), args.begin() + long(i) + 2);
        return int(n);
    }
    return -1;
}

int selectChannel(int channel) {
    if (channel < 0) return 0;
    int r = IxSetControlValue(IX_CTL_CHANNEL, channel, 2);
    if (r != IX_OK) std::fprintf(stderr, "ixlumo: channel %d: %s (%d)\n", channel, resultText(r), r);
    return r;
}

const ControlName *controlArgument(const std::string &text) {
    const ControlName *c = findControl(text);
    if (!c) std::fprintf(stderr, "ixlumo: no control '%s' (see 'ixlumo controls')\n", text.c_str());
    return c;
}

int getCommand(const std::vector<std::string> &given) {
    std::vector<std::string> args = given;
    int channel = takeChannel(args);
    if (channel == -2 || args.size() != 1) {
        std::fputs("usage: ixlumo get <id|name> [--channel 0|1]\n", stderr);
        return 2;
    }
    const ControlName *c = controlArgument(args[0]);
    if (!c) return 2;
    if (selectChannel(channel) != IX_OK) return 1;
    std::string value = readControl(*c);
    std::printf("%u %s = %s\n", c->id, lower(c->name).c_str(), value.c_str());
    return value.size() > 1 && value[0] == '(' && c->kind != ControlKind::WriteOnly ? 1 : 0;
}

int setCommand(const std::vector<std::string> &given) {
    std::vector<std::string> args = given;
    int channel = takeChannel(args);
    if (channel == -2 || args.size() != 2) {
        std::fputs("usage: ixlumo set <id|name> <value> [--channel 0|1]\n", stderr);
        return 2;
    }
    const ControlName *c = controlArgument(args[0]);
    if (!c) return 2;
    char *end = nullptr;
    long long v = std::strtoll(args[1].c_str(), &end, 0);
    // Values travel as 16 bits; a wider number would be cut silently.
    if (args[1].empty() || *end != '\0' || v < 0 || v > 0xFFFF) {
        std::fprintf(stderr, "ixlumo: value '%s' is not a number from 0 to 65535\n", args[1].c_str());
        return 2;
    }
    if (selectChannel(channel) != IX_OK) return 1;
    int r = IxSetControlValue(c->id, int32_t(v), 2);
    if (r != IX_OK) {
        std::fprintf(stderr, "ixlumo: set %u %s = %lld: %s (%d)\n", c->id, lower(c->name).c_str(), v, resultText(r), r);
        return 1;
    }
    std::printf("%u %s = %s\n", c->id, lower(c->name).c_str(),
                c->kind == ControlKind::WriteOnly ? args[1].c_str() : readControl(*c).c_str());
    return 0;
}

int controlsCommand(const std::vector<std::string> &args) {
    if (!args.empty()) {
        std::fputs("usage: ixlumo controls\n", stderr);
        return 2;
    }
    // Values per channel: select each in turn and read the whole catalogue.
    std::vector<std::string> values[2];
    for (int channel = 0; channel < 2; ++channel) {
        if (selectChannel(channel) != IX_OK) return 1;
        for (const ControlName &c : kControlNames) values[channel].push_back(readControl(c));
    }
    std::printf("%-4s %-22s %-24s %s\n", "id", "name", "channel 0", "channel 1");
    size_t i = 0;
    for (const ControlName &c : kControlNames) {
        std::printf("%-4u %-22s %-24s %s\n", c.id, lower(c.name).c_str(), values[0][i].c_str(), values[1][i].c_str());
        ++i;
    }
    return 0;
}

} // namespace

const std::vector<Command> &controlCommands() {
    static const std::vector<Command> commands = {
        {"controls", "controls", "every control with its value on both channels", true, controlsCommand},
        {"get", "get ID [--channel N]", "read one control (by number or name)", true, getCommand},
        {"set", "set ID VALUE [--channel N]", "change one control and show its new value", true, setCommand},
    };
    return commands;
}
