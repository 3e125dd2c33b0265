// Entry point: the arguments as wide text, then the tool's flow.
#include <string>
#include <vector>

#include "IxFwUpdate/os.h"
#include "IxFwUpdate/tool.h"

#ifdef _WIN32
int wmain(int argc, wchar_t **argv) {
    std::vector<std::wstring> args;
    for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
    return ix::fw::runFwUpdate(args);
}
#else
int main(int argc, char **argv) {
    std::vector<std::wstring> args;
    for (int i = 1; i < argc; ++i) args.push_back(ix::fw::os::fromUtf8(argv[i]));
    return ix::fw::runFwUpdate(args);
}
#endif
