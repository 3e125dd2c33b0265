// The little the firmware tool needs from the operating system beyond the
// shared platform seams: its debugger channel, its console and reading the
// firmware file with the system's own error codes.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace ix::fw::os {

// Windows: the debugger output. POSIX: standard error, only when the
// environment variable IXFWUPDATE_DEBUG is set to something non-empty.
void debugOutput(const wchar_t *text, size_t length);

// Console text; UTF-8 when the output is redirected to a file or a pipe.
void consoleWrite(const wchar_t *text, size_t length);

enum class ReadStage { Ok, Open, Alloc, Read };

// Reads the whole file. On failure tells which step failed; *error receives
// the system error code of a failed open (Windows numbering on Windows,
// errno elsewhere; a missing file is 2 on both).
ReadStage readWholeFile(const std::wstring &path, std::vector<uint8_t> &bytes, uint32_t *error);

// Conversions between the platform's UTF-16, the tool's wide strings and UTF-8.
std::wstring fromUtf16(const std::u16string &text);
std::string toUtf8(const wchar_t *text, size_t length);
std::wstring fromUtf8(const char *text);

} // namespace ix::fw::os
