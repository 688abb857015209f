#include "brumlis/windowsaudio/playerfactory.h"

#include "brumlis/platform/console.h"
#include "brumlis/playback/audioengine.h"
#include "brumlis/text/text.h"
#include "wasapidevice.h"

#include <cstdio>
#include <string>

namespace brumlis {

std::unique_ptr<SoundPlayer> createWindowsPlayer(const std::filesystem::path& dataDir) {
    Outputs outputs;
    outputs.kinds.push_back(
        {[](const DeviceFormat& format, AudioDevice::Source source, AudioDevice::Anchor anchor) {
            return makeWasapiDevice(format, std::move(source), std::move(anchor));
        }});
    // The device thread set COM up to open the device.
    outputs.threadEnds = &releaseComOnThread;
    // The device opens on the engine's own thread, so nothing waits for it here.
    return AudioEngine::create(dataDir, std::move(outputs), [](const std::u16string& reason) {
        const std::string line =
            "brumlis: ingen ljudenhet, meningarna visas utan ljud (" + toUtf8(reason) + ")\n";
        bool failed = false;
        if (!platform::writeToConsole(stderr, line, &failed))
            std::fputs(line.c_str(), stderr);
        std::fflush(stderr);
    });
}

} // namespace brumlis
