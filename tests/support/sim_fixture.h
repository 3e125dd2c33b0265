// Helpers for tests that drive the library against the virtual camera and
// read back what the camera was asked.
#pragma once
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/sys.h"

namespace ixtest {

struct TraceLine {
    std::string op;
    int reg = -1;
    long value = -1;
    long len = -1;
    int type = -1;
    int index = -1;
    bool ok = false;
    std::string data;
    std::string raw;
};

inline long field(const std::string &line, const char *name) {
    std::string key = std::string("\"") + name + "\":";
    auto p = line.find(key);
    if (p == std::string::npos) return -1;
    return std::strtol(line.c_str() + p + key.size(), nullptr, 10);
}

inline std::string textField(const std::string &line, const char *name) {
    std::string key = std::string("\"") + name + "\":\"";
    auto p = line.find(key);
    if (p == std::string::npos) return "";
    auto e = line.find('"', p + key.size());
    return line.substr(p + key.size(), e - p - key.size());
}

inline std::vector<TraceLine> readTrace(const std::string &path) {
    std::vector<TraceLine> out;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        TraceLine t;
        t.raw = line;
        t.op = textField(line, "op");
        t.reg = int(field(line, "reg"));
        t.value = field(line, "value");
        t.len = field(line, "len");
        t.type = int(field(line, "type"));
        t.index = int(field(line, "index"));
        t.ok = line.find("\"ok\":true") != std::string::npos;
        t.data = textField(line, "data");
        out.push_back(t);
    }
    return out;
}

// A fresh trace file name per call, so each test sees its own camera.
inline std::string tempPath(const std::string &stem) {
    static int counter = 0;
    std::string dir = ix::sys::getEnv("TMPDIR");
#ifdef _WIN32
    if (dir.empty()) dir = ix::sys::getEnv("TEMP");
    const char sep = '\\';
#else
    const char sep = '/';
    if (dir.empty()) dir.append("/tmp");
#endif
    if (dir.empty()) dir.append(".");
    std::ostringstream s;
    s << dir << sep << "ixlumo-" << stem << "-" << ix::sys::tickMs() << "-" << ++counter;
    return s.str();
}

// Points the library at a new virtual camera with a trace file; returns the
// trace path. Extra settings are appended as given ("key=value;...").
inline std::string useSimulator(const std::string &extra = "") {
    std::string trace = tempPath("trace");
    trace += ".jsonl";
    std::remove(trace.c_str());
    std::string settings = "trace=";
    settings += trace;
    if (!extra.empty()) {
        settings += ';';
        settings += extra;
    }
    ix::sys::setEnv("IXLUMO_SIMULATOR", settings.c_str());
    return trace;
}

} // namespace ixtest
