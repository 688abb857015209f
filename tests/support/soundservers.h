#pragma once

#include "support/pipewireserver.h"
#include "support/pulseserver.h"
#include "support/soundserver.h"

#include <memory>

namespace brumlis::test {

enum class ServerKind { PulseAudio, PipeWire };

inline const char* serverKindName(ServerKind kind) {
    return kind == ServerKind::PipeWire ? "PipeWire" : "PulseAudio";
}

/// A private server of the given kind, its environment in force from here on. PulseAudio
/// speaks only its own protocol: asked for SDL's pipewire backend, it gives none.
inline std::unique_ptr<SoundServer> makeSoundServer(ServerKind kind,
                                                    SdlDriver driver = SdlDriver::PulseAudio) {
    if (kind == ServerKind::PipeWire)
        return std::make_unique<PipeWireServer>(driver);
    if (driver != SdlDriver::PulseAudio)
        return nullptr;
    return std::make_unique<PulseServer>();
}

} // namespace brumlis::test
