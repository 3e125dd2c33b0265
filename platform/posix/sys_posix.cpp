#include "platform/sys.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dlfcn.h>
#include <fcntl.h>
#include <string>
#include <termios.h>
#include <unistd.h>

namespace ix::sys {

uint32_t tickMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    uint64_t ms = uint64_t(ts.tv_sec) * 1000u + uint64_t(ts.tv_nsec) / 1000000u;
    return uint32_t(ms);
}

int64_t perfCounter() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

int64_t perfFrequency() { return 1000000000; }

void sleepMs(uint32_t ms) {
    timespec ts{time_t(ms / 1000), long(ms % 1000) * 1000000L};
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

static std::string moduleFile(const char *name) {
    std::string file = "lib";
    file += name;
    file += ".so";
    return file;
}

static std::string ordinalSymbol(unsigned ordinal) {
    std::string symbol = "PellamOrdinal";
    symbol += std::to_string(ordinal);
    return symbol;
}

ModuleHandle loadModule(const char *name) {
    return dlopen(moduleFile(name).c_str(), RTLD_NOW | RTLD_LOCAL);
}

ProcAddress procByOrdinal(ModuleHandle module, unsigned ordinal) {
    if (!module) return nullptr;
    void *p = dlsym(module, ordinalSymbol(ordinal).c_str());
    ProcAddress f = nullptr;
    static_assert(sizeof(f) == sizeof(p));
    std::memcpy(&f, &p, sizeof(p));
    return f;
}

void freeModule(ModuleHandle module) {
    if (module) dlclose(module);
}

bool loadedModuleFolder(const char *name, std::string &folder, size_t capacity) {
    folder.clear();
    // RTLD_NOLOAD finds the module only when it is already loaded, like
    // GetModuleHandle; any exported ordinal gives its file through dladdr.
    void *handle = dlopen(moduleFile(name).c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (!handle) return false;
    bool ok = false;
    for (unsigned n = 1; n <= 64 && !ok; ++n) {
        void *sym = dlsym(handle, ordinalSymbol(n).c_str());
        Dl_info info{};
        if (sym && dladdr(sym, &info) && info.dli_fname) {
            char resolved[PATH_MAX];
            std::string path = realpath(info.dli_fname, resolved) ? resolved : info.dli_fname;
            auto slash = path.find_last_of('/');
            std::string dir;
            if (slash == std::string::npos) dir.push_back('.');
            else if (slash == 0) dir.push_back('/');
            else dir.assign(path, 0, slash);
            if (dir.size() + 1 <= capacity) {
                folder = dir;
                ok = true;
            } else {
                break;
            }
        }
    }
    dlclose(handle);
    return ok;
}

static uint32_t openForWrite(const char *name, FileHandle *file) {
    *file = nullptr;
    int fd = ::open(name, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return uint32_t(errno);
    *file = reinterpret_cast<FileHandle>(intptr_t(fd) + 1); // 0 stays "no file"
    return 0;
}

uint32_t createFileA(const char *name, FileHandle *file) {
    if (!name) { *file = nullptr; return EINVAL; }
    return openForWrite(name, file);
}

uint32_t createFileW(const char16_t *name, FileHandle *file) {
    if (!name) { *file = nullptr; return EINVAL; }
    // File names on POSIX are bytes; UTF-16 becomes UTF-8.
    std::string utf8;
    for (size_t i = 0; name[i]; ++i) {
        uint32_t c = name[i];
        if (c >= 0xD800 && c <= 0xDBFF && name[i + 1] >= 0xDC00 && name[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (uint32_t(name[i + 1]) - 0xDC00);
            ++i;
        }
        if (c < 0x80) utf8 += char(c);
        else if (c < 0x800) { utf8 += char(0xC0 | (c >> 6)); utf8 += char(0x80 | (c & 0x3F)); }
        else if (c < 0x10000) {
            utf8 += char(0xE0 | (c >> 12)); utf8 += char(0x80 | ((c >> 6) & 0x3F)); utf8 += char(0x80 | (c & 0x3F));
        } else {
            utf8 += char(0xF0 | (c >> 18)); utf8 += char(0x80 | ((c >> 12) & 0x3F));
            utf8 += char(0x80 | ((c >> 6) & 0x3F)); utf8 += char(0x80 | (c & 0x3F));
        }
    }
    return openForWrite(utf8.c_str(), file);
}

uint32_t writeFile(FileHandle file, const void *data, uint32_t length) {
    if (!file) return EBADF;
    int fd = int(reinterpret_cast<intptr_t>(file) - 1);
    const char *p = static_cast<const char *>(data);
    while (length > 0) {
        ssize_t n = ::write(fd, p, length);
        if (n < 0) {
            if (errno == EINTR) continue;
            return uint32_t(errno);
        }
        p += n;
        length -= uint32_t(n);
    }
    return 0;
}

void closeFile(FileHandle file) {
    if (file) ::close(int(reinterpret_cast<intptr_t>(file) - 1));
}

bool stdinIsConsole() { return isatty(STDIN_FILENO) == 1; }

int readKey() {
    if (!stdinIsConsole()) return -1;
    termios old{};
    if (tcgetattr(STDIN_FILENO, &old) != 0) return -1;
    termios raw = old;
    raw.c_lflag &= ~tcflag_t(ICANON | ECHO);
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    tcsetattr(STDIN_FILENO, TCSANOW, &raw);
    unsigned char c = 0;
    ssize_t n = ::read(STDIN_FILENO, &c, 1);
    tcsetattr(STDIN_FILENO, TCSANOW, &old);
    return n == 1 ? c : -1;
}

std::string getEnv(const char *name) {
    const char *v = std::getenv(name);
    return v ? std::string(v) : std::string();
}

void setEnv(const char *name, const char *value) {
    if (value) setenv(name, value, 1);
    else unsetenv(name);
}
} // namespace ix::sys
