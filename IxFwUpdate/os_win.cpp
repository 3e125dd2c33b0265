#include <windows.h>

#include <cstdio>
#include <new>

#include "IxFwUpdate/os.h"

namespace ix::fw::os {

void debugOutput(const wchar_t *text, size_t length) {
    std::wstring line(text, length);
    OutputDebugStringW(line.c_str());
}

void consoleWrite(const wchar_t *text, size_t length) {
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if (out != INVALID_HANDLE_VALUE && out && GetConsoleMode(out, &mode)) {
        DWORD written = 0;
        WriteConsoleW(out, text, DWORD(length), &written, nullptr);
        return;
    }
    std::string bytes = toUtf8(text, length);
    std::fwrite(bytes.data(), 1, bytes.size(), stdout);
    std::fflush(stdout);
}

ReadStage readWholeFile(const std::wstring &path, std::vector<uint8_t> &bytes, uint32_t *error) {
    if (error) *error = 0;
    bytes.clear();
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        if (error) *error = GetLastError();
        return ReadStage::Open;
    }
    ReadStage stage = ReadStage::Ok;
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file, &size)) {
        stage = ReadStage::Read;
    } else if (uint64_t(size.QuadPart) > bytes.max_size() || uint64_t(size.QuadPart) > SIZE_MAX / 2) {
        stage = ReadStage::Alloc;
    } else {
        try {
            bytes.resize(size_t(size.QuadPart));
        } catch (const std::bad_alloc &) {
            stage = ReadStage::Alloc;
        }
    }
    size_t done = 0;
    while (stage == ReadStage::Ok && done < bytes.size()) {
        size_t left = bytes.size() - done;
        DWORD chunk = left > 0x10000000 ? 0x10000000 : DWORD(left);
        DWORD got = 0;
        if (!ReadFile(file, bytes.data() + done, chunk, &got, nullptr) || got == 0) stage = ReadStage::Read;
        else done += got;
    }
    CloseHandle(file);
    if (stage != ReadStage::Ok) bytes.clear();
    return stage;
}

} // namespace ix::fw::os
