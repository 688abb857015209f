#include "brumlis/voicetools/sentencerender.h"

#include "brumlis/qtbridge/text.h"
#include "brumlis/sentence/sentencebuffer.h"
#include "brumlis/soundfiles/wavfile.h"

#include <cstring>

namespace brumlis {

SentenceRenderer::SentenceRenderer(const QString& dataDir, int rate, int channels)
    : m_resolver(corePath(dataDir))
    , m_format(DeviceFormat::of(SampleFormat::Signed16, rate, channels)) {}

RenderedSentence SentenceRenderer::render(const SentenceBuffer& buffer) const {
    RenderedSentence result;
    std::vector<std::int16_t> samples;
    std::vector<std::uint8_t> chunk;
    const int slots = buffer.SlotsUsed;
    for (int k = 0; k < slots; ++k) {
        if (buffer.SoundFile(k).empty())
            continue;
        ClipStream clip;
        if (!clip.open(m_resolver.resolve(buffer.SoundFile(k)), m_format)) {
            result.unplayable << qt(buffer.WordText(k));
            continue;
        }
        while (clip.next(chunk)) {
            const std::size_t count = chunk.size() / sizeof(std::int16_t);
            const std::size_t at = samples.size();
            samples.resize(at + count);
            std::memcpy(samples.data() + at, chunk.data(), count * sizeof(std::int16_t));
        }
    }
    result.wav = encodeWav(samples, m_format.rate, m_format.channels);
    return result;
}

} // namespace brumlis
