// An open virtual camera for one test, and what it was asked since a mark.
#pragma once
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "library/core/context.h"
#include "library/include/IxiLumo.h"
#include "tests/support/sim_fixture.h"

namespace ctltest {

using ixtest::TraceLine;
using RegValue = std::pair<int, long>;

struct OpenCamera {
    std::string trace;
    int openResult = -1;

    explicit OpenCamera(const std::string &settings = "") {
        trace = ixtest::useSimulator(settings);
        openResult = IxOpen();
    }
    ~OpenCamera() {
        IxClose();
        std::remove(trace.c_str());
    }
    OpenCamera(const OpenCamera &) = delete;
    OpenCamera &operator=(const OpenCamera &) = delete;

    ix::CameraContext &ctx() { return ix::context(); }
    ix::ChannelSettings &channel(int n) { return ix::context().channels[n]; }

    size_t mark() const { return ixtest::readTrace(trace).size(); }
    std::vector<TraceLine> since(size_t m) const {
        auto all = ixtest::readTrace(trace);
        return std::vector<TraceLine>(all.begin() + long(std::min(m, all.size())), all.end());
    }
    // Register writes (op "set") since the mark, in order.
    std::vector<RegValue> writesSince(size_t m) const {
        std::vector<RegValue> out;
        for (const TraceLine &t : since(m))
            if (t.op == "set") out.emplace_back(t.reg, t.value);
        return out;
    }
};

inline int set(uint32_t id, int32_t v) { return IxSetControlValue(id, v, 2); }

// Reads a scalar control; the value is 0xFFFF when the call left it alone.
inline std::pair<int, uint16_t> get(uint32_t id) {
    uint16_t v = 0xFFFF;
    int r = IxGetControlValue(id, &v, 2, nullptr);
    return {r, v};
}

inline std::vector<uint8_t> hexBytes(const std::string &hex) {
    std::vector<uint8_t> out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) out.push_back(uint8_t(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return out;
}

// The data of the last block written to a register since the mark.
inline std::vector<uint8_t> lastBlock(const OpenCamera &cam, size_t m, int reg) {
    std::vector<uint8_t> out;
    for (const TraceLine &t : cam.since(m))
        if (t.op == "setblock" && t.reg == reg) out = hexBytes(t.data);
    return out;
}

} // namespace ctltest
