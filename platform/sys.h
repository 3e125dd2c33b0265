// The seam to the operating system's clock, modules, files and console.
#pragma once
#include <cstdint>
#include <string>

namespace ix::sys {

// Milliseconds since an arbitrary start; 32 bits, wraps like GetTickCount.
uint32_t tickMs();
int64_t perfCounter();
int64_t perfFrequency();
void sleepMs(uint32_t ms);

// Modules. `name` is the bare module name ("PellamSPI"): PellamSPI.dll on
// Windows, libPellamSPI.so elsewhere. Ordinal n of a POSIX module is its
// exported symbol PellamOrdinal<n>.
using ModuleHandle = void *;
using ProcAddress = void (*)();
ModuleHandle loadModule(const char *name);
ProcAddress procByOrdinal(ModuleHandle module, unsigned ordinal);
void freeModule(ModuleHandle module);
// Folder of the loaded module `name`, drive and directory without the
// trailing separator, in the 8-bit encoding. False when it is not loaded or
// the path does not fit `capacity` - 1 characters.
bool loadedModuleFolder(const char *name, std::string &folder, size_t capacity = 260);

// Files: create-always, write-only, no sharing. Results are 0 or the
// operating system's error code (Windows numbering on Windows, errno elsewhere).
using FileHandle = void *;
uint32_t createFileA(const char *name, FileHandle *file);
uint32_t createFileW(const char16_t *name, FileHandle *file);
uint32_t writeFile(FileHandle file, const void *data, uint32_t length);
void closeFile(FileHandle file);

// Console: true when standard input is an interactive console.
bool stdinIsConsole();
// Waits for one key without echo; returns at once when stdin is no console.
int readKey();

// Environment variable, empty when unset; setEnv with null value removes it.
std::string getEnv(const char *name);
void setEnv(const char *name, const char *value);

} // namespace ix::sys
