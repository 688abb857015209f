#include "brumlis/linuxaudio/playerfactory.h"

#include "brumlis/playback/audioengine.h"
#include "brumlis/text/text.h"
#include "devices.h"

#include <cstdio>

namespace brumlis {

std::unique_ptr<SoundPlayer> createSystemPlayer(const std::filesystem::path& dataDir,
                                                std::shared_ptr<SoundServerConnection> server) {
    Outputs outputs;
    if (pulseWanted()) {
        if (!server)
            server = makeSoundServerConnection();
        outputs.kinds.push_back({[server](const DeviceFormat& format, AudioDevice::Source source,
                                          AudioDevice::Anchor anchor) {
            return makePulseDevice(format, std::move(source), std::move(anchor), server);
        }});
    }
    outputs.kinds.push_back(
        {[](const DeviceFormat& format, AudioDevice::Source source, AudioDevice::Anchor) {
            return makeSdlDevice(format, std::move(source));
        }});
    outputs.threadEnds = &releaseSdlThread;
    outputs.engineEnds = &releaseSdl;
    // The device opens on the engine's own thread, so nothing waits for it here.
    return AudioEngine::create(dataDir, std::move(outputs), [](const std::u16string& reason) {
        std::fprintf(stderr, "brumlis: ingen ljudenhet, meningarna visas utan ljud (%s)\n",
                     toUtf8(reason).c_str());
        std::fflush(stderr);
    });
}

} // namespace brumlis
