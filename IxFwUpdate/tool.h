// The firmware tool's main flow: arguments, model, image, update, the wait
// for the camera to come back, and the key wait.
#pragma once
#include <string>
#include <vector>

namespace ix::fw {

inline constexpr int kReopenAttempts = 10;
inline constexpr unsigned kReopenWaitMs = 500;
// The PID argument is kept in a 260-unit buffer; longer text is cut.
inline constexpr size_t kPidUnits = 260;

// `args` are the command-line arguments after the program name. Returns the
// process exit code, which is always 0.
int runFwUpdate(const std::vector<std::wstring> &args);

} // namespace ix::fw
