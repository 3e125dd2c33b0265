// Reads IxiLumo.dll's export directory straight from the file (PE/COFF
// layout) and holds its names against the functions the header declares.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <regex>
#include <set>
#include <string>
#include <vector>

namespace {

std::vector<uint8_t> readFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

template <typename T> T at(const std::vector<uint8_t> &b, size_t off) {
    T v{};
    if (off + sizeof(T) > b.size()) throw std::runtime_error("read past the file");
    std::memcpy(&v, b.data() + off, sizeof(T));
    return v;
}

std::string dllPath() {
    char exe[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, exe, MAX_PATH);
    std::string p(exe);
    return p.substr(0, p.find_last_of("\\/") + 1) + "IxiLumo.dll";
}

struct Exports {
    uint16_t machine = 0;
    std::set<std::string> names;
    uint32_t functionCount = 0;
};

Exports readExports(const std::vector<uint8_t> &b) {
    Exports e;
    uint32_t pe = at<uint32_t>(b, 0x3C);
    if (at<uint32_t>(b, pe) != 0x00004550) throw std::runtime_error("no PE signature");
    e.machine = at<uint16_t>(b, pe + 4);
    uint16_t sections = at<uint16_t>(b, pe + 6);
    uint16_t optSize = at<uint16_t>(b, pe + 20);
    size_t opt = pe + 24;
    uint16_t magic = at<uint16_t>(b, opt);
    size_t dirs = opt + (magic == 0x20B ? 112 : 96);
    uint32_t exportRva = at<uint32_t>(b, dirs);
    size_t sect = opt + optSize;
    auto toOffset = [&](uint32_t rva) -> size_t {
        for (uint16_t i = 0; i < sections; ++i) {
            size_t s = sect + size_t(i) * 40;
            uint32_t va = at<uint32_t>(b, s + 12), vsize = at<uint32_t>(b, s + 8);
            uint32_t raw = at<uint32_t>(b, s + 20);
            if (rva >= va && rva < va + std::max(vsize, at<uint32_t>(b, s + 16))) return raw + (rva - va);
        }
        throw std::runtime_error("address outside every section");
    };
    size_t ed = toOffset(exportRva);
    e.functionCount = at<uint32_t>(b, ed + 20);
    uint32_t nameCount = at<uint32_t>(b, ed + 24);
    size_t names = toOffset(at<uint32_t>(b, ed + 32));
    for (uint32_t i = 0; i < nameCount; ++i) {
        size_t s = toOffset(at<uint32_t>(b, names + 4 * i));
        std::string n;
        while (s < b.size() && b[s]) n += char(b[s++]);
        e.names.insert(n);
    }
    return e;
}

std::set<std::string> headerFunctions() {
    std::ifstream in(IXTEST_HEADER);
    std::string text((std::istreambuf_iterator<char>(in)), {});
    std::set<std::string> out;
    std::regex decl(R"(IXLUMO_API\s+int32_t\s+IXLUMO_CALL\s+(Ix\w+)\s*\()");
    for (auto it = std::sregex_iterator(text.begin(), text.end(), decl); it != std::sregex_iterator(); ++it)
        out.insert((*it)[1]);
    return out;
}

} // namespace

TEST(DllExports, ExactlyTheHeaderFunctionsUndecorated) {
    auto header = headerFunctions();
    ASSERT_EQ(header.size(), 13u);
    auto bytes = readFile(dllPath());
    ASSERT_FALSE(bytes.empty()) << dllPath();
    Exports e = readExports(bytes);
#ifdef _WIN64
    EXPECT_EQ(e.machine, 0x8664);
#else
    EXPECT_EQ(e.machine, 0x014C);
#endif
    EXPECT_EQ(e.names, header);
    EXPECT_EQ(e.functionCount, 13u);
}

TEST(DllExports, LoadsAndResolvesByName) {
    HMODULE dll = LoadLibraryA(dllPath().c_str());
    ASSERT_NE(dll, nullptr);
    for (const std::string &name : headerFunctions())
        EXPECT_NE(GetProcAddress(dll, name.c_str()), nullptr) << name;
    // Closing with nothing open is always safe.
    auto close = reinterpret_cast<int32_t(__cdecl *)()>(reinterpret_cast<void *>(GetProcAddress(dll, "IxClose")));
    ASSERT_NE(close, nullptr);
    EXPECT_EQ(close(), 0);
    FreeLibrary(dll);
}
