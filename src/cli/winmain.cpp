// brumlis-cli on Windows: generate and speak, with the arguments as Windows hands them over
// (UTF-16, whatever the code page) and the sound through the Windows output.
#include "brumlis/platform/arguments.h"
#include "brumlis/playback/soundplayer.h"
#include "brumlis/windowsaudio/playerfactory.h"
#include "cli.h"

int main() {
    return brumlis::runCli(
        brumlis::platform::commandLineArguments(), stdout, stderr,
        [](const std::filesystem::path& dataDir) { return brumlis::createWindowsPlayer(dataDir); },
        brumlis::sentenceCommands());
}
