#include "brumlis/soundfiles/wavfile.h"

#include "brumlis/platform/files.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <sndfile.h>
#include <type_traits>

namespace brumlis {

namespace {

// libsndfile writes through these into a QByteArray, so a file and stdout get the same bytes.
struct Memory {
    QByteArray bytes;
    sf_count_t pos = 0;
};

sf_count_t memoryLength(void* data) {
    return static_cast<Memory*>(data)->bytes.size();
}

sf_count_t memorySeek(sf_count_t offset, int whence, void* data) {
    auto* memory = static_cast<Memory*>(data);
    sf_count_t base = 0;
    if (whence == SEEK_CUR)
        base = memory->pos;
    else if (whence == SEEK_END)
        base = memory->bytes.size();
    if (base + offset < 0)
        return -1;
    memory->pos = base + offset;
    return memory->pos;
}

sf_count_t memoryRead(void* out, sf_count_t count, void* data) {
    auto* memory = static_cast<Memory*>(data);
    const sf_count_t n =
        std::max<sf_count_t>(0, std::min<sf_count_t>(count, memory->bytes.size() - memory->pos));
    if (n > 0)
        std::memcpy(out, memory->bytes.constData() + memory->pos, std::size_t(n));
    memory->pos += n;
    return n;
}

sf_count_t memoryWrite(const void* in, sf_count_t count, void* data) {
    auto* memory = static_cast<Memory*>(data);
    if (memory->pos + count > memory->bytes.size())
        memory->bytes.resize(qsizetype(memory->pos + count), '\0');
    std::memcpy(memory->bytes.data() + memory->pos, in, std::size_t(count));
    memory->pos += count;
    return count;
}

sf_count_t memoryTell(void* data) {
    return static_cast<Memory*>(data)->pos;
}

template <class Sample>
QByteArray encode(const std::vector<Sample>& samples, int rate, int channels, int format,
                  const char* software) {
    if (channels < 1 || rate < 1)
        return {};
    SF_VIRTUAL_IO io{memoryLength, memorySeek, memoryRead, memoryWrite, memoryTell};
    Memory memory;
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = SF_FORMAT_WAV | format;
    SNDFILE* file = sf_open_virtual(&io, SFM_WRITE, &info, &memory);
    if (!file)
        return {};
    // Set before the first frame, so the field goes into the header ahead of the sound.
    if (software && sf_set_string(file, SF_STR_SOFTWARE, software) != 0) {
        sf_close(file);
        return {};
    }
    const sf_count_t frames = sf_count_t(samples.size()) / channels;
    sf_count_t written = 0;
    if constexpr (std::is_same_v<Sample, float>)
        written = sf_writef_float(file, samples.data(), frames);
    else
        written = sf_writef_short(file, samples.data(), frames);
    if (sf_close(file) != 0 || written != frames)
        return {};
    return memory.bytes;
}

} // namespace

QByteArray encodeWav(const std::vector<std::int16_t>& samples, int rate, int channels,
                     const char* software) {
    return encode(samples, rate, channels, SF_FORMAT_PCM_16, software);
}

QByteArray encodeFloatWav(const std::vector<float>& samples, int rate, const char* software) {
    return encode(samples, rate, 1, SF_FORMAT_FLOAT, software);
}

std::optional<SoundFileInfo> soundFileInfo(const QByteArray& path) {
    platform::InputFile input;
    if (path.isEmpty() || !input.open(std::filesystem::path(path.toStdString())))
        return std::nullopt;
    // The descriptor stays the file's whether libsndfile opens it or not.
    std::optional<SoundFileInfo> result;
    SF_INFO info{};
    if (SNDFILE* file = sf_open_fd(int(input.handle()), SFM_READ, &info, SF_FALSE)) {
        result = SoundFileInfo{info.samplerate, info.channels, info.frames, {}};
        if (const char* software = sf_get_string(file, SF_STR_SOFTWARE))
            result->software = software;
        sf_close(file);
    }
    return result;
}

QByteArray recordingSoftware(const QByteArray& path) {
    const std::optional<SoundFileInfo> info = soundFileInfo(path);
    return info ? info->software : QByteArray();
}

std::vector<std::int16_t> toPcm16(const std::vector<float>& samples) {
    std::vector<std::int16_t> pcm(samples.size());
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const float scaled = std::round(samples[i] * 32767.0f);
        pcm[i] = std::int16_t(std::clamp(scaled, -32768.0f, 32767.0f));
    }
    return pcm;
}

} // namespace brumlis
