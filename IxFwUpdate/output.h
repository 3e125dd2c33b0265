// Console text and debug log of the firmware tool.
//
// Both go through replaceable sinks so the tool's whole conversation can be
// captured by tests; the defaults write to the console and to the debugger.
#pragma once
#include <cstddef>
#include <string>

namespace ix::fw {

using TextSink = void (*)(const wchar_t *text, size_t length);

// A null sink restores the default destination.
void setConsoleSink(TextSink sink);
void setDebugSink(TextSink sink);

// Wide printf to the console.
void conPrint(const wchar_t *format, ...);

// Debug log. Level 0 lines are chatter kept in the source for whoever
// re-enables them and are dropped; level 1 lines go to the debug sink.
void IxDbg(int level, const wchar_t *format, ...);

// Longest debug line the heap fallback will format, in units with the
// terminator. Beyond it the line is replaced by the allocation error text.
inline constexpr size_t kMaxDebugUnits = size_t(1) << 20;

} // namespace ix::fw
