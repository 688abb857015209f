// brumlis-cli on Windows: generate and speak, with the arguments as Windows hands them over
// (UTF-16, whatever the code page) and the sound through the Windows output.
#include "brumlis/playback/soundplayer.h"
#include "brumlis/windowsaudio/playerfactory.h"
#include "cli.h"

#include <string>
#include <vector>
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

int main() {
    std::vector<std::u16string> args;
    int count = 0;
    if (LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &count)) {
        for (int i = 1; i < count; ++i) // not the program's own name
            args.emplace_back(reinterpret_cast<const char16_t*>(argv[i]));
        LocalFree(argv);
    }
    return brumlis::runCli(
        args, stdout, stderr,
        [](const std::filesystem::path& dataDir) { return brumlis::createWindowsPlayer(dataDir); },
        brumlis::sentenceCommands());
}
