// The version resource of IxFwUpdate.exe as Windows reports it.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(FwUpdateVersion, ResourceStrings) {
    const wchar_t *exe = L"IxFwUpdate.exe";
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeW(exe, &ignored);
    ASSERT_GT(size, 0u) << GetLastError();
    std::vector<uint8_t> info(size);
    ASSERT_TRUE(GetFileVersionInfoW(exe, 0, size, info.data()));

    VS_FIXEDFILEINFO *fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", reinterpret_cast<void **>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0x00010006u);
    EXPECT_EQ(fixed->dwProductVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwProductVersionLS, 0x00000000u);

    const struct {
        const wchar_t *key;
        const wchar_t *value;
    } strings[] = {
        {L"FileDescription", L"Firmware Update Utility"},
        {L"InternalName", L"IxFwUpdate"},
        {L"OriginalFilename", L"IxFwUpdate.exe"},
        {L"ProductName", L"IxFwUpdate Application"},
        {L"FileVersion", L"1, 0, 1, 6"},
        {L"ProductVersion", L"1, 0, 0, 0"},
    };
    for (const auto &s : strings) {
        std::wstring path = std::wstring(L"\\StringFileInfo\\040904b0\\") + s.key;
        wchar_t *value = nullptr;
        UINT units = 0;
        ASSERT_TRUE(VerQueryValueW(info.data(), path.c_str(), reinterpret_cast<void **>(&value), &units)) << s.key;
        EXPECT_EQ(std::wstring(value), s.value);
    }
}

} // namespace
