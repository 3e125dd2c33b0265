#include "platform/sys.h"

#include <windows.h>

#include <conio.h>
#include <cstdlib>
#include <cstring>
#include <io.h>

namespace ix::sys {

uint32_t tickMs() { return GetTickCount(); }

int64_t perfCounter() {
    LARGE_INTEGER v;
    QueryPerformanceCounter(&v);
    return v.QuadPart;
}

int64_t perfFrequency() {
    LARGE_INTEGER v;
    QueryPerformanceFrequency(&v);
    return v.QuadPart;
}

void sleepMs(uint32_t ms) { Sleep(ms); }

static std::wstring moduleName(const char *name) {
    std::wstring w;
    for (const char *p = name; *p; ++p) w += wchar_t(static_cast<unsigned char>(*p));
    return w;
}

ModuleHandle loadModule(const char *name) { return LoadLibraryW(moduleName(name).c_str()); }

ProcAddress procByOrdinal(ModuleHandle module, unsigned ordinal) {
    if (!module) return nullptr;
    FARPROC p = GetProcAddress(static_cast<HMODULE>(module), MAKEINTRESOURCEA(ordinal));
    return reinterpret_cast<ProcAddress>(reinterpret_cast<void (*)()>(p));
}

void freeModule(ModuleHandle module) {
    if (module) FreeLibrary(static_cast<HMODULE>(module));
}

bool loadedModuleFolder(const char *name, std::string &folder, size_t capacity) {
    folder.clear();
    HMODULE module = GetModuleHandleW(moduleName(name).c_str());
    if (!module) return false;
    char path[MAX_PATH + 1] = {};
    DWORD n = GetModuleFileNameA(module, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return false;
    char drive[_MAX_DRIVE] = {}, dir[_MAX_DIR] = {};
    if (_splitpath_s(path, drive, sizeof drive, dir, sizeof dir, nullptr, 0, nullptr, 0) != 0) return false;
    size_t dirLen = std::strlen(dir);
    if (dirLen > 0 && (dir[dirLen - 1] == '\\' || dir[dirLen - 1] == '/')) dir[dirLen - 1] = 0;
    std::string joined = std::string(drive) + dir;
    if (joined.size() + 1 > capacity) return false;
    folder = joined;
    return true;
}

uint32_t createFileA(const char *name, FileHandle *file) {
    *file = nullptr;
    HANDLE h = CreateFileA(name, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return GetLastError();
    *file = h;
    return 0;
}

uint32_t createFileW(const char16_t *name, FileHandle *file) {
    *file = nullptr;
    HANDLE h = CreateFileW(reinterpret_cast<const wchar_t *>(name), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return GetLastError();
    *file = h;
    return 0;
}

uint32_t writeFile(FileHandle file, const void *data, uint32_t length) {
    DWORD written = 0;
    if (!WriteFile(static_cast<HANDLE>(file), data, length, &written, nullptr)) return GetLastError();
    return 0;
}

void closeFile(FileHandle file) {
    if (file) CloseHandle(static_cast<HANDLE>(file));
}

bool stdinIsConsole() {
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) != 0;
}

int readKey() {
    if (!stdinIsConsole()) return -1;
    return _getwch();
}

std::string getEnv(const char *name) {
    const char *v = std::getenv(name);
    return v ? std::string(v) : std::string();
}

void setEnv(const char *name, const char *value) {
    // The C runtime keeps its own copy of the environment; keep both in step.
    _putenv_s(name, value ? value : "");
    SetEnvironmentVariableA(name, value);
}
} // namespace ix::sys
