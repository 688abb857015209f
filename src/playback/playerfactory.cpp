#include "playerfactory.h"

#include "audioengine.h"
#include "deferredplayer.h"
#include "soundplayer.h"

#include <cstdio>

namespace brumlis {

std::unique_ptr<SoundPlayer> createSystemPlayer(const QString& dataDir) {
    return std::make_unique<DeferredPlayer>([dataDir]() -> std::unique_ptr<SoundPlayer> {
        QString error;
        if (auto engine = AudioEngine::open(dataDir, &error))
            return engine;
        std::fprintf(stderr, "brumlis: ingen ljudenhet, meningarna visas utan ljud (%s)\n",
                     error.toLocal8Bit().constData());
        std::fflush(stderr);
        return std::make_unique<SilentPlayer>(error);
    });
}

} // namespace brumlis
