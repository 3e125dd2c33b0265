#include "IxFwUpdate/output.h"

#include <cstdarg>
#include <cwchar>
#include <memory>
#include <new>

#include "IxFwUpdate/os.h"

namespace ix::fw {

namespace {

TextSink g_console = nullptr;
TextSink g_debug = nullptr;

void toConsole(const wchar_t *text, size_t length) {
    (g_console ? g_console : os::consoleWrite)(text, length);
}

void toDebugger(const wchar_t *text, size_t length) {
    (g_debug ? g_debug : os::debugOutput)(text, length);
}

// vswprintf reports only that a text did not fit, never how much room it
// needs, so each attempt works on its own copy of the arguments.
int tryFormat(wchar_t *buffer, size_t capacity, const wchar_t *format, va_list args) {
    va_list copy;
    va_copy(copy, args);
    int n = std::vswprintf(buffer, capacity, format, copy);
    va_end(copy);
    // Some C runtimes (msvcrt under mingw) return the length the text would
    // have had instead of failing; never trust a count the buffer cannot hold.
    if (n < 0 || size_t(n) >= capacity) return -1;
    buffer[capacity - 1] = 0;
    return int(std::wcslen(buffer)) == n ? n : -1;
}

// Formats into a stack buffer, or into a growing heap buffer (freed before
// returning) when the text is longer, and hands the text to `send`. False
// when it fit nowhere up to kMaxDebugUnits or the heap ran out; the wide
// formatter cannot tell the length needed, so the size is found by growing.
bool formatAndSend(TextSink send, const wchar_t *format, va_list args) {
    wchar_t local[512];
    int n = tryFormat(local, 512, format, args);
    if (n >= 0) {
        send(local, size_t(n));
        return true;
    }
    for (size_t capacity = 1024; capacity <= kMaxDebugUnits; capacity *= 2) {
        std::unique_ptr<wchar_t[]> heap(new (std::nothrow) wchar_t[capacity]);
        if (!heap) return false;
        n = tryFormat(heap.get(), capacity, format, args);
        if (n >= 0) {
            send(heap.get(), size_t(n));
            return true;
        }
    }
    return false;
}

} // namespace

void setConsoleSink(TextSink sink) { g_console = sink; }
void setDebugSink(TextSink sink) { g_debug = sink; }

void conPrint(const wchar_t *format, ...) {
    va_list args;
    va_start(args, format);
    // Console lines carry at most a path or an argument; one that fits
    // nowhere is left out.
    formatAndSend(toConsole, format, args);
    va_end(args);
}

void IxDbg(int level, const wchar_t *format, ...) {
    if (level == 0) return;
    va_list args;
    va_start(args, format);
    const bool sent = formatAndSend(toDebugger, format, args);
    va_end(args);
    if (!sent) {
        static const wchar_t kLost[] = L"IxDbg: Memory Allocation Error!\n";
        toDebugger(kLost, sizeof kLost / sizeof kLost[0] - 1);
    }
}

} // namespace ix::fw
