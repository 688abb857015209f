#include "playerfactory.h"

#include "audioengine.h"
#include "deferredplayer.h"
#include "soundplayer.h"

#include <SDL.h>
#include <cstdio>

namespace brumlis {

std::unique_ptr<SoundPlayer> createSystemPlayer(const QString& dataDir) {
    return std::make_unique<DeferredPlayer>([dataDir]() -> std::unique_ptr<SoundPlayer> {
        QString error;
        auto engine = AudioEngine::open(dataDir, &error);
        // This thread ends here, and SDL frees what it keeps per thread (its error text)
        // only for threads it started itself.
        SDL_TLSCleanup();
        if (engine)
            return engine;
        std::fprintf(stderr, "brumlis: ingen ljudenhet, meningarna visas utan ljud (%s)\n",
                     error.toLocal8Bit().constData());
        std::fflush(stderr);
        return std::make_unique<SilentPlayer>(error);
    });
}

} // namespace brumlis
