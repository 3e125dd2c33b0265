#include "IxFwUpdate/models.h"

#include <cwctype>

#include "usb/device_class.h"

namespace ix::fw {

const CameraModel kModels[] = {
    // {3A0E6D11-58C2-4B7E-A1F4-2C6D9E03B517}
    {{L"3035", nullptr}, L"CorvelPavo",
     {0x3A0E6D11, 0x58C2, 0x4B7E, {0xA1, 0xF4, 0x2C, 0x6D, 0x9E, 0x03, 0xB5, 0x17}}},
    // {5C81F2A4-0D37-4E92-B6A8-7F15C3E9D240}
    {{L"3036", L"3044"}, L"CorvelSorn",
     {0x5C81F2A4, 0x0D37, 0x4E92, {0xB6, 0xA8, 0x7F, 0x15, 0xC3, 0xE9, 0xD2, 0x40}}},
    // {9E4B7C06-A21D-4F58-8D3E-60B1F7A4C985}
    {{L"303F", L"3045"}, L"CorvelGaro",
     {0x9E4B7C06, 0xA21D, 0x4F58, {0x8D, 0x3E, 0x60, 0xB1, 0xF7, 0xA4, 0xC9, 0x85}}},
    // Shared with the camera interface library: one driver package for both.
    {{L"3041", L"3046"}, L"CorvelLumo", usb::kLumoInterfaceClass},
    // {B2D65E93-7F08-4C1A-95E7-1A4C8B30F6D2}
    {{L"3042", nullptr}, L"CorvelNilo",
     {0xB2D65E93, 0x7F08, 0x4C1A, {0x95, 0xE7, 0x1A, 0x4C, 0x8B, 0x30, 0xF6, 0xD2}}},
    // {E7193AC8-46F5-4D0B-A3C9-8B2E5D71F04A}
    {{L"303C", nullptr}, L"CorvelDravo",
     {0xE7193AC8, 0x46F5, 0x4D0B, {0xA3, 0xC9, 0x8B, 0x2E, 0x5D, 0x71, 0xF0, 0x4A}}},
};
const size_t kModelCount = sizeof kModels / sizeof kModels[0];

namespace {

// Compares like a four-character case-blind wcsnicmp: a shorter argument
// stops at its terminator and so never matches.
bool samePid(const wchar_t *arg, const wchar_t *pid) {
    for (int i = 0; i < 4; ++i) {
        if (std::towlower(wint_t(arg[i])) != std::towlower(wint_t(pid[i]))) return false;
        if (arg[i] == 0) return false;
    }
    return true;
}

} // namespace

const CameraModel *findModel(const wchar_t *pid) {
    for (size_t r = 0; r < kModelCount; ++r) {
        for (const wchar_t *id : kModels[r].pids) {
            if (id && samePid(pid, id)) return &kModels[r];
        }
    }
    return nullptr;
}

} // namespace ix::fw
