#include "sentencerender.h"

#include "playback/clipstream.h"
#include "playback/soundresolver.h"

#include <SDL.h>
#include <cstring>

namespace brumlis {

RenderedSentence renderSentence(const SentenceBuffer& buffer, int slotCount, const QString& dataDir,
                                int rate, int channels) {
    RenderedSentence result;
    const SoundResolver resolver(dataDir);
    DeviceFormat format;
    format.sdlFormat = AUDIO_S16SYS;
    format.rate = rate;
    format.channels = channels;
    format.bytesPerFrame = channels * int(sizeof(std::int16_t));
    std::vector<std::uint8_t> chunk;
    for (int k = 0; k < slotCount; ++k) {
        if (buffer.SoundFile(k).isEmpty())
            continue;
        ClipStream clip;
        if (!clip.open(resolver.resolve(buffer.SoundFile(k)), format)) {
            result.unplayable << buffer.WordText(k);
            continue;
        }
        std::int64_t frames = 0;
        while (clip.next(chunk)) {
            const std::size_t count = chunk.size() / sizeof(std::int16_t);
            const std::size_t at = result.samples.size();
            result.samples.resize(at + count);
            std::memcpy(result.samples.data() + at, chunk.data(), count * sizeof(std::int16_t));
            frames += std::int64_t(chunk.size()) / format.bytesPerFrame;
        }
        result.clipFrames.push_back(frames);
    }
    return result;
}

} // namespace brumlis
