#include "brumlis/playback/playerfactory.h"

#include "brumlis/playback/audioengine.h"

#include <cstdio>

namespace brumlis {

std::unique_ptr<SoundPlayer> createSystemPlayer(const QString& dataDir,
                                                std::shared_ptr<SoundServerConnection> server) {
    // The device opens on the engine's own thread, so nothing waits for it here.
    return AudioEngine::create(
        dataDir,
        [](const QString& reason) {
            std::fprintf(stderr, "brumlis: ingen ljudenhet, meningarna visas utan ljud (%s)\n",
                         reason.toLocal8Bit().constData());
            std::fflush(stderr);
        },
        std::move(server));
}

} // namespace brumlis
