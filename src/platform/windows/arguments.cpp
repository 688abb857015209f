#include "brumlis/platform/arguments.h"

#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

namespace brumlis::platform {

std::vector<std::u16string> commandLineArguments() {
    std::vector<std::u16string> args;
    int count = 0;
    if (LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &count)) {
        for (int i = 1; i < count; ++i) // not the program's own name
            args.emplace_back(reinterpret_cast<const char16_t*>(argv[i]));
        LocalFree(argv);
    }
    return args;
}

} // namespace brumlis::platform
