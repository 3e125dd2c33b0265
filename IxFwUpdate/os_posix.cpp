#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <new>
#include <sys/stat.h>
#include <unistd.h>

#include "IxFwUpdate/os.h"

namespace ix::fw::os {

void debugOutput(const wchar_t *text, size_t length) {
    // No debugger channel here: standard error, and only when asked for, so
    // the console shows exactly the tool's own text by default.
    const char *on = std::getenv("IXFWUPDATE_DEBUG");
    if (!on || !*on) return;
    std::string bytes = toUtf8(text, length);
    std::fwrite(bytes.data(), 1, bytes.size(), stderr);
    std::fflush(stderr);
}

void consoleWrite(const wchar_t *text, size_t length) {
    std::string bytes = toUtf8(text, length);
    std::fwrite(bytes.data(), 1, bytes.size(), stdout);
    std::fflush(stdout);
}

ReadStage readWholeFile(const std::wstring &path, std::vector<uint8_t> &bytes, uint32_t *error) {
    if (error) *error = 0;
    bytes.clear();
    std::string name = toUtf8(path.data(), path.size());
    int fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (error) *error = uint32_t(errno);
        return ReadStage::Open;
    }
    ReadStage stage = ReadStage::Ok;
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        stage = ReadStage::Read;
    } else if (uint64_t(st.st_size) > bytes.max_size() || uint64_t(st.st_size) > SIZE_MAX / 2) {
        stage = ReadStage::Alloc;
    } else {
        try {
            bytes.resize(size_t(st.st_size));
        } catch (const std::bad_alloc &) {
            stage = ReadStage::Alloc;
        }
    }
    size_t done = 0;
    while (stage == ReadStage::Ok && done < bytes.size()) {
        ssize_t n = ::read(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        // A file that shrank under us is as unreadable as one that failed.
        if (n <= 0) stage = ReadStage::Read;
        else done += size_t(n);
    }
    ::close(fd);
    if (stage != ReadStage::Ok) bytes.clear();
    return stage;
}

} // namespace ix::fw::os
